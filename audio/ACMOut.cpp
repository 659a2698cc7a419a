#include "ACMOut.h"

#include "mmerror.h"

#include <algorithm>
#include <cstring>

TACMOut::TACMOut(TComponent* AOwner) : TComponent(AOwner), alive_(std::make_shared<bool>(true))
{
    active_ = false;
    notifyWindow_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
    deviceHandle_ = nullptr;
    NumBuffers = 4;
}

TACMOut::~TACMOut()
{
    Destroying();
    Close();
    DeallocateHWnd(notifyWindow_);
    *alive_ = false;
}

void TACMOut::CheckError(const char* Label, MMRESULT Code)
{
    if (Code != MMSYSERR_NOERROR)
        throw EACMOut(MMErrorMessage(TMMErrorTable::Device, Label, static_cast<int32_t>(Code)));
}

void TACMOut::Open(TWaveFormatRecord Format)
{
    if (active_)
        return;
    deviceHandle_ = nullptr;
    holdCount_ = NumBuffers;
    waveFormat_ = Format;
    const bool pcm = waveFormat_.wfx.wFormatTag == WAVE_FORMAT_PCM;
    const UINT device = pcm ? WAVE_MAPPER : 0;
    const DWORD flags = pcm ? CALLBACK_WINDOW : CALLBACK_WINDOW | WAVE_MAPPED;
    const MMRESULT opened = waveOutOpen(&deviceHandle_, device, &waveFormat_.wfx, notifyWindow_, 0, flags);
    if (opened != MMSYSERR_NOERROR) {
        deviceHandle_ = nullptr;
        CheckError("WaveOutOpen", opened);
    }
    ++session_;
    queuedBytes_ = 0;
    active_ = true;
}

void TACMOut::Play(const void* Data, int32_t Size)
{
    if (Size <= 0 || !active_)
        return;
    // A sender faster than the device would otherwise grow the delay and the
    // memory without end.
    const uint64_t bound = uint64_t(waveFormat_.wfx.nAvgBytesPerSec) * kMaxQueuedSeconds;
    if (bound > 0 && queuedBytes_ > bound)
        return;

    WAVEHDR* header = NewHeader(Data, static_cast<DWORD>(Size));
    // The new chunk joins the held ones, so a failed write leaves the rest,
    // in order, for the next Play.
    heldBuffers_.Add(header);
    if (holdCount_ > 0) {
        --holdCount_;
        return;
    }
    while (heldBuffers_.Count() > 0) {
        // Unlisted before it is handed over, so it is never written twice.
        WAVEHDR* next = heldBuffers_[0];
        heldBuffers_.Delete(0);
        QueueBuffer(next);
    }
}

WAVEHDR* TACMOut::NewHeader(const void* Data, DWORD Size)
{
    // Listed only once both blocks exist, so no listed header lacks its data.
    auto data = std::make_unique<char[]>(Size);
    std::memcpy(data.get(), Data, Size);
    auto header = std::make_unique<WAVEHDR>();
    header->lpData = data.get();
    header->dwBufferLength = Size;
    header->dwBytesRecorded = 0;
    header->dwUser = 0;
    header->dwFlags = 0;
    header->dwLoops = 1;
    buffers_.Add(header.get());
    data.release();
    return header.release();
}

void TACMOut::QueueBuffer(WAVEHDR* Header)
{
    if (const MMRESULT r = waveOutPrepareHeader(deviceHandle_, Header, sizeof(WAVEHDR)))
        CheckError("WaveOut-PrepareHeader", r);
    if (const MMRESULT r = waveOutWrite(deviceHandle_, Header, sizeof(WAVEHDR)))
        CheckError("WaveOut-Write", r);
    queuedBytes_ += Header->dwBufferLength;
}

void TACMOut::WndProc(TMessage& Message)
{
    Message.Result = 0;
    // The device names itself in WParam, and handles are never reused: a
    // notification from a device closed since (before a Close and a new Open)
    // is dropped before its header, long freed or reused, is looked at.
    if (Message.Msg == MM_WOM_DONE && Message.WParam == reinterpret_cast<WPARAM>(deviceHandle_))
        BufferDone(reinterpret_cast<WAVEHDR*>(Message.LParam));
}

void TACMOut::BufferDone(WAVEHDR* Header)
{
    if (!active_)
        return;
    // Only a written buffer of this Open that the device has finished with: a
    // late notification from before a Close names a freed (or reused) header.
    if (buffers_.IndexOf(Header) < 0 || !(Header->dwFlags & WHDR_DONE))
        return;
    Header->dwFlags &= ~WHDR_DONE;
    queuedBytes_ -= std::min<uint64_t>(queuedBytes_, Header->dwBufferLength);

    if (OnBufferPlayed) {
        // The handler may reassign OnBufferPlayed, close, reopen or destroy us.
        const TBufferPlayedEvent handler = OnBufferPlayed;
        const std::shared_ptr<bool> alive = alive_;
        const uint64_t session = session_;
        handler(this, Header);
        if (!*alive || !active_ || session_ != session)
            return;
    }
    if (const MMRESULT r = waveOutUnprepareHeader(deviceHandle_, Header, sizeof(WAVEHDR)))
        CheckError("WaveOut-UnprepareHeader", r);
    ReleaseBuffer(Header);
}

void TACMOut::ReleaseBuffer(WAVEHDR* Header)
{
    const int index = buffers_.IndexOf(Header);
    if (index < 0)
        return;
    waveOutUnprepareHeader(deviceHandle_, Header, sizeof(WAVEHDR));
    delete[] Header->lpData;
    delete Header;
    buffers_.Delete(index);
}

void TACMOut::Close()
{
    if (!active_)
        return;
    // First, so that the done notifications the reset causes find us closed.
    active_ = false;
    waveOutReset(deviceHandle_);
    waveOutClose(deviceHandle_);
    heldBuffers_.Clear();
    for (int i = buffers_.Count() - 1; i >= 0; --i)
        ReleaseBuffer(buffers_[i]);
    deviceHandle_ = nullptr;
    queuedBytes_ = 0;
}

void TACMOut::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(IntProp<TACMOut>("NumBuffers", [](auto& c) { return c.NumBuffers; },
                                     [](auto& c, int64_t v) { c.NumBuffers = uint8_t(v); }));
    props.push_back(EventProp<TACMOut, TBufferPlayedEvent>("OnBufferPlayed", &TACMOut::OnBufferPlayed));
}
