#!/usr/bin/env python3
"""The peer link between real program processes: two hosts in network
namespaces, the call placed through the real window with xdotool; and raw TCP
callers against a running program."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

STATUS = (48, 104, 129, 13)
CONNECT = (8, 64, 169, 25)


def quiet_env(work, side):
    # A silent microphone file and a speaker file, so no sound hardware is needed.
    mic = os.path.join(work, f"mic-{side}.wav")
    harness.write_wav(mic, [0] * harness.RATE)
    return harness.side_env(side, mic, os.path.join(work, f"spk-{side}.wav"))


def test_call_through_the_window(exe, work):
    hosts = harness.Hosts()
    apps = []
    try:
        a = harness.App(exe, hosts, "A", quiet_env(work, "A"), work)
        apps.append(a)
        b = harness.App(exe, hosts, "B", quiet_env(work, "B"), work)
        apps.append(b)
        a_idle = a.snapshot(os.path.join(work, "a-idle.png"))
        b_idle = b.snapshot(os.path.join(work, "b-idle.png"))

        a.call(hosts.addr["B"])
        assert harness.wait(lambda: harness.established(hosts, "A") == 1 and harness.established(hosts, "B") == 1), "no connection"
        time.sleep(0.5)
        a_up = a.snapshot(os.path.join(work, "a-connected.png"))
        b_up = b.snapshot(os.path.join(work, "b-connected.png"))
        for idle, up in ((a_idle, a_up), (b_idle, b_up)):
            assert not harness.same_region(idle, up, STATUS), "status did not change to Connected"
            assert not harness.same_region(idle, up, CONNECT), "Connect was not disabled"

        b.close_window()
        assert harness.wait(lambda: not b.alive(), 10), "closing the window did not end the program"
        assert b.proc.returncode == 0, f"exit status {b.proc.returncode}"
        # The caller shows the idle display again: "Disconnected", Connect enabled.
        assert harness.wait(lambda: harness.same_region(a_idle, a.snapshot(os.path.join(work, "a-after.png")), STATUS)
                    and harness.same_region(a_idle, os.path.join(work, "a-after.png"), CONNECT)), \
            "the caller's display did not return to Disconnected"
    finally:
        for app in apps:
            app.stop()
        hosts.close()


def test_raw_callers(exe, work):
    """First caller kept, a second closed at once (the display stays Connected),
    a new caller after the first hangs up is taken."""
    hosts = harness.Hosts()
    app = None
    try:
        app = harness.App(exe, hosts, "B", quiet_env(work, "raw"), work)
        prefix = hosts.prefix("A")
        # The callers run in namespace A through a small helper process.
        script = r'''
import socket, sys, time
def call():
    s = socket.create_connection(("10.213.0.2", 2000), timeout=5)
    return s
def hang_up(s):
    # A clean hang-up: end our side, read what is still coming, then close,
    # so no unread byte turns the close into a reset.
    s.shutdown(socket.SHUT_WR)
    s.settimeout(5)
    while s.recv(65536):
        pass
    s.close()
def closed_soon(s, t):
    s.settimeout(t)
    try:
        return s.recv(1) == b""
    except socket.timeout:
        return False
step = sys.argv[1]
first = call()
print("first-kept", not closed_soon(first, 1.0), flush=True)
second = call()
print("second-closed", closed_soon(second, 2.0), flush=True)
print("first-still-kept", not closed_soon(first, 0.5), flush=True)
sys.stdin.readline()
hang_up(first)
time.sleep(0.5)
third = call()
print("third-kept", not closed_soon(third, 1.0), flush=True)
third.close()
'''
        import subprocess
        idle = app.snapshot(os.path.join(work, "raw-idle.png"))
        proc = subprocess.Popen(prefix + [sys.executable, "-c", script, "x"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
        results = {}

        def step():
            k, v = proc.stdout.readline().split()
            results[k] = v == "True"

        step()
        connected = app.snapshot(os.path.join(work, "raw-connected.png"))
        assert not harness.same_region(idle, connected, STATUS), "the first caller was not shown as Connected"
        step()
        step()
        time.sleep(0.3)
        # The refused second caller leaves the display of the call that is up.
        refused = app.snapshot(os.path.join(work, "raw-refused.png"))
        assert harness.same_region(connected, refused, STATUS), "refusing a caller changed the status"
        assert harness.same_region(connected, refused, CONNECT), "refusing a caller re-enabled Connect"
        proc.stdin.write("\n")
        proc.stdin.flush()
        step()
        proc.wait(10)
        for key in ("first-kept", "second-closed", "first-still-kept", "third-kept"):
            assert results.get(key), f"{key} failed: {results}"
        assert app.alive()
    finally:
        if app:
            app.stop()
        hosts.close()


def main():
    harness.XCLOSE = sys.argv[2]
    return harness.run_tests((test_call_through_the_window, test_raw_callers,), sys.argv[1], logs=("A", "B", "raw"))


if __name__ == "__main__":
    sys.exit(main())
