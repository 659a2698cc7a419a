// TServerWinSocket: the listening socket, accepting every connection at once,
// and the list of accepted connections with their disposal.
#include "scktcomp.h"

#include "forms.h"
#include "sockerr.h"
#include "sockportcheck.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const UINT kDispose = 0x0400; // LParam: the closed connection

// Accept failures that concern one pending connection, not the listener.
bool isTransientAcceptError(int err)
{
    switch (err) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EPERM:
        return true;
    default:
        return false;
    }
}

// A pause after running out of descriptors or memory, so that one failure
// gives one report instead of a report per loop turn.
const int kAcceptPauseMs = 1000;

} // namespace

TServerWinSocket::TServerWinSocket(TServerSocket* Owner)
    : owner_(Owner), wnd_(AllocateHWnd([this](TMessage& m) {
          if (m.Msg != kDispose)
              return;
          auto self = weak_from_this().lock();
          const auto* closed = reinterpret_cast<const TCustomWinSocket*>(m.LParam);
          for (auto it = connections_.begin(); it != connections_.end(); ++it)
              if (static_cast<const TCustomWinSocket*>(it->get()) == closed) {
                  connections_.erase(it);
                  break;
              }
      }))
{
}

TServerWinSocket::~TServerWinSocket()
{
    Detach();
    DeallocateHWnd(wnd_);
}

int TServerWinSocket::ActiveConnections() const { return int(connections_.size()); }

TServerClientWinSocket* TServerWinSocket::Connections(int Index) const
{
    if (Index < 0 || Index >= int(connections_.size()))
        return nullptr;
    return connections_[size_t(Index)].get();
}

bool TServerWinSocket::Listening() const { return fd_ >= 0; }

void TServerWinSocket::Listen(int Port)
{
    if (fd_ >= 0)
        return;
    CheckSocketPort(Port);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw ESocketError("Can't create new socket");
    auto fail = [fd](const char* api) {
        const int err = errno;
        ::close(fd);
        throw ESocketError(SocketApiErrorMessage(err, api));
    };
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0)
        fail("setsockopt");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(uint16_t(Port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0)
        fail("bind");
    if (::listen(fd, 5) < 0)
        fail("listen");
    if (signalling_ == 0)
        retired_.clear();
    fd_ = fd;
    listener_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(listener_.get(), &QSocketNotifier::activated, [this] {
        auto self = shared_from_this();
        ++signalling_;
        Application->Dispatch([this] { acceptReady(); });
        --signalling_;
    });
}

void TServerWinSocket::acceptReady()
{
    while (fd_ >= 0) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK)
                return;
            if (isTransientAcceptError(err))
                continue;
            QSocketNotifier* paused = listener_.get();
            paused->setEnabled(false);
            QTimer::singleShot(kAcceptPauseMs, paused, [this, paused] {
                if (listener_.get() == paused)
                    paused->setEnabled(true);
            });
            throw ESocketError(AsyncSocketErrorMessage(SocketErrorFromErrno(err)));
        }
        auto connection = std::make_shared<TServerClientWinSocket>(static_cast<TSocketEventSink*>(this));
        connection->attach(fd);
        // In the list before its connect event, so the handler counts it.
        connections_.push_back(connection);
        connection->raiseEvent(seConnect);
    }
}

void TServerWinSocket::stopListening()
{
    if (listener_) {
        listener_->setEnabled(false);
        retired_.push_back(std::move(listener_));
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void TServerWinSocket::Close()
{
    stopListening();
    const auto connections = connections_; // closing may run handlers that change the list
    for (const auto& connection : connections)
        connection->Close();
}

void TServerWinSocket::Detach()
{
    owner_ = nullptr;
    stopListening();
    for (const auto& connection : connections_)
        connection->Detach();
    connections_.clear();
}

void TServerWinSocket::SocketEvent(TCustomWinSocket& Socket, TSocketEvent Event)
{
    if (!owner_)
        return;
    const TSocketNotifyEvent handler = Event == seConnect      ? owner_->OnClientConnect
                                       : Event == seDisconnect ? owner_->OnClientDisconnect
                                                               : owner_->OnClientRead;
    if (handler)
        handler(this, &Socket);
}

void TServerWinSocket::SocketError(TCustomWinSocket& Socket, TErrorEvent ErrorEvent, int& ErrorCode)
{
    if (!owner_)
        return;
    const TSocketErrorEvent handler = owner_->OnClientError;
    if (handler)
        handler(this, &Socket, ErrorEvent, ErrorCode);
}

void TServerWinSocket::SocketClosed(TCustomWinSocket& Socket)
{
    // Disposal goes through the event loop, after the handler that closed it.
    PostMessage(wnd_, kDispose, 0, reinterpret_cast<LPARAM>(&Socket));
}
