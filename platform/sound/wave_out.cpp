// waveOut*: the playing side of the audio services.
#include "handles.h"

using sound::Side;

namespace {
uintptr_t Id(HWAVEOUT h) { return reinterpret_cast<uintptr_t>(h); }
} // namespace

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback, DWORD_PTR,
                     DWORD fdwOpen)
{
    sound::ObserveOpen(Side::Out, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (MMRESULT r = sound::Enter("waveOutOpen"))
        return r;
    uintptr_t id = 0;
    const MMRESULT r = sound::Open(Side::Out, phwo ? &id : nullptr, uDeviceID, pwfx, dwCallback, fdwOpen);
    if (r == MMSYSERR_NOERROR)
        *phwo = reinterpret_cast<HWAVEOUT>(id);
    return r;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    if (MMRESULT r = sound::Enter("waveOutPrepareHeader"))
        return r;
    return sound::Prepare(Side::Out, Id(hwo), pwh, cbwh);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    if (MMRESULT r = sound::Enter("waveOutUnprepareHeader"))
        return r;
    return sound::Unprepare(Side::Out, Id(hwo), pwh, cbwh);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh)
{
    if (MMRESULT r = sound::Enter("waveOutWrite"))
        return r;
    return sound::Queue(Side::Out, Id(hwo), pwh, cbwh);
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    if (MMRESULT r = sound::Enter("waveOutReset"))
        return r;
    return sound::Reset(Side::Out, Id(hwo));
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    if (MMRESULT r = sound::Enter("waveOutClose"))
        return r;
    return sound::Close(Side::Out, Id(hwo));
}
