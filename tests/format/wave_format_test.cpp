// The wave format record and its stored block, checked against known bytes.
#include "wave_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TBytes blockOf(const TWaveFormatRecord& f)
{
    TMemoryStream s;
    WriteFormatBlock(s, f);
    return s.Bytes;
}

TBytes prefix(std::initializer_list<uint8_t> head, size_t total)
{
    TBytes b(head);
    b.resize(total, 0);
    return b;
}

TWaveFormatRecord readBlock(TBytes block, TWaveFormatRecord into)
{
    TMemoryStream s(std::move(block));
    ReadFormatBlock(s, into);
    return into;
}

bool same(const TWaveFormatRecord& a, const TWaveFormatRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

TEST(WaveFormat, TheTwoFormatsStoreAsTheirKnownBlocks)
{
    EXPECT_EQ(blockOf(SpeechPcmFormat()),
              prefix({0x81, 0, 0, 0, 0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 0x02, 0x00, 0x10, 0x00,
                      0x81, 0x00},
                     133));
    EXPECT_EQ(blockOf(MpegLayer3Format()),
              prefix({0x81, 0, 0, 0, 0x55, 0x00, 0x01, 0x00, 0x40, 0x1F, 0, 0, 0xE8, 0x03, 0, 0, 0x01, 0x00, 0x00, 0x00,
                      0x0C, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x48, 0x00, 0x01, 0x00, 0x71, 0x05},
                     133));
    const TWaveFormatRecord d = DefaultConvertorFormat();
    EXPECT_EQ(blockOf(d), prefix({0x81, 0, 0, 0, 1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x22, 0x56, 0, 0, 1, 0, 8, 0, 0x81, 0}, 133));
}

TEST(WaveFormat, ARecordWrittenAndReadBackIsTheSameWhateverCbSizeHolds)
{
    for (uint16_t cbSize : {0, 12, 129, 0xFFFF}) {
        TWaveFormatRecord f = MpegLayer3Format();
        f.wfx.cbSize = cbSize;
        f.unused[98] = 0xAB; // the last byte travels too
        EXPECT_TRUE(same(readBlock(blockOf(f), DefaultConvertorFormat()), f)) << cbSize;
    }
}

TEST(WaveFormat, AShortCountReplacesOnlyThatManyLeadingBytes)
{
    TBytes block = blockOf(MpegLayer3Format());
    block[0] = 4; // count 4: tag and channels only
    const TWaveFormatRecord r = readBlock(block, SpeechPcmFormat());
    EXPECT_EQ(+r.wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(+r.wfx.nChannels, 1);
    EXPECT_EQ(+r.wfx.nAvgBytesPerSec, 16000u); // kept from before
    EXPECT_EQ(+r.wfx.cbSize, 129);
}

TEST(WaveFormat, AnOversizedBlockNeverWritesPastTheRecord)
{
    // Count 300 with 300 bytes behind it: the record takes its 129, the rest is
    // skipped, and nothing beyond the record is touched.
    TBytes block = blockOf(MpegLayer3Format());
    block[0] = 300 & 0xFF;
    block[1] = 300 >> 8;
    block.resize(4 + 300, 0xEE);
    struct {
        TWaveFormatRecord record;
        uint8_t guard[200];
    } target{SpeechPcmFormat(), {}};
    std::memset(target.guard, 0x5A, sizeof target.guard);
    TMemoryStream stream(block);
    ReadFormatBlock(stream, target.record);
    EXPECT_TRUE(same(target.record, MpegLayer3Format()));
    for (uint8_t g : target.guard)
        ASSERT_EQ(g, 0x5A);
}
