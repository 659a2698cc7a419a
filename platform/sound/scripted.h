#pragma once
// The scripted sound device, for in-process tests of the components' own
// rules. While installed it replaces the real devices for waveIn* and waveOut*:
// nothing plays or records by itself; the test hands buffers back when it
// chooses. Header rules (prepare before queueing, done/prepared/in-queue flags,
// refusals with 33 and 34) are the same as with the real devices.
//
// Call everything on the thread that runs the components (the GUI thread).
#include "mmsystem.h"

#include <string>
#include <vector>

namespace scripted {

// Routes waveIn*/waveOut* to the scripted device until Uninstall.
void Install();
void Uninstall();

// How the last open of each side was asked for.
struct OpenCall {
    UINT deviceId = 0;
    DWORD flags = 0;
    TWaveFormatRecord format{};
    HWND window = 0;
};
bool InputOpen();
bool OutputOpen();
OpenCall LastInputOpen();
OpenCall LastOutputOpen();

// Input: the headers queued and not yet handed back, oldest first.
std::vector<WAVEHDR*> InputQueue();
// Fills the oldest queued input buffer with Count bytes of Bytes (at most its
// length), marks it done and posts MM_WIM_DATA. False when nothing is queued.
bool Record(const void* Bytes, DWORD Count);

// Output: the headers written and not yet handed back, oldest first.
std::vector<WAVEHDR*> OutputQueue();
// Marks the oldest written buffer done and posts MM_WOM_DONE. False when none.
bool Play();

// While held, the device's notifications are kept back instead of posted;
// ReleaseNotifications posts every one kept, in order (late notifications).
void HoldNotifications();
void ReleaseNotifications();

// The device calls made since Install, e.g. "waveInOpen", "waveOutWrite".
std::vector<std::string> Calls();

} // namespace scripted
