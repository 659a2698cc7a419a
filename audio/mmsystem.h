#pragma once
// The audio services the components call: waveform input and output devices
// and the compression manager's conversion streams. Every call returns an
// MMRESULT, 0 for success. The implementations live in the platform layer.
//
// Threads: every call is made from the thread that owns the component (the GUI
// thread). Devices hand finished buffers back by posting MM_WIM_DATA or
// MM_WOM_DONE to the hidden window given at open, with the header's address as
// LParam and the device handle as WParam, one message per buffer, in queue order.
#include "hwnd.h"
#include "wave_format.h"

#include <cstdint>

using MMRESULT = uint32_t;
using DWORD = uint32_t;
using DWORD_PTR = uintptr_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;
constexpr MMRESULT ACMERR_CANCELED = 515;

// One buffer exchanged with a device. The data block is allocated apart.
struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext; // the device's
    DWORD_PTR reserved; // the device's
};
using PWaveHdr = WAVEHDR*;

constexpr DWORD WHDR_DONE = 0x01;     // the device has finished with the buffer
constexpr DWORD WHDR_PREPARED = 0x02; // prepared for the device
constexpr DWORD WHDR_INQUEUE = 0x10;  // queued at the device

struct HWAVEIN__;
struct HWAVEOUT__;
using HWAVEIN = HWAVEIN__*;
using HWAVEOUT = HWAVEOUT__*;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD WAVE_MAPPED = 0x0004;

constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

// Input. Buffers are filled in the order queued; each comes back with
// dwBytesRecorded set. Reset stops recording and hands every queued buffer back.
MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInClose(HWAVEIN hwi);

// Output. Write returns at once; buffers play back to back in the order
// written. A compressed format opened through WAVE_MAPPED is decoded on the way.
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);

// Conversion streams (synchronous only).
struct HACMSTREAM__;
struct HACMDRIVER__;
using HACMSTREAM = HACMSTREAM__*;
using HACMDRIVER = HACMDRIVER__*;

struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    uint8_t* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    uint8_t* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
};

constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x04;
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00;
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x04;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x10;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x20;
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

// Opens a stream from pwfxSrc to pwfxDst; 512 when no driver serves the pair.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       const void* pwfltr, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
// With ACM_STREAMSIZEF_SOURCE: the destination bytes always enough for cbInput source bytes.
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare);
// Converts cbSrcLength bytes; cbDstLengthUsed tells the valid output bytes.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert);
MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);
