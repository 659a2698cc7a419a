#pragma once
// The device-thread protocol shared by the PCM devices and the MPEG mapper.
#include "device.h"

#include <thread>

namespace sound {

// Shared thread protocol. The thread works on the front header without the
// lock (busy_ set); Reset waits until it is back under the lock, so no queued
// header is touched once Reset hands the queue back.
class StreamDevice : public Device {
public:
    StreamDevice(Port& port, PcmFormat format) : port_(port), format_(format) {}

protected:
    void Launch() { thread_ = std::thread([this] { Run(); }); }
    void Join()
    {
        {
            std::lock_guard lock(port_.mutex);
            quit_ = true;
        }
        port_.changed.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    // Waits under the lock until the thread is not inside a step, and keeps it out.
    void Halt(std::unique_lock<std::mutex>& lock)
    {
        halted_ = true;
        port_.changed.wait(lock, [this] { return !busy_; });
    }
    virtual bool Ready() const = 0;                            // lock held
    virtual void Step(WAVEHDR* h, std::unique_lock<std::mutex>& lock) = 0; // lock held on entry and exit

    Port& port_;
    const PcmFormat format_;
    bool quit_ = false;
    bool halted_ = false;
    bool busy_ = false;
    DWORD offset_ = 0; // bytes of the front header done

private:
    void Run()
    {
        std::unique_lock lock(port_.mutex);
        for (;;) {
            port_.changed.wait(lock, [this] { return quit_ || (!halted_ && Ready() && !port_.EmptyLocked()); });
            if (quit_)
                return;
            Step(port_.FrontLocked(), lock);
        }
    }
    std::thread thread_;
};

} // namespace sound
