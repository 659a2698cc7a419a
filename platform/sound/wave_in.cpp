// waveIn*: the recording side of the audio services.
#include "handles.h"

using sound::Side;

namespace {
uintptr_t Id(HWAVEIN h) { return reinterpret_cast<uintptr_t>(h); }
} // namespace

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback, DWORD_PTR,
                    DWORD fdwOpen)
{
    sound::ObserveOpen(Side::In, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (MMRESULT r = sound::Enter("waveInOpen"))
        return r;
    uintptr_t id = 0;
    const MMRESULT r = sound::Open(Side::In, phwi ? &id : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (r == MMSYSERR_NOERROR)
        *phwi = reinterpret_cast<HWAVEIN>(id);
    return r;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh)
{
    if (MMRESULT r = sound::Enter("waveInPrepareHeader"))
        return r;
    return sound::Prepare(Side::In, Id(hwi), pwh, cbwh);
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh)
{
    if (MMRESULT r = sound::Enter("waveInUnprepareHeader"))
        return r;
    return sound::Unprepare(Side::In, Id(hwi), pwh, cbwh);
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh)
{
    if (MMRESULT r = sound::Enter("waveInAddBuffer"))
        return r;
    return sound::Queue(Side::In, Id(hwi), pwh, cbwh);
}

MMRESULT waveInStart(HWAVEIN hwi)
{
    if (MMRESULT r = sound::Enter("waveInStart"))
        return r;
    return sound::Start(Id(hwi));
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    if (MMRESULT r = sound::Enter("waveInReset"))
        return r;
    return sound::Reset(Side::In, Id(hwi));
}

MMRESULT waveInClose(HWAVEIN hwi)
{
    if (MMRESULT r = sound::Enter("waveInClose"))
        return r;
    return sound::Close(Side::In, Id(hwi));
}
