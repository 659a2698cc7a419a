#pragma once
// The conversion driver interface behind acmStream*. A driver serves some
// format pairs; acmStreamOpen asks each registered driver in turn.
#include "mmsystem.h"

#include <memory>

namespace codec {

// One open conversion: a continuous stream, called on one thread at a time.
class StreamDriver {
public:
    virtual ~StreamDriver() = default;
    // Destination bytes that always suffice for srcBytes source bytes.
    virtual DWORD DestinationBound(DWORD srcBytes) const = 0;
    // Source bytes whose output always fits in dstBytes.
    virtual DWORD SourceFor(DWORD dstBytes) const = 0;
    // Converts what fits of src into dst without allocating. Sound that does not
    // make a whole output unit yet stays in the driver for the next call;
    // ACM_STREAMCONVERTF_END drains it.
    virtual MMRESULT Convert(const uint8_t* src, DWORD srcLength, uint8_t* dst, DWORD dstLength, DWORD flags,
                             DWORD& srcUsed, DWORD& dstUsed) = 0;
};

struct Driver {
    const char* name;
    // ACMERR_NOTPOSSIBLE when the pair is not served; with query only checks.
    MMRESULT (*open)(const WAVEFORMATEX& src, const WAVEFORMATEX& dst, bool query,
                     std::unique_ptr<StreamDriver>& stream);
};

const Driver& LameDriver();

} // namespace codec
