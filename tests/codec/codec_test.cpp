// The compression manager with the LAME driver: the stream rules, and ten
// seconds of speech encoded second by second as one continuous stream.
#include "mmsystem.h"

#include "mmfault.h"
#include "sound_files.h"
#include "wave_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace {

class Stream {
public:
    explicit Stream(DWORD inputSize, DWORD flags = 0)
    {
        TWaveFormatRecord pcm = SpeechPcmFormat(), mp3 = MpegLayer3Format();
        opened = acmStreamOpen(&handle, nullptr, &pcm.wfx, &mp3.wfx, nullptr, 0, 0, flags);
        if (opened != MMSYSERR_NOERROR)
            return;
        acmStreamSize(handle, inputSize, &outSize, ACM_STREAMSIZEF_SOURCE);
        in.resize(inputSize);
        out.resize(outSize);
        header.cbStruct = sizeof header;
        header.pbSrc = in.data();
        header.cbSrcLength = inputSize;
        header.pbDst = out.data();
        header.cbDstLength = outSize;
    }
    ~Stream()
    {
        if (opened == MMSYSERR_NOERROR) {
            acmStreamUnprepareHeader(handle, &header, 0);
            acmStreamClose(handle, 0);
        }
    }
    // One conversion as the convertor makes it: block-aligned, then a reset.
    std::vector<uint8_t> Convert(const int16_t* samples, DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN)
    {
        std::memcpy(in.data(), samples, header.cbSrcLength);
        EXPECT_EQ(acmStreamConvert(handle, &header, flags), MMSYSERR_NOERROR);
        EXPECT_EQ(header.cbSrcLengthUsed, header.cbSrcLength);
        EXPECT_EQ(acmStreamReset(handle, 0), MMSYSERR_NOERROR);
        return {out.begin(), out.begin() + header.cbDstLengthUsed};
    }

    MMRESULT opened;
    HACMSTREAM handle = nullptr;
    DWORD outSize = 0;
    std::vector<uint8_t> in, out;
    ACMSTREAMHEADER header{};
};

TEST(AcmStream, StreamRules)
{
    TWaveFormatRecord pcm = SpeechPcmFormat(), mp3 = MpegLayer3Format();
    HACMSTREAM h = reinterpret_cast<HACMSTREAM>(uintptr_t{99});
    // Pairs no driver serves.
    TWaveFormatRecord pcm22 = pcm;
    pcm22.wfx = {WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 129};
    TWaveFormatRecord mp3Other = mp3;
    mp3Other.wfx.nSamplesPerSec = 22050;
    const std::pair<TWaveFormatRecord*, TWaveFormatRecord*> refused[] = {
        {&mp3, &pcm}, {&pcm22, &mp3}, {&pcm, &pcm}, {&pcm, &mp3Other}};
    for (auto [src, dst] : refused)
        EXPECT_EQ(acmStreamOpen(&h, nullptr, &src->wfx, &dst->wfx, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(h, reinterpret_cast<HACMSTREAM>(uintptr_t{99})) << "handle written on success only";

    Stream s(16000, ACM_STREAMOPENF_NONREALTIME);
    ASSERT_EQ(s.opened, MMSYSERR_NOERROR);
    EXPECT_EQ(s.outSize, 8000u * 5 / 4 + 7200);
    EXPECT_EQ(acmStreamConvert(s.handle, &s.header, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamUnprepareHeader(s.handle, &s.header, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(s.handle, &s.header, 0), MMSYSERR_NOERROR);
    EXPECT_TRUE(s.header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);

    // An odd byte count converts whole samples only.
    s.header.cbSrcLength = 1001;
    std::fill(s.in.begin(), s.in.end(), 0);
    EXPECT_EQ(acmStreamConvert(s.handle, &s.header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(s.header.cbSrcLengthUsed, 1000u);
    EXPECT_TRUE(s.header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    s.header.cbSrcLength = 16002; // more than prepared
    EXPECT_EQ(acmStreamConvert(s.handle, &s.header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_INVALPARAM);
    s.header.cbSrcLength = 16000;

    mmfault::Fail("acmStreamConvert", MMSYSERR_NOMEM);
    EXPECT_EQ(acmStreamConvert(s.handle, &s.header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOMEM);
    mmfault::Clear();

    HACMSTREAM stale = reinterpret_cast<HACMSTREAM>(uintptr_t{123456});
    EXPECT_EQ(acmStreamConvert(stale, &s.header, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamReset(stale, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamClose(stale, 0), MMSYSERR_INVALHANDLE);
}

// Speech second by second through the stream: 72-byte MPEG-2.5 Layer III
// frames, the right length, and as close to the input as the lame program gets.
TEST(AcmStream, SpeechSecondBySecondIsOneContinuousStream)
{
    const std::string dir = soundtest::TempDir();
    const std::vector<int16_t> speech = soundtest::MakeSpeech(dir);
    ASSERT_EQ(speech.size(), 80000u) << "espeak-ng and sox make the input";

    Stream s(16000);
    ASSERT_EQ(s.opened, MMSYSERR_NOERROR);
    ASSERT_EQ(acmStreamPrepareHeader(s.handle, &s.header, 0), MMSYSERR_NOERROR);
    std::vector<uint8_t> stream;
    std::vector<size_t> perSecond;
    const std::clock_t cpu0 = std::clock();
    for (int second = 0; second < 10; ++second) {
        const std::vector<uint8_t> out = s.Convert(&speech[second * 8000]);
        perSecond.push_back(out.size());
        stream.insert(stream.end(), out.begin(), out.end());
    }
    const double cpuMs = 1000.0 * double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    // About 1000 bytes a second (a stream flushed per call would give 16 frames, 1152 bytes);
    // the first second is short by the encoder delay.
    for (size_t i = 1; i < perSecond.size(); ++i)
        EXPECT_NEAR(double(perSecond[i]), 1000, 100) << "second " << i;

    // The samples not yet framed are still in the encoder: drain them.
    s.header.cbSrcLength = 0;
    ASSERT_EQ(acmStreamConvert(s.handle, &s.header, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
    stream.insert(stream.end(), s.out.begin(), s.out.begin() + s.header.cbDstLengthUsed);
    s.header.cbSrcLength = 16000;

    ASSERT_EQ(stream.size() % 72, 0u);
    for (size_t at = 0; at < stream.size(); at += 72)
        ASSERT_TRUE(stream[at] == 0xFF && stream[at + 1] == 0xE3 && stream[at + 2] == 0x18 && stream[at + 3] == 0xC4)
            << "frame at " << at;

    const std::vector<int16_t> decoded = soundtest::DecodeWithMpg123(dir, stream);
    // Encoder and decoder delay add 1105 samples; frames round up to 576.
    EXPECT_NEAR(double(decoded.size()) - 1105, 80000, 576);

    const std::string ref = dir + "/ref.mp3";
    ASSERT_TRUE(soundtest::Run("lame --quiet --cbr -b 8 -m m -t " + dir + "/speech.wav " + ref));
    const std::vector<int16_t> refDecoded = soundtest::DecodeWithMpg123(dir, soundtest::ReadFile(ref));
    const soundtest::Match ours = soundtest::EnvelopeMatch(speech, decoded, 3000);
    const soundtest::Match theirs = soundtest::EnvelopeMatch(speech, refDecoded, 3000);
    EXPECT_GE(ours.correlation, theirs.correlation - 0.02);
    RecordProperty("envelope_correlation", std::to_string(ours.correlation));
    std::printf("envelope correlation %.3f at lag %ld (lame program: %.3f at lag %ld); %zu frames; "
                "encoding CPU %.2f ms for 10 s\n",
                ours.correlation, ours.lag, theirs.correlation, theirs.lag, stream.size() / 72, cpuMs);
    soundtest::Run("rm -rf " + dir);
}

} // namespace
