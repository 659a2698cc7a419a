// The convertor on the real codec: Speech PCM to MPEG Layer-3 at 8 kbit/s, one
// second a call, as the program uses it.
#include "ACMConvertor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// One second of a voiced sound: a 150 Hz tone with two overtones, its level
// swelling and fading four times a second.
void FillSecond(uint8_t* Buffer, int Second)
{
    for (int i = 0; i < 8000; ++i) {
        const double t = (Second * 8000 + i) / 8000.0;
        const double envelope = 0.55 + 0.45 * std::sin(2 * M_PI * 4 * t);
        const double v = std::sin(2 * M_PI * 150 * t) + 0.5 * std::sin(2 * M_PI * 450 * t) +
                         0.25 * std::sin(2 * M_PI * 750 * t);
        const int16_t s = int16_t(6000 * envelope * v);
        std::memcpy(Buffer + 2 * i, &s, 2);
    }
}

} // namespace

TEST(ConvertorOnCodec, EncodesEachSecondOfSpeechPcmIntoAContinuousLayer3Stream)
{
    TACMConvertor conv(nullptr);
    conv.FormatIn = SpeechPcmFormat();
    conv.FormatOut = MpegLayer3Format();
    conv.SetInputBufferSize(16000);
    conv.SetUseRealTime(true);
    conv.SetActive(true);
    ASSERT_GT(conv.BufferOutSize(), 0u);

    std::vector<uint8_t> stream;
    const int seconds = 8;
    for (int s = 0; s < seconds; ++s) {
        FillSecond(conv.BufferIn(), s);
        const uint32_t n = conv.Convert();
        ASSERT_LE(n, conv.BufferOutSize());
        for (uint32_t i = n; i < conv.BufferOutSize(); ++i)
            ASSERT_EQ(conv.BufferOut()[i], 0) << "second " << s << " byte " << i;
        stream.insert(stream.end(), conv.BufferOut(), conv.BufferOut() + n);
    }
    conv.SetActive(false);

    // About 1000 bytes a second, less the encoder's delay, in 72-byte frames
    // back to back from the first.
    EXPECT_GT(stream.size(), size_t(seconds * 1000 - 1500));
    EXPECT_LE(stream.size(), size_t(seconds * 1000 + 72));
    const uint8_t header[4] = {0xFF, 0xE3, 0x18, 0xC4};
    ASSERT_GE(stream.size(), 4u);
    EXPECT_EQ(std::memcmp(stream.data(), header, 4), 0);
    for (size_t at = 0; at + 4 <= stream.size(); at += 72)
        ASSERT_EQ(std::memcmp(stream.data() + at, header, 4), 0) << "frame at " << at;
}

TEST(ConvertorOnCodec, APairNoDriverServesIsRefusedAtSwitchOn)
{
    TACMConvertor conv(nullptr);
    conv.FormatIn = SpeechPcmFormat();
    conv.FormatOut = MpegLayer3Format();
    conv.FormatOut.wfx.wFormatTag = 0x1234;
    try {
        conv.SetActive(true);
        FAIL() << "switch-on did not raise";
    } catch (const EACMConvertor& e) {
        EXPECT_EQ(e.Message, "acmStreamOpen: The requested operation cannot be performed.");
    }
    EXPECT_FALSE(conv.Active());
    EXPECT_EQ(conv.BufferIn(), nullptr);
}
