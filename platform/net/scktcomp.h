#pragma once
// Socket components: a non-blocking TCP client and a listening server with
// their connection objects, driven by readiness from the one event loop.
// Every event runs on the GUI thread; an exception leaving a handler goes to
// the application's standard error report.
//
// Connections are owned by shared pointers. The client's connection lives as
// long as its component; an accepted connection is disposed of through the
// event loop shortly after its disconnect event, so a weak reference taken
// with weak_from_this() expires then:
//
//   std::weak_ptr<TCustomWinSocket> peer = Socket->weak_from_this();
//   if (auto s = peer.lock(); s && s->Connected()) s->SendBuf(data, n);
#include "classes.h"
#include "hwnd.h"

#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;
class TAsyncLookup;

class ESocketError : public Exception {
public:
    using Exception::Exception;
};

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
enum TClientType { ctNonBlocking, ctBlocking };
enum TServerType { stNonBlocking, stThreadBlocking };
enum TSocketEvent { seConnect, seDisconnect, seRead };

class TCustomWinSocket;
using TSocketNotifyEvent = TEvent<TObject*, TCustomWinSocket*>;
using TSocketErrorEvent = TEvent<TObject*, TCustomWinSocket*, TErrorEvent, int&>;

// Where a connection's events go: its client component or its server. Called
// on the GUI thread, each call under the application's dispatch.
class TSocketEventSink {
public:
    virtual void SocketEvent(TCustomWinSocket& Socket, TSocketEvent Event) = 0;
    virtual void SocketError(TCustomWinSocket& Socket, TErrorEvent ErrorEvent, int& ErrorCode) = 0;
    // The connection has been closed, after its disconnect event.
    virtual void SocketClosed(TCustomWinSocket&) {}

protected:
    ~TSocketEventSink() = default;
};

// One TCP connection. Held by shared pointers: whoever keeps a weak reference
// can tell when the socket layer has disposed of it. Every operation may be
// entered again from a handler that one of them raised (a modal box runs a
// nested loop); the object stays alive until the outermost one returns.
class TCustomWinSocket : public TObject, public std::enable_shared_from_this<TCustomWinSocket> {
public:
    // How long sent data may stay unacknowledged before the peer counts as gone.
    static constexpr unsigned kDeadPeerMs = 10000;

    // Sink may be null (no events); the owner clears it with Detach.
    explicit TCustomWinSocket(TSocketEventSink* Sink);
    ~TCustomWinSocket() override;
    TCustomWinSocket(const TCustomWinSocket&) = delete;
    TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;

    // True from establishment until the connection is closed; still true
    // during the disconnect event.
    bool Connected() const;
    // One send without waiting: the count taken, -1 when it would block or
    // failed (reported through the error event), 0 when not connected.
    int SendBuf(const void* Buf, int Count);
    // One receive without waiting: the count received, -1 when nothing is
    // there or it failed, 0 when not connected. The next read event comes
    // after a receive, so a read handler should receive what is waiting.
    int ReceiveBuf(void* Buf, int Count);
    // Bytes that can be received now; 0 when not connected.
    int ReceiveLength() const;
    // Raises the disconnect event, then closes. Nothing when already closed.
    // A call under way (lookup or connecting) is closed the same way.
    void Close();
    // The owner is going: no more events, and the socket is closed silently.
    void Detach();

protected:
    // Idle -> (client: Lookup -> Connecting ->) Connected -> Idle.
    enum class TState { Idle, Lookup, Connecting, Connected };

    // Takes an established, non-blocking descriptor. No event.
    void attach(int fd);
    // The descriptor is connected: marks it so and starts read notification.
    void established();
    // Raise an event through the sink, under the application's dispatch.
    void raiseEvent(TSocketEvent Event);
    void raiseError(TErrorEvent ErrorEvent, int& ErrorCode);
    // Closes the descriptor without any event; the state goes back to Idle.
    void release();
    // A notifier on the descriptor whose readiness runs Ready under dispatch.
    std::unique_ptr<QSocketNotifier> watch(int type, std::function<void()> Ready);
    void retire(std::unique_ptr<QSocketNotifier>& notifier);
    // Deletes retired notifiers unless one of this socket's is signalling.
    void purgeRetired();
    // Runs after release(): a subclass forgets its call.
    virtual void callReleased() {}

    int fd_ = -1;
    TState state_ = TState::Idle;
    bool connected_ = false;
    unsigned session_ = 1; // changes with every release; stale messages carry an older one
    TSocketEventSink* sink_;
    std::unique_ptr<QSocketNotifier> reader_, writer_;
    int signalling_ = 0; // > 0 while one of this socket's notifiers is signalling

    friend class TServerWinSocket;

private:
    void readReady();
    void holdReader();
    void rearmReader();
    // A send or receive failed with errno Err: error event, close, and raise
    // when the code is left uncleared.
    void failed(TErrorEvent Kind, int Err, const char* Api);

    bool closing_ = false;
    bool readerHeld_ = false; // read notification waits for a receive
    bool peerFailed_ = false; // a close with an error was reported; nothing more comes
    bool reportingFailure_ = false; // a send or receive failure is in its error event
    std::vector<std::unique_ptr<QSocketNotifier>> retired_;
};

// The client's one connection object, reused for every call.
class TClientWinSocket : public TCustomWinSocket {
public:
    explicit TClientWinSocket(TSocketEventSink* Sink);
    ~TClientWinSocket() override;

    // Starts a call: lookup and connect without blocking; the outcome comes as
    // events. A call under way is closed first (its disconnect event). Raises
    // ESocketError when the socket cannot be created or the call cannot start.
    void Open(const std::string& Host, int Port);
    // True while a call is being looked up or connected.
    bool Calling() const;

private:
    void message(TMessage& m);
    void connectTo(const void* address);
    void connectReady();
    void connectDone(int err);
    void lookupFailed(int code);
    void callReleased() override;

    HWND wnd_;
    std::unique_ptr<TAsyncLookup> lookup_;
    unsigned lookupId_ = 0;
    int port_ = 0;
};

class TServerWinSocket;

// A connection accepted by a server.
class TServerClientWinSocket : public TCustomWinSocket {
public:
    explicit TServerClientWinSocket(TSocketEventSink* Sink);
};

class TServerSocket;

// The listening socket and the connections it accepted.
class TServerWinSocket : public TObject, public std::enable_shared_from_this<TServerWinSocket>, private TSocketEventSink {
public:
    explicit TServerWinSocket(TServerSocket* Owner);
    ~TServerWinSocket() override;
    TServerWinSocket(const TServerWinSocket&) = delete;
    TServerWinSocket& operator=(const TServerWinSocket&) = delete;

    // The accepted connections the server holds, from acceptance until their
    // disposal shortly after their disconnect event.
    int ActiveConnections() const;
    TServerClientWinSocket* Connections(int Index) const;

    bool Listening() const;
    // Listens on every local IPv4 address. Raises ESocketError on failure.
    void Listen(int Port);
    // Stops listening and closes every connection (their disconnect events).
    void Close();
    // The owner is going: no more events; everything is closed silently.
    void Detach();

private:
    void acceptReady();
    void stopListening();
    void SocketEvent(TCustomWinSocket& Socket, TSocketEvent Event) override;
    void SocketError(TCustomWinSocket& Socket, TErrorEvent ErrorEvent, int& ErrorCode) override;
    void SocketClosed(TCustomWinSocket& Socket) override;

    TServerSocket* owner_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> listener_;
    std::vector<std::unique_ptr<QSocketNotifier>> retired_;
    int signalling_ = 0;
    std::vector<std::shared_ptr<TServerClientWinSocket>> connections_;
    HWND wnd_;
};

class TClientSocket : public TComponent, private TSocketEventSink {
public:
    explicit TClientSocket(TComponent* AOwner);
    // Closes the connection without raising any event.
    ~TClientSocket() override;

    std::string Host() const;
    // Raises ESocketError "Can't change value while socket is active" for a
    // different text (compared without regard to case) while connected.
    void SetHost(const std::string& Value);
    int Port() const;
    // Same rule as SetHost; a value outside 0..65535 raises ESocketError.
    void SetPort(int Value);
    // Active from the connect event to the disconnect event.
    bool Active() const;
    // True starts a call unless connected (a call under way starts again);
    // false closes. A stored True takes effect once the form is loaded.
    void SetActive(bool Value);
    TClientType ClientType = ctNonBlocking;
    // The one connection object, reused for every call.
    TClientWinSocket* Socket() const;

    TSocketNotifyEvent OnConnect, OnDisconnect, OnRead;
    TSocketErrorEvent OnError;

    void GetProps(std::vector<TPropInfo>& props) const override;
    void Loaded() override;

private:
    void SocketEvent(TCustomWinSocket& Socket, TSocketEvent Event) override;
    void SocketError(TCustomWinSocket& Socket, TErrorEvent ErrorEvent, int& ErrorCode) override;

    std::shared_ptr<TClientWinSocket> socket_;
    std::string host_;
    int port_ = 0;
    bool streamedActive_ = false;
};

class TServerSocket : public TComponent {
public:
    explicit TServerSocket(TComponent* AOwner);
    // Stops listening and closes every connection without raising any event.
    ~TServerSocket() override;

    int Port() const;
    // Raises ESocketError "Can't change value while socket is active" for a
    // different value while listening; outside 0..65535 raises too.
    void SetPort(int Value);
    bool Active() const;
    // True listens on all local addresses (ESocketError when it cannot); false
    // stops listening and closes every connection. A stored True takes effect
    // once the form is loaded.
    void SetActive(bool Value);
    TServerType ServerType = stNonBlocking;
    // The listening object; it is the Sender of the connection events.
    TServerWinSocket* Socket() const;

    TSocketNotifyEvent OnClientConnect, OnClientDisconnect, OnClientRead;
    TSocketErrorEvent OnClientError;

    void GetProps(std::vector<TPropInfo>& props) const override;
    void Loaded() override;

private:
    std::shared_ptr<TServerWinSocket> server_;
    int port_ = 0;
    bool streamedActive_ = false;
};

// Registers TClientSocket and TServerSocket with the stored-form reader.
void RegisterSocketClasses();
