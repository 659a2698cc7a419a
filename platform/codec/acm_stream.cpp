// acmStream*: synchronous conversion streams over the registered drivers.
#include "driver.h"
#include "mmfault.h"

#include <map>
#include <mutex>

namespace {

const codec::Driver* const kDrivers[] = {&codec::LameDriver()};

constexpr DWORD kQuery = 0x01; // ACM_STREAMOPENF_QUERY
constexpr DWORD kSizeDestination = 0x01;
constexpr DWORD kConvertFlags = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
// The lengths a header was prepared with, kept in the driver's reserved words.
constexpr int kPreparedSrc = 0;
constexpr int kPreparedDst = 1;

// Handles are never reused, so a stale handle finds nothing.
std::mutex tableLock;
std::map<uintptr_t, std::shared_ptr<codec::StreamDriver>> streams;
uintptr_t lastHandle = 0;

std::shared_ptr<codec::StreamDriver> Find(HACMSTREAM has)
{
    std::lock_guard lock(tableLock);
    auto it = streams.find(reinterpret_cast<uintptr_t>(has));
    return it == streams.end() ? nullptr : it->second;
}

bool ValidHeader(const ACMSTREAMHEADER* h) { return h != nullptr && h->cbStruct >= sizeof(ACMSTREAMHEADER); }

} // namespace

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       const void* pwfltr, DWORD_PTR, DWORD_PTR, DWORD fdwOpen)
{
    if (MMRESULT r = mmfault::Check("acmStreamOpen"))
        return r;
    const bool query = (fdwOpen & kQuery) != 0;
    if (pwfxSrc == nullptr || pwfxDst == nullptr || (phas == nullptr && !query))
        return MMSYSERR_INVALPARAM;
    if ((fdwOpen & ~(kQuery | ACM_STREAMOPENF_NONREALTIME)) != 0)
        return MMSYSERR_INVALFLAG; // asynchronous streams are not offered
    if (had != nullptr)
        return MMSYSERR_INVALHANDLE;
    if (pwfltr != nullptr)
        return ACMERR_NOTPOSSIBLE;
    for (const codec::Driver* driver : kDrivers) {
        std::unique_ptr<codec::StreamDriver> stream;
        const MMRESULT r = driver->open(*pwfxSrc, *pwfxDst, query, stream);
        if (r == ACMERR_NOTPOSSIBLE)
            continue;
        if (r != MMSYSERR_NOERROR || query)
            return r;
        std::lock_guard lock(tableLock);
        const uintptr_t id = ++lastHandle;
        streams.emplace(id, std::move(stream));
        *phas = reinterpret_cast<HACMSTREAM>(id);
        return MMSYSERR_NOERROR;
    }
    return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize)
{
    if (MMRESULT r = mmfault::Check("acmStreamSize"))
        return r;
    auto stream = Find(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (pdwOutputBytes == nullptr)
        return MMSYSERR_INVALPARAM;
    if (fdwSize != ACM_STREAMSIZEF_SOURCE && fdwSize != kSizeDestination)
        return MMSYSERR_INVALFLAG;
    const DWORD n = fdwSize == ACM_STREAMSIZEF_SOURCE ? stream->DestinationBound(cbInput) : stream->SourceFor(cbInput);
    if (n == 0)
        return ACMERR_NOTPOSSIBLE;
    *pdwOutputBytes = n;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare)
{
    if (MMRESULT r = mmfault::Check("acmStreamPrepareHeader"))
        return r;
    if (!Find(has))
        return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pash) || pash->pbSrc == nullptr || pash->pbDst == nullptr)
        return MMSYSERR_INVALPARAM;
    if (fdwPrepare != 0)
        return MMSYSERR_INVALFLAG;
    pash->dwReservedDriver[kPreparedSrc] = pash->cbSrcLength;
    pash->dwReservedDriver[kPreparedDst] = pash->cbDstLength;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert)
{
    if (MMRESULT r = mmfault::Check("acmStreamConvert"))
        return r;
    auto stream = Find(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pash))
        return MMSYSERR_INVALPARAM;
    if ((fdwConvert & ~kConvertFlags) != 0)
        return MMSYSERR_INVALFLAG;
    if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    // The buffers may shrink after prepare, never grow.
    if (pash->cbSrcLength > pash->dwReservedDriver[kPreparedSrc] ||
        pash->cbDstLength > pash->dwReservedDriver[kPreparedDst])
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    DWORD srcUsed = 0, dstUsed = 0;
    const MMRESULT r =
        stream->Convert(pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength, fdwConvert, srcUsed, dstUsed);
    pash->cbSrcLengthUsed = srcUsed;
    pash->cbDstLengthUsed = dstUsed;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return r;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset)
{
    if (MMRESULT r = mmfault::Check("acmStreamReset"))
        return r;
    if (!Find(has))
        return MMSYSERR_INVALHANDLE;
    if (fdwReset != 0)
        return MMSYSERR_INVALFLAG;
    // A synchronous stream has nothing in flight; sound held in the encoder stays for the next call.
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare)
{
    if (MMRESULT r = mmfault::Check("acmStreamUnprepareHeader"))
        return r;
    if (!Find(has))
        return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(pash))
        return MMSYSERR_INVALPARAM;
    if (fdwUnprepare != 0)
        return MMSYSERR_INVALFLAG;
    if ((pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0)
        return ACMERR_UNPREPARED;
    pash->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose)
{
    if (MMRESULT r = mmfault::Check("acmStreamClose"))
        return r;
    if (fdwClose != 0)
        return MMSYSERR_INVALFLAG;
    std::shared_ptr<codec::StreamDriver> stream;
    {
        std::lock_guard lock(tableLock);
        auto it = streams.find(reinterpret_cast<uintptr_t>(has));
        if (it == streams.end())
            return MMSYSERR_INVALHANDLE;
        stream = std::move(it->second);
        streams.erase(it);
    }
    return MMSYSERR_NOERROR;
}
