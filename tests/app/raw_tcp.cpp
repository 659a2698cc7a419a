#include "raw_tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
} // namespace

int RawListen(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = loopback(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd, 5) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

int RawAccept(int listener)
{
    const int fd = accept(listener, nullptr, nullptr);
    if (fd >= 0)
        fcntl(fd, F_SETFL, 0);
    return fd;
}

int RawConnect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string RawRead(int fd, int waitMs)
{
    std::string out;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, waitMs) > 0) {
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
        waitMs = 50;
    }
    return out;
}

bool RawClosedByPeer(int fd, int waitMs)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0)
        return false;
    char c;
    return recv(fd, &c, 1, MSG_PEEK) == 0;
}

void RawWrite(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

void RawClose(int fd)
{
    if (fd >= 0)
        close(fd);
}
