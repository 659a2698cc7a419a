#!/usr/bin/env python3
"""Hostile and vanishing peers against real program processes: garbage and a
flood of bytes leave the program running, responsive and within its memory
bound; a peer that disappears mid-call leaves the other side ready for the
next call."""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

STATUS = (48, 104, 129, 13)
FLOOD_BYTES = 20 * 1024 * 1024


def rss_kb(pid, field="VmRSS:"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def app_env(work, side):
    mic = os.path.join(work, f"mic-{side}.wav")
    if not os.path.exists(mic):
        harness.make_speech(mic, 8, 2)
    return harness.side_env(side, mic, os.path.join(work, f"spk-{side}.wav"))


CALLER = r'''
import os, socket, sys, time
host = sys.argv[1]
s = socket.create_connection((host, 2000), timeout=10)
s.sendall(os.urandom(65536))          # garbage
chunk = os.urandom(1 << 16)
sent = 0
t0 = time.time()
while sent < int(sys.argv[2]):        # a flood, as fast as TCP takes it
    s.sendall(chunk)
    sent += len(chunk)
print("flooded", sent, round(time.time() - t0, 2), flush=True)
s.shutdown(socket.SHUT_WR)
s.settimeout(10)
try:
    while s.recv(65536):
        pass
except OSError:
    pass
s.close()
# A fresh caller afterwards gets the program's sound within a few seconds.
s = socket.create_connection((host, 2000), timeout=10)
s.settimeout(5)
got = b""
t0 = time.time()
while len(got) < 500 and time.time() - t0 < 5:
    got += s.recv(65536)
print("answered", len(got), flush=True)
'''


def test_garbage_and_flood(exe, work):
    hosts = harness.Hosts()
    app = None
    try:
        app = harness.App(exe, hosts, "B", app_env(work, "B"), work)
        time.sleep(1)
        before = rss_kb(app.proc.pid)
        proc = subprocess.Popen(hosts.prefix("A") + [sys.executable, "-c", CALLER, hosts.addr["B"], str(FLOOD_BYTES)],
                                stdout=subprocess.PIPE, text=True)
        peak = before
        while proc.poll() is None:
            peak = max(peak, rss_kb(app.proc.pid))
            time.sleep(0.05)
        out = proc.stdout.read()
        harness.log(out.strip())
        harness.log(f"resident memory: {before / 1024:.1f} MB before, {peak / 1024:.1f} MB at most during the flood")
        assert "answered" in out and int(out.split("answered")[1].split()[0]) >= 500, "no answer after the flood"
        assert app.alive(), "the program died"
        assert peak - before < 16 * 1024, f"memory grew by {(peak - before) / 1024:.1f} MB"
        assert len(app.boxes()) == 0, "a box was shown"
    finally:
        if app:
            app.stop()
        hosts.close()


def test_peer_vanishes(exe, work):
    hosts = harness.Hosts()
    apps = []
    try:
        a = harness.App(exe, hosts, "A", app_env(work, "A"), work)
        apps.append(a)
        a_idle = a.snapshot(os.path.join(work, "v-a-idle.png"))
        for how in ("link down", "killed"):
            b = harness.App(exe, hosts, "B", app_env(work, "B"), work)
            apps.append(b)
            b.call(hosts.addr["A"])  # B calls A: A's server holds the connection
            assert harness.wait(lambda: harness.established(hosts, "A") == 1), f"{how}: no call"
            time.sleep(1.5)
            if how == "link down":
                # B's host drops off the network without a word.
                hosts.link("B", False)
                b.proc.send_signal(signal.SIGKILL)
            else:
                b.proc.send_signal(signal.SIGKILL)
            b.proc.wait()
            b.display.close()
            apps.remove(b)
            # A notices (at once for a killed peer, within seconds for a silent
            # one), shows its error boxes, and a user clears them.
            def idle_again():
                a.dismiss_boxes()
                return harness.same_region(a_idle, a.snapshot(os.path.join(work, "v-a-now.png")), STATUS)
            assert harness.wait(idle_again, 30), f"{how}: A did not return to Disconnected"
            if how == "link down":
                hosts.link("B", True)
            # A new caller from the same host is taken, and hears A.
            c = harness.App(exe, hosts, "B", app_env(work, "B"), work)
            apps.append(c)
            c.call(hosts.addr["A"])
            assert harness.wait(lambda: harness.established(hosts, "B") >= 1, 15), f"{how}: the next call was not taken"
            time.sleep(1)
            assert harness.established(hosts, "B") >= 1, f"{how}: the next call was refused"
            assert not harness.same_region(a_idle, a.snapshot(os.path.join(work, "v-a-up.png")), STATUS)
            c.close_window()
            c.proc.wait(10)
            c.display.close()
            apps.remove(c)
            a.dismiss_boxes()
        assert a.alive()
    finally:
        for app in apps:
            app.stop()
        hosts.close()


def main():
    harness.XCLOSE = sys.argv[2]
    return harness.run_tests((test_garbage_and_flood, test_peer_vanishes,), sys.argv[1], logs=("A", "B"))


if __name__ == "__main__":
    sys.exit(main())
