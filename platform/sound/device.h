#pragma once
// The device interface behind waveIn*/waveOut*.
//
// Each open handle has a Port (its queue of headers, shared by the API and the
// device) and a Device (what fills or plays the queued buffers). A Backend
// opens Devices; it is chosen by name at open time (VOCORA_AUDIO, default
// "alsa"). Backends that move real PCM implement PcmCapture / PcmPlayback and
// let OpenStreamInput / OpenStreamOutput wrap them in a device thread (and, for
// MPEG Layer-3 through WAVE_MAPPED, in the decoding mapper).
//
//   GUI thread                 Port (lock)               device thread
//   waveOutWrite  ---Push--->  [h1 h2 h3]  <---Front---  Write PCM of h1
//                                          <---Finish--  h1 done, MM_WOM_DONE posted
//   waveOutReset  ---Device::Reset: device stops, then Port::FinishAll---
#include "mmsystem.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace sound {

// The queue of one open handle. The API pushes on the GUI thread; the device
// finishes headers from any thread, oldest first. All members are guarded by mutex.
class Port {
public:
    using Poster = bool (*)(HWND, UINT, WPARAM, LPARAM);

    Port(bool input, uintptr_t handle, HWND window) : input_(input), handle_(handle), window_(window) {}

    bool Input() const { return input_; }
    uintptr_t Handle() const { return handle_; }

    // Sets WHDR_INQUEUE, clears WHDR_DONE, appends h and wakes waiters.
    void Push(WAVEHDR* h);
    // Oldest queued header or null. Call with mutex held.
    WAVEHDR* FrontLocked() const { return queue_.empty() ? nullptr : queue_.front(); }
    bool EmptyLocked() const { return queue_.empty(); }
    std::vector<WAVEHDR*> SnapshotLocked() const { return {queue_.begin(), queue_.end()}; }
    // Hands the oldest queued header back: flags, dwBytesRecorded (input), one
    // MM_WIM_DATA / MM_WOM_DONE. Call with mutex held.
    void FinishFrontLocked(DWORD bytesRecorded);
    // Hands every queued header back in order; the oldest gets firstRecorded.
    void FinishAll(DWORD firstRecorded);
    // Posts an open/close notification the way buffer notifications go.
    void Notify(UINT msg);
    // Where notifications go (PostMessage unless a backend holds them back).
    void SetPoster(Poster p) { poster_ = p; }

    std::mutex mutex;
    std::condition_variable changed; // signalled on Push and by devices

private:
    const bool input_;
    const uintptr_t handle_;
    const HWND window_; // 0: no notifications
    Poster poster_ = &PostMessage;
    std::deque<WAVEHDR*> queue_;
};

// One open device. Created by a Backend for a Port, destroyed by waveXClose
// (after the queue is empty) or when an open fails part-way. Called on the GUI
// thread only.
class Device {
public:
    virtual ~Device() = default; // stops every thread; touches no header afterwards
    // Input: begin filling queued buffers.
    virtual MMRESULT Start() { return MMSYSERR_NOERROR; }
    // Stops at once (sound still buffered is dropped), then hands every queued
    // header back through Port::FinishAll, the partly filled one with its count.
    // Input stays stopped until Start; output takes new writes.
    virtual void Reset() = 0;
};

// A device provider: opens Devices for a Port. The format has passed the
// generic checks (device id, callback flags, tag rules); the backend refuses
// what it cannot do with WAVERR_BADFORMAT.
struct Backend {
    const char* name;
    const char* description;
    MMRESULT (*openInput)(Port& port, const WAVEFORMATEX& format, DWORD flags, std::unique_ptr<Device>& device);
    MMRESULT (*openOutput)(Port& port, const WAVEFORMATEX& format, DWORD flags, std::unique_ptr<Device>& device);
};

// Interleaved linear PCM, little-endian, signed 16-bit or unsigned 8-bit.
struct PcmFormat {
    uint32_t rate = 8000;
    uint16_t channels = 1;
    uint16_t bits = 16;
    uint32_t FrameBytes() const { return channels * (bits / 8u); }
};
// The PCM that format describes, or false when it is not playable PCM.
bool PcmFormatOf(const WAVEFORMATEX& format, PcmFormat& pcm);

// A recording stream, used by one device thread.
class PcmCapture {
public:
    virtual ~PcmCapture() = default;
    virtual MMRESULT Start() = 0;
    // Waits a bounded time for the frames (at most a second, cut short by
    // Hold); returns frames read into data (0 when none yet), or a negative
    // value when the device has failed for good.
    virtual long Read(void* data, long frames) = 0;
    // Stops recording and discards what was recorded and not read.
    virtual void Stop() = 0;
    // While held, a Read under way and every later one return without
    // waiting, so that a reset or close need not wait for a long read. A
    // stream whose waits are short anyway may ignore it.
    virtual void Hold(bool held) { (void)held; }
};

// A playing stream, used by one device thread.
class PcmPlayback {
public:
    virtual ~PcmPlayback() = default;
    // Waits a bounded time for room (at most a second, cut short by Hold);
    // returns frames taken (0 when the device is full), or a negative value
    // when the device has failed for good.
    virtual long Write(const void* data, long frames) = 0;
    // Frames taken and not yet played; 0 once the device has run dry.
    virtual long Pending() = 0;
    // Discards every frame not yet played.
    virtual void Drop() = 0;
    // As PcmCapture::Hold, for Write.
    virtual void Hold(bool held) { (void)held; }
};

// Wrap PCM streams in device threads. OpenStreamOutput also serves MPEG
// Layer-3 through WAVE_MAPPED by putting the decoding mapper in front of a PCM
// playback stream of the same rate and channels (16-bit).
using CaptureOpener = MMRESULT (*)(const PcmFormat&, std::unique_ptr<PcmCapture>&);
using PlaybackOpener = MMRESULT (*)(const PcmFormat&, std::unique_ptr<PcmPlayback>&);
MMRESULT OpenStreamInput(Port& port, const WAVEFORMATEX& format, CaptureOpener open, std::unique_ptr<Device>& device);
MMRESULT OpenStreamOutput(Port& port, const WAVEFORMATEX& format, DWORD flags, PlaybackOpener open,
                          std::unique_ptr<Device>& device);

// The open functions of a backend that only provides PCM streams, for its
// Backend descriptor: StreamOpeners<&OpenCapture, &OpenPlayback>::In / ::Out.
template <CaptureOpener Capture, PlaybackOpener Playback>
struct StreamOpeners {
    static MMRESULT In(Port& port, const WAVEFORMATEX& format, DWORD, std::unique_ptr<Device>& device)
    {
        return OpenStreamInput(port, format, Capture, device);
    }
    static MMRESULT Out(Port& port, const WAVEFORMATEX& format, DWORD flags, std::unique_ptr<Device>& device)
    {
        return OpenStreamOutput(port, format, flags, Playback, device);
    }
};

// Devices over PCM streams (stream_device.cpp) and the MPEG Layer-3 decoding
// mapper (mpeg_mapper.cpp).
std::unique_ptr<Device> MakeCaptureDevice(Port& port, PcmFormat format, std::unique_ptr<PcmCapture> capture);
std::unique_ptr<Device> MakePlaybackDevice(Port& port, PcmFormat format, std::unique_ptr<PcmPlayback> playback);
std::unique_ptr<Device> MakeMpegMapper(Port& port, PcmFormat format, std::unique_ptr<PcmPlayback> playback);

// The registered backends.
const Backend& AlsaBackend();
const Backend& WavBackend();
const Backend& ScriptedBackend();

} // namespace sound
