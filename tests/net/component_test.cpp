// The components as a stored form and the program use them: stored values,
// listening once loaded, refusing bad values, and destruction.
#include "socket_fixture.h"
#include "formfile.h"

#include <unistd.h>

namespace {

const char* refusal(const std::function<void()>& action)
{
    static std::string message;
    try {
        action();
        message = "no exception";
    } catch (const ESocketError& e) {
        message = e.what();
    }
    return message.c_str();
}

} // namespace

TEST_F(SocketTest, ListeningFailuresAndBadPortsAreRefusedCleanly)
{
    server->SetPort(kPort);
    server->SetActive(true);
    TServerSocket second(nullptr);
    second.SetPort(kPort);
    EXPECT_STREQ(refusal([&] { second.SetActive(true); }),
                 "Windows socket error: Address already in use (10048), on API 'bind'");
    EXPECT_FALSE(second.Active());

    const struct {
        int port;
        const char* message;
    } bad[] = {{-1, "Invalid port number -1"}, {65536, "Invalid port number 65536"}, {1 << 30, "Invalid port number 1073741824"}};
    for (const auto& b : bad) {
        EXPECT_STREQ(refusal([&] { client->SetPort(b.port); }), b.message);
        EXPECT_STREQ(refusal([&] { second.SetPort(b.port); }), b.message);
    }
    EXPECT_EQ(client->Port(), 0);
    EXPECT_EQ(second.Port(), kPort);
}

// A root for stored forms that publishes the handlers its components name.
class TSocketForm : public TComponent {
public:
    explicit TSocketForm(TComponent* AOwner = nullptr) : TComponent(AOwner)
    {
        PublishMethod("ServerorClientConnect",
                      TSocketNotifyEvent("ServerorClientConnect", [this](TObject*, TCustomWinSocket*) { ++connects; }));
        PublishMethod("ServerorClientError", TSocketErrorEvent("ServerorClientError",
                                                               [](TObject*, TCustomWinSocket*, TErrorEvent, int& c) { c = 0; }));
    }
    int connects = 0;
};

TEST_F(SocketTest, AStoredActiveServerListensOnceTheFormIsLoaded)
{
    RegisterComponentClass<TSocketForm>("TSocketForm");
    RegisterSocketClasses();
    // Active comes before Port: listening at that point would take the wrong port.
    const std::string stored = "object Form: TSocketForm\n"
                               "  object Client: TClientSocket\n"
                               "    Active = False\n"
                               "    ClientType = ctNonBlocking\n"
                               "    Port = 2000\n"
                               "    OnConnect = ServerorClientConnect\n"
                               "    OnError = ServerorClientError\n"
                               "  end\n"
                               "  object Server: TServerSocket\n"
                               "    Active = True\n"
                               "    Port = 2000\n"
                               "    ServerType = stNonBlocking\n"
                               "    OnClientConnect = ServerorClientConnect\n"
                               "    OnClientError = ServerorClientError\n"
                               "  end\n"
                               "end\n";
    TSocketForm form;
    TReader(form).ReadRootComponent(stored);
    auto* stServer = dynamic_cast<TServerSocket*>(form.FindComponent("Server"));
    ASSERT_NE(stServer, nullptr);
    EXPECT_TRUE(stServer->Active());
    EXPECT_EQ(stServer->Port(), kPort);

    const int raw = RawConnect(kPort);
    EXPECT_GE(raw, 0);
    EXPECT_TRUE(WaitFor([&] { return form.connects == 1; }));
    close(raw);

    EXPECT_EQ(WriteComponentText(form), stored) << "the host is not stored while empty";
}

TEST_F(SocketTest, DestroyingTheComponentsRaisesNoEventsAndClosesTheConnections)
{
    TCustomWinSocket* accepted = connectPair();
    ASSERT_NE(accepted, nullptr);
    const int raw = RawConnect(kPort);
    ASSERT_TRUE(WaitFor([&] { return count("server connect") == 2; }));
    events.clear();

    delete client;
    client = nullptr;
    ASSERT_TRUE(WaitFor([&] { return seen("server disconnect"); })) << "the peer sees the hang-up";
    events.clear();

    delete server;
    server = nullptr;
    char byte;
    EXPECT_EQ(read(raw, &byte, 1), 0) << "closed by the destruction";
    Pump(50);
    EXPECT_TRUE(events.empty());
    close(raw);
}

TEST_F(SocketTest, AClientMayBeDestroyedInsideItsOwnEvent)
{
    client->OnConnect = TSocketNotifyEvent("c", [&](TObject*, TCustomWinSocket*) {
        events.push_back("client connect");
        delete client;
        client = nullptr;
    });
    server->SetPort(kPort);
    server->SetActive(true);
    TClientSocket* caller = client;
    caller->SetHost("localhost");
    caller->SetPort(kPort);
    caller->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return seen("server disconnect"); }));
    EXPECT_EQ(count("client connect"), 1);
    EXPECT_FALSE(seen("client disconnect"));
}
