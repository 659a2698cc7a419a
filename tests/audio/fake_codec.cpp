#include "fake_codec.h"

#include "mmfault.h"

#include <set>

struct HACMSTREAM__ {
    WAVEFORMATEX source;
    WAVEFORMATEX destination;
};

namespace fakecodec {
namespace {
std::vector<Call> calls;
std::set<HACMSTREAM> streams;

MMRESULT Enter(const char* function, DWORD flags)
{
    calls.push_back({function, flags});
    return mmfault::Check(function);
}
} // namespace

std::vector<Call> Calls() { return calls; }
std::vector<std::string> Functions()
{
    std::vector<std::string> names;
    for (const Call& c : calls)
        names.push_back(c.function);
    return names;
}
void Forget() { calls.clear(); }
int OpenStreams() { return int(streams.size()); }
DWORD OutputSizeFor(DWORD n) { return n / 16 + 100; }

} // namespace fakecodec

using namespace fakecodec;

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       const void*, DWORD_PTR dwCallback, DWORD_PTR, DWORD fdwOpen)
{
    if (MMRESULT r = Enter("acmStreamOpen", fdwOpen))
        return r;
    if (dwCallback != 0 || (fdwOpen & ~ACM_STREAMOPENF_NONREALTIME))
        return MMSYSERR_INVALFLAG;
    *phas = new HACMSTREAM__{*pwfxSrc, *pwfxDst};
    streams.insert(*phas);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize)
{
    if (MMRESULT r = Enter("acmStreamSize", fdwSize))
        return r;
    if (!streams.count(has))
        return MMSYSERR_INVALHANDLE;
    *pdwOutputBytes = OutputSizeFor(cbInput);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare)
{
    if (MMRESULT r = Enter("acmStreamPrepareHeader", fdwPrepare))
        return r;
    if (!streams.count(has) || pash->cbStruct != sizeof(ACMSTREAMHEADER) || !pash->pbSrc || !pash->pbDst)
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert)
{
    if (MMRESULT r = Enter("acmStreamConvert", fdwConvert))
        return r;
    if (!streams.count(has))
        return MMSYSERR_INVALHANDLE;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    const DWORD n = std::min(pash->cbSrcLength / 16, pash->cbDstLength);
    for (DWORD i = 0; i < n; ++i)
        pash->pbDst[i] = uint8_t(0x5A + i);
    pash->cbSrcLengthUsed = pash->cbSrcLength;
    pash->cbDstLengthUsed = n;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset)
{
    if (MMRESULT r = Enter("acmStreamReset", fdwReset))
        return r;
    return streams.count(has) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare)
{
    if (MMRESULT r = Enter("acmStreamUnprepareHeader", fdwUnprepare))
        return r;
    if (!streams.count(has))
        return MMSYSERR_INVALHANDLE;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose)
{
    if (MMRESULT r = Enter("acmStreamClose", fdwClose))
        return r;
    if (!streams.erase(has))
        return MMSYSERR_INVALHANDLE;
    delete has;
    return MMSYSERR_NOERROR;
}
