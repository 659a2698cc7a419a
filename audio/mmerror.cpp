#include "mmerror.h"

#include "sysutils.h"

namespace {

struct TMMErrorEntry {
    int32_t code;
    const char* sentence;
    bool convertor; // the convertor's table holds it too
};

constexpr TMMErrorEntry kEntries[] = {
    {2, " The specified resource does not exist.", false},
    {4, " The specified resource is already in use.", false},
    {5, " The specified handle is invalid.", true},
    {6, " A suitable driver is not available to provide valid format selections.", true},
    {7, " The system is unable to allocate resources.", true},
    {10, " At least one flag is invalid.", true},
    {11, " At least one parameter is invalid.", true},
    {32, " Unsupported audio format.", false},
    {35, " The specified device does not support asynchronous operation.", false},
    {512, " The requested operation cannot be performed.", true},
    {513, " The conversion stream is already in use.", true},
    {514, " Cannot perform this action on a header that has not been prepared.", true},
};

} // namespace

const char* MMErrorSentence(TMMErrorTable Table, int32_t Code)
{
    for (const auto& entry : kEntries)
        if (entry.code == Code && (Table == TMMErrorTable::Device || entry.convertor))
            return entry.sentence;
    return nullptr;
}

std::string MMErrorMessage(TMMErrorTable Table, const char* Label, int32_t Code)
{
    if (const char* sentence = MMErrorSentence(Table, Code))
        return std::string(Label) + sentence;
    return Format("%s raised an unknown error (code #%d)", Label, Code);
}
