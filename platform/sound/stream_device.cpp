// Devices over blocking PCM streams: one thread per open handle moves the
// queued buffers through the stream, as a driver would.
#include "stream_device.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace sound {
namespace {

// How many whole frames of h fit after offset.
long FramesLeft(const WAVEHDR* h, DWORD offset, uint32_t frameBytes)
{
    return static_cast<long>((h->dwBufferLength - offset) / frameBytes);
}

// Recording is read at most this much at a time: a whole buffer of this
// program. A stream that delivers as the sound comes (ALSA) returns sooner
// with what it has; one that waits for the whole chunk (wav) wakes its thread
// once a buffer, and a reset cuts its wait short through Hold.
constexpr long kChunkMs = 1000;
// After a device failure, silence is made this much at a time.
constexpr long kSilenceChunkMs = 100;

class CaptureDevice final : public StreamDevice {
public:
    CaptureDevice(Port& port, PcmFormat format, std::unique_ptr<PcmCapture> capture)
        : StreamDevice(port, format), capture_(std::move(capture))
    {
        Launch();
    }
    ~CaptureDevice() override
    {
        capture_->Hold(true);
        Join();
    }

    MMRESULT Start() override
    {
        std::unique_lock lock(port_.mutex);
        if (started_)
            return MMSYSERR_NOERROR;
        if (!failed_) {
            if (MMRESULT r = capture_->Start())
                return r;
        }
        started_ = true;
        halted_ = false;
        clockStart_ = std::chrono::steady_clock::now();
        clockFrames_ = 0;
        lock.unlock();
        port_.changed.notify_all();
        return MMSYSERR_NOERROR;
    }

    void Reset() override
    {
        DWORD partial;
        capture_->Hold(true);
        {
            std::unique_lock lock(port_.mutex);
            Halt(lock);
            capture_->Hold(false); // the thread stays out until Start
            if (started_ && !failed_)
                capture_->Stop();
            started_ = false;
            partial = offset_;
            offset_ = 0;
        }
        port_.FinishAll(partial);
    }

private:
    bool Ready() const override { return started_; }

    void Step(WAVEHDR* h, std::unique_lock<std::mutex>& lock) override
    {
        const uint32_t fb = format_.FrameBytes();
        const long want = std::min(FramesLeft(h, offset_, fb), static_cast<long>(format_.rate * kChunkMs / 1000));
        if (want <= 0) {
            port_.FinishFrontLocked(offset_);
            offset_ = 0;
            return;
        }
        char* at = h->lpData + offset_;
        busy_ = true;
        lock.unlock();
        long got = failed_ ? Silence(at, want) : capture_->Read(at, want);
        if (got < 0) {
            std::fprintf(stderr, "sound: capture device failed; recording silence from now on\n");
            failed_ = true;
            clockStart_ = std::chrono::steady_clock::now();
            clockFrames_ = 0;
            got = 0;
        }
        lock.lock();
        busy_ = false;
        port_.changed.notify_all();
        offset_ += static_cast<DWORD>(got) * fb;
        if (halted_)
            return; // Reset hands the buffer back with offset_ as its count
        if (FramesLeft(h, offset_, fb) == 0) {
            port_.FinishFrontLocked(offset_);
            offset_ = 0;
        }
    }

    // After a device failure recording goes on as silence in real time, so the
    // owner's buffers keep coming back at the usual pace.
    long Silence(char* at, long want)
    {
        want = std::min(want, static_cast<long>(format_.rate * kSilenceChunkMs / 1000));
        const auto due = clockStart_ + std::chrono::microseconds((clockFrames_ + want) * 1000000LL / format_.rate);
        std::this_thread::sleep_until(due);
        std::fill(at, at + want * format_.FrameBytes(), format_.bits == 8 ? char(0x80) : char(0));
        clockFrames_ += want;
        return want;
    }

    std::unique_ptr<PcmCapture> capture_;
    bool started_ = false;
    bool failed_ = false; // touched by the thread, and by Start/Reset only while it is halted or idle
    std::chrono::steady_clock::time_point clockStart_;
    long long clockFrames_ = 0;
};

class PlaybackDevice final : public StreamDevice {
public:
    PlaybackDevice(Port& port, PcmFormat format, std::unique_ptr<PcmPlayback> playback)
        : StreamDevice(port, format), playback_(std::move(playback))
    {
        Launch();
    }
    ~PlaybackDevice() override
    {
        playback_->Hold(true);
        Join();
    }

    void Reset() override
    {
        playback_->Hold(true);
        {
            std::unique_lock lock(port_.mutex);
            Halt(lock);
            playback_->Hold(false); // the thread stays out until halted_ is cleared
            playback_->Drop();
            offset_ = 0;
        }
        port_.FinishAll(0);
        {
            std::lock_guard lock(port_.mutex);
            halted_ = false;
        }
    }

private:
    bool Ready() const override { return true; }

    void Step(WAVEHDR* h, std::unique_lock<std::mutex>& lock) override
    {
        const uint32_t fb = format_.FrameBytes();
        const long want = FramesLeft(h, offset_, fb);
        if (want <= 0) {
            port_.FinishFrontLocked(0);
            offset_ = 0;
            return;
        }
        const char* at = h->lpData + offset_;
        busy_ = true;
        lock.unlock();
        long took = playback_->Write(at, want);
        if (took < 0) {
            // A lost device still hands buffers back, so the owner is not left waiting.
            took = want;
        }
        lock.lock();
        busy_ = false;
        port_.changed.notify_all();
        if (halted_)
            return;
        offset_ += static_cast<DWORD>(took) * fb;
        if (FramesLeft(h, offset_, fb) == 0) {
            port_.FinishFrontLocked(0);
            offset_ = 0;
        }
    }

    std::unique_ptr<PcmPlayback> playback_;
};

} // namespace

std::unique_ptr<Device> MakeCaptureDevice(Port& port, PcmFormat format, std::unique_ptr<PcmCapture> capture)
{
    return std::make_unique<CaptureDevice>(port, format, std::move(capture));
}

std::unique_ptr<Device> MakePlaybackDevice(Port& port, PcmFormat format, std::unique_ptr<PcmPlayback> playback)
{
    return std::make_unique<PlaybackDevice>(port, format, std::move(playback));
}

MMRESULT OpenStreamInput(Port& port, const WAVEFORMATEX& format, CaptureOpener open, std::unique_ptr<Device>& device)
{
    PcmFormat pcm;
    if (!PcmFormatOf(format, pcm))
        return WAVERR_BADFORMAT;
    std::unique_ptr<PcmCapture> capture;
    if (MMRESULT r = open(pcm, capture))
        return r;
    device = MakeCaptureDevice(port, pcm, std::move(capture));
    return MMSYSERR_NOERROR;
}

MMRESULT OpenStreamOutput(Port& port, const WAVEFORMATEX& format, DWORD flags, PlaybackOpener open,
                          std::unique_ptr<Device>& device)
{
    PcmFormat pcm;
    const bool mapped = format.wFormatTag == WAVE_FORMAT_MPEGLAYER3 && (flags & WAVE_MAPPED) != 0;
    if (mapped) {
        if (format.nChannels < 1 || format.nChannels > 2 || format.nSamplesPerSec < 8000 ||
            format.nSamplesPerSec > 48000)
            return WAVERR_BADFORMAT;
        pcm.rate = format.nSamplesPerSec;
        pcm.channels = format.nChannels;
        pcm.bits = 16;
    } else if (!PcmFormatOf(format, pcm)) {
        return WAVERR_BADFORMAT;
    }
    std::unique_ptr<PcmPlayback> playback;
    if (MMRESULT r = open(pcm, playback))
        return r;
    device = mapped ? MakeMpegMapper(port, pcm, std::move(playback))
                    : MakePlaybackDevice(port, pcm, std::move(playback));
    return device ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

} // namespace sound
