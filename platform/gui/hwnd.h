#pragma once
// Hidden utility windows: a handle that receives posted messages on the thread
// that allocated it. This is how device threads hand finished buffers back to
// the component that owns them.
#include <cstdint>
#include <functional>

using HWND = uintptr_t; // 0 is no window; handles are never reused
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

using TWndMethod = std::function<void(TMessage&)>;

// Creates a hidden window owned by the calling thread (which must run a Qt event
// loop). Its messages go to Method, one at a time, from that thread's loop; an
// exception leaving Method goes to the application's standard error report.
HWND AllocateHWnd(TWndMethod Method);

// Destroys the window. Messages still waiting for it are dropped. Call it on the
// thread that allocated the window.
void DeallocateHWnd(HWND Wnd);

// Queues a message for Wnd and returns at once. Safe from any thread. Returns
// false (and drops the message) when Wnd does not exist (any more).
bool PostMessage(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
