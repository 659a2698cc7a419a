// The scripted device keeps the header rules of the real devices and hands
// buffers back only when told, in queue order, through the owner's window.
#include "scripted.h"

#include "box_watcher.h"
#include "mmfault.h"
#include "wave_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Msg {
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};

class ScriptedTest : public testing::Test {
protected:
    void SetUp() override
    {
        scripted::Install();
        window = AllocateHWnd([this](TMessage& m) { got.push_back({m.Msg, m.WParam, m.LParam}); });
    }
    void TearDown() override
    {
        DeallocateHWnd(window);
        scripted::Uninstall();
        mmfault::Clear();
    }
    // The buffer notifications seen so far, MM_WxM_OPEN/CLOSE left out.
    std::vector<Msg> Done(UINT kind)
    {
        std::vector<Msg> r;
        for (const Msg& m : got)
            if (m.msg == kind)
                r.push_back(m);
        return r;
    }
    WAVEHDR Header(std::vector<char>& data)
    {
        WAVEHDR h{};
        h.lpData = data.data();
        h.dwBufferLength = static_cast<DWORD>(data.size());
        return h;
    }

    HWND window = 0;
    std::vector<Msg> got;
    TWaveFormatRecord pcm = SpeechPcmFormat();
    TWaveFormatRecord mp3 = MpegLayer3Format();
};

TEST_F(ScriptedTest, OutputHeaderRules)
{
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, 0, &mp3.wfx, window, 0, CALLBACK_WINDOW | WAVE_MAPPED), MMSYSERR_NOERROR);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(scripted::OutputOpen());
    const scripted::OpenCall call = scripted::LastOutputOpen();
    EXPECT_EQ(call.deviceId, 0u);
    EXPECT_EQ(call.flags, CALLBACK_WINDOW | WAVE_MAPPED);
    EXPECT_EQ(call.window, window);
    EXPECT_EQ(std::memcmp(&call.format, &mp3, sizeof mp3), 0);

    std::vector<char> a(100), b(50);
    WAVEHDR ha = Header(a), hb = Header(b);
    EXPECT_EQ(waveOutWrite(out, &ha, sizeof ha), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutPrepareHeader(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    EXPECT_EQ(ha.dwFlags, WHDR_PREPARED);
    EXPECT_EQ(waveOutPrepareHeader(out, &hb, sizeof hb), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(out, &hb, sizeof hb), MMSYSERR_NOERROR);
    EXPECT_EQ(ha.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(waveOutWrite(out, &ha, sizeof ha), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(out, &ha, sizeof ha), WAVERR_STILLPLAYING);
    EXPECT_EQ(scripted::OutputQueue(), (std::vector<WAVEHDR*>{&ha, &hb}));

    EXPECT_TRUE(scripted::Play());
    EXPECT_EQ(ha.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(scripted::OutputQueue(), (std::vector<WAVEHDR*>{&hb}));
    ASSERT_TRUE(WaitFor([&] { return Done(MM_WOM_DONE).size() == 1; }));
    EXPECT_EQ(Done(MM_WOM_DONE)[0].wparam, reinterpret_cast<WPARAM>(out));
    EXPECT_EQ(Done(MM_WOM_DONE)[0].lparam, reinterpret_cast<LPARAM>(&ha));
    EXPECT_EQ(waveOutUnprepareHeader(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    EXPECT_EQ(ha.dwFlags, WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(out, &ha, sizeof ha), MMSYSERR_NOERROR); // again: harmless

    // Close refuses while a buffer is queued; reset hands it back first.
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(scripted::OutputQueue().empty());
    EXPECT_FALSE(scripted::Play());
    EXPECT_EQ(hb.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_FALSE(scripted::OutputOpen());
    EXPECT_EQ(waveOutUnprepareHeader(out, &hb, sizeof hb), MMSYSERR_INVALHANDLE); // after close: harmless
    ASSERT_TRUE(WaitFor([&] { return Done(MM_WOM_DONE).size() == 2; }));
    EXPECT_EQ(Done(MM_WOM_DONE)[1].lparam, reinterpret_cast<LPARAM>(&hb));
}

TEST_F(ScriptedTest, InputFillsInQueueOrderAndResetHandsBackTheRest)
{
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_TRUE(scripted::InputOpen());
    EXPECT_EQ(scripted::LastInputOpen().deviceId, WAVE_MAPPER);
    std::vector<char> d1(8), d2(8), d3(8);
    WAVEHDR h[3] = {Header(d1), Header(d2), Header(d3)};
    EXPECT_EQ(waveInAddBuffer(in, &h[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    for (WAVEHDR& x : h) {
        ASSERT_EQ(waveInPrepareHeader(in, &x, sizeof x), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(in, &x, sizeof x), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);

    const char bytes[12] = "abcdefghijk";
    EXPECT_TRUE(scripted::Record(bytes, 12)); // more than fits: 8 kept
    EXPECT_TRUE(scripted::Record(bytes, 3));
    EXPECT_EQ(h[0].dwBytesRecorded, 8u);
    EXPECT_EQ(std::string(d1.data(), 8), "abcdefgh");
    EXPECT_EQ(h[1].dwBytesRecorded, 3u);
    EXPECT_EQ(h[1].dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(scripted::InputQueue(), (std::vector<WAVEHDR*>{&h[2]}));

    // Requeued buffers start empty again.
    ASSERT_EQ(waveInAddBuffer(in, &h[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(h[0].dwBytesRecorded, 0u);
    EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_FALSE(scripted::Record(bytes, 1));
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitFor([&] { return Done(MM_WIM_DATA).size() == 4; }));
    const std::vector<Msg> done = Done(MM_WIM_DATA);
    const WAVEHDR* order[] = {&h[0], &h[1], &h[2], &h[0]};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(done[i].lparam, reinterpret_cast<LPARAM>(order[i])) << i;
}

TEST_F(ScriptedTest, HeldNotificationsArriveLateAndInOrder)
{
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<char> a(4), b(4);
    WAVEHDR ha = Header(a), hb = Header(b);
    for (WAVEHDR* x : {&ha, &hb}) {
        waveOutPrepareHeader(out, x, sizeof(WAVEHDR));
        waveOutWrite(out, x, sizeof(WAVEHDR));
    }
    scripted::HoldNotifications();
    EXPECT_TRUE(scripted::Play());
    EXPECT_TRUE(scripted::Play());
    Pump(50);
    EXPECT_TRUE(Done(MM_WOM_DONE).empty());
    scripted::ReleaseNotifications();
    ASSERT_TRUE(WaitFor([&] { return Done(MM_WOM_DONE).size() == 2; }));
    EXPECT_EQ(Done(MM_WOM_DONE)[0].lparam, reinterpret_cast<LPARAM>(&ha));
    EXPECT_EQ(Done(MM_WOM_DONE)[1].lparam, reinterpret_cast<LPARAM>(&hb));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(scripted::Calls(),
              (std::vector<std::string>{"waveOutOpen", "waveOutPrepareHeader", "waveOutWrite", "waveOutPrepareHeader",
                                        "waveOutWrite", "waveOutClose"}));
}

TEST_F(ScriptedTest, InjectedFailuresAndRefusedOpens)
{
    HWAVEIN in = reinterpret_cast<HWAVEIN>(uintptr_t{7});
    mmfault::Fail("waveInOpen", MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_ALLOCATED);
    EXPECT_EQ(in, reinterpret_cast<HWAVEIN>(uintptr_t{7})) << "handle written on success only";
    EXPECT_FALSE(scripted::InputOpen());
    EXPECT_EQ(scripted::LastInputOpen().window, window);

    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &pcm.wfx, window, 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    std::vector<char> a(4);
    WAVEHDR ha = Header(a);
    ASSERT_EQ(waveOutPrepareHeader(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    mmfault::Fail("waveOutWrite", MMSYSERR_NOMEM);
    EXPECT_EQ(waveOutWrite(out, &ha, sizeof ha), MMSYSERR_NOMEM);
    EXPECT_TRUE(scripted::OutputQueue().empty());
    EXPECT_EQ(waveOutWrite(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);

    const HWAVEOUT stale = out;
    EXPECT_EQ(waveOutWrite(stale, &ha, sizeof ha), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(stale), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(stale), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(nullptr), MMSYSERR_INVALHANDLE);

    struct Case {
        UINT device;
        uint16_t tag;
        DWORD flags;
        MMRESULT want;
    } cases[] = {
        {0, WAVE_FORMAT_MPEGLAYER3, CALLBACK_WINDOW, WAVERR_BADFORMAT}, // compressed needs the mapper
        {0, 0x0002, CALLBACK_WINDOW | WAVE_MAPPED, WAVERR_BADFORMAT},   // no decoder for the tag
        {5, WAVE_FORMAT_PCM, CALLBACK_WINDOW, MMSYSERR_BADDEVICEID},
        {WAVE_MAPPER, WAVE_FORMAT_PCM, 0x00030000, MMSYSERR_INVALFLAG}, // callback function: not offered
    };
    for (const Case& c : cases) {
        TWaveFormatRecord f = c.tag == WAVE_FORMAT_MPEGLAYER3 ? mp3 : pcm;
        f.wfx.wFormatTag = c.tag;
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, c.device, &f.wfx, window, 0, c.flags), c.want) << c.tag << " " << c.flags;
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_FALSE(scripted::OutputOpen());
}

} // namespace
