// The playback component on the scripted output device.
#include "ACMOut.h"
#include "audio_fixture.h"
#include "box_watcher.h"
#include "forms.h"

#include <memory>

namespace {

// A playback component with a handler that keeps the bytes of every played buffer.
struct Player {
    explicit Player(uint8_t numBuffers)
    {
        out->NumBuffers = numBuffers;
        out->OnBufferPlayed = TBufferPlayedEvent("Played", [this](TObject* sender, PWaveHdr header) {
            EXPECT_EQ(sender, out.get());
            played.push_back(BytesOf(header));
        });
    }
    // Plays a copy of Bytes from a buffer that is overwritten right after Play.
    void Play(const std::vector<uint8_t>& Bytes)
    {
        scratch = Bytes;
        out->Play(scratch.data(), int32_t(scratch.size()));
        std::fill(scratch.begin(), scratch.end(), 0xEE);
    }
    std::vector<std::vector<uint8_t>> Written() const
    {
        std::vector<std::vector<uint8_t>> bytes;
        for (WAVEHDR* h : scripted::OutputQueue())
            bytes.push_back(BytesOf(h));
        return bytes;
    }
    std::unique_ptr<TACMOut> out = std::make_unique<TACMOut>(nullptr);
    std::vector<std::vector<uint8_t>> played;
    std::vector<uint8_t> scratch;
};

} // namespace

using Playback = ScriptedAudio;

TEST_F(Playback, HoldsNumBuffersChunksThenWritesThemAllInArrivalOrder)
{
    for (uint8_t n : {0, 1, 4}) {
        SCOPED_TRACE(int(n));
        Player p(n);
        p.out->Open(MpegLayer3Format());
        std::vector<std::vector<uint8_t>> chunks;
        for (uint8_t i = 0; i < n; ++i) {
            chunks.push_back(Chunk(90 + i, i));
            p.Play(chunks.back());
            EXPECT_TRUE(scripted::OutputQueue().empty());
            EXPECT_EQ(p.out->HeldCount(), i + 1);
        }
        chunks.push_back(Chunk(100, 50));
        p.Play(chunks.back()); // the one that starts the device
        EXPECT_EQ(p.Written(), chunks);
        EXPECT_EQ(p.out->HeldCount(), 0);
        chunks.push_back(Chunk(7, 60));
        p.Play(chunks.back()); // streaming: written at once
        EXPECT_EQ(p.Written(), chunks);
        for (WAVEHDR* h : scripted::OutputQueue())
            EXPECT_EQ(h->dwLoops, 1u);

        while (scripted::Play()) {
        }
        ASSERT_TRUE(WaitFor([&] { return p.played.size() == chunks.size(); }));
        EXPECT_EQ(p.played, chunks);
        EXPECT_EQ(p.out->BufferCount(), 0);
        p.out->Close();
    }
}

TEST_F(Playback, DropsChunksWhileClosedOrEmpty)
{
    Player p(0);
    const auto bytes = Chunk(10, 1);
    p.out->Play(bytes.data(), 10); // never opened
    p.out->Open(MpegLayer3Format());
    p.out->Play(bytes.data(), 0);
    p.out->Play(bytes.data(), -5);
    EXPECT_EQ(p.out->BufferCount(), 0);
    p.out->Close();
    p.out->Play(bytes.data(), 10); // after Close
    EXPECT_EQ(p.out->BufferCount(), 0);
    EXPECT_TRUE(scripted::OutputQueue().empty());
}

TEST_F(Playback, OpensTheDeviceByFormatTagAndIgnoresOpenWhileOpen)
{
    const struct {
        uint16_t tag;
        UINT device;
        DWORD flags;
    } cases[] = {{WAVE_FORMAT_PCM, WAVE_MAPPER, CALLBACK_WINDOW}, {WAVE_FORMAT_MPEGLAYER3, 0, CALLBACK_WINDOW | WAVE_MAPPED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        TACMOut out(nullptr);
        out.Open(WithTag(c.tag));
        ASSERT_TRUE(out.Active());
        const scripted::OpenCall call = scripted::LastOutputOpen();
        EXPECT_EQ(call.deviceId, c.device);
        EXPECT_EQ(call.flags, c.flags);
        EXPECT_EQ(call.format.wfx.wFormatTag, c.tag);
        out.NumBuffers = 9;
        out.Open(WithTag(c.tag == WAVE_FORMAT_PCM ? WAVE_FORMAT_MPEGLAYER3 : WAVE_FORMAT_PCM));
        EXPECT_EQ(out.WaveFormat().wfx.wFormatTag, c.tag);
        EXPECT_EQ(out.HoldCount(), 4);
    }
}

TEST_F(Playback, CloseStopsAtOnceFreesEverythingAndIgnoresLateNotificationsAfterTheNextOpen)
{
    Player p(1);
    p.out->Open(MpegLayer3Format());
    p.Play(Chunk(100, 1));
    p.Play(Chunk(100, 2));
    p.Play(Chunk(100, 3));
    scripted::HoldNotifications();
    ASSERT_TRUE(scripted::Play()); // its notification waits
    p.out->Close();
    EXPECT_FALSE(p.out->Active());
    EXPECT_EQ(p.out->BufferCount(), 0);
    EXPECT_EQ(p.out->HeldCount(), 0);
    EXPECT_EQ(p.out->DeviceHandle(), nullptr);
    EXPECT_FALSE(scripted::OutputOpen());

    p.out->Open(MpegLayer3Format()); // holds one again
    EXPECT_EQ(p.out->HoldCount(), 1);
    const auto fresh = Chunk(100, 9);
    p.Play(fresh);
    p.Play(fresh);
    scripted::ReleaseNotifications(); // late: for freed (or reused) headers
    Pump(50);
    EXPECT_TRUE(p.played.empty());
    EXPECT_EQ(p.out->BufferCount(), 2);
    EXPECT_EQ(scripted::OutputQueue().size(), 2u);
    while (scripted::Play()) {
    }
    ASSERT_TRUE(WaitFor([&] { return p.played.size() == 2; }));
    EXPECT_EQ(p.out->BufferCount(), 0);
}

TEST_F(Playback, ClosingWhileHoldingFreesBuffersNeverPrepared)
{
    Player p(4);
    p.out->Open(MpegLayer3Format());
    for (uint8_t i = 0; i < 4; ++i)
        p.Play(Chunk(50, i));
    p.out->Close();
    EXPECT_EQ(p.out->BufferCount(), 0);
    for (const std::string& call : scripted::Calls())
        EXPECT_NE(call, "waveOutPrepareHeader");
}

// A write that fails part-way through the held buffers: each buffer leaves the
// held list as it goes to the device, so none is written twice and the rest,
// the new chunk included, follow with the next Play.
TEST_F(Playback, AFailedWriteOfHeldBuffersWritesNoneTwice)
{
    const struct {
        const char* function;
        const char* message;
    } cases[] = {
        {"waveOutWrite", "WaveOut-Write The specified handle is invalid."},
        {"waveOutPrepareHeader", "WaveOut-PrepareHeader The specified handle is invalid."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        Player p(2);
        p.out->Open(MpegLayer3Format());
        const auto a = Chunk(10, 1), b = Chunk(10, 2), nw = Chunk(10, 3), d = Chunk(10, 4);
        p.Play(a);
        p.Play(b);
        mmfault::Fail(c.function, MMSYSERR_INVALHANDLE, 1); // the second buffer fails
        try {
            p.Play(nw);
            ADD_FAILURE() << "Play did not raise";
        } catch (const EACMOut& e) {
            EXPECT_EQ(e.Message, c.message);
        }
        EXPECT_EQ(p.Written(), (std::vector<std::vector<uint8_t>>{a}));
        EXPECT_EQ(p.out->HeldCount(), 1);
        p.Play(d);
        EXPECT_EQ(p.Written(), (std::vector<std::vector<uint8_t>>{a, nw, d}));
        EXPECT_EQ(p.out->BufferCount(), 4); // the failed one is freed at Close
        while (scripted::Play()) {
        }
        ASSERT_TRUE(WaitFor([&] { return p.played.size() == 3; }));
        EXPECT_EQ(p.out->BufferCount(), 1);
        p.out->Close();
        EXPECT_EQ(p.out->BufferCount(), 0);
    }
}

// More than four seconds of sound waiting at the device: new chunks are
// dropped until the device catches up.
TEST_F(Playback, ChunksBeyondFourSecondsQueuedAreDropped)
{
    Player p(0);
    p.out->Open(MpegLayer3Format()); // 1000 bytes per second
    for (uint8_t i = 0; i < 8; ++i)
        p.Play(Chunk(1000, i));
    // 4000 bytes queued is not beyond the bound; 5000 is.
    ASSERT_EQ(scripted::OutputQueue().size(), 5u);
    EXPECT_EQ(p.out->QueuedBytes(), 5000u);
    EXPECT_EQ(p.out->BufferCount(), 5);

    ASSERT_TRUE(scripted::Play());
    ASSERT_TRUE(WaitFor([&] { return p.played.size() == 1; }));
    EXPECT_EQ(p.out->QueuedBytes(), 4000u);
    p.Play(Chunk(1000, 20));
    p.Play(Chunk(1000, 21));
    const auto written = p.Written();
    ASSERT_EQ(written.size(), 5u);
    EXPECT_EQ(written.back(), Chunk(1000, 20));
    p.out->Close();
    EXPECT_EQ(p.out->QueuedBytes(), 0u);
}

TEST_F(Playback, AFailedUnprepareIsReportedAndTheBufferIsFreedAtClose)
{
    BoxWatcher boxes;
    Player p(0);
    p.out->Open(MpegLayer3Format());
    p.Play(Chunk(10, 1));
    mmfault::Fail("waveOutUnprepareHeader", MMSYSERR_INVALHANDLE);
    ASSERT_TRUE(scripted::Play());
    ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }));
    EXPECT_EQ(boxes.texts[0], "WaveOut-UnprepareHeader The specified handle is invalid.");
    EXPECT_EQ(p.played.size(), 1u);
    EXPECT_EQ(p.out->BufferCount(), 1);
    p.out->Close();
    EXPECT_EQ(p.out->BufferCount(), 0);
}

TEST_F(Playback, TheHandlerMayCloseOrDestroyTheComponent)
{
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy);
        auto out = std::make_unique<TACMOut>(nullptr);
        out->NumBuffers = 0;
        int calls = 0;
        out->OnBufferPlayed = TBufferPlayedEvent("Played", [&](TObject*, PWaveHdr) {
            ++calls;
            if (destroy)
                out.reset();
            else
                out->Close();
        });
        out->Open(MpegLayer3Format());
        const auto bytes = Chunk(10, 1);
        out->Play(bytes.data(), 10);
        out->Play(bytes.data(), 10);
        ASSERT_TRUE(scripted::Play());
        ASSERT_TRUE(scripted::Play());
        ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
        Pump(20);
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(scripted::OutputOpen());
        if (out) {
            EXPECT_EQ(out->BufferCount(), 0);
        }
    }
}
