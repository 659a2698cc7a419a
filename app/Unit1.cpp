#include "Unit1.h"

#include "audio_classes.h"

#include <cstring>

TMainform* Mainform = nullptr;

namespace {

template <class T>
std::function<void(TComponent*)> bindTo(T*& field, const char* name)
{
    return [&field, name](TComponent* c) {
        field = dynamic_cast<T*>(c);
        if (!field)
            throw EReadError(Format("Field %s has another class", name));
    };
}

} // namespace

TMainform::TMainform(TComponent* AOwner) : TForm(AOwner)
{
    PublishField("ACMCIn", bindTo(ACMCIn, "ACMCIn"));
    PublishField("ACMIn", bindTo(ACMIn, "ACMIn"));
    PublishField("ACMOut", bindTo(ACMOut, "ACMOut"));
    PublishField("Client", bindTo(Client, "Client"));
    PublishField("Server", bindTo(Server, "Server"));
    PublishField("Host", bindTo(Host, "Host"));
    PublishField("Label1", bindTo(Label1, "Label1"));
    PublishField("Label2", bindTo(Label2, "Label2"));
    PublishField("Port", bindTo(Port, "Port"));
    PublishField("Connect", bindTo(Connect, "Connect"));
    PublishField("ACMCOut", bindTo(ACMCOut, "ACMCOut"));
    PublishField("Label3", bindTo(Label3, "Label3"));
    PublishField("Status", bindTo(Status, "Status"));

    PublishMethod("FormCreate", TNotifyEvent("FormCreate", [this](TObject* s) { FormCreate(s); }));
    PublishMethod("FormClose",
                  TCloseEvent("FormClose", [this](TObject* s, TCloseAction& a) { FormClose(s, a); }));
    PublishMethod("ConnectClick", TNotifyEvent("ConnectClick", [this](TObject* s) { ConnectClick(s); }));
    PublishMethod("ServerorClientConnect",
                  TSocketNotifyEvent("ServerorClientConnect",
                                     [this](TObject* s, TCustomWinSocket* k) { ServerorClientConnect(s, k); }));
    PublishMethod("ServerorClientDisconnect",
                  TSocketNotifyEvent("ServerorClientDisconnect",
                                     [this](TObject* s, TCustomWinSocket* k) { ServerorClientDisconnect(s, k); }));
    PublishMethod("ServerorClientRead",
                  TSocketNotifyEvent("ServerorClientRead",
                                     [this](TObject* s, TCustomWinSocket* k) { ServerorClientRead(s, k); }));
    PublishMethod("ServerorClientError",
                  TSocketErrorEvent("ServerorClientError",
                                    [this](TObject* s, TCustomWinSocket* k, TErrorEvent e, int& code) {
                                        ServerorClientError(s, k, e, code);
                                    }));
    PublishMethod("ACMInBufferFull",
                  TBufferFullEvent("ACMInBufferFull",
                                   [this](TObject* s, void* d, int32_t n) { ACMInBufferFull(s, d, n); }));
}

// ---- Start and stop ---------------------------------------------------------

void TMainform::FormCreate(TObject*)
{
    PeerSocket = Client->Socket()->shared_from_this();
    ACMIn->SetNumBuffers(2);
    // One second of sound per capture buffer and per conversion.
    ACMCIn->SetInputBufferSize(ACMCIn->FormatIn.wfx.nAvgBytesPerSec);
    ACMIn->SetBufferSize(ACMCIn->InputBufferSize());
    ACMCIn->SetActive(true);
    ACMIn->Open(ACMCIn->FormatIn);
}

void TMainform::FormClose(TObject*, TCloseAction&)
{
    ACMCIn->SetActive(false);
    ACMIn->Close();
}

// ---- Peer link --------------------------------------------------------------

void TMainform::ConnectClick(TObject*)
{
    Client->SetHost(Host->Text());
    const int32_t port = StrToInt(Port->Text());
    if (port < 1 || port > 65535)
        throw EConvertError(Format("'%s' is not a valid port number (1 to 65535)", Port->Text().c_str()));
    Client->SetPort(port);
    Client->SetActive(true);
    PeerSocket = Client->Socket()->shared_from_this();
}

void TMainform::ServerorClientConnect(TObject*, TCustomWinSocket* Socket)
{
    // One peer at a time: a caller arriving while another is held is closed at once.
    if (Server->Socket()->ActiveConnections() >= 2) {
        Socket->Close();
        return;
    }
    Connect->SetEnabled(false);
    PeerSocket = Socket->shared_from_this();
    Status->SetCaption("Connected");
}

void TMainform::ServerorClientDisconnect(TObject*, TCustomWinSocket* Socket)
{
    // Only the peer's own end changes the display: a refused caller going away
    // leaves the call that is up as it is.
    const auto peer = PeerSocket.lock();
    if (peer && peer.get() != Socket)
        return;
    Connect->SetEnabled(true);
    Status->SetCaption("Disconnected");
}

void TMainform::ServerorClientError(TObject*, TCustomWinSocket*, TErrorEvent, int& ErrorCode)
{
    Application->MessageBox("ErrorCode: " + std::to_string(ErrorCode));
    ErrorCode = 0;
}

// ---- Voice relay ------------------------------------------------------------

void TMainform::ACMInBufferFull(TObject*, void* Data, int32_t Size)
{
    const uint32_t count = std::min<uint32_t>(Size > 0 ? uint32_t(Size) : 0, ACMCIn->InputBufferSize());
    if (count > 0)
        std::memcpy(ACMCIn->BufferIn(), Data, count);
    const uint32_t n = ACMCIn->Convert();
    SendToPeer(ACMCIn->BufferOut(), int32_t(n));
}

void TMainform::SendToPeer(const void* Buffer, int32_t Count)
{
    // One send of the block; only an empty block (send returns 0) is tried a
    // second time. Whatever the send did not take is dropped.
    try {
        for (int attempts = 0; attempts < 2; ++attempts) {
            const auto peer = PeerSocket.lock();
            if (!peer || !peer->Connected())
                return;
            if (peer->SendBuf(Buffer, Count) != 0)
                return;
        }
    } catch (...) {
        // A failed send was shown by the error box already; the block is dropped.
    }
}

void TMainform::ServerorClientRead(TObject*, TCustomWinSocket* Socket)
{
    const int waiting = Socket->ReceiveLength();
    auto block = std::make_unique<char[]>(size_t(std::max(waiting, 0)));
    const int received = Socket->ReceiveBuf(block.get(), waiting);
    if (!ACMOut->Active()) {
        ACMOut->NumBuffers = 0;
        ACMOut->Open(ACMCOut->FormatIn);
    }
    if (received > 0)
        ACMOut->Play(block.get(), received);
}

void RegisterMainformClasses()
{
    RegisterComponentClass<TMainform>("TMainform");
    RegisterAudioClasses();
    RegisterSocketClasses();
}
