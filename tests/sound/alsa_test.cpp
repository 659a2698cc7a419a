// The alsa backend against a real PulseAudio with null sinks (label "pulse"),
// and the path of a user without a sound server.
#include "mmsystem.h"

#include "box_watcher.h"
#include "sound_files.h"
#include "wave_format.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

namespace {

const std::string kPulseEnv = VOCORA_PULSE_ENV;

std::vector<int16_t> Tone(size_t n, double hz)
{
    std::vector<int16_t> s(n);
    // A tone whose level swells and fades ever faster, so its envelope matches at one lag only.
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / 8000;
        s[i] = int16_t(6000 * std::sin(2 * M_PI * hz * t) * (0.55 + 0.45 * std::sin(2 * M_PI * (1 + t) * t)));
    }
    return s;
}

double Rms(const std::vector<int16_t>& s, size_t from = 0, size_t to = SIZE_MAX)
{
    to = std::min(to, s.size());
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// Where sound is in s: from the first to the last 20-ms window above a quiet
// floor (the null sinks give exact zeros for silence).
struct Span {
    size_t from = 0, to = 0; // samples
    double Ms() const { return double(to - from) / 8; }
};

Span SoundSpan(const std::vector<int16_t>& s)
{
    Span span;
    bool any = false;
    for (size_t w = 0; w + 160 <= s.size(); w += 160) {
        if (Rms(s, w, w + 160) < 150)
            continue;
        if (!any)
            span.from = w;
        span.to = w + 160;
        any = true;
    }
    return span;
}

// The 20-ms level in dB of s from any sample on (prefix sums of squares); s is zero outside its range.
class Levels {
public:
    explicit Levels(const std::vector<int16_t>& s) : sum_(s.size() + 1)
    {
        for (size_t i = 0; i < s.size(); ++i)
            sum_[i + 1] = sum_[i] + double(s[i]) * s[i];
    }
    double At(long at) const
    {
        const auto clamp = [&](long i) { return size_t(std::clamp(i, 0L, long(sum_.size()) - 1)); };
        return 10 * std::log10((sum_[clamp(at + 160)] - sum_[clamp(at)]) / 160 + 1.0);
    }

private:
    std::vector<double> sum_;
};

// Envelope correlation of got against input at the best lag in [-lead, maxLag]
// samples, over the input's 20-ms windows that got's sound covers. A negative
// lag means got lacks the input's first samples: a null sink's monitor, as
// parecord or a capture stream sees it, loses the silence before and the first
// tens of ms of sound when a stream connects to the idle sink. Span checks
// bound how much may be lost.
soundtest::Match MatchOverSound(const std::vector<int16_t>& input, const std::vector<int16_t>& got, long lead,
                                long maxLag)
{
    const Span span = SoundSpan(got);
    const Levels in(input), out(got);
    const long windows = long(input.size() / 160);
    soundtest::Match best{-2, 0};
    for (long lag = -lead; lag <= maxLag; lag += 8) {
        // Window w of input lies at lag + 160 w in got.
        const long w0 = std::max(0L, (long(span.from) - lag + 159) / 160);
        const long w1 = std::min(windows, (long(span.to) - lag) / 160);
        if (w1 - w0 < windows / 2)
            continue;
        std::vector<double> a, b;
        for (long w = w0; w < w1; ++w) {
            a.push_back(in.At(160 * w));
            b.push_back(out.At(lag + 160 * w));
        }
        const double c = soundtest::Pearson(a, b);
        if (c > best.correlation)
            best = {c, lag};
    }
    return best;
}

// got must hold the whole tone once, at its level, with its envelope: no lost,
// repeated or garbage frames. Generous bounds, as a loaded machine may starve
// the device now and then.
void ExpectTone(const char* what, const std::vector<int16_t>& tone, const std::vector<int16_t>& got, long lead,
                long maxLag)
{
    const Span span = SoundSpan(got);
    const soundtest::Match m = MatchOverSound(tone, got, lead, maxLag);
    const double level = Rms(got, span.from, span.to) / Rms(tone);
    std::printf("%s: sound for %.0f ms of %zu ms (from %zu ms), level %.2f of the tone's, envelope correlation %.3f "
                "at lag %ld ms\n",
                what, span.Ms(), tone.size() / 8, span.from / 8, level, m.correlation, m.lag / 8);
    EXPECT_GT(span.Ms(), double(tone.size()) / 8 - 400) << what;
    EXPECT_LT(span.Ms(), double(tone.size()) / 8 + 600) << what;
    EXPECT_GT(level, 0.7) << what;
    EXPECT_LT(level, 1.4) << what;
    EXPECT_GT(m.correlation, 0.6) << what;
}

// What a user without a sound server meets: no server at the address, or a
// socket left behind by one that died.
TEST(AlsaBackend, NoSoundServerFailsFast)
{
    const std::string root = soundtest::TempDir();
    const std::string stale = root + "/stale";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", stale.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd); // the file stays, nobody listens

    for (const std::string& server : {root + "/missing", stale}) {
        setenv("PULSE_SERVER", ("unix:" + server).c_str(), 1);
        TWaveFormatRecord pcm = SpeechPcmFormat();
        HWAVEIN in = nullptr;
        HWAVEOUT out = nullptr;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NE(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, 0, 0, 0), MMSYSERR_NOERROR) << server;
        EXPECT_NE(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, 0, 0, 0), MMSYSERR_NOERROR) << server;
        EXPECT_EQ(in, nullptr);
        EXPECT_EQ(out, nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << server << ": no hang";
    }
    unsetenv("PULSE_SERVER");
    soundtest::Run("rm -rf " + root);
}

class PulseTest : public testing::Test {
protected:
    void SetUp() override
    {
        root = soundtest::TempDir();
        dir = root + "/pulse";
        const std::string envFile = root + "/pulse.env";
        ASSERT_TRUE(soundtest::Run(kPulseEnv + " start " + dir + " > " + envFile));
        const std::vector<uint8_t> text = soundtest::ReadFile(envFile);
        std::string line;
        for (char c : std::string(text.begin(), text.end())) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const size_t eq = line.find('=');
            if (line.rfind("export ", 0) == 0 && eq != std::string::npos)
                setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1);
            line.clear();
        }
    }
    void TearDown() override
    {
        soundtest::Run("kill -INT $(cat " + dir + "/parecord.pid 2>/dev/null) 2>/dev/null");
        soundtest::Run(kPulseEnv + " stop " + dir);
        soundtest::Run("rm -rf " + root);
        unsetenv("PULSE_SERVER");
        unsetenv("PULSE_RUNTIME_PATH");
        unsetenv("PULSE_SOURCE");
        unsetenv("PULSE_SINK");
    }
    // A window that collects every buffer handed back, recorded or played.
    static HWND DoneWindow(std::vector<WAVEHDR*>& done)
    {
        return AllocateHWnd([&done](TMessage& m) {
            if (m.Msg == MM_WIM_DATA || m.Msg == MM_WOM_DONE)
                done.push_back(reinterpret_cast<WAVEHDR*>(m.LParam));
        });
    }
    std::string root, dir;
};

TEST_F(PulseTest, RecordsTheMicrophoneAndPlaysToTheSpeaker)
{
    const std::vector<int16_t> tone = Tone(3 * 8000, 500);
    soundtest::WriteWav(dir + "/tone.wav", tone);
    std::vector<WAVEHDR*> done;
    const HWND window = DoneWindow(done);
    TWaveFormatRecord pcm = SpeechPcmFormat();

    // Record six seconds from mic.monitor while the tone plays into mic; the
    // slack leaves room for paplay starting late on a busy machine.
    setenv("PULSE_SOURCE", "mic.monitor", 1);
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    constexpr int kBuffers = 6;
    std::vector<int16_t> rec(kBuffers * 8000);
    WAVEHDR h[kBuffers] = {};
    for (int i = 0; i < kBuffers; ++i) {
        h[i].lpData = reinterpret_cast<char*>(&rec[size_t(i) * 8000]);
        h[i].dwBufferLength = 16000;
        waveInPrepareHeader(in, &h[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &h[i], sizeof(WAVEHDR));
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(soundtest::Run("paplay --latency-msec=200 -d mic " + dir + "/tone.wav &"));
    ASSERT_TRUE(WaitFor([&] { return done.size() == kBuffers; }, 30000));
    size_t filled = 0;
    for (const WAVEHDR& x : h)
        filled += x.dwBytesRecorded;
    waveInReset(in);
    for (WAVEHDR& x : h)
        waveInUnprepareHeader(in, &x, sizeof x);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(filled, rec.size() * 2);
    ExpectTone("recorded", tone, rec, 8000 / 2, 3 * 8000);

    // Play the tone to spk while parecord listens on spk.monitor; our stream
    // starts only once parecord's is connected.
    done.clear();
    setenv("PULSE_SINK", "spk", 1);
    ASSERT_TRUE(soundtest::Run("parecord --latency-msec=20 -d spk.monitor --rate=8000 --channels=1 --format=s16le "
                               "--file-format=wav " + dir + "/heard.wav & echo $! > " + dir + "/parecord.pid"));
    ASSERT_TRUE(soundtest::Run(
        "src=$(pactl list short sources | awk '$2 == \"spk.monitor\" { print $1 }'); i=0; "
        "until pactl list short source-outputs | awk -v s=\"$src\" '$2 == s { f = 1 } END { exit !f }'; do "
        "i=$((i + 1)); [ $i -le 300 ] || exit 1; sleep 0.1; done"))
    << "parecord did not connect";
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WAVEHDR o{};
    o.lpData = const_cast<char*>(reinterpret_cast<const char*>(tone.data()));
    o.dwBufferLength = DWORD(tone.size() * 2);
    waveOutPrepareHeader(out, &o, sizeof o);
    ASSERT_EQ(waveOutWrite(out, &o, sizeof o), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitFor([&] { return done.size() == 1; }, 30000));
    Pump(1000); // the device's buffer plays out
    waveOutReset(out);
    waveOutUnprepareHeader(out, &o, sizeof o);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    // parecord writes the WAV header's sizes as it ends.
    ASSERT_TRUE(soundtest::Run("pid=$(cat " + dir + "/parecord.pid); kill -INT $pid; i=0; "
                               "while kill -0 $pid 2>/dev/null; do i=$((i + 1)); [ $i -le 100 ] || exit 1; "
                               "sleep 0.1; done; rm " + dir + "/parecord.pid"));
    DeallocateHWnd(window);

    soundtest::Wav wav;
    ASSERT_TRUE(soundtest::ReadWav(dir + "/heard.wav", wav));
    EXPECT_EQ(wav.rate, 8000u);
    EXPECT_EQ(wav.channels, 1u);
    ExpectTone("played", tone, wav.samples, 8000, 4 * 8000);
}

// The sound server going away mid-call: buffers still come back (recording goes
// on as silence) and nothing hangs.
TEST_F(PulseTest, ServerGoneMidCall)
{
    const std::vector<int16_t> tone = Tone(3 * 8000, 500);
    std::vector<WAVEHDR*> done;
    const HWND window = DoneWindow(done);
    TWaveFormatRecord pcm = SpeechPcmFormat();
    setenv("PULSE_SOURCE", "mic.monitor", 1);
    setenv("PULSE_SINK", "spk", 1);
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<int16_t> rec(4 * 4000);
    WAVEHDR h[4] = {};
    for (int i = 0; i < 4; ++i) {
        h[i].lpData = reinterpret_cast<char*>(&rec[size_t(i) * 4000]);
        h[i].dwBufferLength = 8000;
        waveInPrepareHeader(in, &h[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &h[i], sizeof(WAVEHDR));
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    WAVEHDR o{};
    o.lpData = const_cast<char*>(reinterpret_cast<const char*>(tone.data()));
    o.dwBufferLength = DWORD(tone.size() * 2);
    waveOutPrepareHeader(out, &o, sizeof o);
    ASSERT_EQ(waveOutWrite(out, &o, sizeof o), MMSYSERR_NOERROR);
    Pump(700);
    const auto gone = std::chrono::steady_clock::now();
    ASSERT_TRUE(soundtest::Run(kPulseEnv + " stop " + dir));
    EXPECT_TRUE(WaitFor([&] { return done.size() == 5; }, 20000)) << done.size() << " of 5 buffers back";
    std::printf("all buffers back %lld ms after the server went\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - gone).count()));
    waveInReset(in);
    waveOutReset(out);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    DeallocateHWnd(window);
}

} // namespace
