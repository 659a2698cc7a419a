#pragma once
// Host-name lookup off the GUI thread: getaddrinfo runs on a worker thread and
// the answer is posted to a hidden window, so a slow name server never stalls
// the event loop.
#include "hwnd.h"

#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>

struct TLookupAnswer {
    int ErrorCode = 0;    // 0, or the socket error number of the failed lookup
    in_addr Address = {}; // the first IPv4 address, when ErrorCode is 0
};

class TAsyncLookup {
public:
    TAsyncLookup();
    // Answers not yet taken are freed; a worker still running posts nothing.
    ~TAsyncLookup();
    TAsyncLookup(const TAsyncLookup&) = delete;
    TAsyncLookup& operator=(const TAsyncLookup&) = delete;

    // Starts resolving Host to an IPv4 address and returns the lookup's id.
    // When done, Msg is posted to Wnd with WParam = the id. Call from the GUI
    // thread; raises std::system_error when no worker can be started.
    unsigned Start(const std::string& Host, HWND Wnd, UINT Msg);
    // Takes the answer of lookup Id once its message has arrived.
    std::optional<TLookupAnswer> Take(unsigned Id);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    unsigned lastId_ = 0;
};
