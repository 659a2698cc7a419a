// TServerSocket: the listening component: its port, its stored values, and
// listening once the stored form is loaded.
#include "scktcomp.h"

#include "sockportcheck.h"

TServerSocket::TServerSocket(TComponent* AOwner) : TComponent(AOwner), server_(std::make_shared<TServerWinSocket>(this)) {}

TServerSocket::~TServerSocket() { server_->Detach(); }

int TServerSocket::Port() const { return port_; }

void TServerSocket::SetPort(int Value)
{
    if (Value == port_)
        return;
    if (server_->Listening())
        throw ESocketError("Can't change value while socket is active");
    CheckSocketPort(Value);
    port_ = Value;
}

bool TServerSocket::Active() const
{
    if (ComponentState() & csLoading)
        return streamedActive_;
    return server_->Listening();
}

void TServerSocket::SetActive(bool Value)
{
    if (ComponentState() & csLoading) {
        streamedActive_ = Value;
        return;
    }
    if (Value)
        server_->Listen(port_);
    else
        server_->Close();
}

TServerWinSocket* TServerSocket::Socket() const { return server_.get(); }

void TServerSocket::Loaded()
{
    TComponent::Loaded();
    if (streamedActive_)
        SetActive(true);
}

void TServerSocket::GetProps(std::vector<TPropInfo>& props) const
{
    TComponent::GetProps(props);
    props.push_back(BoolProp<TServerSocket>("Active", [](auto& c) { return c.Active(); },
                                            [](auto& c, bool v) { c.SetActive(v); }));
    props.push_back(IntProp<TServerSocket>("Port", [](auto& c) { return c.Port(); },
                                           [](auto& c, int64_t v) { c.SetPort(SocketPortValue(v)); }));
    props.push_back(IdentProp<TServerSocket>(
        "ServerType", [](auto& c) { return std::string(c.ServerType == stNonBlocking ? "stNonBlocking" : "stThreadBlocking"); },
        [](auto& c, const std::string& v) {
            if (v == "stNonBlocking")
                c.ServerType = stNonBlocking;
            else if (v == "stThreadBlocking")
                c.ServerType = stThreadBlocking;
            else
                throw EReadError("Invalid property value for ServerType");
        }));
    props.push_back(EventProp<TServerSocket, TSocketNotifyEvent>("OnClientConnect", &TServerSocket::OnClientConnect));
    props.push_back(EventProp<TServerSocket, TSocketNotifyEvent>("OnClientDisconnect", &TServerSocket::OnClientDisconnect));
    props.push_back(EventProp<TServerSocket, TSocketNotifyEvent>("OnClientRead", &TServerSocket::OnClientRead));
    props.push_back(EventProp<TServerSocket, TSocketErrorEvent>("OnClientError", &TServerSocket::OnClientError));
}
