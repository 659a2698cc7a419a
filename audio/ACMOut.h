#pragma once
// TACMOut: plays chunks of sound of any size through the output device,
// copying each into a buffer of its own.
//
// GUI thread only. The device hands played buffers back by posting MM_WOM_DONE
// to NotifyWindow, so BufferDone and OnBufferPlayed run from the message loop,
// never inside Open, Play or Close. The handler may close, reopen or destroy
// the component.
#include "classes.h"
#include "mmsystem.h"
#include "wave_format.h"

#include <memory>

class EACMOut : public Exception {
public:
    using Exception::Exception;
};

// Header and its data are freed right after the handler returns.
using TBufferPlayedEvent = TEvent<TObject*, PWaveHdr>;

class TACMOut : public TComponent {
public:
    // Sound queued at the device and not yet played, in seconds of the open
    // format, beyond which Play drops new chunks.
    static constexpr uint32_t kMaxQueuedSeconds = 4;

    explicit TACMOut(TComponent* AOwner);
    ~TACMOut() override;

    // Opens the output device for Format: PCM on the wave mapper, any other
    // format on device 0 through the mapper. Does nothing while open.
    void Open(TWaveFormatRecord Format);
    // Copies Size bytes of Data; the caller may free them once Play returns.
    // The first NumBuffers chunks after an Open are held back, then written
    // together with the next one. Does nothing while closed or for Size <= 0.
    // While more than kMaxQueuedSeconds of sound wait at the device, the
    // chunk is dropped.
    void Play(const void* Data, int32_t Size);
    // Stops the sound at once and frees every buffer, held, queued or played.
    void Close();
    bool Active() const { return active_; }

    uint8_t NumBuffers = 4; // chunks held back after each Open
    TBufferPlayedEvent OnBufferPlayed;

    // Read-only views of the inner state.
    HWAVEOUT DeviceHandle() const { return deviceHandle_; }
    uint8_t HoldCount() const { return holdCount_; }
    int HeldCount() const { return heldBuffers_.Count(); }
    int BufferCount() const { return buffers_.Count(); }
    // Bytes written to the device and not yet handed back.
    uint64_t QueuedBytes() const { return queuedBytes_; }
    const TWaveFormatRecord& WaveFormat() const { return waveFormat_; }

    void GetProps(std::vector<TPropInfo>& props) const override;

private:
    WAVEHDR* NewHeader(const void* Data, DWORD Size);
    void QueueBuffer(WAVEHDR* Header);
    void WndProc(TMessage& Message);
    void BufferDone(WAVEHDR* Header);
    void ReleaseBuffer(WAVEHDR* Header);
    static void CheckError(const char* Label, MMRESULT Code);

    bool active_ = false;
    uint8_t holdCount_ = 0;
    TList<WAVEHDR> heldBuffers_;
    TList<WAVEHDR> buffers_;
    TWaveFormatRecord waveFormat_{};
    HWAVEOUT deviceHandle_ = nullptr;
    HWND notifyWindow_ = 0;
    uint64_t queuedBytes_ = 0;
    // Counts Opens; lets BufferDone see that its handler closed or reopened us.
    uint64_t session_ = 0;
    // Cleared by the destructor; BufferDone keeps a reference across the handler.
    std::shared_ptr<bool> alive_;
};
