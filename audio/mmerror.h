#pragma once
// The messages of the audio components' exceptions: the label of the failed
// call followed by the sentence for its result code, or a fallback naming the
// code. The device components know twelve codes, the convertor eight.
#include <cstdint>
#include <string>

enum class TMMErrorTable {
    Device,    // TACMIn, TACMOut
    Convertor, // TACMConvertor
};

// The sentence for Code in Table (with its leading space), or null when the
// table has none.
const char* MMErrorSentence(TMMErrorTable Table, int32_t Code);

// Label immediately followed by the sentence, or
// "<Label> raised an unknown error (code #<Code>)" for a code without one.
std::string MMErrorMessage(TMMErrorTable Table, const char* Label, int32_t Code);
