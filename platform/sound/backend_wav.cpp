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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace sound {
namespace {

using Clock = std::chrono::steady_clock;
constexpr long kDeviceBufferMs = 100;
constexpr auto kMaxWait = std::chrono::milliseconds(50);

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

class WavCapture final : public PcmCapture {
public:
    WavCapture(PcmFormat format, std::vector<uint8_t> data) : format_(format), data_(std::move(data)) {}

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
            const auto due = std::min(TimeOfFrame(t0_, delivered_ + frames, format_.rate), Clock::now() + kMaxWait);
            std::this_thread::sleep_until(due);
            avail = FramesDue(t0_, format_.rate) - delivered_;
        }
        const long n = static_cast<long>(std::clamp<long long>(avail, 0, frames));
        const long long fb = static_cast<long long>(format_.FrameBytes());
        const long long size = static_cast<long long>(data_.size());
        // Bytes before the file's start (position_ < 0) and past its end are silence.
        std::memset(out, 0, static_cast<size_t>(n * fb));
        const long long from = std::clamp<long long>(position_, 0, size);
        const long long to = std::clamp<long long>(position_ + n * fb, 0, size);
        if (to > from)
            std::memcpy(static_cast<char*>(out) + (from - position_), data_.data() + from, static_cast<size_t>(to - from));
        position_ += n * fb;
        delivered_ += n;
        return n;
    }

    void Stop() override {}

private:
    const PcmFormat format_;
    const std::vector<uint8_t> data_; // the file's PCM data
    long long position_ = 0;         // where in data_ the next frame comes from, across restarts
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
        PadToNow();
        const long long ahead = written_ - FramesDue(t0_, format_.rate);
        const long long capacity = kDeviceBufferMs * format_.rate / 1000;
        if (ahead >= capacity) {
            // Come back when half the buffer is free: every wake-up of a
            // device thread costs more than the sound it moves.
            const auto room = TimeOfFrame(t0_, written_ - capacity / 2, format_.rate);
            std::this_thread::sleep_until(std::min(room, Clock::now() + kMaxWait));
            return 0;
        }
        const long n = static_cast<long>(std::min<long long>(frames, capacity - ahead));
        Append(data, n);
        return n;
    }

    long Pending() override { return static_cast<long>(std::max<long long>(0, written_ - FramesDue(t0_, format_.rate))); }

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

    const PcmFormat format_;
    int fd_; // -1: discard
    const Clock::time_point t0_;
    const long long shift_;  // frames from the origin to the open (0 without an origin)
    long long written_ = 0; // frames of the timeline since the open
};

// The PCM data of a RIFF WAVE file in format, or an error code.
MMRESULT LoadWav(const char* path, const PcmFormat& format, std::vector<uint8_t>& data)
{
    // One read of the whole file: a byte at a time, a long file held up start-up.
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> b;
    if (f.is_open()) {
        b.resize(static_cast<size_t>(std::max<std::streamoff>(0, f.tellg())));
        f.seekg(0);
        f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
        b.resize(static_cast<size_t>(std::max<std::streamsize>(0, f.gcount())));
    }
    if (!f.is_open() && b.empty()) {
        std::fprintf(stderr, "wav: cannot read VOCORA_WAV_IN file %s\n", path);
        return MMSYSERR_NODRIVER;
    }
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return WAVERR_BADFORMAT;
    bool formatOk = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = Le32(&b[at + 4]);
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && at + 24 <= b.size()) {
            formatOk = Le16(&b[at + 8]) == WAVE_FORMAT_PCM && Le16(&b[at + 10]) == format.channels &&
                       Le32(&b[at + 12]) == format.rate && Le16(&b[at + 22]) == format.bits;
        } else if (std::memcmp(&b[at], "data", 4) == 0) {
            if (!formatOk) {
                std::fprintf(stderr, "wav: %s is not PCM of the format opened\n", path);
                return WAVERR_BADFORMAT;
            }
            const size_t n = std::min<size_t>(size, b.size() - at - 8);
            // The sound stays where it was read; only the header in front goes.
            b.erase(b.begin(), b.begin() + static_cast<long>(at + 8));
            b.resize(n);
            data = std::move(b);
            return MMSYSERR_NOERROR;
        }
        at += 8 + size + (size & 1);
    }
    return WAVERR_BADFORMAT;
}

MMRESULT OpenCapture(const PcmFormat& format, std::unique_ptr<PcmCapture>& capture)
{
    std::vector<uint8_t> data;
    const char* path = std::getenv("VOCORA_WAV_IN");
    if (path != nullptr && *path != 0) {
        if (MMRESULT r = LoadWav(path, format, data))
            return r;
    }
    capture = std::make_unique<WavCapture>(format, std::move(data));
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
