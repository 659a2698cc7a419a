// The MPEG Layer-3 output mapper: written buffers go, in order and cut
// anywhere, into an mpg123 decoder in feed mode; the decoded sound goes to a
// PCM playback stream. A buffer is done once its decoded sound is handed over.
//
// Start cushion: before the first decoded sound, and again whenever the device
// has run dry, kCushionMs of silence is played first. The sender's blocks come
// once a second and hold whole frames, 13 or 14 (936 or 1008 ms of sound): the
// encoder keeps back the part of a frame not yet complete, up to 72 ms, and
// how much it keeps moves from block to block. The cushion covers that swing;
// the rest of it absorbs scheduling and network jitter. Every millisecond of
// cushion is a millisecond of delay. Measured in calls between two processes:
// 130 ms gives no gap and a mouth-to-ear delay of 1.28 to 1.34 s (the encoder's
// share at the first block sent sets where in that range a call lies).
//
// Stalls: a device that accepts nothing for longer than kStallMs while sound
// waits has stopped playing (seen with the pulse plugin on a null sink: a new
// stream is not played for about 1.9 s). The sound due in that time is dropped
// from what is already here, so the stall is heard as a gap once instead of as
// extra delay for the rest of the call.
#include "stream_device.h"

#include <mpg123.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace sound {
namespace {

constexpr long kCushionMs = 130;
constexpr long kStallMs = 250; // well over one wait of a Write that then takes nothing (ALSA: 50 ms)

long CushionMs()
{
    // VOCORA_MPEG_CUSHION_MS overrides the cushion, for measurements.
    if (const char* v = std::getenv("VOCORA_MPEG_CUSHION_MS"))
        return std::clamp(std::atol(v), 0L, 2000L);
    return kCushionMs;
}

class MpegMapper final : public StreamDevice {
public:
    MpegMapper(Port& port, PcmFormat format, std::unique_ptr<PcmPlayback> playback, mpg123_handle* decoder)
        : StreamDevice(port, format), playback_(std::move(playback)), decoder_(decoder),
          cushionFrames_(CushionMs() * format.rate / 1000)
    {
        Launch();
    }
    ~MpegMapper() override
    {
        playback_->Hold(true);
        Join();
        mpg123_delete(decoder_);
    }

    void Reset() override
    {
        playback_->Hold(true);
        {
            std::unique_lock lock(port_.mutex);
            Halt(lock);
            playback_->Hold(false); // the thread stays out until halted_ is cleared
            playback_->Drop();
            // A new stream after a reset: nothing of the old one is kept.
            mpg123_close(decoder_);
            mpg123_open_feed(decoder_);
            fed_ = false;
            pcmAt_ = pcmEnd_ = 0;
            silenceLeft_ = 0;
            skipLeft_ = 0;
            stalled_ = false;
        }
        port_.FinishAll(0);
        {
            std::lock_guard lock(port_.mutex);
            halted_ = false;
        }
    }

private:
    bool Ready() const override { return true; }

    // One step: feed the front buffer, or hand some decoded sound over, or decode
    // the next piece; the buffer is done when the decoder wants more.
    void Step(WAVEHDR* h, std::unique_lock<std::mutex>& lock) override
    {
        busy_ = true;
        lock.unlock();
        const bool done = Work(h);
        lock.lock();
        busy_ = false;
        port_.changed.notify_all();
        if (done && !halted_) {
            fed_ = false;
            port_.FinishFrontLocked(0);
            if (port_.EmptyLocked())
                skipLeft_ = 0; // drop only sound already here, never the next to come
        }
    }

    bool Work(WAVEHDR* h)
    {
        if (!fed_) {
            fed_ = true;
            if (h->dwBufferLength > 0 &&
                mpg123_feed(decoder_, reinterpret_cast<const unsigned char*>(h->lpData), h->dwBufferLength) != MPG123_OK)
                return true;
        }
        if (skipLeft_ > 0 && (silenceLeft_ > 0 || pcmAt_ < pcmEnd_)) {
            const long n = std::min(skipLeft_, silenceLeft_ > 0 ? silenceLeft_
                                                                : static_cast<long>((pcmEnd_ - pcmAt_) / format_.FrameBytes()));
            if (silenceLeft_ > 0)
                silenceLeft_ -= n;
            else
                pcmAt_ += static_cast<size_t>(n) * format_.FrameBytes();
            skipLeft_ -= n;
            return false;
        }
        if (silenceLeft_ > 0) {
            const long n = std::min<long>(silenceLeft_, sizeof silence_ / format_.FrameBytes());
            const long took = Hand(silence_, n);
            silenceLeft_ -= took < 0 ? silenceLeft_ : took;
            return false;
        }
        if (pcmAt_ < pcmEnd_) {
            const long frames = static_cast<long>((pcmEnd_ - pcmAt_) / format_.FrameBytes());
            const long took = Hand(pcm_ + pcmAt_, frames);
            pcmAt_ = took < 0 ? pcmEnd_ : pcmAt_ + static_cast<size_t>(took) * format_.FrameBytes();
            return false;
        }
        size_t got = 0;
        const int r = mpg123_read(decoder_, pcm_, sizeof pcm_, &got);
        if (got > 0) {
            pcmAt_ = 0;
            pcmEnd_ = got - got % format_.FrameBytes();
            if (playback_->Pending() == 0)
                silenceLeft_ = cushionFrames_; // first sound, or the device ran dry
            return false;
        }
        if (r == MPG123_NEW_FORMAT || r == MPG123_OK)
            return false;
        if (r != MPG123_NEED_MORE) {
            // Undecodable input: start afresh with the next buffer.
            mpg123_close(decoder_);
            mpg123_open_feed(decoder_);
        }
        return true;
    }

    // Writes to the device; a run of refusals longer than kStallMs, once it
    // ends, marks as many frames to be dropped as the run lasted.
    long Hand(const void* data, long frames)
    {
        const long took = playback_->Write(data, frames);
        const auto now = std::chrono::steady_clock::now();
        if (took == 0) {
            if (!stalled_)
                stallFrom_ = now;
            stalled_ = true;
        } else if (stalled_) {
            stalled_ = false;
            const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - stallFrom_).count();
            if (ms > kStallMs)
                skipLeft_ = static_cast<long>(ms * format_.rate / 1000);
        }
        return took;
    }

    std::unique_ptr<PcmPlayback> playback_;
    mpg123_handle* decoder_;
    const long cushionFrames_;
    bool fed_ = false;
    long silenceLeft_ = 0;
    long skipLeft_ = 0; // frames to drop after a stall; thread only, or Reset while halted
    bool stalled_ = false;
    std::chrono::steady_clock::time_point stallFrom_;
    unsigned char pcm_[16384]; // a whole block of this program's stream: 14 frames of 1152 bytes
    size_t pcmAt_ = 0, pcmEnd_ = 0;
    const char silence_[1024] = {};
};

} // namespace

std::unique_ptr<Device> MakeMpegMapper(Port& port, PcmFormat format, std::unique_ptr<PcmPlayback> playback)
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
    if (decoder == nullptr)
        return nullptr;
    mpg123_param(decoder, MPG123_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(decoder);
    if (mpg123_format(decoder, format.rate, format.channels == 1 ? MPG123_MONO : MPG123_STEREO,
                      MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_open_feed(decoder) != MPG123_OK) {
        mpg123_delete(decoder);
        return nullptr;
    }
    return std::make_unique<MpegMapper>(port, format, std::move(playback), decoder);
}

} // namespace sound
