// The main window in-process, on the offscreen platform, in a private network
// namespace (it listens on port 2000), with the scripted sound device and the
// real encoder. The far side is plain TCP on loopback.
#include "Unit1.h"
#include "box_watcher.h"
#include "formfile.h"
#include "mmfault.h"
#include "raw_tcp.h"
#include "scripted.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <cmath>
#include <vector>

namespace {

// One second of a voiced test signal, 8000 Hz 16-bit mono.
std::vector<int16_t> toneSecond()
{
    std::vector<int16_t> s(8000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int16_t(6000 * std::sin(2 * M_PI * 220 * double(i) / 8000) + 2000 * std::sin(2 * M_PI * 660 * double(i) / 8000));
    return s;
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        scripted::Install();
        RegisterMainformClasses();
    }
    void TearDown() override
    {
        delete window;
        Mainform = nullptr;
        for (int fd : fds)
            RawClose(fd);
        Pump(20);
        mmfault::Clear();
        scripted::Uninstall();
    }
    void open()
    {
        Application->CreateForm(window);
        Mainform = window;
    }
    int track(int fd)
    {
        fds.push_back(fd);
        return fd;
    }
    // A caller on port 2000 that the window has taken.
    int connectedCaller()
    {
        const int fd = track(RawConnect(2000));
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(WaitFor([&] { return status() == "Connected"; }));
        return fd;
    }
    // A call from the window to a plain listener on port 2001, taken there;
    // returns the far end, or -1 when the call did not come up.
    int callOut()
    {
        const int listener = track(RawListen(2001));
        call("127.0.0.1", "2001");
        int far = -1;
        if (!WaitFor([&] { return (far = RawAccept(listener)) >= 0; }))
            return -1;
        track(far);
        return WaitFor([&] { return status() == "Connected"; }) ? far : -1;
    }
    void call(const std::string& host, const std::string& port)
    {
        window->Host->SetText(host);
        window->Port->SetText(port);
        window->Connect->Click();
    }
    std::string status() const { return window->Status->Caption(); }
    bool connectEnabled() const { return window->Connect->Enabled(); }

    TMainform* window = nullptr;
    std::vector<int> fds;
    BoxWatcher boxes;
};

} // namespace

TEST_F(WindowTest, StartsFromItsStoredFormReadyForACall)
{
    open();
    EXPECT_EQ(window->Caption(), "Vocora");
    EXPECT_EQ(window->Host->Text(), "");
    EXPECT_EQ(window->Port->Text(), "2000");
    EXPECT_TRUE(connectEnabled());
    EXPECT_EQ(status(), "Disconnected");
    EXPECT_EQ(window->Widget()->windowTitle(), "Vocora");

    const std::vector<std::pair<std::string, std::string>> stored = {
        {"Label1", "TLabel"}, {"Label2", "TLabel"},   {"Label3", "TLabel"},        {"Status", "TLabel"},
        {"Host", "TEdit"},    {"Port", "TEdit"},      {"Connect", "TButton"},      {"ACMCIn", "TACMConvertor"},
        {"ACMIn", "TACMIn"},  {"ACMOut", "TACMOut"},  {"Client", "TClientSocket"}, {"Server", "TServerSocket"},
        {"ACMCOut", "TACMConvertor"}};
    ASSERT_EQ(window->ComponentCount(), int(stored.size()));
    for (int i = 0; i < window->ComponentCount(); ++i) {
        EXPECT_EQ(window->Components(i)->Name(), stored[size_t(i)].first);
        EXPECT_EQ(ComponentClassName(*window->Components(i)), stored[size_t(i)].second);
    }
    EXPECT_EQ(window->Connect->Widget()->geometry(), QRect(8, 64, 169, 25));
    EXPECT_EQ(window->Status->Widget()->geometry(), QRect(48, 104, 129, 13));
    EXPECT_FALSE(window->Status->AutoSize());

    // The formats come from the stored blocks; ACMCOut holds them swapped.
    // (Packed fields are compared by value: +field.)
    EXPECT_EQ(+window->ACMCIn->FormatIn.wfx.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(+window->ACMCIn->FormatOut.wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(+window->ACMCOut->FormatIn.nBlockSize, 72);
    EXPECT_EQ(+window->ACMCOut->FormatOut.wfx.nAvgBytesPerSec, 16000u);
    EXPECT_TRUE(window->ACMCOut->UseRealTime());
    EXPECT_FALSE(window->ACMCOut->Active());
    EXPECT_EQ(window->ACMOut->NumBuffers, 4);

    // Start-up made capture and encoding one second a buffer.
    EXPECT_EQ(window->ACMCIn->InputBufferSize(), 16000u);
    EXPECT_TRUE(window->ACMCIn->Active());
    EXPECT_EQ(window->ACMIn->BufferSize(), 16000u);
    EXPECT_EQ(window->ACMIn->NumBuffers(), 2);
    ASSERT_TRUE(scripted::InputOpen());
    EXPECT_EQ(+scripted::LastInputOpen().format.wfx.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(scripted::InputQueue().size(), 2u);
    EXPECT_FALSE(window->ACMOut->Active());
    EXPECT_TRUE(boxes.texts.empty());

    // Listening already: a caller is taken.
    connectedCaller();
    EXPECT_FALSE(connectEnabled());
}

TEST_F(WindowTest, AStoredFormWrittenAndReadBackIsUnchanged)
{
    open();
    const std::string written = WriteComponentText(*window);
    delete window;
    window = nullptr;
    TMainform again(nullptr);
    RegisterMainformClasses();
    TReader(again).ReadRootComponent(written);
    EXPECT_EQ(WriteComponentText(again), written);
}

TEST_F(WindowTest, CallsAHostAndShowsTheCallUp)
{
    open();
    const int far = callOut();
    ASSERT_GE(far, 0);
    EXPECT_FALSE(connectEnabled());
    EXPECT_EQ(window->Peer(), window->Client->Socket());

    // The far end hangs up.
    RawClose(far);
    fds.pop_back();
    ASSERT_TRUE(WaitFor([&] { return status() == "Disconnected"; }));
    EXPECT_TRUE(connectEnabled());
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(WindowTest, CallFailuresShowOneBoxEachAndLeaveTheWindowWaiting)
{
    struct Case {
        const char* host;
        const char* port;
        std::string box;
    };
    const Case cases[] = {
        {"127.0.0.1", "2009", "ErrorCode: 10061"}, // nobody listens
        {"", "2000", "ErrorCode: 1110"},            // no host
        {"127.0.0.1", "abc", "'abc' is not a valid integer value"},
        {"127.0.0.1", "-1", "'-1' is not a valid port number (1 to 65535)"},
        {"127.0.0.1", "70000", "'70000' is not a valid port number (1 to 65535)"},
    };
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        boxes.texts.clear();
        call(c.host, c.port);
        ASSERT_TRUE(WaitFor([&] { return !boxes.texts.empty(); }));
        Pump(100);
        EXPECT_EQ(boxes.texts, std::vector<std::string>{c.box});
        EXPECT_EQ(status(), "Disconnected");
        EXPECT_TRUE(connectEnabled());
        EXPECT_EQ(window->Client->Host(), c.host); // stored even when the port is refused
        EXPECT_FALSE(window->Client->Active());
    }
    // Another click tries again.
    boxes.texts.clear();
    call("127.0.0.1", "2009");
    ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }));
    EXPECT_EQ(boxes.texts[0], "ErrorCode: 10061");
}

TEST_F(WindowTest, KeepsOnePeerAndRefusesASecondCallerWithoutTouchingTheDisplay)
{
    open();
    const int first = connectedCaller();
    const int second = track(RawConnect(2000));
    ASSERT_TRUE(WaitFor([&] { return RawClosedByPeer(second, 0); }));
    Pump(100);
    EXPECT_EQ(status(), "Connected");
    EXPECT_FALSE(connectEnabled());
    EXPECT_FALSE(RawClosedByPeer(first, 0));

    // The first still gets the captured sound.
    const auto tone = toneSecond();
    ASSERT_TRUE(scripted::Record(tone.data(), DWORD(tone.size() * 2)));
    std::string got;
    ASSERT_TRUE(WaitFor([&] {
        got += RawRead(first, 0);
        return !got.empty();
    }));

    // After the first hangs up, a new caller is taken.
    RawClose(first);
    ASSERT_TRUE(WaitFor([&] { return status() == "Disconnected"; }));
    connectedCaller();
}

TEST_F(WindowTest, AnIncomingCallWhileCallingOutIsTakenAndBecomesThePeer)
{
    open();
    const int far = callOut();
    ASSERT_GE(far, 0);
    const int incoming = connectedCaller();
    ASSERT_TRUE(WaitFor([&] { return window->Peer() != window->Client->Socket(); }));
    EXPECT_TRUE(window->Client->Socket()->Connected());

    // Captured sound goes to the incoming connection only.
    const auto tone = toneSecond();
    ASSERT_TRUE(scripted::Record(tone.data(), DWORD(tone.size() * 2)));
    std::string got;
    ASSERT_TRUE(WaitFor([&] {
        got += RawRead(incoming, 0);
        return !got.empty();
    }));
    Pump(100);
    EXPECT_EQ(RawRead(far, 0), "");
}

TEST_F(WindowTest, SendsEachCapturedSecondAsRawMpegLayer3)
{
    open();
    const int far = connectedCaller();
    const auto tone = toneSecond();
    std::string wire;
    for (int second = 0; second < 3; ++second) {
        ASSERT_TRUE(scripted::Record(tone.data(), DWORD(tone.size() * 2)));
        Pump(50);
    }
    ASSERT_TRUE(WaitFor([&] {
        wire += RawRead(far, 0);
        return wire.size() >= 2000;
    }));
    // Nothing but frames: the stream opens on a frame header, no greeting.
    ASSERT_GE(wire.size(), 4u);
    EXPECT_EQ(uint8_t(wire[0]), 0xFF);
    EXPECT_EQ(uint8_t(wire[1]), 0xE3);
    EXPECT_NEAR(double(wire.size()), 3000.0, 400.0);
    // The capture ring keeps going.
    EXPECT_EQ(scripted::InputQueue().size(), 2u);
}

TEST_F(WindowTest, EncodesWithoutAPeerAndSendsNothing)
{
    open();
    const auto tone = toneSecond();
    for (int second = 0; second < 3; ++second) {
        ASSERT_TRUE(scripted::Record(tone.data(), DWORD(tone.size() * 2)));
        Pump(30);
    }
    EXPECT_EQ(scripted::InputQueue().size(), 2u);
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(WindowTest, PlaysWhatArrivesOnTheFirstReadOpeningPlaybackForMpegLayer3)
{
    open();
    const int far = connectedCaller();
    RawWrite(far, std::string(500, '\x11'));
    ASSERT_TRUE(WaitFor([&] { return window->ACMOut->Active(); }));
    EXPECT_EQ(window->ACMOut->NumBuffers, 0);
    const auto opened = scripted::LastOutputOpen();
    EXPECT_EQ(+opened.format.wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(opened.deviceId, 0u);
    EXPECT_EQ(opened.flags, CALLBACK_WINDOW | WAVE_MAPPED);
    size_t written = 0;
    ASSERT_TRUE(WaitFor([&] {
        written = 0;
        for (WAVEHDR* h : scripted::OutputQueue())
            written += h->dwBufferLength;
        return written == 500;
    }));

    // After the peer leaves and another calls, the same playback serves it.
    RawClose(far);
    fds.erase(std::find(fds.begin(), fds.end(), far));
    ASSERT_TRUE(WaitFor([&] { return status() == "Disconnected"; }));
    const int next = connectedCaller();
    RawWrite(next, std::string(300, '\x22'));
    ASSERT_TRUE(WaitFor([&] {
        written = 0;
        for (WAVEHDR* h : scripted::OutputQueue())
            written += h->dwBufferLength;
        return written == 800;
    }));
    const auto calls = scripted::Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "waveOutOpen"), 1);
}

TEST_F(WindowTest, APeerThatIsGoneIsNoPeer)
{
    open();
    const int far = connectedCaller();
    RawClose(far);
    fds.clear();
    ASSERT_TRUE(WaitFor([&] { return window->Peer() == nullptr; }));
    const auto tone = toneSecond();
    ASSERT_TRUE(scripted::Record(tone.data(), DWORD(tone.size() * 2)));
    Pump(50);
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(WindowTest, WithoutAnEncoderTheWindowStillOpensPlaysAndSendsNothing)
{
    mmfault::Fail("acmStreamOpen", ACMERR_NOTPOSSIBLE);
    open();
    ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }));
    EXPECT_EQ(boxes.texts[0], "acmStreamOpen: The requested operation cannot be performed.");
    EXPECT_FALSE(window->ACMCIn->Active());
    EXPECT_FALSE(scripted::InputOpen()); // capture never started
    const int far = connectedCaller();
    RawWrite(far, std::string(100, '\x33'));
    ASSERT_TRUE(WaitFor([&] { return window->ACMOut->Active(); }));
}

TEST_F(WindowTest, ClosingStopsCaptureAndEncodingOnly)
{
    open();
    const int far = connectedCaller();
    RawWrite(far, std::string(100, '\x33'));
    ASSERT_TRUE(WaitFor([&] { return window->ACMOut->Active(); }));
    window->Close();
    Pump(20);
    EXPECT_FALSE(window->ACMCIn->Active());
    EXPECT_FALSE(scripted::InputOpen());
    EXPECT_TRUE(window->ACMOut->Active());
    EXPECT_FALSE(RawClosedByPeer(far, 0));
}

TEST_F(WindowTest, EveryCaptionFitsItsControl)
{
    open();
    for (TLabel* label : {window->Label1, window->Label2, window->Label3, window->Status}) {
        const QSize need = label->Widget()->sizeHint();
        EXPECT_LE(need.width(), label->Widget()->width()) << label->Name();
        EXPECT_LE(need.height(), label->Widget()->height() + 2) << label->Name();
        // Nothing runs past the window's right edge (177 = 8 + 169).
        EXPECT_LE(label->Widget()->geometry().right(), 177) << label->Name();
    }
    window->Status->SetCaption("Connected");
    EXPECT_LE(window->Status->Widget()->sizeHint().width(), 129);
    EXPECT_LE(window->Connect->Widget()->sizeHint().width(), 169);
    // Labels end before the fields begin.
    EXPECT_LT(window->Label1->Widget()->geometry().right(), window->Host->Left());
    EXPECT_LT(window->Label2->Widget()->geometry().right(), window->Port->Left());
    EXPECT_LT(window->Label3->Widget()->geometry().right(), window->Status->Left());
}
