#include "wave_format.h"

#include <algorithm>
#include <cstring>

TWaveFormatRecord SpeechPcmFormat()
{
    TWaveFormatRecord f{};
    f.wfx = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 129};
    return f;
}

TWaveFormatRecord MpegLayer3Format()
{
    TWaveFormatRecord f{};
    f.wfx = {WAVE_FORMAT_MPEGLAYER3, 1, 8000, 1000, 1, 0, 12};
    f.wID = MPEGLAYER3_ID_MPEG;
    f.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    f.nBlockSize = 72;
    f.nFramesPerBlock = 1;
    f.nCodecDelay = 1393;
    return f;
}

TWaveFormatRecord DefaultConvertorFormat()
{
    TWaveFormatRecord f{};
    f.wfx = {WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 129};
    return f;
}

void WriteFormatBlock(TMemoryStream& Stream, const TWaveFormatRecord& Format)
{
    const uint8_t count[4] = {kFormatBlockCount & 0xFF, 0, 0, 0};
    Stream.Write(count, sizeof count);
    Stream.Write(&Format, sizeof Format);
}

void ReadFormatBlock(TMemoryStream& Stream, TWaveFormatRecord& Format)
{
    uint8_t countBytes[4] = {};
    Stream.Read(countBytes, sizeof countBytes);
    const uint32_t count = countBytes[0] | countBytes[1] << 8 | countBytes[2] << 16 | uint32_t(countBytes[3]) << 24;
    Stream.Read(&Format, std::min<uint32_t>(count, sizeof Format));
    Stream.Position = Stream.Bytes.size(); // the rest of an oversized block is skipped
}
