#include "device.h"

namespace sound {

void Port::Push(WAVEHDR* h)
{
    {
        std::lock_guard lock(mutex);
        h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        h->lpNext = nullptr;
        if (input_)
            h->dwBytesRecorded = 0;
        queue_.push_back(h);
    }
    changed.notify_all();
}

void Port::FinishFrontLocked(DWORD bytesRecorded)
{
    WAVEHDR* h = queue_.front();
    queue_.pop_front();
    if (input_)
        h->dwBytesRecorded = bytesRecorded;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    if (window_ != 0)
        poster_(window_, input_ ? MM_WIM_DATA : MM_WOM_DONE, static_cast<WPARAM>(handle_),
                reinterpret_cast<LPARAM>(h));
}

void Port::FinishAll(DWORD firstRecorded)
{
    {
        std::lock_guard lock(mutex);
        bool first = true;
        while (!queue_.empty()) {
            FinishFrontLocked(first ? firstRecorded : 0);
            first = false;
        }
    }
    changed.notify_all();
}

void Port::Notify(UINT msg)
{
    std::lock_guard lock(mutex);
    if (window_ != 0)
        poster_(window_, msg, static_cast<WPARAM>(handle_), 0);
}

bool PcmFormatOf(const WAVEFORMATEX& f, PcmFormat& pcm)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM || (f.nChannels != 1 && f.nChannels != 2) ||
        (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nSamplesPerSec < 1000 || f.nSamplesPerSec > 192000 ||
        f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
        return false;
    pcm.rate = f.nSamplesPerSec;
    pcm.channels = f.nChannels;
    pcm.bits = f.wBitsPerSample;
    return true;
}

} // namespace sound
