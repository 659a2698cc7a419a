#pragma once
// The wave format record: one sound format in a fixed 129-byte, byte-packed
// value (the 18-byte WAVEFORMATEX header, then room for a format's extra
// bytes), and the 133-byte block in which a stored form keeps one.
#include "classes.h"

#include <cstdint>

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize; // extra bytes after the header, as handed to the system
};

struct TWaveFormatRecord {
    WAVEFORMATEX wfx;
    // The MPEG Layer-3 extension, meaningful when wFormatTag is
    // WAVE_FORMAT_MPEGLAYER3 and cbSize is 12; zero for other formats.
    uint16_t wID;
    uint32_t fdwFlags;
    uint16_t nBlockSize;
    uint16_t nFramesPerBlock;
    uint16_t nCodecDelay;
    uint8_t unused[99];
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(TWaveFormatRecord) == 129);
static_assert(offsetof(TWaveFormatRecord, wID) == 18 && offsetof(TWaveFormatRecord, fdwFlags) == 20 &&
              offsetof(TWaveFormatRecord, nBlockSize) == 24 && offsetof(TWaveFormatRecord, nFramesPerBlock) == 26 &&
              offsetof(TWaveFormatRecord, nCodecDelay) == 28);

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr uint16_t MPEGLAYER3_ID_MPEG = 1;
constexpr uint32_t MPEGLAYER3_FLAG_PADDING_OFF = 2;

// 8000 Hz, 16 bits, mono.
TWaveFormatRecord SpeechPcmFormat();
// MPEG Layer-3 at 8 kbit/s, 8000 Hz, mono, 72-byte frames.
TWaveFormatRecord MpegLayer3Format();
// What a convertor holds before a stored form sets its formats.
TWaveFormatRecord DefaultConvertorFormat();

constexpr uint32_t kFormatBlockCount = sizeof(TWaveFormatRecord);

// Writes the count 129 (4 bytes, little-endian), then the 129 bytes.
void WriteFormatBlock(TMemoryStream& Stream, const TWaveFormatRecord& Format);
// Reads the count, then that many bytes into the record from its first byte.
// A count below 129 leaves the later bytes as they were; bytes past the
// record's 129 are skipped, never written.
void ReadFormatBlock(TMemoryStream& Stream, TWaveFormatRecord& Format);
