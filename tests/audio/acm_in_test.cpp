// The capture component on the scripted input device.
#include "ACMIn.h"
#include "audio_fixture.h"
#include "box_watcher.h"
#include "forms.h"

#include <memory>

namespace {

struct Delivery {
    std::vector<uint8_t> bytes;
    bool nullData = false;
};

// A capture component with a handler that keeps a copy of every delivery.
struct Recorder {
    explicit Recorder(uint32_t bufferSize = 16000, uint8_t numBuffers = 2)
    {
        in->SetBufferSize(bufferSize);
        in->SetNumBuffers(numBuffers);
        in->OnBufferFull = TBufferFullEvent("Record", [this](TObject* sender, void* data, int32_t size) {
            EXPECT_EQ(sender, in.get());
            const auto* p = static_cast<const uint8_t*>(data);
            seen.push_back({std::vector<uint8_t>(p, p + size), data == nullptr});
        });
    }
    std::unique_ptr<TACMIn> in = std::make_unique<TACMIn>(nullptr);
    std::vector<Delivery> seen;
};

} // namespace

using Capture = ScriptedAudio;

TEST_F(Capture, DeliversCopiesOfFilledBuffersInOrderAndQueuesThemAgain)
{
    Recorder r;
    r.in->Open(SpeechPcmFormat());
    ASSERT_TRUE(r.in->Active());
    const std::vector<WAVEHDR*> ring = scripted::InputQueue();
    ASSERT_EQ(ring.size(), 2u);

    const std::vector<std::vector<uint8_t>> seconds = {Chunk(16000, 1), Chunk(16000, 2), Chunk(16000, 3),
                                                       Chunk(100, 4), {}};
    for (size_t i = 0; i < seconds.size(); ++i) {
        ASSERT_TRUE(scripted::Record(seconds[i].data(), DWORD(seconds[i].size())));
        ASSERT_TRUE(WaitFor([&] { return r.seen.size() == i + 1; }));
    }
    for (size_t i = 0; i < seconds.size(); ++i) {
        EXPECT_EQ(r.seen[i].bytes, seconds[i]) << "delivery " << i;
        EXPECT_EQ(r.seen[i].nullData, seconds[i].empty());
    }
    // The same two buffers go round, cleared and queued again.
    std::vector<WAVEHDR*> queued = scripted::InputQueue();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_TRUE((queued[0] == ring[0] && queued[1] == ring[1]) || (queued[0] == ring[1] && queued[1] == ring[0]));
    EXPECT_EQ(r.in->BufferCount(), 2);
    for (WAVEHDR* h : queued)
        EXPECT_EQ(h->dwBufferLength, 16000u);
    r.in->Close();
}

TEST_F(Capture, OpensTheDeviceByFormatTag)
{
    const struct {
        uint16_t tag;
        UINT device;
        DWORD flags;
    } cases[] = {{WAVE_FORMAT_PCM, WAVE_MAPPER, CALLBACK_WINDOW}, {WAVE_FORMAT_MPEGLAYER3, 0, CALLBACK_WINDOW | WAVE_MAPPED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        TACMIn in(nullptr);
        in.SetNumBuffers(0);
        in.Open(WithTag(c.tag));
        ASSERT_TRUE(in.Active());
        const scripted::OpenCall call = scripted::LastInputOpen();
        EXPECT_EQ(call.deviceId, c.device);
        EXPECT_EQ(call.flags, c.flags);
        EXPECT_EQ(call.format.wfx.wFormatTag, c.tag);
        EXPECT_NE(call.window, HWND(0));
        EXPECT_TRUE(scripted::InputQueue().empty()); // NumBuffers 0: started without a buffer
    }
}

TEST_F(Capture, IgnoresPropertiesAndOpenWhileRecordingAndTakesThemAfterClose)
{
    Recorder r(1000, 3);
    r.in->Open(SpeechPcmFormat());
    r.in->SetBufferSize(500);
    r.in->SetNumBuffers(5);
    r.in->Open(MpegLayer3Format());
    EXPECT_EQ(r.in->BufferSize(), 1000u);
    EXPECT_EQ(r.in->NumBuffers(), 3);
    EXPECT_EQ(r.in->WaveFormat().wfx.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(scripted::InputQueue().size(), 3u);

    r.in->Close();
    r.in->Close(); // closed: nothing
    r.in->SetBufferSize(500);
    r.in->SetNumBuffers(200); // no range test
    EXPECT_EQ(r.in->NumBuffers(), 200);
    r.in->SetNumBuffers(5);
    r.in->Open(SpeechPcmFormat());
    ASSERT_EQ(scripted::InputQueue().size(), 5u);
    for (WAVEHDR* h : scripted::InputQueue())
        EXPECT_EQ(h->dwBufferLength, 500u);
    r.in->Close();
}

TEST_F(Capture, CloseDiscardsQueuedAndPendingBuffersWithoutAnEvent)
{
    Recorder r;
    r.in->Open(SpeechPcmFormat());
    scripted::HoldNotifications();
    const auto full = Chunk(16000, 9);
    ASSERT_TRUE(scripted::Record(full.data(), DWORD(full.size()))); // its notification waits
    r.in->Close();
    EXPECT_FALSE(r.in->Active());
    EXPECT_EQ(r.in->BufferCount(), 0);
    EXPECT_EQ(r.in->DeviceHandle(), nullptr);
    EXPECT_FALSE(scripted::InputOpen());
    scripted::ReleaseNotifications(); // the full one and the reset's, all late
    Pump(50);
    EXPECT_TRUE(r.seen.empty());
}

TEST_F(Capture, LateNotificationsFromBeforeACloseAreIgnoredAfterTheNextOpen)
{
    Recorder r;
    r.in->Open(SpeechPcmFormat());
    scripted::HoldNotifications();
    const auto stale = Chunk(16000, 5);
    ASSERT_TRUE(scripted::Record(stale.data(), DWORD(stale.size())));
    r.in->Close();
    r.in->Open(SpeechPcmFormat()); // new buffers, perhaps at the freed addresses
    scripted::ReleaseNotifications();
    Pump(50);
    EXPECT_TRUE(r.seen.empty());
    EXPECT_EQ(scripted::InputQueue().size(), 2u); // nothing queued twice

    const auto fresh = Chunk(16000, 6);
    ASSERT_TRUE(scripted::Record(fresh.data(), DWORD(fresh.size())));
    ASSERT_TRUE(WaitFor([&] { return r.seen.size() == 1; }));
    EXPECT_EQ(r.seen[0].bytes, fresh);
    Pump(20);
    EXPECT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(scripted::InputQueue().size(), 2u);
    r.in->Close();
}

// A failed Open leaves the component plainly closed: the device released and
// no buffer kept, so the next Open starts clean.
TEST_F(Capture, AFailedOpenReleasesTheDeviceAndEveryBufferItMade)
{
    const struct {
        const char* function;
        int skip;
        const char* message;
    } cases[] = {
        {"waveInOpen", 0, "WaveIn-Open The specified resource is already in use."},
        {"waveInPrepareHeader", 0, "WaveIn-PrepareHeader The specified resource is already in use."},
        {"waveInPrepareHeader", 2, "WaveIn-PrepareHeader The specified resource is already in use."},
        {"waveInAddBuffer", 1, "WaveIn-AddBuffer The specified resource is already in use."},
        {"waveInStart", 0, "WaveIn-Start The specified resource is already in use."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " after " + std::to_string(c.skip));
        Recorder r(16000, 3);
        mmfault::Fail(c.function, MMSYSERR_ALLOCATED, c.skip);
        try {
            r.in->Open(SpeechPcmFormat());
            ADD_FAILURE() << "Open did not raise";
        } catch (const EACMIn& e) {
            EXPECT_EQ(e.Message, c.message);
        }
        EXPECT_FALSE(r.in->Active());
        EXPECT_EQ(r.in->BufferCount(), 0);
        EXPECT_EQ(r.in->DeviceHandle(), nullptr);
        EXPECT_FALSE(scripted::InputOpen());

        r.in->Open(SpeechPcmFormat());
        EXPECT_TRUE(scripted::InputOpen());
        EXPECT_EQ(r.in->BufferCount(), 3);
        r.in->Close();
        EXPECT_FALSE(scripted::InputOpen());
    }
}

TEST_F(Capture, AFailedRequeueIsReportedAndRecordingGoesOnWithTheOtherBuffers)
{
    const struct {
        const char* function;
        const char* message;
    } cases[] = {
        {"waveInUnprepareHeader", "WaveIn-UnprepareHeader At least one parameter is invalid."},
        {"waveInPrepareHeader", "WaveIn-PrepareHeader At least one parameter is invalid."},
        {"waveInAddBuffer", "WaveInAddBuffer At least one parameter is invalid."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        BoxWatcher boxes;
        Recorder r;
        r.in->Open(SpeechPcmFormat());
        mmfault::Fail(c.function, MMSYSERR_INVALPARAM);
        const auto second = Chunk(16000, 7);
        ASSERT_TRUE(scripted::Record(second.data(), DWORD(second.size())));
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }));
        EXPECT_EQ(boxes.texts[0], c.message);
        EXPECT_EQ(r.seen.size(), 1u);
        EXPECT_TRUE(r.in->Active());
        EXPECT_EQ(scripted::InputQueue().size(), 1u);
        ASSERT_TRUE(scripted::Record(second.data(), DWORD(second.size())));
        ASSERT_TRUE(WaitFor([&] { return r.seen.size() == 2; }));
        r.in->Close();
        EXPECT_EQ(r.in->BufferCount(), 0);
    }
}

// A handler that raises is reported; the buffer still goes back to the device,
// so a few failures do not silently stop the recording.
TEST_F(Capture, AHandlerThatRaisesIsReportedAndItsBufferIsQueuedAgain)
{
    BoxWatcher boxes;
    TACMIn in(nullptr);
    in.SetBufferSize(16000);
    in.SetNumBuffers(2);
    int calls = 0;
    in.OnBufferFull = TBufferFullEvent("Fail", [&](TObject*, void*, int32_t) {
        ++calls;
        throw Exception("handler failed");
    });
    in.Open(SpeechPcmFormat());
    const auto second = Chunk(16000, 1);
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(scripted::Record(second.data(), DWORD(second.size())));
        ASSERT_TRUE(WaitFor([&] { return calls == i && int(boxes.texts.size()) == i; }));
    }
    EXPECT_EQ(boxes.texts[0], "handler failed");
    EXPECT_EQ(scripted::InputQueue().size(), 2u);
    in.Close();
}

// What the handler does to the component takes effect at once: BufferDone
// stops touching the buffer (and the component) when the handler has closed,
// reopened or destroyed it.
TEST_F(Capture, TheHandlerMayCloseReopenReassignOrDestroyTheComponent)
{
    enum Action { CloseIt, Reopen, Reassign, Destroy };
    for (Action action : {CloseIt, Reopen, Reassign, Destroy}) {
        SCOPED_TRACE(action);
        auto in = std::make_unique<TACMIn>(nullptr);
        in->SetBufferSize(16000);
        in->SetNumBuffers(2);
        int first = 0, second = 0;
        in->OnBufferFull = TBufferFullEvent("First", [&](TObject*, void*, int32_t) {
            ++first;
            switch (action) {
            case CloseIt: in->Close(); break;
            case Reopen: in->Close(); in->Open(SpeechPcmFormat()); break;
            case Reassign:
                in->OnBufferFull = TBufferFullEvent("Second", [&](TObject*, void*, int32_t) { ++second; });
                break;
            case Destroy: in.reset(); break;
            }
        });
        in->Open(SpeechPcmFormat());
        const auto bytes = Chunk(16000, 3);
        ASSERT_TRUE(scripted::Record(bytes.data(), DWORD(bytes.size())));
        ASSERT_TRUE(WaitFor([&] { return first == 1; }));
        Pump(20);
        switch (action) {
        case CloseIt:
        case Destroy:
            EXPECT_FALSE(scripted::InputOpen());
            break;
        case Reopen:
            EXPECT_EQ(scripted::InputQueue().size(), 2u); // the new ring only
            EXPECT_EQ(in->BufferCount(), 2);
            break;
        case Reassign:
            ASSERT_TRUE(scripted::Record(bytes.data(), DWORD(bytes.size())));
            ASSERT_TRUE(WaitFor([&] { return second == 1; }));
            EXPECT_EQ(first, 1);
            break;
        }
        in.reset();
        EXPECT_FALSE(scripted::InputOpen());
    }
}

TEST_F(Capture, DestroyingWhileRecordingClosesTheDeviceFirst)
{
    Recorder r;
    r.in->Open(SpeechPcmFormat());
    scripted::HoldNotifications();
    const auto bytes = Chunk(16000, 2);
    ASSERT_TRUE(scripted::Record(bytes.data(), DWORD(bytes.size())));
    std::vector<Delivery>& seen = r.seen;
    r.in.reset();
    EXPECT_FALSE(scripted::InputOpen());
    scripted::ReleaseNotifications(); // for a window that is gone
    Pump(20);
    EXPECT_TRUE(seen.empty());
}
