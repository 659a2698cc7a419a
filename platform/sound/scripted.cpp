// The scripted backend: devices that move nothing until the test says so.
#include "scripted.h"

#include "handles.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace scripted {
namespace {

struct Held {
    HWND window;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};

// Guards everything below; taken inside a Port's mutex (by Post), never around one.
std::mutex lock;
std::vector<std::string> calls;
OpenCall lastInput, lastOutput;
std::vector<sound::Port*> inputs, outputs; // open devices, oldest first
bool holding = false;
std::vector<Held> held;

void Trace(const char* function)
{
    std::lock_guard guard(lock);
    calls.emplace_back(function);
}

bool Post(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
{
    {
        std::lock_guard guard(lock);
        if (holding) {
            held.push_back({window, msg, wparam, lparam});
            return true;
        }
    }
    return PostMessage(window, msg, wparam, lparam);
}

class ScriptedDevice : public sound::Device {
public:
    explicit ScriptedDevice(sound::Port& port) : port_(port)
    {
        std::lock_guard guard(lock);
        (port.Input() ? inputs : outputs).push_back(&port);
    }
    ~ScriptedDevice() override
    {
        std::lock_guard guard(lock);
        auto& list = port_.Input() ? inputs : outputs;
        list.erase(std::remove(list.begin(), list.end(), &port_), list.end());
    }
    void Reset() override { port_.FinishAll(0); }

private:
    sound::Port& port_;
};

// Every open is recorded as asked, also one that fails afterwards.
void ObserveOpen(bool input, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD flags)
{
    OpenCall call;
    call.deviceId = deviceId;
    call.flags = flags;
    call.window = (flags & CALLBACK_WINDOW) ? static_cast<HWND>(callback) : 0;
    if (format != nullptr) {
        // The bytes the system is given: the header plus cbSize extra bytes.
        const size_t extra = std::min<size_t>(format->cbSize, sizeof(TWaveFormatRecord) - sizeof(WAVEFORMATEX));
        std::memcpy(&call.format, format, sizeof(WAVEFORMATEX) + extra);
    }
    std::lock_guard guard(lock);
    (input ? lastInput : lastOutput) = call;
}

} // namespace

void Install()
{
    {
        std::lock_guard guard(lock);
        calls.clear();
        lastInput = OpenCall{};
        lastOutput = OpenCall{};
        holding = false;
        held.clear();
    }
    sound::SetTracer(&Trace, &ObserveOpen);
    sound::SetOverride(&sound::ScriptedBackend());
}

void Uninstall()
{
    sound::SetOverride(nullptr);
    sound::SetTracer(nullptr, nullptr);
    ReleaseNotifications();
}

bool InputOpen()
{
    std::lock_guard guard(lock);
    return !inputs.empty();
}

bool OutputOpen()
{
    std::lock_guard guard(lock);
    return !outputs.empty();
}

OpenCall LastInputOpen()
{
    std::lock_guard guard(lock);
    return lastInput;
}

OpenCall LastOutputOpen()
{
    std::lock_guard guard(lock);
    return lastOutput;
}

namespace {
sound::Port* Newest(const std::vector<sound::Port*>& list)
{
    std::lock_guard guard(lock);
    return list.empty() ? nullptr : list.back();
}

std::vector<WAVEHDR*> QueueOf(sound::Port* port)
{
    if (port == nullptr)
        return {};
    std::lock_guard guard(port->mutex);
    return port->SnapshotLocked();
}
} // namespace

std::vector<WAVEHDR*> InputQueue() { return QueueOf(Newest(inputs)); }
std::vector<WAVEHDR*> OutputQueue() { return QueueOf(Newest(outputs)); }

bool Record(const void* Bytes, DWORD Count)
{
    sound::Port* port = Newest(inputs);
    if (port == nullptr)
        return false;
    std::lock_guard guard(port->mutex);
    WAVEHDR* h = port->FrontLocked();
    if (h == nullptr)
        return false;
    const DWORD n = std::min(Count, h->dwBufferLength);
    if (n > 0)
        std::memcpy(h->lpData, Bytes, n);
    port->FinishFrontLocked(n);
    return true;
}

bool Play()
{
    sound::Port* port = Newest(outputs);
    if (port == nullptr)
        return false;
    std::lock_guard guard(port->mutex);
    if (port->FrontLocked() == nullptr)
        return false;
    port->FinishFrontLocked(0);
    return true;
}

void HoldNotifications()
{
    std::lock_guard guard(lock);
    holding = true;
}

void ReleaseNotifications()
{
    std::vector<Held> kept;
    {
        std::lock_guard guard(lock);
        holding = false;
        kept.swap(held);
    }
    for (const Held& h : kept)
        PostMessage(h.window, h.msg, h.wparam, h.lparam);
}

std::vector<std::string> Calls()
{
    std::lock_guard guard(lock);
    return calls;
}

} // namespace scripted

namespace sound {
namespace {

MMRESULT OpenScripted(Port& port, const WAVEFORMATEX& format, DWORD flags, std::unique_ptr<Device>& device)
{
    std::ignore = format;
    std::ignore = flags;
    port.SetPoster(&scripted::Post);
    device = std::make_unique<scripted::ScriptedDevice>(port);
    return MMSYSERR_NOERROR;
}

} // namespace

const Backend& ScriptedBackend()
{
    static const Backend backend{"scripted", "in-process device driven by tests", &OpenScripted, &OpenScripted};
    return backend;
}

} // namespace sound
