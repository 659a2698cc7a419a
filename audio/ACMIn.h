#pragma once
// TACMIn: records from the input device into a ring of queued buffers and
// hands a copy of every filled buffer to OnBufferFull.
//
// GUI thread only. The device hands filled buffers back by posting MM_WIM_DATA
// to NotifyWindow, so BufferDone and OnBufferFull run from the message loop,
// never inside Open or Close. The handler may close, reopen or destroy the
// component.
#include "classes.h"
#include "mmsystem.h"
#include "wave_format.h"

#include <memory>

class EACMIn : public Exception {
public:
    using Exception::Exception;
};

using TACMBufferCount = uint8_t; // 2 to 64 by declaration; not enforced
// Data is valid only during the call; the component frees it afterwards.
using TBufferFullEvent = TEvent<TObject*, void*, int32_t>;

class TACMIn : public TComponent {
public:
    explicit TACMIn(TComponent* AOwner);
    ~TACMIn() override;

    // Opens the input device for Format, queues NumBuffers buffers of
    // BufferSize bytes and starts recording. Does nothing while recording.
    // A failed Open raises EACMIn and leaves the component closed, with the
    // device released and no buffer kept.
    void Open(TWaveFormatRecord Format);
    // Stops recording and frees every buffer; the partly filled one is dropped
    // without an event. Never fails.
    void Close();

    uint32_t BufferSize() const { return bufferSize_; }
    void SetBufferSize(uint32_t Value); // ignored while recording
    TACMBufferCount NumBuffers() const { return numBuffers_; }
    void SetNumBuffers(TACMBufferCount Value); // ignored while recording
    TBufferFullEvent OnBufferFull;

    // Read-only views of the inner state.
    bool Active() const { return active_; }
    HWAVEIN DeviceHandle() const { return deviceHandle_; }
    int BufferCount() const { return buffers_.Count(); }
    const TWaveFormatRecord& WaveFormat() const { return waveFormat_; }

    void GetProps(std::vector<TPropInfo>& props) const override;

private:
    void NewBuffer();
    void WndProc(TMessage& Message);
    void BufferDone(WAVEHDR* Header);
    void Requeue(WAVEHDR* Header);
    void ReleaseBuffer(WAVEHDR* Header);
    // Reset and close the device, then free every buffer, the last made first.
    void Shutdown();
    static void CheckError(const char* Label, MMRESULT Code);

    bool active_ = false;
    TList<WAVEHDR> buffers_;
    uint32_t bufferSize_ = 8192;
    TWaveFormatRecord waveFormat_{};
    TACMBufferCount numBuffers_ = 4;
    HWAVEIN deviceHandle_ = nullptr;
    HWND notifyWindow_ = 0;
    // Counts Opens; lets BufferDone see that its handler closed or reopened us.
    uint64_t session_ = 0;
    // Cleared by the destructor; BufferDone keeps a reference across the handler.
    std::shared_ptr<bool> alive_;
};
