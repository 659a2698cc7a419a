#pragma once
// A stand-in for the compression manager's conversion streams, linked into the
// convertor's rule tests in place of the codec library: it records every call
// with its flags, keeps the header rules (prepare before convert, unprepare
// before close) and consults the failure-injection seam like the real one.
// A conversion writes one output byte per 16 input bytes: 0x5A, 0x5B, ...
#include "mmsystem.h"

#include <string>
#include <vector>

namespace fakecodec {

struct Call {
    std::string function;
    DWORD flags;
};
std::vector<Call> Calls();
std::vector<std::string> Functions(); // the names of Calls(), in order
void Forget();                        // forgets the calls made so far
int OpenStreams();                    // streams opened and not closed
// What acmStreamSize reports for n source bytes.
DWORD OutputSizeFor(DWORD n);

} // namespace fakecodec
