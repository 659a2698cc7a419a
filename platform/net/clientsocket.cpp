// TClientSocket: the calling component: host and port, its stored values, and
// the events of its one connection.
#include "scktcomp.h"

#include "sockportcheck.h"

#include <strings.h>

TClientSocket::TClientSocket(TComponent* AOwner)
    : TComponent(AOwner), socket_(std::make_shared<TClientWinSocket>(static_cast<TSocketEventSink*>(this)))
{
}

TClientSocket::~TClientSocket()
{
    // The connection object may outlive the component (an event of its own
    // holds it); it must not call back into a destroyed component.
    socket_->Detach();
}

std::string TClientSocket::Host() const { return host_; }

void TClientSocket::SetHost(const std::string& Value)
{
    if (Value.size() == host_.size() && strcasecmp(Value.c_str(), host_.c_str()) == 0)
        return;
    if (Active())
        throw ESocketError("Can't change value while socket is active");
    host_ = Value;
}

int TClientSocket::Port() const { return port_; }

void TClientSocket::SetPort(int Value)
{
    if (Value == port_)
        return;
    if (Active())
        throw ESocketError("Can't change value while socket is active");
    CheckSocketPort(Value);
    port_ = Value;
}

bool TClientSocket::Active() const
{
    if (ComponentState() & csLoading)
        return streamedActive_;
    return socket_->Connected();
}

void TClientSocket::SetActive(bool Value)
{
    if (ComponentState() & csLoading) {
        streamedActive_ = Value;
        return;
    }
    if (Value) {
        if (!socket_->Connected())
            socket_->Open(host_, port_);
    } else {
        socket_->Close();
    }
}

TClientWinSocket* TClientSocket::Socket() const { return socket_.get(); }

void TClientSocket::Loaded()
{
    TComponent::Loaded();
    if (streamedActive_)
        SetActive(true);
}

void TClientSocket::SocketEvent(TCustomWinSocket& Socket, TSocketEvent Event)
{
    // A copy: the handler may destroy this component.
    const TSocketNotifyEvent handler = Event == seConnect ? OnConnect : Event == seDisconnect ? OnDisconnect : OnRead;
    if (handler)
        handler(this, &Socket);
}

void TClientSocket::SocketError(TCustomWinSocket& Socket, TErrorEvent ErrorEvent, int& ErrorCode)
{
    const TSocketErrorEvent handler = OnError;
    if (handler)
        handler(this, &Socket, ErrorEvent, ErrorCode);
}

void TClientSocket::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(BoolProp<TClientSocket>("Active", [](auto& c) { return c.Active(); },
                                            [](auto& c, bool v) { c.SetActive(v); }));
    props.push_back(IdentProp<TClientSocket>(
        "ClientType", [](auto& c) { return std::string(c.ClientType == ctNonBlocking ? "ctNonBlocking" : "ctBlocking"); },
        [](auto& c, const std::string& v) {
            if (v == "ctNonBlocking")
                c.ClientType = ctNonBlocking;
            else if (v == "ctBlocking")
                c.ClientType = ctBlocking;
            else
                throw EReadError("Invalid property value for ClientType");
        }));
    props.push_back(StrProp<TClientSocket>("Host", [](auto& c) { return c.Host(); },
                                           [](auto& c, const std::string& v) { c.SetHost(v); }));
    props.push_back(IntProp<TClientSocket>("Port", [](auto& c) { return c.Port(); },
                                           [](auto& c, int64_t v) { c.SetPort(SocketPortValue(v)); }));
    props.push_back(EventProp<TClientSocket, TSocketNotifyEvent>("OnConnect", &TClientSocket::OnConnect));
    props.push_back(EventProp<TClientSocket, TSocketNotifyEvent>("OnDisconnect", &TClientSocket::OnDisconnect));
    props.push_back(EventProp<TClientSocket, TSocketNotifyEvent>("OnRead", &TClientSocket::OnRead));
    props.push_back(EventProp<TClientSocket, TSocketErrorEvent>("OnError", &TClientSocket::OnError));
}
