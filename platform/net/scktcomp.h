#pragma once
// Socket components: a non-blocking TCP client and a listening server with
// their connection objects, driven by readiness from the one event loop.
// Every event runs on the GUI thread; an exception leaving a handler goes to
// the application's standard error report.
#include "classes.h"

#include <memory>
#include <string>
#include <vector>

class ESocketError : public Exception {
public:
    using Exception::Exception;
};

enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };
enum TClientType { ctNonBlocking, ctBlocking };
enum TServerType { stNonBlocking, stThreadBlocking };

class TCustomWinSocket;
using TSocketNotifyEvent = TEvent<TObject*, TCustomWinSocket*>;
using TSocketErrorEvent = TEvent<TObject*, TCustomWinSocket*, TErrorEvent, int&>;

// One TCP connection. Held by shared pointers: whoever keeps a weak reference
// can tell when the socket layer has disposed of it.
class TCustomWinSocket : public TObject, public std::enable_shared_from_this<TCustomWinSocket> {
public:
    ~TCustomWinSocket() override;
    // True from establishment until the connection is closed.
    bool Connected() const;
    // One send without waiting: the count taken, -1 when it would block or
    // failed (reported through the error event), 0 when not connected.
    int SendBuf(const void* Buf, int Count);
    // One receive without waiting: the count received, -1 when nothing is
    // there or it failed, 0 when not connected.
    int ReceiveBuf(void* Buf, int Count);
    // Bytes that can be received now; 0 when not connected.
    int ReceiveLength() const;
    // Raises the disconnect event, then closes. Nothing when already closed.
    void Close();
};

class TClientWinSocket : public TCustomWinSocket {};
class TServerClientWinSocket : public TCustomWinSocket {};

class TServerWinSocket : public TObject {
public:
    // The accepted connections the server holds.
    int ActiveConnections() const;
};

class TClientSocket : public TComponent {
public:
    explicit TClientSocket(TComponent* AOwner);
    ~TClientSocket() override;

    std::string Host() const;
    void SetHost(const std::string& Value);
    int Port() const;
    void SetPort(int Value);
    bool Active() const;
    void SetActive(bool Value);
    TClientType ClientType = ctNonBlocking;
    // The one connection object, reused for every call.
    TClientWinSocket* Socket() const;

    TSocketNotifyEvent OnConnect, OnDisconnect, OnRead;
    TSocketErrorEvent OnError;

    void GetProps(std::vector<TPropInfo>& props) const override;
    void Loaded() override;
};

class TServerSocket : public TComponent {
public:
    explicit TServerSocket(TComponent* AOwner);
    ~TServerSocket() override;

    int Port() const;
    void SetPort(int Value);
    bool Active() const;
    void SetActive(bool Value); // true listens on all local addresses
    TServerType ServerType = stNonBlocking;
    TServerWinSocket* Socket() const;

    TSocketNotifyEvent OnClientConnect, OnClientDisconnect, OnClientRead;
    TSocketErrorEvent OnClientError;

    void GetProps(std::vector<TPropInfo>& props) const override;
    void Loaded() override;
};
