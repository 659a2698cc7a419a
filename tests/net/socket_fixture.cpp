#include "socket_fixture.h"

#include <algorithm>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Only a loopback interface: nothing a test does can leave the machine, and
// port 2000 is ours.
bool PrivateNetwork()
{
    std::ifstream dev("/proc/net/dev"); // this namespace's interfaces, one a line after two headers
    std::string line;
    std::vector<std::string> links;
    for (int i = 0; std::getline(dev, line); ++i)
        if (i >= 2)
            links.push_back(line.substr(line.find_first_not_of(' '), line.find(':') - line.find_first_not_of(' ')));
    return links == std::vector<std::string>{"lo"};
}

const char* kindName(TErrorEvent e)
{
    static const char* names[] = {"general", "send", "receive", "connect", "disconnect", "accept", "lookup"};
    return names[e];
}

} // namespace

SocketTest::SocketTest() : server(new TServerSocket(&root)), client(new TClientSocket(&root))
{
    auto notify = [this](const char* what, std::function<void(TCustomWinSocket*)>* extra) {
        return TSocketNotifyEvent(what, [this, what, extra](TObject*, TCustomWinSocket* s) {
            events.push_back(what);
            if (extra && *extra)
                (*extra)(s);
        });
    };
    auto error = [this](const std::string& side) {
        return TSocketErrorEvent(side + "Error", [this, side](TObject*, TCustomWinSocket* s, TErrorEvent e, int& code) {
            events.push_back(side + " error " + kindName(e) + " " + std::to_string(code));
            onError(s, e, code);
        });
    };
    server->OnClientConnect = notify("server connect", &onServerConnect);
    server->OnClientDisconnect = notify("server disconnect", nullptr);
    server->OnClientRead = notify("server read", &onServerRead);
    server->OnClientError = error("server");
    client->OnConnect = notify("client connect", nullptr);
    client->OnDisconnect = notify("client disconnect", nullptr);
    client->OnRead = notify("client read", &onClientRead);
    client->OnError = error("client");
}

void SocketTest::SetUp()
{
    if (!PrivateNetwork())
        GTEST_SKIP() << "needs a private network namespace (run through tests/support/netns-run)";
}

int SocketTest::count(const std::string& line) const { return int(std::count(events.begin(), events.end(), line)); }

std::vector<std::string> SocketTest::errors(const std::string& side) const
{
    std::vector<std::string> out;
    const std::string prefix = side + " error ";
    for (const auto& e : events)
        if (e.rfind(prefix, 0) == 0)
            out.push_back(e.substr(prefix.size()));
    return out;
}

TCustomWinSocket* SocketTest::connectPair()
{
    server->SetPort(kPort);
    server->SetActive(true);
    client->SetHost("127.0.0.1");
    client->SetPort(kPort);
    client->SetActive(true);
    EXPECT_TRUE(WaitFor([&] { return seen("client connect") && seen("server connect"); }));
    return server->Socket()->Connections(0);
}

std::string ReceiveAll(TCustomWinSocket* Socket)
{
    std::string bytes(size_t(Socket->ReceiveLength()), '\0');
    const int n = Socket->ReceiveBuf(bytes.data(), int(bytes.size()));
    bytes.resize(size_t(std::max(n, 0)));
    return bytes;
}

int RawConnect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void ResetAndClose(int fd)
{
    const linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}
