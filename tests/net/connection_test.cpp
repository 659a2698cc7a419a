// Established connections: counting and refusing on the server, hang-up and
// disposal, send and receive without waiting, failures and re-entry.
#include "socket_fixture.h"
#include "sockerr.h"

#include <QEventLoop>
#include <QTimer>

#include <unistd.h>

TEST_F(SocketTest, ASecondAcceptedConnectionIsCountedAndCanBeClosedInItsConnectEvent)
{
    std::vector<int> counts;
    onServerConnect = [&](TCustomWinSocket* s) {
        counts.push_back(server->Socket()->ActiveConnections());
        if (server->Socket()->ActiveConnections() >= 2)
            s->Close();
    };
    server->SetPort(kPort);
    server->SetActive(true);
    const int first = RawConnect(kPort);
    ASSERT_TRUE(WaitFor([&] { return counts.size() == 1; }));
    const int second = RawConnect(kPort);
    ASSERT_TRUE(WaitFor([&] { return seen("server disconnect"); }));
    EXPECT_EQ(counts, (std::vector<int>{1, 2}));
    EXPECT_EQ(events, (std::vector<std::string>{"server connect", "server connect", "server disconnect"}));

    char byte;
    EXPECT_EQ(read(second, &byte, 1), 0) << "the refused caller sees the connection end";
    ASSERT_TRUE(WaitFor([&] { return server->Socket()->ActiveConnections() == 1; }));
    EXPECT_TRUE(server->Socket()->Connections(0)->Connected());
    close(first);
    close(second);
}

TEST_F(SocketTest, AHangUpRaisesDisconnectAndTheAcceptedConnectionIsDisposed)
{
    TCustomWinSocket* accepted = connectPair();
    ASSERT_NE(accepted, nullptr);
    std::weak_ptr<TCustomWinSocket> peer = accepted->weak_from_this();
    bool connectedDuringEvent = false, aliveDuringEvent = false;
    server->OnClientDisconnect = TSocketNotifyEvent("d", [&](TObject*, TCustomWinSocket* s) {
        events.push_back("server disconnect");
        connectedDuringEvent = s->Connected();
        aliveDuringEvent = !peer.expired();
    });

    client->SetActive(false); // the client hangs up: its own disconnect first
    EXPECT_EQ(events.back(), "client disconnect");
    EXPECT_FALSE(client->Socket()->Connected());
    ASSERT_TRUE(WaitFor([&] { return seen("server disconnect"); }));
    EXPECT_TRUE(connectedDuringEvent);
    EXPECT_TRUE(aliveDuringEvent);

    ASSERT_TRUE(WaitFor([&] { return peer.expired(); })) << "disposed through the event loop";
    EXPECT_EQ(server->Socket()->ActiveConnections(), 0);
    EXPECT_EQ(count("server disconnect"), 1);
    EXPECT_EQ(count("client disconnect"), 1);
}

TEST_F(SocketTest, SendAndReceiveNeverWait)
{
    TClientWinSocket* idle = client->Socket();
    char buffer[16];
    EXPECT_EQ(idle->SendBuf("x", 1), 0) << "not connected";
    EXPECT_EQ(idle->ReceiveBuf(buffer, sizeof buffer), 0);
    EXPECT_EQ(idle->ReceiveLength(), 0);

    TCustomWinSocket* accepted = connectPair();
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->ReceiveBuf(buffer, sizeof buffer), -1) << "nothing there";
    EXPECT_EQ(accepted->SendBuf("", 0), 0);

    EXPECT_EQ(client->Socket()->SendBuf("abc", 3), 3);
    ASSERT_TRUE(WaitFor([&] { return accepted->ReceiveLength() == 3; }));
    EXPECT_EQ(accepted->ReceiveBuf(buffer, 2), 2);
    EXPECT_EQ(accepted->ReceiveLength(), 1);
    EXPECT_EQ(accepted->ReceiveBuf(buffer + 2, 8), 1);
    EXPECT_EQ(std::string(buffer, 3), "abc");

    // The client reads nothing: the send buffers fill until a send would block.
    const std::string block(65536, 'v');
    long taken = 0;
    int r = 0;
    for (int i = 0; i < 1000 && (r = accepted->SendBuf(block.data(), int(block.size()))) > 0; ++i)
        taken += r;
    EXPECT_EQ(r, -1);
    EXPECT_GT(taken, 0);
    EXPECT_TRUE(accepted->Connected());
    EXPECT_TRUE(errors("server").empty()) << "would-block is never reported";
}

// The caller resets the connection; the server's connection is left to fail.
class BrokenConnectionTest : public SocketTest {
protected:
    TCustomWinSocket* brokenConnection()
    {
        server->SetPort(kPort);
        server->SetActive(true);
        const int raw = RawConnect(kPort);
        EXPECT_TRUE(WaitFor([&] { return seen("server connect"); }));
        ResetAndClose(raw);
        // The reset arrives as a close carrying an error; the connection stays marked connected.
        EXPECT_TRUE(WaitFor([&] { return !errors("server").empty(); }));
        EXPECT_EQ(errors("server"), std::vector<std::string>{"disconnect 10054"});
        TCustomWinSocket* accepted = server->Socket()->Connections(0);
        EXPECT_TRUE(accepted && accepted->Connected());
        events.clear();
        return accepted;
    }
};

TEST_F(BrokenConnectionTest, AFailedSendWithTheCodeClearedClosesAndReturnsMinusOne)
{
    TCustomWinSocket* accepted = brokenConnection();
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->SendBuf("voice", 5), -1);
    EXPECT_EQ(events, (std::vector<std::string>{"server error send 10053", "server disconnect"}));
    EXPECT_FALSE(accepted->Connected());
    EXPECT_EQ(accepted->SendBuf("voice", 5), 0) << "closed: nothing sent";
}

TEST_F(BrokenConnectionTest, AFailedSendWithTheCodeLeftRaisesAfterClosing)
{
    TCustomWinSocket* accepted = brokenConnection();
    ASSERT_NE(accepted, nullptr);
    onError = [](TCustomWinSocket*, TErrorEvent, int&) {};
    try {
        accepted->SendBuf("voice", 5);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Windows socket error: Broken pipe (10053), on API 'send'");
    }
    EXPECT_EQ(events, (std::vector<std::string>{"server error send 10053", "server disconnect"}));
    EXPECT_FALSE(accepted->Connected());
}

// An error box runs a nested loop; meanwhile the relay sends on the same
// connection again. That send fails quietly (one box per failure, not one per
// second), and the close that follows the box ends the connection once.
TEST_F(BrokenConnectionTest, ASendFromInsideTheErrorBoxOfAFailedSendIsSafe)
{
    TCustomWinSocket* accepted = brokenConnection();
    ASSERT_NE(accepted, nullptr);
    std::weak_ptr<TCustomWinSocket> peer = accepted->weak_from_this();
    int depth = 0, innerResult = 99;
    bool connectedInBox = false;
    onError = [&](TCustomWinSocket* s, TErrorEvent, int& code) {
        if (++depth == 1) {
            QTimer::singleShot(20, [&, s] {
                innerResult = s->SendBuf("again", 5);
                connectedInBox = s->Connected();
            });
            QEventLoop box; // as a modal error box would
            QTimer::singleShot(150, &box, &QEventLoop::quit);
            box.exec();
        }
        code = 0;
    };

    const int outerResult = accepted->SendBuf("voice", 5);
    EXPECT_EQ(innerResult, -1);
    EXPECT_TRUE(connectedInBox) << "closed only once the box is gone";
    EXPECT_EQ(outerResult, -1);
    EXPECT_EQ(errors("server").size(), 1u);
    EXPECT_EQ(count("server disconnect"), 1);
    EXPECT_TRUE(WaitFor([&] { return peer.expired(); }));
}
