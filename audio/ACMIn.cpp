#include "ACMIn.h"

#include "mmerror.h"

#include <cstring>

TACMIn::TACMIn(TComponent* AOwner) : TComponent(AOwner), alive_(std::make_shared<bool>(true))
{
    active_ = false;
    bufferSize_ = 8192;
    deviceHandle_ = nullptr;
    notifyWindow_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
    numBuffers_ = 4;
}

TACMIn::~TACMIn()
{
    Destroying();
    Close();
    DeallocateHWnd(notifyWindow_);
    *alive_ = false;
}

void TACMIn::CheckError(const char* Label, MMRESULT Code)
{
    if (Code != MMSYSERR_NOERROR)
        throw EACMIn(MMErrorMessage(TMMErrorTable::Device, Label, static_cast<int32_t>(Code)));
}

void TACMIn::SetBufferSize(uint32_t Value)
{
    if (!active_)
        bufferSize_ = Value;
}

void TACMIn::SetNumBuffers(TACMBufferCount Value)
{
    if (!active_)
        numBuffers_ = Value;
}

void TACMIn::Open(TWaveFormatRecord Format)
{
    if (active_)
        return;
    deviceHandle_ = nullptr;
    waveFormat_ = Format;
    const bool pcm = waveFormat_.wfx.wFormatTag == WAVE_FORMAT_PCM;
    const UINT device = pcm ? WAVE_MAPPER : 0;
    const DWORD flags = pcm ? CALLBACK_WINDOW : CALLBACK_WINDOW | WAVE_MAPPED;
    const MMRESULT opened = waveInOpen(&deviceHandle_, device, &waveFormat_.wfx, notifyWindow_, 0, flags);
    if (opened != MMSYSERR_NOERROR) {
        deviceHandle_ = nullptr;
        CheckError("WaveIn-Open", opened);
    }
    ++session_;
    try {
        const TACMBufferCount count = numBuffers_;
        for (unsigned i = 0; i < count; ++i)
            NewBuffer();
        if (const MMRESULT r = waveInStart(deviceHandle_))
            CheckError("WaveIn-Start", r);
    } catch (...) {
        // Never left half-open: the device and the buffers made so far go back.
        Shutdown();
        throw;
    }
    active_ = true;
}

void TACMIn::NewBuffer()
{
    // Listed only once both blocks exist, so no listed header lacks its data.
    auto data = std::make_unique<char[]>(bufferSize_);
    auto header = std::make_unique<WAVEHDR>();
    header->lpData = data.get();
    header->dwBufferLength = bufferSize_;
    header->dwBytesRecorded = 0;
    header->dwFlags = 0;
    header->dwLoops = 0;
    buffers_.Add(header.get());
    data.release();
    WAVEHDR* h = header.release();
    if (const MMRESULT r = waveInPrepareHeader(deviceHandle_, h, sizeof(WAVEHDR)))
        CheckError("WaveIn-PrepareHeader", r);
    if (const MMRESULT r = waveInAddBuffer(deviceHandle_, h, sizeof(WAVEHDR)))
        CheckError("WaveIn-AddBuffer", r);
}

void TACMIn::WndProc(TMessage& Message)
{
    Message.Result = 0;
    // The device names itself in WParam, and handles are never reused: a
    // notification from a device closed since (before a Close and a new Open)
    // is dropped before its header, long freed or reused, is looked at.
    if (Message.Msg == MM_WIM_DATA && Message.WParam == reinterpret_cast<WPARAM>(deviceHandle_))
        BufferDone(reinterpret_cast<WAVEHDR*>(Message.LParam));
}

void TACMIn::BufferDone(WAVEHDR* Header)
{
    if (!active_) {
        if (!(ComponentState() & csDestroying))
            ReleaseBuffer(Header);
        return;
    }
    // Only a buffer of this Open that the device has finished with: a late
    // notification from before a Close names a freed (or reused) header.
    if (buffers_.IndexOf(Header) < 0 || !(Header->dwFlags & WHDR_DONE))
        return;
    Header->dwFlags &= ~WHDR_DONE;

    const DWORD n = Header->dwBytesRecorded;
    if (OnBufferFull) {
        std::unique_ptr<uint8_t[]> copy;
        if (n > 0) {
            copy.reset(new uint8_t[n]);
            std::memcpy(copy.get(), Header->lpData, n);
        }
        // The handler may reassign OnBufferFull, close, reopen or destroy us.
        const TBufferFullEvent handler = OnBufferFull;
        const std::shared_ptr<bool> alive = alive_;
        const uint64_t session = session_;
        try {
            handler(this, copy.get(), static_cast<int32_t>(n));
        } catch (...) {
            // The buffer still goes back to the device, so a failing handler
            // does not silently starve the recording.
            if (*alive && active_ && session_ == session) {
                try {
                    Requeue(Header);
                } catch (...) {
                }
            }
            throw;
        }
        if (!*alive || !active_ || session_ != session)
            return;
    }
    Requeue(Header);
}

void TACMIn::Requeue(WAVEHDR* Header)
{
    if (const MMRESULT r = waveInUnprepareHeader(deviceHandle_, Header, sizeof(WAVEHDR)))
        CheckError("WaveIn-UnprepareHeader", r);
    Header->dwBufferLength = bufferSize_;
    Header->dwBytesRecorded = 0;
    Header->dwUser = 0;
    Header->dwFlags = 0;
    Header->dwLoops = 0;
    std::memset(Header->lpData, 0, bufferSize_);
    if (const MMRESULT r = waveInPrepareHeader(deviceHandle_, Header, sizeof(WAVEHDR)))
        CheckError("WaveIn-PrepareHeader", r);
    if (const MMRESULT r = waveInAddBuffer(deviceHandle_, Header, sizeof(WAVEHDR)))
        CheckError("WaveInAddBuffer", r);
}

void TACMIn::ReleaseBuffer(WAVEHDR* Header)
{
    const int index = buffers_.IndexOf(Header);
    if (index < 0)
        return;
    waveInUnprepareHeader(deviceHandle_, Header, sizeof(WAVEHDR));
    delete[] Header->lpData;
    delete Header;
    buffers_.Delete(index);
}

void TACMIn::Close()
{
    if (!active_)
        return;
    // First, so that the notifications the reset causes find us closed.
    active_ = false;
    Shutdown();
}

void TACMIn::Shutdown()
{
    waveInReset(deviceHandle_);
    waveInClose(deviceHandle_);
    for (int i = buffers_.Count() - 1; i >= 0; --i)
        ReleaseBuffer(buffers_[i]);
    deviceHandle_ = nullptr;
}

void TACMIn::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(IntProp<TACMIn>("BufferSize", [](auto& c) { return c.BufferSize(); },
                                    [](auto& c, int64_t v) { c.SetBufferSize(uint32_t(v)); }));
    props.push_back(IntProp<TACMIn>("NumBuffers", [](auto& c) { return c.NumBuffers(); },
                                    [](auto& c, int64_t v) { c.SetNumBuffers(TACMBufferCount(v)); }));
    props.push_back(EventProp<TACMIn, TBufferFullEvent>("OnBufferFull", &TACMIn::OnBufferFull));
}
