"""Helpers for end-to-end tests: private network namespaces joined by a veth
pair, an X server per namespace, the real program driven with xdotool, and
sound compared by 20-ms energy envelopes."""

import array
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

RATE = 8000
XCLOSE = os.environ.get("VOCORA_XCLOSE", "xclose")  # set by the tests from their command line
FRAME = RATE // 50  # 20 ms
PULSE_ENV = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sound", "pulse-env")
PULSE_SINKS = ("micA", "spkA", "micB", "spkB")  # a microphone and a speaker null sink per side


def log(*args):
    print(*args, flush=True)


def run(*cmd, check=True, **kw):
    return subprocess.run(cmd, check=check, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


class Hosts:
    """Two hosts, A and B, each a network namespace with loopback, joined by a
    veth pair: A is 10.213.0.1, B is 10.213.0.2. Names are unique per run."""

    def __init__(self):
        tag = f"{os.getpid() % 100000}"
        self.names = {"A": f"vca{tag}", "B": f"vcb{tag}"}
        self.addr = {"A": "10.213.0.1", "B": "10.213.0.2"}
        va, vb = f"vea{tag}", f"veb{tag}"
        for ns in self.names.values():
            run("ip", "netns", "add", ns)
            run("ip", "-n", ns, "link", "set", "lo", "up")
        run("ip", "link", "add", va, "type", "veth", "peer", "name", vb)
        for side, dev in (("A", va), ("B", vb)):
            ns = self.names[side]
            run("ip", "link", "set", dev, "netns", ns)
            run("ip", "-n", ns, "addr", "add", self.addr[side] + "/24", "dev", dev)
            run("ip", "-n", ns, "link", "set", dev, "up")
        self.dev = {"A": va, "B": vb}

    def prefix(self, side):
        return ["ip", "netns", "exec", self.names[side]]

    def link(self, side, up):
        run("ip", "-n", self.names[side], "link", "set", self.dev[side], "up" if up else "down")

    def close(self):
        for ns in self.names.values():
            subprocess.run(["ip", "netns", "pids", ns], stdout=subprocess.PIPE)
            run("ip", "netns", "del", ns, check=False)


class Display:
    """An Xvfb server started inside a namespace (its abstract socket is only
    reachable from there)."""

    def __init__(self, prefix):
        r, w = os.pipe()
        self.proc = subprocess.Popen(prefix + ["Xvfb", "-displayfd", str(w), "-screen", "0", "640x480x24",
                                               "-nolisten", "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        with os.fdopen(r, "rb") as f:
            while not number.endswith(b"\n"):
                c = f.read(1)
                if not c:
                    raise RuntimeError("Xvfb did not start")
                number += c
        self.name = ":" + number.decode().strip()
        self.prefix = prefix

    def env(self):
        return dict(os.environ, DISPLAY=self.name)

    def xdotool(self, *args):
        return run(*(self.prefix + ["xdotool"] + list(args)), env=self.env(), check=False).stdout.strip()

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class App:
    """One running copy of the program in a namespace, on its own display."""

    def __init__(self, exe, hosts, side, extra_env=None, workdir=None):
        self.side = side
        self.display = Display(hosts.prefix(side))
        env = self.display.env()
        env.pop("QT_QPA_PLATFORM", None)
        env.update(extra_env or {})
        self.stderr = open(os.path.join(workdir or tempfile.gettempdir(), f"app-{side}.log"), "w")
        self.proc = subprocess.Popen(hosts.prefix(side) + [exe], env=env, stdout=self.stderr, stderr=self.stderr)
        self.window = None
        deadline = time.time() + 45  # a loaded machine starts slowly
        while time.time() < deadline and not self.window:
            out = self.display.xdotool("search", "--onlyvisible", "--name", "^Vocora$")
            self.window = out.split()[0] if out else None
            time.sleep(0.1)
        if not self.window:
            raise RuntimeError(f"the window of side {side} did not appear")

    def click(self, x, y):
        self.display.xdotool("mousemove", "--window", self.window, str(x), str(y), "click", "1")

    def type_into(self, x, y, text):
        self.click(x, y)
        self.display.xdotool("key", "--window", self.window, "ctrl+a", "BackSpace")
        self.display.xdotool("type", "--window", self.window, "--delay", "20", text)

    def call(self, host, port="2000"):
        self.type_into(100, 18, host)  # Host field
        self.type_into(100, 42, port)  # Port field
        self.click(92, 76)  # Connect

    def snapshot(self, path):
        """A PNG of the window, with the pointer moved off the controls."""
        self.display.xdotool("mousemove", "--window", self.window, "190", "144")
        time.sleep(0.2)
        run(*(self.display.prefix + ["import", "-window", self.window, path]), env=self.display.env())
        return path

    def boxes(self):
        """The message boxes the program has open (windows named like it
        other than its main window)."""
        out = self.display.xdotool("search", "--onlyvisible", "--name", "^Vocora$")
        return [w for w in out.split() if w != self.window]

    def dismiss_boxes(self):
        """Closes every open message box as a user would; returns how many."""
        closed = 0
        for _ in range(20):
            found = self.boxes()
            if not found:
                break
            for w in found:
                run(*(self.display.prefix + [XCLOSE, w]), env=self.display.env(), check=False)
                closed += 1
            time.sleep(0.3)
        return closed

    def close_window(self):
        """Asks the window to close, as its close button would."""
        run(*(self.display.prefix + [XCLOSE, self.window]), env=self.display.env())

    def rss_kb(self):
        try:
            with open(f"/proc/{self.child_pid()}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return 0

    def child_pid(self):
        # ip netns exec execs the program: same pid.
        return self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.display.close()
        self.stderr.close()


def established(hosts, side):
    """TCP connections established in a host's namespace."""
    out = run(*(hosts.prefix(side) + ["ss", "-tnH", "state", "established"]), check=False).stdout
    return len([line for line in out.splitlines() if line.strip()])


def wait(cond, timeout=10.0):
    """Polls cond until it holds or timeout seconds pass; returns it."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if cond():
            return True
        time.sleep(0.1)
    return cond()


def run_tests(tests, *args, logs=("A", "B")):
    """Runs each test(work, *args) in a fresh folder, shows the program's log
    on failure, and ends with the closing count line."""
    passed = failed = 0
    keep = os.environ.get("VOCORA_E2E_KEEP")
    for test in tests:
        work = tempfile.mkdtemp(prefix="vocora-e2e-", dir=keep)
        try:
            test(*args, work)
            log(f"[ PASS ] {test.__name__}")
            passed += 1
        except Exception as e:  # report and go on to the next test
            log(f"[ FAIL ] {test.__name__}: {e!r}")
            for side in logs:
                p = os.path.join(work, f"app-{side}.log")
                if os.path.exists(p):
                    log(f"--- app-{side}.log ---\n" + open(p).read()[-3000:])
            failed += 1
        finally:
            if not keep:
                shutil.rmtree(work, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def same_region(png_a, png_b, box):
    """Whether two PNGs are pixel-identical inside box = (x, y, w, h)."""
    x, y, w, h = box
    crop = f"{w}x{h}+{x}+{y}"
    r = subprocess.run(["compare", "-metric", "AE", f"{png_a}[{crop}]", f"{png_b}[{crop}]", "null:"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return r.stderr.strip().split()[0] == "0"


# ---- Sound -----------------------------------------------------------------

def read_wav(path):
    with wave.open(path, "rb") as w:
        assert w.getnchannels() == 1 and w.getsampwidth() == 2, path
        data = array.array("h", w.readframes(w.getnframes()))
        if sys.byteorder != "little":
            data.byteswap()
        return data, w.getframerate()


def write_wav(path, samples, rate=RATE):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(array.array("h", samples).tobytes())


def envelope(samples):
    """20-ms RMS in dB, floored at -70 so that digital silence counts as quiet,
    not as an outlier."""
    out = []
    for i in range(0, len(samples) - FRAME + 1, FRAME):
        s = 0
        for v in samples[i:i + FRAME]:
            s += v * v
        rms = math.sqrt(s / FRAME)
        out.append(max(-70.0, 20 * math.log10(rms / 32768)) if rms > 0 else -70.0)
    return out


def correlation(a, b):
    n = min(len(a), len(b))
    if n < 10:
        return 0.0
    a, b = a[:n], b[:n]
    ma, mb = sum(a) / n, sum(b) / n
    sab = sum((x - ma) * (y - mb) for x, y in zip(a, b))
    saa = sum((x - ma) ** 2 for x in a)
    sbb = sum((y - mb) ** 2 for y in b)
    return sab / math.sqrt(saa * sbb) if saa > 0 and sbb > 0 else 0.0


def align(sent, heard, max_lag_frames=250):
    """Best lag in 20-ms frames (positive: heard later than sent) and its
    correlation. A recording that started late holds the sound early, so
    negative lags are searched too."""
    best = (0, -2.0)
    for lag in range(-max_lag_frames, max_lag_frames + 1):
        c = correlation(sent, heard[lag:]) if lag >= 0 else correlation(sent[-lag:], heard)
        if c > best[1]:
            best = (lag, c)
    return best


def gaps(sent, heard, lag, loud_db=-40.0, silent_db=-65.0):
    """20-ms frames where the aligned input is loud and the output silent."""
    count = 0
    for i, level in enumerate(sent):
        j = i + lag
        if j < 0:
            continue
        if j >= len(heard):
            break
        if level > loud_db and heard[j] < silent_db:
            count += 1
    return count


SPEECH = (
    "the quick brown fox jumps over the lazy dog while seven bright voices count numbers and letters "
    "across the quiet room, one two three four five six, and the evening train rolls past the harbour. ",
    "a cold wind blew from the northern hills as the market opened; merchants called out prices for "
    "apples, bread, copper pots and woollen scarves, and children ran between the busy stalls. ",
    "please remember to water the garden on thursday, feed the cat twice a day, and lock the back door "
    "before you leave; the spare key is under the blue flower pot near the gate. ",
)
VOICES = ("en", "en+f3", "en+m3")


def make_speech(path, seconds, which=0):
    """Continuous speech of the given length, 8000 Hz mono 16-bit. Each
    'which' is another text in another voice, so two talkers never match."""
    tmp = path + ".raw.wav"
    run("espeak-ng", "-v", VOICES[which % len(VOICES)], "-s", "160", "-g", "0", "-w", tmp,
        SPEECH[which % len(SPEECH)] * 12)
    run("sox", tmp, "-r", str(RATE), "-c", "1", "-b", "16", path, "trim", "0", str(seconds))
    os.remove(tmp)


def cpu_seconds(pid):
    """utime + stime of the whole process (all its threads), from its own accounting."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def quality(sent_wav, heard_wav, max_lag_frames=250):
    """Heard against sent: delay (s), envelope correlation and 20-ms gaps."""
    sent, _ = read_wav(sent_wav)
    heard, _ = read_wav(heard_wav)
    es, eh = envelope(sent), envelope(heard)
    lag, corr = align(es, eh, max_lag_frames)
    return {"delay": lag * FRAME / RATE, "corr": corr, "gaps": gaps(es, eh, lag)}


def side_env(side, mic, spk, pulse=None, origin_ns=None):
    """The sound environment of one side: the wav backend on the files mic and
    spk (on the shared clock from origin_ns, if given), or, given the private
    PulseAudio's environment, ALSA through that side's null sinks."""
    if pulse is not None:
        return dict(pulse, VOCORA_AUDIO="alsa", PULSE_SOURCE=f"mic{side}.monitor", PULSE_SINK=f"spk{side}")
    env = {"VOCORA_AUDIO": "wav", "VOCORA_WAV_IN": mic, "VOCORA_WAV_OUT": spk}
    if origin_ns is not None:
        env["VOCORA_WAV_ORIGIN"] = str(origin_ns)
    return env


def start_pulse(work):
    """A private PulseAudio with the null sinks of PULSE_SINKS; returns the
    environment that reaches it."""
    env = dict(os.environ, PULSE_ENV_SINKS=" ".join(PULSE_SINKS))
    out = subprocess.run([PULSE_ENV, "start", os.path.join(work, "pulse")], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=60)
    if out.returncode != 0:
        raise RuntimeError("PulseAudio did not start: " + out.stdout)
    found = {}
    for line in out.stdout.splitlines():
        if line.startswith("export "):
            k, _, v = line[len("export "):].partition("=")
            found[k] = v
    penv = dict(os.environ, **found)
    have = subprocess.run(["pactl", "list", "short", "sinks"], env=penv, stdout=subprocess.PIPE, text=True).stdout
    names = {line.split("\t")[1] for line in have.splitlines() if "\t" in line}
    for sink in PULSE_SINKS:
        if sink not in names:
            run("pactl", "load-module", "module-null-sink", f"sink_name={sink}", env=penv)
    return found


def stop_pulse(work):
    subprocess.run([PULSE_ENV, "stop", os.path.join(work, "pulse")])


def start_pulse_sound(pulse, mic, spk):
    """Records each side's speaker sink into spk[side] and plays mic[side] into
    its microphone sink, from now on; the processes, recorders first."""
    penv = dict(os.environ, **pulse)
    procs = [subprocess.Popen(["parecord", "--latency-msec=20", "-d", f"spk{side}.monitor", "--rate=8000",
                               "--channels=1", "--format=s16le", "--file-format=wav", spk[side]], env=penv)
             for side in "AB"]
    procs += [subprocess.Popen(["paplay", "--latency-msec=20", "-d", f"mic{side}", mic[side]], env=penv)
              for side in "AB"]
    return procs


def which_or_skip(*tools):
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        raise RuntimeError("missing tools: " + " ".join(missing))
