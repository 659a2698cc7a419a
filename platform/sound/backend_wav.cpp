// The wav backend: files instead of sound hardware, paced in real time.
//
// VOCORA_WAV_IN=file.wav is the microphone. Its PCM format must be the one
// opened (8000 Hz mono 16-bit for this program). Recording runs on the clock
// from waveInStart: frame n is delivered n/rate seconds after the start, so a
// buffer comes back when its duration has elapsed. After the file's end
// silence follows. Unset: silence throughout.
//
// VOCORA_WAV_OUT=file.wav receives what is played. The file's timeline is wall
// time from waveOutOpen: frame n is what was playing n/rate seconds after the
// open; silence where nothing was playing (before the first buffer, and in
// every gap); sound still waiting in the device at a reset is cut, as a
// device would cut it; at close the file is completed with silence up to the
// close. The device takes at most kDeviceBufferMs of sound ahead of the clock.
// The header's sizes are updated at every write, so the file is readable at
// any moment. Unset: sound is discarded at the same pace.
//
// VOCORA_WAV_ORIGIN=<CLOCK_MONOTONIC nanoseconds> puts both files on one
// clock shared by every process of the machine: the microphone file's frame n
// is spoken at origin + n/rate (silence before; a recording that starts late
// joins it in the middle), and the speaker file's frame n is what played at
// origin + n/rate (what played before the origin is not kept). Tests use it
// to measure the delay from one side's microphone to the other's speaker.
#include "device.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace sound {
namespace {

using Clock = std::chrono::steady_clock;
// The device's buffer holds more than a second, so that a whole block of the
// output mapper goes in at once and its thread wakes once a block. It adds no
// delay: sound plays at its place on the timeline.
constexpr long kDeviceBufferMs = 1500;
// The longest sleep in one Read or Write; Hold cuts it short.
constexpr auto kMaxWait = std::chrono::seconds(1);

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Frames of the clock started at t0 that are due now.
long long FramesDue(Clock::time_point t0, uint32_t rate)
{
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
    return us * rate / 1000000;
}

Clock::time_point TimeOfFrame(Clock::time_point t0, long long frame, uint32_t rate)
{
    return t0 + std::chrono::microseconds((frame * 1000000 + rate - 1) / rate);
}

// Frames from VOCORA_WAV_ORIGIN to now (negative before it); 0 when unset.
long long FramesSinceOrigin(uint32_t rate)
{
    const char* origin = std::getenv("VOCORA_WAV_ORIGIN");
    if (origin == nullptr || *origin == 0)
        return 0;
    const Clock::time_point t{std::chrono::nanoseconds(std::strtoll(origin, nullptr, 10))};
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count();
    return us * rate / 1000000;
}

// The sleeps of a stream's Read or Write, which Hold cuts short.
class Sleeper {
public:
    // Until t, or at once while held.
    void SleepUntil(Clock::time_point t)
    {
        std::unique_lock lock(mutex_);
        woken_.wait_until(lock, std::min(t, Clock::now() + kMaxWait), [this] { return held_; });
    }
    void Hold(bool held)
    {
        {
            std::lock_guard lock(mutex_);
            held_ = held;
        }
        woken_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool held_ = false;
};

class WavCapture final : public PcmCapture {
public:
    // fd: the open file, or -1 for silence throughout; its sound is size bytes from start.
    WavCapture(PcmFormat format, int fd, off_t start, long long size)
        : format_(format), fd_(fd), start_(start), size_(size)
    {
    }
    ~WavCapture() override
    {
        if (fd_ >= 0)
            close(fd_);
    }

    MMRESULT Start() override
    {
        t0_ = Clock::now();
        delivered_ = 0;
        if (std::getenv("VOCORA_WAV_ORIGIN"))
            position_ = FramesSinceOrigin(format_.rate) * static_cast<long long>(format_.FrameBytes());
        return MMSYSERR_NOERROR;
    }

    long Read(void* out, long frames) override
    {
        long long avail = FramesDue(t0_, format_.rate) - delivered_;
        if (avail < frames) {
            sleeper_.SleepUntil(TimeOfFrame(t0_, delivered_ + frames, format_.rate));
            avail = FramesDue(t0_, format_.rate) - delivered_;
        }
        const long n = static_cast<long>(std::clamp<long long>(avail, 0, frames));
        const long long fb = static_cast<long long>(format_.FrameBytes());
        // Bytes before the file's start (position_ < 0) and past its end are silence.
        std::memset(out, 0, static_cast<size_t>(n * fb));
        const long long from = std::clamp<long long>(position_, 0, size_);
        const long long to = std::clamp<long long>(position_ + n * fb, 0, size_);
        if (to > from && pread(fd_, static_cast<char*>(out) + (from - position_), static_cast<size_t>(to - from),
                               start_ + static_cast<off_t>(from)) < 0)
            std::fprintf(stderr, "wav: cannot read VOCORA_WAV_IN\n");
        position_ += n * fb;
        delivered_ += n;
        return n;
    }

    void Stop() override {}
    void Hold(bool held) override { sleeper_.Hold(held); }

private:
    Sleeper sleeper_;
    const PcmFormat format_;
    const int fd_;
    const off_t start_;     // where the sound begins in the file
    const long long size_;  // bytes of sound
    long long position_ = 0; // where in the sound the next frame comes from, across restarts
    Clock::time_point t0_;
    long long delivered_ = 0;
};

class WavPlayback final : public PcmPlayback {
public:
    WavPlayback(PcmFormat format, int fd)
        : format_(format), fd_(fd), t0_(Clock::now()), shift_(FramesSinceOrigin(format.rate))
    {
        if (fd_ >= 0)
            WriteHeader();
    }

    ~WavPlayback() override
    {
        PadToNow();
        if (fd_ >= 0)
            close(fd_);
    }

    long Write(const void* data, long frames) override
    {
        const long long capacity = kDeviceBufferMs * format_.rate / 1000;
        if (written_ - FramesDue(t0_, format_.rate) >= capacity) {
            // Full: wait until half the buffer is free, then take what fits.
            // Every wake-up of a device thread costs more than the sound it moves.
            sleeper_.SleepUntil(TimeOfFrame(t0_, written_ - capacity / 2, format_.rate));
        }
        PadToNow();
        const long long ahead = written_ - FramesDue(t0_, format_.rate);
        if (ahead >= capacity)
            return 0;
        const long n = static_cast<long>(std::min<long long>(frames, capacity - ahead));
        Append(data, n);
        return n;
    }

    long Pending() override { return static_cast<long>(std::max<long long>(0, written_ - FramesDue(t0_, format_.rate))); }

    void Hold(bool held) override { sleeper_.Hold(held); }

    void Drop() override
    {
        const long long now = FramesDue(t0_, format_.rate);
        if (written_ > now) {
            written_ = now;
            if (fd_ >= 0 && ftruncate(fd_, static_cast<off_t>(44 + FileFrames() * format_.FrameBytes())) == 0)
                WriteHeader();
        }
    }

private:
    // Silence for the time nothing was playing.
    void PadToNow()
    {
        static const char zeros[4096] = {};
        long long gap = FramesDue(t0_, format_.rate) - written_;
        while (gap > 0) {
            const long n = static_cast<long>(std::min<long long>(gap, sizeof zeros / format_.FrameBytes()));
            Append(zeros, n);
            gap -= n;
        }
    }

    // Frames in the file: the timeline since the open, moved to the origin.
    long long FileFrames() const { return std::max<long long>(0, written_ + shift_); }

    void Append(const void* data, long frames)
    {
        // Frames that fall before the origin are not kept.
        const long long skip = std::clamp<long long>(-(written_ + shift_), 0, frames);
        const size_t fb = format_.FrameBytes();
        const size_t bytes = static_cast<size_t>(frames - skip) * fb;
        if (fd_ >= 0 && bytes > 0 &&
            pwrite(fd_, static_cast<const char*>(data) + skip * fb, bytes,
                   static_cast<off_t>(44 + (written_ + skip + shift_) * static_cast<long long>(fb))) !=
                static_cast<ssize_t>(bytes)) {
            std::fprintf(stderr, "wav: write error on VOCORA_WAV_OUT; discarding sound from now on\n");
            close(fd_);
            fd_ = -1;
        }
        written_ += frames;
        if (fd_ >= 0)
            WriteHeader();
    }

    void WriteHeader()
    {
        const uint32_t dataBytes = static_cast<uint32_t>(FileFrames() * format_.FrameBytes());
        uint8_t h[44];
        auto put32 = [&](int at, uint32_t v) { for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i)); };
        auto put16 = [&](int at, uint16_t v) { h[at] = uint8_t(v); h[at + 1] = uint8_t(v >> 8); };
        std::memcpy(h, "RIFF", 4);
        put32(4, 36 + dataBytes);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        put32(16, 16);
        put16(20, WAVE_FORMAT_PCM);
        put16(22, format_.channels);
        put32(24, format_.rate);
        put32(28, format_.rate * format_.FrameBytes());
        put16(32, static_cast<uint16_t>(format_.FrameBytes()));
        put16(34, format_.bits);
        std::memcpy(h + 36, "data", 4);
        put32(40, dataBytes);
        if (pwrite(fd_, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h))
            std::fprintf(stderr, "wav: cannot write the header of VOCORA_WAV_OUT\n");
    }

    Sleeper sleeper_;
    const PcmFormat format_;
    int fd_; // -1: discard
    const Clock::time_point t0_;
    const long long shift_;  // frames from the origin to the open (0 without an origin)
    long long written_ = 0; // frames of the timeline since the open
};

// Finds the sound of a RIFF WAVE file in format: where it starts and how many
// bytes it has. The sound itself is read as it is recorded, a chunk at a time.
MMRESULT FindWavData(int fd, const char* path, const PcmFormat& format, off_t& start, long long& size)
{
    uint8_t riff[12];
    if (pread(fd, riff, sizeof riff, 0) != sizeof riff || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return WAVERR_BADFORMAT;
    bool formatOk = false;
    for (off_t at = 12;;) {
        uint8_t chunk[8 + 16];
        const ssize_t got = pread(fd, chunk, sizeof chunk, at);
        if (got < 8)
            return WAVERR_BADFORMAT;
        const uint32_t chunkSize = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && got >= 24) {
            formatOk = Le16(chunk + 8) == WAVE_FORMAT_PCM && Le16(chunk + 10) == format.channels &&
                       Le32(chunk + 12) == format.rate && Le16(chunk + 22) == format.bits;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatOk) {
                std::fprintf(stderr, "wav: %s is not PCM of the format opened\n", path);
                return WAVERR_BADFORMAT;
            }
            const off_t fileSize = lseek(fd, 0, SEEK_END);
            start = at + 8;
            size = std::min<long long>(chunkSize, std::max<long long>(0, fileSize - start));
            return MMSYSERR_NOERROR;
        }
        at += 8 + static_cast<off_t>(chunkSize) + (chunkSize & 1);
    }
}

MMRESULT OpenCapture(const PcmFormat& format, std::unique_ptr<PcmCapture>& capture)
{
    int fd = -1;
    off_t start = 0;
    long long size = 0;
    const char* path = std::getenv("VOCORA_WAV_IN");
    if (path != nullptr && *path != 0) {
        fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "wav: cannot read VOCORA_WAV_IN file %s\n", path);
            return MMSYSERR_NODRIVER;
        }
        if (MMRESULT r = FindWavData(fd, path, format, start, size)) {
            close(fd);
            return r;
        }
    }
    capture = std::make_unique<WavCapture>(format, fd, start, size);
    return MMSYSERR_NOERROR;
}

MMRESULT OpenPlayback(const PcmFormat& format, std::unique_ptr<PcmPlayback>& playback)
{
    int fd = -1;
    const char* path = std::getenv("VOCORA_WAV_OUT");
    if (path != nullptr && *path != 0) {
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::fprintf(stderr, "wav: cannot create VOCORA_WAV_OUT file %s\n", path);
            return MMSYSERR_NODRIVER;
        }
    }
    playback = std::make_unique<WavPlayback>(format, fd);
    return MMSYSERR_NOERROR;
}

} // namespace

const Backend& WavBackend()
{
    using Openers = StreamOpeners<&OpenCapture, &OpenPlayback>;
    static const Backend backend{"wav", "WAV files paced in real time (VOCORA_WAV_IN, VOCORA_WAV_OUT)", &Openers::In,
                                 &Openers::Out};
    return backend;
}

} // namespace sound
