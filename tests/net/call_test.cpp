// Calls from the client component: connecting by address and by name, the
// failures a call can meet, and the values locked while a call is up.
#include "socket_fixture.h"
#include "sockerr.h"

#include <set>

class CallTest : public SocketTest, public testing::WithParamInterface<const char*> {};

TEST_P(CallTest, ConnectsWithoutBlockingAndCarriesBytesBothWays)
{
    std::vector<int> countsAtConnect;
    std::string atServer, atClient;
    onServerConnect = [&](TCustomWinSocket* s) {
        countsAtConnect.push_back(server->Socket()->ActiveConnections());
        EXPECT_TRUE(s->Connected());
    };
    onServerRead = [&](TCustomWinSocket* s) { atServer += ReceiveAll(s); };
    onClientRead = [&](TCustomWinSocket* s) { atClient += ReceiveAll(s); };
    server->SetPort(kPort);
    server->SetActive(true);
    client->SetHost(GetParam());
    client->SetPort(kPort);

    client->SetActive(true);
    EXPECT_TRUE(events.empty()) << "the outcome comes later, as events";
    EXPECT_FALSE(client->Active());
    ASSERT_TRUE(WaitFor([&] { return seen("client connect") && seen("server connect"); }));
    EXPECT_TRUE(client->Active());
    EXPECT_TRUE(client->Socket()->Connected());
    EXPECT_EQ(countsAtConnect, std::vector<int>{1}) << "the new connection is in the list during its event";

    EXPECT_EQ(client->Socket()->SendBuf("hello", 5), 5);
    ASSERT_TRUE(WaitFor([&] { return atServer.size() == 5; }));
    EXPECT_EQ(atServer, "hello");
    EXPECT_EQ(server->Socket()->Connections(0)->SendBuf("world!", 6), 6);
    ASSERT_TRUE(WaitFor([&] { return atClient.size() == 6; }));
    EXPECT_EQ(atClient, "world!");
    EXPECT_EQ(errors("client").size() + errors("server").size(), 0u);
    EXPECT_TRUE(boxes.texts.empty());
}

// A numeric address connects at once; a name goes through the lookup thread.
INSTANTIATE_TEST_SUITE_P(Hosts, CallTest, testing::Values("127.0.0.1", "localhost", "LocalHost"));

struct FailedCall {
    const char* name;
    const char* host;
    int port;
    const char* kind;
    std::set<int> codes;
    bool disconnect; // the call is closed with the client's disconnect event
};

class FailedCallTest : public SocketTest, public testing::WithParamInterface<FailedCall> {};

TEST_P(FailedCallTest, GivesOneErrorEventAndLeavesTheClientInactive)
{
    const FailedCall& c = GetParam();
    server->SetPort(kPort);
    server->SetActive(true); // listening, but on another port than the call's
    client->SetHost(c.host);
    client->SetPort(c.port);
    client->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return !errors("client").empty(); }));
    Pump(100);

    const auto errs = errors("client");
    ASSERT_EQ(errs.size(), 1u);
    const std::string kind = errs[0].substr(0, errs[0].find(' '));
    const int code = std::stoi(errs[0].substr(errs[0].find(' ') + 1));
    EXPECT_EQ(kind, c.kind);
    EXPECT_TRUE(c.codes.count(code)) << code;
    EXPECT_EQ(count("client disconnect"), c.disconnect ? 1 : 0);
    EXPECT_FALSE(seen("client connect"));
    EXPECT_FALSE(client->Active());
    EXPECT_FALSE(client->Socket()->Calling());
    EXPECT_TRUE(boxes.texts.empty()) << "a cleared code raises nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailedCallTest,
    testing::Values(FailedCall{"RefusedByAddress", "127.0.0.1", kPort + 1, "connect", {WSAECONNREFUSED}, false},
                    FailedCall{"RefusedByName", "localhost", kPort + 1, "connect", {WSAECONNREFUSED}, false},
                    FailedCall{"EmptyHost", "", kPort, "lookup", {SOCKET_NO_HOST}, true},
                    FailedCall{"UnknownHost", "nonexistent.invalid", kPort, "lookup",
                               {WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY, WSANO_DATA}, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(SocketTest, ARefusedCallCanBeStartedAgain)
{
    client->SetHost("127.0.0.1");
    client->SetPort(kPort);
    client->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return !errors("client").empty(); }));
    server->SetPort(kPort);
    server->SetActive(true);
    client->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return seen("client connect"); }));
    EXPECT_EQ(errors("client"), std::vector<std::string>{"connect 10061"});
}

TEST_F(SocketTest, AnUnclearedCodeGoesToTheErrorReport)
{
    onError = [](TCustomWinSocket*, TErrorEvent, int&) {};
    client->SetHost("127.0.0.1");
    client->SetPort(kPort);
    client->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return !boxes.texts.empty(); }));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Asynchronous socket error 10061"});
}

TEST_F(SocketTest, HostAndPortAreLockedWhileConnectedOnly)
{
    client->SetHost("localhost");
    client->SetHost("LOCALHOST"); // equal without regard to case: no change
    EXPECT_EQ(client->Host(), "localhost");
    client->SetHost("127.0.0.1");
    client->SetPort(kPort);
    server->SetPort(kPort);
    server->SetActive(true);
    client->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return seen("client connect"); }));

    const auto locked = [](const std::function<void()>& change) {
        try {
            change();
        } catch (const ESocketError& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    const std::string message = "Can't change value while socket is active";
    EXPECT_EQ(locked([&] { client->SetHost("127.0.0.2"); }), message);
    EXPECT_EQ(locked([&] { client->SetPort(kPort + 1); }), message);
    EXPECT_EQ(locked([&] { server->SetPort(kPort + 1); }), message);
    client->SetPort(kPort); // equal: no change, no error
    EXPECT_EQ(client->Host(), "127.0.0.1");
    EXPECT_EQ(client->Port(), kPort);

    server->Socket()->Connections(0)->Close();
    ASSERT_TRUE(WaitFor([&] { return seen("client disconnect"); }));
    client->SetHost("127.0.0.2");
    EXPECT_EQ(client->Host(), "127.0.0.2");
}

TEST_F(SocketTest, StartingAgainDuringACallClosesItAndDiscardsItsLookup)
{
    server->SetPort(kPort);
    server->SetActive(true);
    client->SetHost("localhost");
    client->SetPort(kPort);
    client->SetActive(true); // the lookup is under way
    EXPECT_TRUE(client->Socket()->Calling());
    client->SetHost("127.0.0.1"); // not locked while only calling
    client->SetActive(true);
    EXPECT_EQ(events, std::vector<std::string>{"client disconnect"}) << "the first call is closed";
    ASSERT_TRUE(WaitFor([&] { return seen("client connect"); }));
    Pump(100); // the first call's answer arrives and is dropped
    EXPECT_EQ(count("client connect"), 1);
    EXPECT_EQ(count("server connect"), 1);
    EXPECT_EQ(server->Socket()->ActiveConnections(), 1);
    EXPECT_TRUE(errors("client").empty());
}
