// Every result code through each component's error check, reached by making
// the first call of an Open or switch-on fail.
#include "ACMConvertor.h"
#include "ACMIn.h"
#include "ACMOut.h"
#include "audio_fixture.h"

#include <functional>

namespace {

struct CodeCase {
    uint32_t code;
    const char* deviceSentence;    // null: the fallback
    const char* convertorSentence; // null: the fallback
};

const CodeCase kCodes[] = {
    {1, nullptr, nullptr},
    {2, " The specified resource does not exist.", nullptr},
    {3, nullptr, nullptr},
    {4, " The specified resource is already in use.", nullptr},
    {5, " The specified handle is invalid.", " The specified handle is invalid."},
    {6, " A suitable driver is not available to provide valid format selections.",
     " A suitable driver is not available to provide valid format selections."},
    {7, " The system is unable to allocate resources.", " The system is unable to allocate resources."},
    {8, nullptr, nullptr},
    {9, nullptr, nullptr},
    {10, " At least one flag is invalid.", " At least one flag is invalid."},
    {11, " At least one parameter is invalid.", " At least one parameter is invalid."},
    {32, " Unsupported audio format.", nullptr},
    {33, nullptr, nullptr},
    {34, nullptr, nullptr},
    {35, " The specified device does not support asynchronous operation.", nullptr},
    {512, " The requested operation cannot be performed.", " The requested operation cannot be performed."},
    {513, " The conversion stream is already in use.", " The conversion stream is already in use."},
    {514, " Cannot perform this action on a header that has not been prepared.",
     " Cannot perform this action on a header that has not been prepared."},
    {515, nullptr, nullptr},
    {1000, nullptr, nullptr},
    {0xFFFFFFFFu, nullptr, nullptr},
    {0x80000000u, nullptr, nullptr},
};

std::string Expected(const char* label, const char* sentence, uint32_t code)
{
    if (sentence)
        return std::string(label) + sentence;
    return std::string(label) + " raised an unknown error (code #" + std::to_string(int32_t(code)) + ")";
}

// Runs Action with Function armed to fail with Code; returns the message of the E it raises.
template <class E>
std::string FailWith(const char* Function, uint32_t Code, const std::function<void()>& Action)
{
    mmfault::Fail(Function, Code);
    try {
        Action();
    } catch (const E& e) {
        mmfault::Clear();
        return e.Message;
    }
    mmfault::Clear();
    return "(nothing raised)";
}

} // namespace

using ErrorReport = ScriptedAudio;

TEST_F(ErrorReport, EveryCodeGivesItsComponentsSentenceOrTheFallback)
{
    TACMIn in(nullptr);
    TACMOut out(nullptr);
    TACMConvertor conv(nullptr);
    conv.FormatIn = SpeechPcmFormat();
    conv.FormatOut = MpegLayer3Format();
    for (const CodeCase& c : kCodes) {
        SCOPED_TRACE(int32_t(c.code));
        EXPECT_EQ(FailWith<EACMIn>("waveInOpen", c.code, [&] { in.Open(SpeechPcmFormat()); }),
                  Expected("WaveIn-Open", c.deviceSentence, c.code));
        EXPECT_EQ(FailWith<EACMOut>("waveOutOpen", c.code, [&] { out.Open(MpegLayer3Format()); }),
                  Expected("WaveOutOpen", c.deviceSentence, c.code));
        EXPECT_EQ(FailWith<EACMConvertor>("acmStreamOpen", c.code, [&] { conv.SetActive(true); }),
                  Expected("acmStreamOpen:", c.convertorSentence, c.code));
        EXPECT_FALSE(in.Active());
        EXPECT_FALSE(out.Active());
        EXPECT_FALSE(conv.Active());
    }
}
