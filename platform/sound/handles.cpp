#include "handles.h"

#include "mmfault.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace sound {
namespace {

struct OpenDevice {
    Side side;
    std::unique_ptr<Port> port;
    std::unique_ptr<Device> device;
};

// Handles are never reused, so a stale handle finds nothing.
std::mutex tableLock;
std::map<uintptr_t, std::shared_ptr<OpenDevice>> table;
uintptr_t lastHandle = 0;
const Backend* overrideBackend = nullptr;
void (*tracer)(const char*) = nullptr;
OpenObserver observer = nullptr;

std::shared_ptr<OpenDevice> Find(Side side, uintptr_t handle)
{
    std::lock_guard lock(tableLock);
    auto it = table.find(handle);
    if (it == table.end() || it->second->side != side)
        return nullptr;
    return it->second;
}

constexpr DWORD kCallbackTypeMask = 0x00070000;
constexpr DWORD kKnownOpenFlags = kCallbackTypeMask | WAVE_MAPPED;

} // namespace

void SetOverride(const Backend* backend)
{
    std::lock_guard lock(tableLock);
    overrideBackend = backend;
}

void SetTracer(void (*t)(const char*), OpenObserver o)
{
    std::lock_guard lock(tableLock);
    tracer = t;
    observer = o;
}

void ObserveOpen(Side side, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD flags)
{
    OpenObserver o = nullptr;
    {
        std::lock_guard lock(tableLock);
        o = observer;
    }
    if (o)
        o(side == Side::In, deviceId, format, callback, flags);
}

MMRESULT Enter(const char* function)
{
    void (*t)(const char*) = nullptr;
    {
        std::lock_guard lock(tableLock);
        t = tracer;
    }
    if (t)
        t(function);
    return mmfault::Check(function);
}

const Backend* ChosenBackend()
{
    const char* name = std::getenv("VOCORA_AUDIO");
    if (name == nullptr || *name == 0 || std::strcmp(name, "alsa") == 0)
        return &AlsaBackend();
    if (std::strcmp(name, "wav") == 0)
        return &WavBackend();
    std::fprintf(stderr, "sound: unknown VOCORA_AUDIO backend \"%s\" (alsa or wav)\n", name);
    return nullptr;
}

MMRESULT Open(Side side, uintptr_t* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
              DWORD flags)
{
    if (handle == nullptr || format == nullptr)
        return MMSYSERR_INVALPARAM;
    if ((flags & ~kKnownOpenFlags) != 0)
        return MMSYSERR_INVALFLAG;
    const DWORD callbackType = flags & kCallbackTypeMask;
    if (callbackType != 0 && callbackType != CALLBACK_WINDOW)
        return MMSYSERR_INVALFLAG;
    if (deviceId != WAVE_MAPPER && deviceId != 0)
        return MMSYSERR_BADDEVICEID;
    // A compressed format needs the mapper; output decodes MPEG Layer-3 only.
    if (format->wFormatTag != WAVE_FORMAT_PCM) {
        if ((flags & WAVE_MAPPED) == 0)
            return WAVERR_BADFORMAT;
        if (side == Side::Out && format->wFormatTag != WAVE_FORMAT_MPEGLAYER3)
            return WAVERR_BADFORMAT;
    }

    const Backend* backend = nullptr;
    {
        std::lock_guard lock(tableLock);
        backend = overrideBackend;
    }
    if (backend == nullptr)
        backend = ChosenBackend();
    if (backend == nullptr)
        return MMSYSERR_NODRIVER;

    uintptr_t id;
    {
        std::lock_guard lock(tableLock);
        id = ++lastHandle;
    }
    auto open = std::make_shared<OpenDevice>();
    open->side = side;
    const HWND window = callbackType == CALLBACK_WINDOW ? static_cast<HWND>(callback) : 0;
    open->port = std::make_unique<Port>(side == Side::In, id, window);
    const MMRESULT r = side == Side::In ? backend->openInput(*open->port, *format, flags, open->device)
                                        : backend->openOutput(*open->port, *format, flags, open->device);
    if (r != MMSYSERR_NOERROR)
        return r;
    {
        std::lock_guard lock(tableLock);
        table.emplace(id, open);
    }
    *handle = id;
    open->port->Notify(side == Side::In ? MM_WIM_OPEN : MM_WOM_OPEN);
    return MMSYSERR_NOERROR;
}

namespace {
// Marks a header prepared or not; a queued header is the device's and is refused.
MMRESULT SetPrepared(Side side, uintptr_t handle, WAVEHDR* h, UINT size, bool prepared)
{
    auto open = Find(side, handle);
    if (!open)
        return MMSYSERR_INVALHANDLE;
    if (h == nullptr || size < sizeof(WAVEHDR) || (prepared && h->lpData == nullptr))
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(open->port->mutex);
    if (h->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (prepared)
        h->dwFlags |= WHDR_PREPARED;
    else
        h->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
} // namespace

MMRESULT Prepare(Side side, uintptr_t handle, WAVEHDR* h, UINT size)
{
    return SetPrepared(side, handle, h, size, true);
}

MMRESULT Unprepare(Side side, uintptr_t handle, WAVEHDR* h, UINT size)
{
    return SetPrepared(side, handle, h, size, false);
}

MMRESULT Queue(Side side, uintptr_t handle, WAVEHDR* h, UINT size)
{
    auto open = Find(side, handle);
    if (!open)
        return MMSYSERR_INVALHANDLE;
    if (h == nullptr || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    {
        std::lock_guard lock(open->port->mutex);
        if ((h->dwFlags & WHDR_PREPARED) == 0)
            return WAVERR_UNPREPARED;
        if (h->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
    }
    open->port->Push(h);
    return MMSYSERR_NOERROR;
}

MMRESULT Start(uintptr_t handle)
{
    auto open = Find(Side::In, handle);
    if (!open)
        return MMSYSERR_INVALHANDLE;
    return open->device->Start();
}

MMRESULT Reset(Side side, uintptr_t handle)
{
    auto open = Find(side, handle);
    if (!open)
        return MMSYSERR_INVALHANDLE;
    open->device->Reset();
    return MMSYSERR_NOERROR;
}

MMRESULT Close(Side side, uintptr_t handle)
{
    auto open = Find(side, handle);
    if (!open)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard lock(open->port->mutex);
        if (!open->port->EmptyLocked())
            return WAVERR_STILLPLAYING;
    }
    {
        std::lock_guard lock(tableLock);
        table.erase(handle);
    }
    open->device.reset();
    open->port->Notify(side == Side::In ? MM_WIM_CLOSE : MM_WOM_CLOSE);
    return MMSYSERR_NOERROR;
}

} // namespace sound
