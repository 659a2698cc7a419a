#include "asynclookup.h"

#include "sockerr.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

// State shared with the workers; it lives as long as the last of them.
struct TAsyncLookup::Shared {
    std::mutex lock;
    bool cancelled = false;
    std::map<unsigned, TLookupAnswer> answers;
};

TAsyncLookup::TAsyncLookup() : shared_(std::make_shared<Shared>()) {}

TAsyncLookup::~TAsyncLookup()
{
    std::lock_guard guard(shared_->lock);
    shared_->cancelled = true;
    shared_->answers.clear();
}

unsigned TAsyncLookup::Start(const std::string& Host, HWND Wnd, UINT Msg)
{
    const unsigned id = ++lastId_;
    std::thread([shared = shared_, host = Host, Wnd, Msg, id] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int status = getaddrinfo(host.c_str(), nullptr, &hints, &list);
        TLookupAnswer answer;
        if (status != 0)
            answer.ErrorCode = SocketErrorFromLookup(status, errno);
        else if (!list)
            answer.ErrorCode = WSANO_DATA;
        else
            answer.Address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
        if (list)
            freeaddrinfo(list);
        // Posting under the lock: once the owner has cancelled, nothing is posted.
        std::lock_guard guard(shared->lock);
        if (shared->cancelled)
            return;
        shared->answers[id] = answer;
        if (!PostMessage(Wnd, Msg, id, 0))
            shared->answers.erase(id);
    }).detach();
    return id;
}

std::optional<TLookupAnswer> TAsyncLookup::Take(unsigned Id)
{
    std::lock_guard guard(shared_->lock);
    auto it = shared_->answers.find(Id);
    if (it == shared_->answers.end())
        return std::nullopt;
    TLookupAnswer answer = it->second;
    shared_->answers.erase(it);
    return answer;
}
