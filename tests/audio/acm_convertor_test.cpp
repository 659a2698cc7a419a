// The convertor's own rules, on the recording stand-in for the codec.
#include "ACMConvertor.h"
#include "ACMIn.h"
#include "ACMOut.h"
#include "audio_classes.h"
#include "fake_codec.h"
#include "mmfault.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using Names = std::vector<std::string>;

class Convertor : public testing::Test {
protected:
    void SetUp() override
    {
        mmfault::Clear();
        conv = std::make_unique<TACMConvertor>(nullptr);
        conv->FormatIn = SpeechPcmFormat();
        conv->FormatOut = MpegLayer3Format();
        conv->SetInputBufferSize(16000);
        fakecodec::Forget();
    }
    void TearDown() override
    {
        mmfault::Clear();
        conv.reset();
        EXPECT_EQ(fakecodec::OpenStreams(), 0);
    }
    std::string Raised(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const EACMConvertor& e) {
            return e.Message;
        }
        return "(nothing raised)";
    }
    std::unique_ptr<TACMConvertor> conv;
};

} // namespace

TEST_F(Convertor, StartsInactiveWithItsDefaultsAndGoesWithoutACall)
{
    TACMConvertor fresh(nullptr);
    EXPECT_FALSE(fresh.Active());
    EXPECT_EQ(fresh.InputBufferSize(), 2048u);
    EXPECT_FALSE(fresh.UseRealTime());
    EXPECT_EQ(fresh.StreamHandle(), nullptr);
    EXPECT_EQ(std::memcmp(&fresh.FormatIn, &fresh.FormatOut, sizeof(TWaveFormatRecord)), 0);
    EXPECT_EQ(fresh.FormatIn.wfx.nSamplesPerSec, 22050u);
    fresh.SetActive(false);
    EXPECT_TRUE(fakecodec::Calls().empty());
}

TEST_F(Convertor, OpensWithTheRealTimeFlagAndPreparesOneHeaderOverBothBuffers)
{
    for (bool realTime : {true, false}) {
        SCOPED_TRACE(realTime);
        fakecodec::Forget();
        conv->SetUseRealTime(realTime);
        conv->SetActive(true);
        conv->SetActive(true); // already on: no call
        ASSERT_TRUE(conv->Active());
        const auto calls = fakecodec::Calls();
        ASSERT_EQ(fakecodec::Functions(), (Names{"acmStreamOpen", "acmStreamSize", "acmStreamPrepareHeader"}));
        EXPECT_EQ(calls[0].flags, realTime ? 0u : ACM_STREAMOPENF_NONREALTIME);
        EXPECT_EQ(calls[1].flags, ACM_STREAMSIZEF_SOURCE);
        EXPECT_EQ(conv->BufferOutSize(), fakecodec::OutputSizeFor(16000));
        const ACMSTREAMHEADER& h = conv->StreamHeader();
        EXPECT_EQ(h.cbStruct, sizeof(ACMSTREAMHEADER));
        EXPECT_EQ(h.pbSrc, conv->BufferIn());
        EXPECT_EQ(h.cbSrcLength, 16000u);
        EXPECT_EQ(h.pbDst, conv->BufferOut());
        EXPECT_EQ(h.cbDstLength, conv->BufferOutSize());

        fakecodec::Forget();
        conv->SetActive(false);
        conv->SetActive(false); // already off: no call
        EXPECT_EQ(fakecodec::Functions(), (Names{"acmStreamUnprepareHeader", "acmStreamClose"}));
        EXPECT_EQ(conv->BufferIn(), nullptr);
        EXPECT_EQ(conv->BufferOut(), nullptr);
        EXPECT_EQ(conv->StreamHandle(), nullptr);
    }
}

TEST_F(Convertor, RefusesPropertyChangesWhileActiveOnly)
{
    conv->SetActive(true);
    EXPECT_EQ(Raised([&] { conv->SetInputBufferSize(100); }), "You cannot change the buffer size while active.");
    EXPECT_EQ(Raised([&] { conv->SetUseRealTime(true); }), "You cannot change the real time flag while active.");
    EXPECT_EQ(conv->InputBufferSize(), 16000u);
    EXPECT_FALSE(conv->UseRealTime());
    EXPECT_TRUE(conv->Active());
    conv->SetActive(false);
    conv->SetInputBufferSize(0);
    conv->SetUseRealTime(true);
    EXPECT_EQ(conv->InputBufferSize(), 0u);
    EXPECT_TRUE(conv->UseRealTime());
}

TEST_F(Convertor, ConvertsTheWholeInputIntoAZeroedOutputThenResets)
{
    conv->SetActive(true);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::memset(conv->BufferOut(), 0xFF, conv->BufferOutSize()); // stale bytes
        fakecodec::Forget();
        const uint32_t n = conv->Convert();
        EXPECT_EQ(n, 1000u);
        const auto calls = fakecodec::Calls();
        ASSERT_EQ(fakecodec::Functions(), (Names{"acmStreamConvert", "acmStreamReset"}));
        EXPECT_EQ(calls[0].flags, ACM_STREAMCONVERTF_BLOCKALIGN);
        EXPECT_EQ(calls[1].flags, 0u);
        EXPECT_EQ(conv->BufferOut()[0], 0x5A);
        for (uint32_t i = n; i < conv->BufferOutSize(); ++i)
            ASSERT_EQ(conv->BufferOut()[i], 0) << i;
    }
}

TEST_F(Convertor, ConvertWhileInactiveRaisesAndCallsNothing)
{
    EXPECT_EQ(Raised([&] { conv->Convert(); }), "You cannot convert while the convertor is not active.");
    conv->SetActive(true);
    conv->SetActive(false);
    fakecodec::Forget();
    EXPECT_EQ(Raised([&] { conv->Convert(); }), "You cannot convert while the convertor is not active.");
    EXPECT_TRUE(fakecodec::Calls().empty());
}

// A failed switch-on leaves nothing open or allocated, so the next one starts afresh.
TEST_F(Convertor, AFailedOpeningLeavesNoStreamAndNoBuffers)
{
    const struct {
        const char* function;
        const char* message;
    } cases[] = {
        {"acmStreamOpen", "acmStreamOpen: A suitable driver is not available to provide valid format selections."},
        {"acmStreamSize", "acmStreamSize: A suitable driver is not available to provide valid format selections."},
        {"acmStreamPrepareHeader",
         "acmStreamPrepareHeader: A suitable driver is not available to provide valid format selections."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        mmfault::Fail(c.function, MMSYSERR_NODRIVER);
        EXPECT_EQ(Raised([&] { conv->SetActive(true); }), c.message);
        EXPECT_FALSE(conv->Active());
        EXPECT_EQ(conv->BufferIn(), nullptr);
        EXPECT_EQ(conv->BufferOut(), nullptr);
        EXPECT_EQ(conv->StreamHandle(), nullptr);
        EXPECT_EQ(fakecodec::OpenStreams(), 0);
        fakecodec::Forget();
        conv->SetActive(true);
        EXPECT_EQ(fakecodec::Functions().front(), "acmStreamOpen");
        conv->SetActive(false);
    }
}

TEST_F(Convertor, AFailedConversionLeavesItActive)
{
    const struct {
        const char* function;
        const char* message;
        Names calls;
    } cases[] = {
        {"acmStreamConvert", "acmStreamConvert: The conversion stream is already in use.", {"acmStreamConvert"}},
        {"acmStreamReset", "acmStreamReset The conversion stream is already in use.",
         {"acmStreamConvert", "acmStreamReset"}},
    };
    conv->SetActive(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        std::memset(conv->BufferOut(), 0xFF, conv->BufferOutSize());
        fakecodec::Forget();
        mmfault::Fail(c.function, ACMERR_BUSY);
        EXPECT_EQ(Raised([&] { conv->Convert(); }), c.message);
        EXPECT_EQ(fakecodec::Functions(), c.calls);
        EXPECT_TRUE(conv->Active());
        EXPECT_EQ(conv->BufferOut()[conv->BufferOutSize() - 1], 0); // zeroed before converting
        EXPECT_EQ(conv->Convert(), 1000u);
    }
}

// A failed switch-off leaves it active; switching off again resumes at the
// step that failed, so a header already unprepared is not unprepared twice.
TEST_F(Convertor, AFailedClosingLeavesItActiveAndCanBeRepeated)
{
    const struct {
        const char* function;
        const char* message;
        Names retry;
    } cases[] = {
        {"acmStreamUnprepareHeader", "acmStreamUnPrepareHeader: The specified handle is invalid.",
         {"acmStreamUnprepareHeader", "acmStreamClose"}},
        {"acmStreamClose", "acmStreamClose: The specified handle is invalid.", {"acmStreamClose"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        conv->SetActive(true);
        mmfault::Fail(c.function, MMSYSERR_INVALHANDLE);
        EXPECT_EQ(Raised([&] { conv->SetActive(false); }), c.message);
        EXPECT_TRUE(conv->Active());
        EXPECT_NE(conv->BufferIn(), nullptr);
        EXPECT_EQ(fakecodec::OpenStreams(), 1);
        fakecodec::Forget();
        conv->SetActive(false);
        EXPECT_EQ(fakecodec::Functions(), c.retry);
        EXPECT_FALSE(conv->Active());
        EXPECT_EQ(fakecodec::OpenStreams(), 0);
    }
}

TEST_F(Convertor, DestroyingAnActiveConvertorClosesItAndNeverThrows)
{
    for (const char* failing : {"", "acmStreamUnprepareHeader", "acmStreamClose"}) {
        SCOPED_TRACE(failing);
        auto c = std::make_unique<TACMConvertor>(nullptr);
        c->SetActive(true);
        fakecodec::Forget();
        if (*failing)
            mmfault::Fail(failing, MMSYSERR_INVALHANDLE);
        EXPECT_NO_THROW(c.reset());
        EXPECT_EQ(fakecodec::Functions().back(), "acmStreamClose");
        EXPECT_EQ(fakecodec::OpenStreams(), 0);
        mmfault::Clear();
    }
}

TEST(AudioClasses, AreKnownToTheStoredFormReader)
{
    RegisterAudioClasses();
    for (const char* name : {"TACMConvertor", "TACMIn", "TACMOut"}) {
        const TComponentFactory* factory = FindComponentClass(name);
        ASSERT_NE(factory, nullptr) << name;
        std::unique_ptr<TComponent> made((*factory)(nullptr));
        EXPECT_EQ(ComponentClassName(*made), name);
    }
}
