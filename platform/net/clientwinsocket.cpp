// TClientWinSocket: one call at a time: socket, lookup off the GUI thread,
// non-blocking connect, and the outcome as events.
//
//   Open ──socket()──> Lookup ──answer──> Connecting ──writable──> Connected
//            │            │ failed / no host        │ refused
//            │            └─> error event, Close     └─> error event, Idle
//            └─ numeric address: straight to Connecting
#include "scktcomp.h"

#include "asynclookup.h"
#include "forms.h"
#include "sockerr.h"
#include "sockportcheck.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>

namespace {

enum : UINT {
    kLookupDone = 0x0400, // WParam: lookup id
    kLookupFailed,        // WParam: session; LParam: socket error number
    kConnectFailed,       // WParam: session; LParam: errno
};

// Refusals that a non-blocking connect may report at once; they reach the
// caller as the connect outcome, like any other refusal.
bool isConnectOutcome(int err)
{
    switch (err) {
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case ECONNRESET:
    case ECONNABORTED:
    case EAGAIN:
        return true;
    default:
        return false;
    }
}

} // namespace

TClientWinSocket::TClientWinSocket(TSocketEventSink* Sink)
    : TCustomWinSocket(Sink), wnd_(AllocateHWnd([this](TMessage& m) { message(m); })),
      lookup_(std::make_unique<TAsyncLookup>())
{
}

TClientWinSocket::~TClientWinSocket()
{
    sink_ = nullptr;
    release();
    DeallocateHWnd(wnd_);
}

bool TClientWinSocket::Calling() const { return state_ == TState::Lookup || state_ == TState::Connecting; }

void TClientWinSocket::callReleased() { lookupId_ = 0; }

void TClientWinSocket::Open(const std::string& Host, int Port)
{
    auto self = weak_from_this().lock();
    if (state_ != TState::Idle) {
        Close();
        if (state_ != TState::Idle) // asked from inside that call's own disconnect event
            return;
    }
    CheckSocketPort(Port);
    purgeRetired();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw ESocketError("Can't create new socket");
    fd_ = fd;
    port_ = Port;
    state_ = TState::Lookup;
    if (Host.empty()) {
        PostMessage(wnd_, kLookupFailed, session_, SOCKET_NO_HOST);
        return;
    }
    in_addr address{};
    if (inet_pton(AF_INET, Host.c_str(), &address) == 1) {
        connectTo(&address);
        return;
    }
    try {
        lookupId_ = lookup_->Start(Host, wnd_, kLookupDone);
    } catch (const std::system_error& e) {
        Close();
        throw ESocketError(SocketApiErrorMessage(e.code().value(), "getaddrinfo"));
    }
}

void TClientWinSocket::connectTo(const void* address)
{
    state_ = TState::Connecting;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(uint16_t(port_));
    peer.sin_addr = *static_cast<const in_addr*>(address);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 || errno == EINPROGRESS ||
        errno == EINTR) {
        writer_ = watch(QSocketNotifier::Write, [this] { connectReady(); });
        return;
    }
    const int err = errno;
    if (isConnectOutcome(err)) {
        PostMessage(wnd_, kConnectFailed, session_, err);
        return;
    }
    Close();
    throw ESocketError(SocketApiErrorMessage(err, "connect"));
}

void TClientWinSocket::connectReady()
{
    if (state_ != TState::Connecting)
        return;
    int err = 0;
    socklen_t length = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &length) < 0)
        err = errno;
    connectDone(err);
}

void TClientWinSocket::connectDone(int err)
{
    retire(writer_);
    if (err == 0) {
        established();
        raiseEvent(seConnect);
        return;
    }
    // A call that cannot connect ends here, without a disconnect event; the
    // client is inactive and the next Open starts afresh.
    release();
    const int reported = SocketErrorFromErrno(err);
    int code = reported;
    raiseError(eeConnect, code);
    if (code != 0)
        throw ESocketError(AsyncSocketErrorMessage(reported));
}

void TClientWinSocket::lookupFailed(int reported)
{
    const unsigned session = session_;
    int code = reported;
    raiseError(eeLookup, code);
    if (session_ == session)
        Close();
    if (code != 0)
        throw ESocketError(AsyncSocketErrorMessage(reported));
}

void TClientWinSocket::message(TMessage& m)
{
    auto self = weak_from_this().lock();
    if (!self)
        return;
    switch (m.Msg) {
    case kLookupDone: {
        const auto answer = lookup_->Take(unsigned(m.WParam));
        // A lookup whose call was closed meanwhile is discarded.
        if (!answer || m.WParam != lookupId_ || state_ != TState::Lookup)
            return;
        lookupId_ = 0;
        if (answer->ErrorCode != 0)
            lookupFailed(answer->ErrorCode);
        else
            connectTo(&answer->Address);
        break;
    }
    case kLookupFailed:
        if (m.WParam == session_ && state_ == TState::Lookup)
            lookupFailed(int(m.LParam));
        break;
    case kConnectFailed:
        if (m.WParam == session_ && state_ == TState::Connecting)
            connectDone(int(m.LParam));
        break;
    }
}
