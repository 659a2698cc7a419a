#pragma once
// The generic part of waveIn*/waveOut*: the table of open handles, the header
// rules and the choice of backend. Called on the GUI thread.
#include "device.h"

namespace sound {

enum class Side { In, Out };

MMRESULT Open(Side side, uintptr_t* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
              DWORD flags);
MMRESULT Prepare(Side side, uintptr_t handle, WAVEHDR* h, UINT size);
MMRESULT Unprepare(Side side, uintptr_t handle, WAVEHDR* h, UINT size);
MMRESULT Queue(Side side, uintptr_t handle, WAVEHDR* h, UINT size);
MMRESULT Start(uintptr_t handle);
MMRESULT Reset(Side side, uintptr_t handle);
MMRESULT Close(Side side, uintptr_t handle);

// Tests only: while set, opens go to this backend instead of the one VOCORA_AUDIO names.
void SetOverride(const Backend* backend);
// Tests only: tracer is called with the name of every waveIn*/waveOut* call and
// observer with the arguments of every open, before anything else.
using OpenObserver = void (*)(bool input, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD flags);
void SetTracer(void (*tracer)(const char* function), OpenObserver observer);
void ObserveOpen(Side side, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD flags);
// Records the call for the tracer, then asks the failure-injection seam.
MMRESULT Enter(const char* function);

// The backend VOCORA_AUDIO names ("alsa" when unset), or null for an unknown name.
const Backend* ChosenBackend();

} // namespace sound
