#pragma once
// The main window: the Host and Port fields, the Connect button, the status
// line, and the components behind them. It links to one peer over TCP and
// relays sound between the audio components and that peer.
#include "ACMConvertor.h"
#include "ACMIn.h"
#include "ACMOut.h"
#include "controls.h"
#include "forms.h"
#include "scktcomp.h"

#include <memory>
#include <string>

class TMainform : public TForm {
public:
    explicit TMainform(TComponent* AOwner);
    // The stored form the window is created from.
    static std::string StoredForm();

    // Created from the stored form, owned by the window.
    TACMConvertor* ACMCIn = nullptr; // encoder: Speech PCM to MPEG Layer-3
    TACMIn* ACMIn = nullptr;         // microphone capture
    TACMOut* ACMOut = nullptr;       // playback of what the peer sends
    TClientSocket* Client = nullptr;
    TServerSocket* Server = nullptr;
    TEdit* Host = nullptr;
    TLabel* Label1 = nullptr;
    TLabel* Label2 = nullptr;
    TEdit* Port = nullptr;
    TButton* Connect = nullptr;
    TACMConvertor* ACMCOut = nullptr; // never active; its input format is the playback format
    TLabel* Label3 = nullptr;
    TLabel* Status = nullptr;

    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void ConnectClick(TObject* Sender);
    void ServerorClientConnect(TObject* Sender, TCustomWinSocket* Socket);
    void ServerorClientDisconnect(TObject* Sender, TCustomWinSocket* Socket);
    void ServerorClientError(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent, int& ErrorCode);
    void ServerorClientRead(TObject* Sender, TCustomWinSocket* Socket);
    void ACMInBufferFull(TObject* Sender, void* Data, int32_t Size);

    // The connection captured sound goes to; null once the socket layer has
    // disposed of it.
    TCustomWinSocket* Peer() const { return PeerSocket.lock().get(); }

private:
    void SendToPeer(const void* Buffer, int32_t Count);

    // Not owned: a weak reference, so a connection the socket layer has
    // disposed of reads as no peer at all.
    std::weak_ptr<TCustomWinSocket> PeerSocket;
};

extern TMainform* Mainform;

// Registers every class the stored form names.
void RegisterMainformClasses();
