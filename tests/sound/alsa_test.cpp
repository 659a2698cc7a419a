// The alsa backend against a real PulseAudio with null sinks (label "pulse"),
// and the path of a user without a sound server.
#include "mmsystem.h"

#include "box_watcher.h"
#include "sound_files.h"
#include "test_formats.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

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

double Rms(const std::vector<int16_t>& s)
{
    double sum = 0;
    for (int16_t v : s)
        sum += double(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

TEST(AlsaBackend, NoSoundServerFailsFast)
{
    setenv("PULSE_SERVER", "unix:/nonexistent/vocora-no-server", 1);
    TWaveFormatRecord pcm = TestPcmFormat();
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_NE(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "no hang";
    unsetenv("PULSE_SERVER");
}

class PulseTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = soundtest::TempDir() + "/pulse";
        const std::string envFile = dir + ".env";
        ASSERT_TRUE(soundtest::Run(kPulseEnv + " start " + dir + " > " + envFile));
        const std::vector<uint8_t> text = soundtest::ReadFile(envFile);
        std::string line;
        for (char c : std::string(text.begin(), text.end())) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const size_t eq = line.find('=');
            setenv(line.substr(7, eq - 7).c_str(), line.substr(eq + 1).c_str(), 1); // "export NAME=value"
            line.clear();
        }
    }
    void TearDown() override
    {
        soundtest::Run(kPulseEnv + " stop " + dir);
        unsetenv("PULSE_SERVER");
        unsetenv("PULSE_RUNTIME_PATH");
        unsetenv("PULSE_SOURCE");
        unsetenv("PULSE_SINK");
    }
    std::string dir;
};

TEST_F(PulseTest, RecordsTheMicrophoneAndPlaysToTheSpeaker)
{
    const std::vector<int16_t> tone = Tone(3 * 8000, 500);
    soundtest::WriteWav(dir + "/tone.wav", tone);
    size_t filled = 0;
    std::vector<WAVEHDR*> done;
    const HWND window = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == MM_WIM_DATA || m.Msg == MM_WOM_DONE)
            done.push_back(reinterpret_cast<WAVEHDR*>(m.LParam));
    });
    TWaveFormatRecord pcm = TestPcmFormat();

    // Record two seconds from mic.monitor while the tone plays into mic.
    setenv("PULSE_SOURCE", "mic.monitor", 1);
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<int16_t> rec(4 * 8000);
    WAVEHDR h[4] = {};
    for (int i = 0; i < 4; ++i) {
        h[i].lpData = reinterpret_cast<char*>(&rec[size_t(i) * 8000]);
        h[i].dwBufferLength = 16000;
        waveInPrepareHeader(in, &h[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &h[i], sizeof(WAVEHDR));
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(soundtest::Run("paplay --latency-msec=20 -d mic " + dir + "/tone.wav &"));
    ASSERT_TRUE(WaitFor([&] { return done.size() == 4; }, 10000));
    for (const WAVEHDR& x : h)
        filled += x.dwBytesRecorded;
    waveInReset(in);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(filled, 64000u);
    const soundtest::Match heard = soundtest::EnvelopeMatch(tone, rec, 8000);
    std::printf("recorded: RMS %.0f (tone %.0f), envelope correlation %.2f at lag %ld ms\n", Rms(rec), Rms(tone),
                heard.correlation, heard.lag / 8);
    EXPECT_GT(Rms(rec), Rms(tone) / 4);
    EXPECT_GT(heard.correlation, 0.6);

    // Play the tone to spk while parecord listens on spk.monitor.
    done.clear();
    setenv("PULSE_SINK", "spk", 1);
    ASSERT_TRUE(soundtest::Run("parecord --latency-msec=20 -d spk.monitor --rate=8000 --channels=1 --format=s16le "
                               "--file-format=wav " + dir + "/heard.wav & echo $! > " + dir + "/parecord.pid"));
    Pump(300);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    WAVEHDR o{};
    o.lpData = const_cast<char*>(reinterpret_cast<const char*>(tone.data()));
    o.dwBufferLength = DWORD(tone.size() * 2);
    waveOutPrepareHeader(out, &o, sizeof o);
    ASSERT_EQ(waveOutWrite(out, &o, sizeof o), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitFor([&] { return done.size() == 1; }, 10000));
    Pump(500);
    waveOutReset(out);
    waveOutUnprepareHeader(out, &o, sizeof o);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    soundtest::Run("kill -INT $(cat " + dir + "/parecord.pid); sleep 0.5");
    DeallocateHWnd(window);

    soundtest::Run("cp " + dir + "/heard.wav /tmp/pz/ours.wav; cp " + dir + "/tone.wav /tmp/pz/ourtone.wav");
    soundtest::Wav wav;
    ASSERT_TRUE(soundtest::ReadWav(dir + "/heard.wav", wav));
    size_t first = 0;
    while (first < wav.samples.size() && std::abs(wav.samples[first]) < 500)
        ++first;
    std::printf("heard %zu samples, sound from %zu\n", wav.samples.size(), first);
    const soundtest::Match played = soundtest::EnvelopeMatch(tone, wav.samples, 8000 * 4);
    std::printf("played: RMS %.0f, envelope correlation %.2f at lag %ld ms\n", Rms(wav.samples), played.correlation,
                played.lag / 8);
    EXPECT_GT(Rms(wav.samples), Rms(tone) / 4);
    EXPECT_GT(played.correlation, 0.6);
}

} // namespace
