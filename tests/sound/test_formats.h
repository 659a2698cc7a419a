#pragma once
// The program's two formats, built here so the sound tests stand on the
// platform layer alone.
#include "wave_format.h"

inline TWaveFormatRecord TestPcmFormat()
{
    TWaveFormatRecord f{};
    f.wfx = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 129};
    return f;
}

inline TWaveFormatRecord TestMpegFormat()
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
