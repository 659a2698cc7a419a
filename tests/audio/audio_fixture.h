#pragma once
// Runs each test on the scripted sound device with no failure armed, and gives
// helpers to fill and compare chunks of sound.
#include "mmfault.h"
#include "scripted.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

class ScriptedAudio : public testing::Test {
protected:
    void SetUp() override
    {
        mmfault::Clear();
        scripted::Install();
    }
    void TearDown() override
    {
        mmfault::Clear();
        scripted::Uninstall();
    }
};

// Size bytes that differ from chunk to chunk: Seed, Seed+1, ...
inline std::vector<uint8_t> Chunk(size_t Size, uint8_t Seed)
{
    std::vector<uint8_t> bytes(Size);
    for (size_t i = 0; i < Size; ++i)
        bytes[i] = uint8_t(Seed + i);
    return bytes;
}

inline std::vector<uint8_t> BytesOf(const WAVEHDR* Header)
{
    return {reinterpret_cast<const uint8_t*>(Header->lpData),
            reinterpret_cast<const uint8_t*>(Header->lpData) + Header->dwBufferLength};
}

inline TWaveFormatRecord WithTag(uint16_t Tag)
{
    TWaveFormatRecord f = Tag == WAVE_FORMAT_PCM ? SpeechPcmFormat() : MpegLayer3Format();
    f.wfx.wFormatTag = Tag;
    return f;
}
