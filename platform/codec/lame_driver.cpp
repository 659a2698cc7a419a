// Speech PCM (16-bit) to MPEG Layer-3 with LAME, constant bit rate, no tag
// frame and no ID3: a raw stream of frames.
#include "driver.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>

namespace codec {
namespace {

lame_global_flags* NewEncoder(const WAVEFORMATEX& src, const WAVEFORMATEX& dst);

class LameStream final : public StreamDriver {
public:
    LameStream(lame_global_flags* gf, const WAVEFORMATEX& src, const WAVEFORMATEX& dst)
        : gf_(gf), src_(src), dst_(dst), channels_(src.nChannels)
    {
    }
    ~LameStream() override
    {
        if (gf_)
            lame_close(gf_);
    }

    DWORD DestinationBound(DWORD srcBytes) const override
    {
        const uint64_t samples = srcBytes / (2u * channels_);
        return static_cast<DWORD>(std::min<uint64_t>((samples * 5 + 3) / 4 + kSlack, 0xFFFFFFFFu));
    }

    DWORD SourceFor(DWORD dstBytes) const override
    {
        if (dstBytes <= kSlack)
            return 0;
        return static_cast<DWORD>((uint64_t(dstBytes) - kSlack) * 4 / 5 * 2 * channels_);
    }

    MMRESULT Convert(const uint8_t* src, DWORD srcLength, uint8_t* dst, DWORD dstLength, DWORD flags,
                     DWORD& srcUsed, DWORD& dstUsed) override
    {
        const DWORD frameBytes = 2 * channels_;
        // Only as much source as is sure to fit, so nothing is ever lost in LAME.
        const DWORD take = std::min(srcLength, SourceFor(dstLength)) / frameBytes * frameBytes;
        srcUsed = 0;
        dstUsed = 0;
        if (gf_ == nullptr) {
            // The stream was ended by ACM_STREAMCONVERTF_END: a new one begins.
            gf_ = NewEncoder(src_, dst_);
            if (gf_ == nullptr)
                return MMSYSERR_NOMEM;
        }
        if (take == 0 && srcLength >= frameBytes)
            return MMSYSERR_INVALPARAM;
        while (srcUsed < take) {
            // Through an aligned staging block: the source may sit at any address.
            const DWORD chunk = std::min<DWORD>(take - srcUsed, sizeof stage_);
            std::memcpy(stage_, src + srcUsed, chunk);
            const int samples = static_cast<int>(chunk / frameBytes);
            const int n = channels_ == 1
                              ? lame_encode_buffer(gf_, stage_, stage_, samples, dst + dstUsed,
                                                   static_cast<int>(dstLength - dstUsed))
                              : lame_encode_buffer_interleaved(gf_, stage_, samples, dst + dstUsed,
                                                               static_cast<int>(dstLength - dstUsed));
            if (n < 0)
                return MMSYSERR_ERROR;
            dstUsed += static_cast<DWORD>(n);
            srcUsed += chunk;
        }
        if ((flags & ACM_STREAMCONVERTF_END) && dstUsed < dstLength) {
            // The last samples go out padded to whole frames; the encoder is spent.
            const int n = lame_encode_flush(gf_, dst + dstUsed, static_cast<int>(dstLength - dstUsed));
            lame_close(gf_);
            gf_ = nullptr;
            if (n < 0)
                return MMSYSERR_ERROR;
            dstUsed += static_cast<DWORD>(n);
        }
        return MMSYSERR_NOERROR;
    }

private:
    static constexpr DWORD kSlack = 7200; // LAME's worst case: 1.25 bytes a sample plus 7200
    lame_global_flags* gf_; // null after the stream was ended
    const WAVEFORMATEX src_, dst_;
    const unsigned channels_;
    short stage_[4096];
};

// An encoder for the pair, or null when LAME does not make exactly that format.
lame_global_flags* NewEncoder(const WAVEFORMATEX& src, const WAVEFORMATEX& dst)
{
    lame_global_flags* gf = lame_init();
    if (gf == nullptr)
        return nullptr;
    lame_set_in_samplerate(gf, static_cast<int>(src.nSamplesPerSec));
    lame_set_out_samplerate(gf, static_cast<int>(dst.nSamplesPerSec));
    lame_set_num_channels(gf, src.nChannels);
    lame_set_mode(gf, src.nChannels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, static_cast<int>(dst.nAvgBytesPerSec * 8 / 1000));
    lame_set_bWriteVbrTag(gf, 0);
    // No bit reservoir: every frame leaves with the second it belongs to, so a
    // block carries whole frames (13 or 14) and the receiver waits for no bytes
    // held back for later frames. It saves about a quarter second of delay.
    lame_set_disable_reservoir(gf, 1);
    lame_set_write_id3tag_automatic(gf, 0);
    lame_set_errorf(gf, [](const char*, va_list) {});
    lame_set_debugf(gf, [](const char*, va_list) {});
    lame_set_msgf(gf, [](const char*, va_list) {});
    // LAME may pick another rate or bit rate than asked: then the pair is not served.
    if (lame_init_params(gf) < 0 || lame_get_out_samplerate(gf) != static_cast<int>(dst.nSamplesPerSec) ||
        lame_get_brate(gf) != static_cast<int>(dst.nAvgBytesPerSec * 8 / 1000)) {
        lame_close(gf);
        return nullptr;
    }
    return gf;
}

MMRESULT Open(const WAVEFORMATEX& src, const WAVEFORMATEX& dst, bool query, std::unique_ptr<StreamDriver>& stream)
{
    const bool pcm16 = src.wFormatTag == WAVE_FORMAT_PCM && src.wBitsPerSample == 16 &&
                       (src.nChannels == 1 || src.nChannels == 2) && src.nBlockAlign == 2 * src.nChannels;
    const bool mp3 = dst.wFormatTag == WAVE_FORMAT_MPEGLAYER3 && dst.nChannels == src.nChannels &&
                     dst.nSamplesPerSec == src.nSamplesPerSec && dst.nAvgBytesPerSec > 0 &&
                     dst.nAvgBytesPerSec * 8 % 1000 == 0;
    if (!pcm16 || !mp3)
        return ACMERR_NOTPOSSIBLE;
    lame_global_flags* gf = NewEncoder(src, dst);
    if (gf == nullptr)
        return ACMERR_NOTPOSSIBLE;
    if (query) {
        lame_close(gf);
        return MMSYSERR_NOERROR;
    }
    stream = std::make_unique<LameStream>(gf, src, dst);
    return MMSYSERR_NOERROR;
}

} // namespace

const Driver& LameDriver()
{
    static const Driver driver{"lame", &Open};
    return driver;
}

} // namespace codec
