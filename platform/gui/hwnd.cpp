#include "hwnd.h"

#include "forms.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <mutex>
#include <unordered_map>

namespace {

const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

struct MessageEvent : QEvent {
    explicit MessageEvent(const TMessage& m) : QEvent(kPostedMessage), message(m) {}
    TMessage message;
};

class HiddenWindow : public QObject {
public:
    explicit HiddenWindow(TWndMethod method) : method_(std::move(method)) {}

    bool event(QEvent* e) override
    {
        if (e->type() != kPostedMessage)
            return QObject::event(e);
        if (dead)
            return true;
        TMessage m = static_cast<MessageEvent*>(e)->message;
        ++dispatching;
        Application->Dispatch([&] { method_(m); });
        if (--dispatching == 0 && dead)
            delete this; // deallocated by its own handler, which is now done
        return true;
    }

    bool dead = false;
    int dispatching = 0; // > 0 while a message of this window is being handled

private:
    TWndMethod method_;
};

// Every live window by handle. Posting looks the handle up under the lock, so a
// window cannot be deleted between the look-up and the post; deleting a QObject
// discards the events still posted to it.
std::mutex registryLock;
std::unordered_map<HWND, HiddenWindow*> registry;
HWND lastHandle = 0;

} // namespace

HWND AllocateHWnd(TWndMethod Method)
{
    auto* window = new HiddenWindow(std::move(Method));
    std::lock_guard lock(registryLock);
    const HWND handle = ++lastHandle;
    registry.emplace(handle, window);
    return handle;
}

void DeallocateHWnd(HWND Wnd)
{
    HiddenWindow* window = nullptr;
    {
        std::lock_guard lock(registryLock);
        auto it = registry.find(Wnd);
        if (it == registry.end())
            return;
        window = it->second;
        registry.erase(it);
    }
    // A window destroyed from inside its own message handler (even from a
    // nested loop within it) must outlive that handler: the outermost handler
    // deletes it on the way out. Meanwhile it ignores what is queued for it.
    window->dead = true;
    if (window->dispatching == 0)
        delete window;
}

bool PostMessage(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
{
    std::lock_guard lock(registryLock);
    auto it = registry.find(Wnd);
    if (it == registry.end())
        return false;
    QCoreApplication::postEvent(it->second, new MessageEvent(TMessage{Msg, WParam, LParam, 0}));
    return true;
}
