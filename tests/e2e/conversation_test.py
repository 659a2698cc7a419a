#!/usr/bin/env python3
"""A real call between two program processes on two hosts (network
namespaces), placed through the window: speech into each side's microphone is
heard at the other side, both directions at once. The sound heard is compared
with the sound sent by 20-ms energy envelopes; gaps and mouth-to-ear delay are
measured.

Backends: --backend wav (files as microphone and speaker, on one shared clock)
or --backend pulse (a private PulseAudio server with null sinks, through ALSA).
"""

import argparse
import os
import resource
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

def codec_floor(wav, work):
    """The command-line encoder and decoder on the same sound: the decoded
    sound, and the CPU seconds both took."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    mp3 = os.path.join(work, os.path.basename(wav) + ".mp3")
    out = os.path.join(work, os.path.basename(wav) + ".ref.wav")
    harness.run("lame", "--quiet", "--cbr", "-b", "8", "-m", "m", "-t", wav, mp3)
    harness.run("mpg123", "-q", "-w", out, mp3)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return out, cpu


def peak_rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("exe")
    ap.add_argument("--xclose", required=True, help="the window-closing helper")
    ap.add_argument("--backend", choices=("wav", "pulse"), default="wav")
    ap.add_argument("--seconds", type=float, default=32.0)
    ap.add_argument("--keep", help="folder to keep the sound files in")
    args = ap.parse_args()
    harness.XCLOSE = args.xclose

    work = args.keep or tempfile.mkdtemp(prefix="vocora-e2e-")
    os.makedirs(work, exist_ok=True)
    mic = {s: os.path.join(work, f"mic-{s}.wav") for s in "AB"}
    spk = {s: os.path.join(work, f"spk-{s}.wav") for s in "AB"}
    harness.make_speech(mic["A"], args.seconds, 0)
    harness.make_speech(mic["B"], args.seconds, 1)

    hosts = harness.Hosts()
    apps = {}
    players = []
    pulse = None
    failures = []
    try:
        lead = 6.0  # seconds from start to the first word: time to start both sides and place the call
        origin_ns = time.clock_gettime_ns(time.CLOCK_MONOTONIC) + int(lead * 1e9)
        env = {}
        if args.backend == "pulse":
            pulse = harness.start_pulse(work)
        for side in "AB":
            env[side] = harness.side_env(side, mic[side], spk[side], pulse, origin_ns)
            apps[side] = harness.App(args.exe, hosts, side, env[side], work)
        apps["A"].call(hosts.addr["B"])

        if args.backend == "pulse":
            # The speakers are recorded and the microphones fed from the origin on.
            while time.clock_gettime_ns(time.CLOCK_MONOTONIC) < origin_ns:
                time.sleep(0.005)
            players = harness.start_pulse_sound(pulse, mic, spk)

        end = origin_ns / 1e9 + args.seconds + 3.0
        cpu0 = {s: harness.cpu_seconds(apps[s].proc.pid) for s in "AB"}
        t_cpu0 = time.monotonic()
        while time.clock_gettime_ns(time.CLOCK_MONOTONIC) / 1e9 < end:
            time.sleep(0.2)
        elapsed = time.monotonic() - t_cpu0
        cpu = {s: (harness.cpu_seconds(apps[s].proc.pid) - cpu0[s]) / elapsed * 60 for s in "AB"}
        rss = {s: peak_rss_kb(apps[s].proc.pid) for s in "AB"}
        for p in reversed(players):
            p.terminate()
            p.wait()
        for side in "AB":
            apps[side].close_window()
        for side in "AB":
            apps[side].proc.wait(10)

        ref_wav, floor_cpu = codec_floor(mic["A"], work)
        floor_per_minute = floor_cpu / args.seconds * 60
        ref_corr = harness.quality(mic["A"], ref_wav)["corr"]
        # Through the sound server the sound is resampled twice more.
        threshold = ref_corr - (0.08 if args.backend == "wav" else 0.15)
        harness.log(f"reference (command-line encoder + decoder): correlation {ref_corr:.3f}, "
                    f"{floor_cpu * 1000 / args.seconds:.2f} ms CPU per second of sound")
        for talker, listener in (("A", "B"), ("B", "A")):
            q = harness.quality(mic[talker], spk[listener])
            delay, corr, gap_count = q["delay"], q["corr"], q["gaps"]
            harness.log(f"{talker} -> {listener}: correlation {corr:.3f} (threshold {threshold:.3f}), "
                        f"delay {delay:.2f} s, gaps {gap_count}")
            if corr < threshold:
                failures.append(f"{talker}->{listener} sound does not match (correlation {corr:.3f})")
            if args.backend == "wav" and gap_count:
                failures.append(f"{talker}->{listener} has {gap_count} gaps")
            # The delay goal (1.35 s) is measured by bench/call; here only a
            # bound that a busy machine keeps and a lost quarter second breaks.
            if args.backend == "wav" and delay > 1.6:
                failures.append(f"{talker}->{listener} delay {delay:.2f} s")
        for side in "AB":
            harness.log(f"side {side}: CPU {cpu[side]:.2f} s per minute of call "
                        f"(codec floor {floor_per_minute:.3f} s, ratio {cpu[side] / floor_per_minute:.1f}), "
                        f"peak RSS {rss[side] / 1024:.1f} MB")
    except Exception as e:  # reported below as a failure
        failures.append(repr(e))
    finally:
        for p in players:
            if p.poll() is None:
                p.kill()
        for app in apps.values():
            app.stop()
        hosts.close()
        if pulse is not None:
            harness.stop_pulse(work)

    for f in failures:
        harness.log("FAIL: " + f)
        for side in "AB":
            p = os.path.join(work, f"app-{side}.log")
            if os.path.exists(p):
                harness.log(f"--- app-{side}.log ---\n" + open(p).read()[-2000:])
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
