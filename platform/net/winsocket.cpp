// TCustomWinSocket: one connection's descriptor, readiness, send and receive,
// closing, and the error event contract.
#include "scktcomp.h"

#include "forms.h"
#include "sockerr.h"

#include <QSocketNotifier>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

TCustomWinSocket::TCustomWinSocket(TSocketEventSink* Sink) : sink_(Sink) {}

TCustomWinSocket::~TCustomWinSocket()
{
    sink_ = nullptr;
    release();
}

bool TCustomWinSocket::Connected() const { return connected_; }

void TCustomWinSocket::attach(int fd)
{
    purgeRetired();
    fd_ = fd;
    established();
}

void TCustomWinSocket::established()
{
    // A peer that vanishes without a word (its link gone, its machine off)
    // would otherwise hold the connection for the quarter hour TCP keeps
    // retrying. Sound goes out every second, so data left unacknowledged for
    // kDeadPeerMs means the peer is gone: the connection then fails like any
    // broken one, and the window is free for the next call.
    const unsigned int deadPeerMs = kDeadPeerMs;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_USER_TIMEOUT, &deadPeerMs, sizeof deadPeerMs);
    state_ = TState::Connected;
    connected_ = true;
    reader_ = watch(QSocketNotifier::Read, [this] { readReady(); });
}

std::unique_ptr<QSocketNotifier> TCustomWinSocket::watch(int type, std::function<void()> Ready)
{
    auto notifier = std::make_unique<QSocketNotifier>(fd_, static_cast<QSocketNotifier::Type>(type));
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this, Ready = std::move(Ready)] {
        // Keeps this connection alive across its own events, whoever drops it.
        auto self = shared_from_this();
        ++signalling_;
        Application->Dispatch(Ready);
        --signalling_;
    });
    return notifier;
}

void TCustomWinSocket::retire(std::unique_ptr<QSocketNotifier>& notifier)
{
    if (!notifier)
        return;
    // A notifier may be the one signalling right now: disable it and delete it later.
    notifier->setEnabled(false);
    retired_.push_back(std::move(notifier));
}

void TCustomWinSocket::purgeRetired()
{
    if (signalling_ == 0)
        retired_.clear();
}

void TCustomWinSocket::release()
{
    retire(reader_);
    retire(writer_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    state_ = TState::Idle;
    connected_ = false;
    closing_ = false;
    readerHeld_ = false;
    peerFailed_ = false;
    ++session_;
    callReleased();
}

void TCustomWinSocket::Detach()
{
    sink_ = nullptr;
    release();
}

void TCustomWinSocket::raiseEvent(TSocketEvent Event)
{
    if (!sink_)
        return;
    Application->Dispatch([&] {
        if (sink_)
            sink_->SocketEvent(*this, Event);
    });
}

void TCustomWinSocket::raiseError(TErrorEvent ErrorEvent, int& ErrorCode)
{
    if (!sink_)
        return;
    Application->Dispatch([&] {
        if (sink_)
            sink_->SocketError(*this, ErrorEvent, ErrorCode);
    });
}

void TCustomWinSocket::Close()
{
    if (state_ == TState::Idle || closing_)
        return;
    auto self = weak_from_this().lock();
    const unsigned session = session_;
    closing_ = true;
    raiseEvent(seDisconnect);
    if (session_ != session) // released meanwhile (the owner went)
        return;
    release();
    if (sink_)
        sink_->SocketClosed(*this);
}

int TCustomWinSocket::SendBuf(const void* Buf, int Count)
{
    if (!connected_ || fd_ < 0)
        return 0;
    auto self = weak_from_this().lock();
    if (Count <= 0 || !Buf)
        Count = 0;
    ssize_t sent;
    do
        sent = ::send(fd_, Buf, size_t(Count), MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return int(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return -1;
    failed(eeSend, errno, "send");
    return -1;
}

int TCustomWinSocket::ReceiveBuf(void* Buf, int Count)
{
    if (!connected_ || fd_ < 0)
        return 0;
    auto self = weak_from_this().lock();
    if (Count <= 0 || !Buf)
        Count = 0;
    ssize_t received;
    do
        received = ::recv(fd_, Buf, size_t(Count), MSG_DONTWAIT);
    while (received < 0 && errno == EINTR);
    const int err = errno;
    rearmReader();
    if (received >= 0)
        return int(received);
    if (err == EAGAIN || err == EWOULDBLOCK)
        return -1;
    failed(eeReceive, err, "recv");
    return -1;
}

int TCustomWinSocket::ReceiveLength() const
{
    if (!connected_ || fd_ < 0)
        return 0;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) < 0)
        return 0;
    return waiting;
}

void TCustomWinSocket::failed(TErrorEvent Kind, int Err, const char* Api)
{
    // While the first failure waits in its error event (a box is up), sends
    // and receives from the nested loop fail again: they return -1 without a
    // report of their own, or every second of sound would stack one more box.
    // The close that follows the first report ends them all.
    if (reportingFailure_)
        return;
    const unsigned session = session_;
    int code = SocketErrorFromErrno(Err);
    reportingFailure_ = true;
    raiseError(Kind, code);
    reportingFailure_ = false;
    // The handler may have closed it, or a new call may be up on this object.
    if (session_ == session)
        Close();
    if (code != 0)
        throw ESocketError(SocketApiErrorMessage(Err, Api));
}

void TCustomWinSocket::holdReader()
{
    if (reader_)
        reader_->setEnabled(false);
    readerHeld_ = true;
}

void TCustomWinSocket::rearmReader()
{
    if (readerHeld_ && !peerFailed_ && reader_ && state_ == TState::Connected) {
        reader_->setEnabled(true);
        readerHeld_ = false;
    }
}

void TCustomWinSocket::readReady()
{
    if (state_ != TState::Connected || closing_)
        return;
    int waiting = 0;
    ssize_t peeked = 1;
    char byte;
    if (::ioctl(fd_, FIONREAD, &waiting) < 0 || waiting == 0)
        peeked = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        // Like a read notification, the next one comes after a receive.
        holdReader();
        raiseEvent(seRead);
        return;
    }
    if (peeked == 0) { // the peer has closed its side
        Close();
        return;
    }
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR)
        return;
    // A close carrying an error: reported once; the connection stays marked
    // connected, and a later send or receive meets the failure.
    peerFailed_ = true;
    holdReader();
    const int reported = SocketErrorFromErrno(err);
    int code = reported;
    raiseError(eeDisconnect, code);
    if (code != 0)
        throw ESocketError(AsyncSocketErrorMessage(reported));
}

TServerClientWinSocket::TServerClientWinSocket(TSocketEventSink* Sink) : TCustomWinSocket(Sink) {}
