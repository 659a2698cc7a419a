// The MPEG Layer-3 output path: the mapper decodes a stream cut anywhere, and
// through the wav backend a once-a-second stream plays without gaps.
#include "device.h"

#include "box_watcher.h"
#include "sound_files.h"
#include "wave_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Ten seconds of speech (or of a tone) encoded second by second through the
// compression manager, as the sending side does.
std::vector<std::vector<uint8_t>> EncodeSeconds(const std::vector<int16_t>& pcm)
{
    TWaveFormatRecord in = SpeechPcmFormat(), out = MpegLayer3Format();
    HACMSTREAM s = nullptr;
    std::vector<std::vector<uint8_t>> seconds;
    if (acmStreamOpen(&s, nullptr, &in.wfx, &out.wfx, nullptr, 0, 0, 0) != 0)
        return seconds;
    std::vector<uint8_t> dst(17200);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = reinterpret_cast<uint8_t*>(const_cast<int16_t*>(pcm.data()));
    h.cbSrcLength = 16000;
    h.pbDst = dst.data();
    h.cbDstLength = 17200;
    acmStreamPrepareHeader(s, &h, 0);
    for (size_t at = 0; at + 8000 <= pcm.size(); at += 8000) {
        h.pbSrc = reinterpret_cast<uint8_t*>(const_cast<int16_t*>(&pcm[at]));
        acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN);
        acmStreamReset(s, 0);
        seconds.emplace_back(dst.begin(), dst.begin() + h.cbDstLengthUsed);
    }
    acmStreamUnprepareHeader(s, &h, 0);
    acmStreamClose(s, 0);
    return seconds;
}

// A playback stream that takes everything at once and never runs dry.
class Recorder : public sound::PcmPlayback {
public:
    explicit Recorder(std::vector<int16_t>& sink) : sink_(sink) {}
    long Write(const void* data, long frames) override
    {
        const auto* s = static_cast<const int16_t*>(data);
        sink_.insert(sink_.end(), s, s + frames);
        return frames;
    }
    long Pending() override { return sink_.empty() ? 0 : 1; }
    void Drop() override {}

private:
    std::vector<int16_t>& sink_;
};

// Feeds stream in pieces of the given sizes through a mapper; the decoded sound.
std::vector<int16_t> DecodeInPieces(const std::vector<uint8_t>& stream, size_t piece)
{
    std::vector<int16_t> decoded;
    size_t done = 0;
    const HWND window = AllocateHWnd([&](TMessage& m) { done += m.Msg == MM_WOM_DONE; });
    {
        sound::Port port(false, 1, window);
        std::unique_ptr<sound::Device> mapper =
            sound::MakeMpegMapper(port, sound::PcmFormat{}, std::make_unique<Recorder>(decoded));
        std::vector<WAVEHDR> headers((stream.size() + piece - 1) / piece);
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].lpData = const_cast<char*>(reinterpret_cast<const char*>(stream.data())) + i * piece;
            headers[i].dwBufferLength = static_cast<DWORD>(std::min(piece, stream.size() - i * piece));
            headers[i].dwFlags = WHDR_PREPARED;
            port.Push(&headers[i]);
        }
        EXPECT_TRUE(WaitFor([&] { return done == headers.size(); }, 60000)) << "piece " << piece;
        for (const WAVEHDR& h : headers)
            EXPECT_EQ(h.dwFlags, WHDR_PREPARED | WHDR_DONE);
    }
    DeallocateHWnd(window);
    return decoded;
}

TEST(MpegOutput, PiecesOfAnySizeDecodeLikeWholeFrames)
{
    const std::string dir = soundtest::TempDir();
    const std::vector<int16_t> speech = soundtest::MakeSpeech(dir);
    ASSERT_EQ(speech.size(), 80000u);
    std::vector<uint8_t> stream;
    for (const auto& s : EncodeSeconds(speech))
        stream.insert(stream.end(), s.begin(), s.end());
    ASSERT_GT(stream.size(), 9000u);

    const std::vector<int16_t> whole = DecodeInPieces(stream, 72);
    const soundtest::Match match = soundtest::EnvelopeMatch(speech, whole, 8000); // the cushion comes first
    EXPECT_GT(match.correlation, 0.85);
    for (size_t piece : {1, 7, 1000, 4096})
        EXPECT_TRUE(DecodeInPieces(stream, piece) == whole) << "piece " << piece;

    // Garbage before and inside the stream is skipped; the sound after it plays.
    std::vector<uint8_t> dirty(500, 0x5A);
    dirty.insert(dirty.end(), stream.begin(), stream.begin() + 5000);
    for (int i = 0; i < 300; ++i)
        dirty.push_back(static_cast<uint8_t>(i * 37));
    dirty.insert(dirty.end(), stream.begin() + 5000, stream.end());
    const std::vector<int16_t> survived = DecodeInPieces(dirty, 333);
    EXPECT_GT(survived.size(), whole.size() * 8 / 10);
    soundtest::Run("rm -rf " + dir);
}

// 20-ms windows (from first sound on) whose level stays below -50 dB of full scale.
std::vector<size_t> Gaps(const std::vector<int16_t>& s, size_t from, size_t to)
{
    std::vector<size_t> gaps;
    for (size_t w = from; w + 160 <= to && w + 160 <= s.size(); w += 160) {
        double sum = 0;
        for (size_t i = w; i < w + 160; ++i)
            sum += double(s[i]) * s[i];
        if (std::sqrt(sum / 160) < 100)
            gaps.push_back(w);
    }
    return gaps;
}

TEST(MpegOutput, BlocksOnceASecondPlayWithoutGapsThroughTheWavBackend)
{
    const std::string dir = soundtest::TempDir();
    const std::string out = dir + "/out.wav";
    setenv("VOCORA_AUDIO", "wav", 1);
    setenv("VOCORA_WAV_OUT", out.c_str(), 1);
    std::vector<int16_t> tone(6 * 8000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(i) / 8000));
    const std::vector<std::vector<uint8_t>> blocks = EncodeSeconds(tone);

    size_t done = 0;
    const HWND window = AllocateHWnd([&](TMessage& m) { done += m.Msg == MM_WOM_DONE; });
    TWaveFormatRecord mp3 = MpegLayer3Format();
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &mp3.wfx, window, 0, CALLBACK_WINDOW | WAVE_MAPPED), MMSYSERR_NOERROR);
    std::vector<WAVEHDR> headers(blocks.size());
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < blocks.size(); ++i) {
        WaitFor([&] { return std::chrono::steady_clock::now() >= start + std::chrono::seconds(i); }, 2000);
        headers[i].lpData = const_cast<char*>(reinterpret_cast<const char*>(blocks[i].data()));
        headers[i].dwBufferLength = DWORD(blocks[i].size());
        ASSERT_EQ(waveOutPrepareHeader(h, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(WaitFor([&] { return done == blocks.size(); }, 5000));
    Pump(400);
    waveOutReset(h);
    for (WAVEHDR& x : headers)
        EXPECT_EQ(waveOutUnprepareHeader(h, &x, sizeof x), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    DeallocateHWnd(window);
    unsetenv("VOCORA_AUDIO");
    unsetenv("VOCORA_WAV_OUT");

    soundtest::Wav wav;
    ASSERT_TRUE(soundtest::ReadWav(out, wav));
    EXPECT_EQ(wav.rate, 8000u);
    EXPECT_EQ(wav.dataSize, wav.samples.size() * 2);
    size_t first = 0;
    while (first < wav.samples.size() && std::abs(wav.samples[first]) < 1000)
        ++first;
    ASSERT_LT(first, wav.samples.size());
    size_t last = wav.samples.size();
    while (last > first && std::abs(wav.samples[last - 1]) < 1000)
        --last;
    EXPECT_GT(last - first, 5 * 8000u);
    EXPECT_EQ(Gaps(wav.samples, first, last), std::vector<size_t>{}) << "first sound at " << first / 8 << " ms";
    std::printf("sound from %zu ms to %zu ms after the open\n", first / 8, last / 8);
    soundtest::Run("rm -rf " + dir);
}

TEST(WavBackend, MicrophoneFileIsPacedAndFollowedBySilence)
{
    const std::string dir = soundtest::TempDir();
    std::vector<int16_t> input(4000);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = int16_t(i * 7 + 1);
    soundtest::WriteWav(dir + "/in.wav", input);
    setenv("VOCORA_AUDIO", "wav", 1);
    setenv("VOCORA_WAV_IN", (dir + "/in.wav").c_str(), 1);

    std::vector<WAVEHDR*> got;
    const HWND window = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == MM_WIM_DATA)
            got.push_back(reinterpret_cast<WAVEHDR*>(m.LParam));
    });
    TWaveFormatRecord pcm = SpeechPcmFormat();
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    // The third buffer is a second long, so that the reset below comes while it is partly filled.
    std::vector<int16_t> a(3000), b(3000), c(8000);
    WAVEHDR h[3] = {};
    int16_t* data[3] = {a.data(), b.data(), c.data()};
    for (int i = 0; i < 3; ++i) {
        h[i].lpData = reinterpret_cast<char*>(data[i]);
        h[i].dwBufferLength = static_cast<DWORD>((i == 2 ? c.size() : a.size()) * 2);
        waveInPrepareHeader(in, &h[i], sizeof h[i]);
        waveInAddBuffer(in, &h[i], sizeof h[i]);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitFor([&] { return got.size() == 2; }));
    // Two buffers of 375 ms each cannot be recorded in less than 750 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(740));
    EXPECT_EQ(got[0], &h[0]);
    EXPECT_EQ(h[1].dwBytesRecorded, 6000u);
    std::vector<int16_t> expect(input.begin(), input.begin() + 3000);
    EXPECT_EQ(a, expect);
    expect.assign(input.begin() + 3000, input.end());
    expect.resize(3000, 0); // the file ends: silence follows
    EXPECT_EQ(b, expect);
    // The third buffer is handed back by the reset, partly filled.
    Pump(400);
    waveInReset(in);
    ASSERT_TRUE(WaitFor([&] { return got.size() == 3; }));
    EXPECT_GT(h[2].dwBytesRecorded, 0u);
    EXPECT_LT(h[2].dwBytesRecorded, 16000u);
    EXPECT_EQ(h[2].dwBytesRecorded % 2, 0u);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    DeallocateHWnd(window);
    unsetenv("VOCORA_AUDIO");
    unsetenv("VOCORA_WAV_IN");
    soundtest::Run("rm -rf " + dir);
}

} // namespace
