#include "sockerr.h"

#include "sysutils.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace {

enum class Source { Errno, Lookup };

struct Row {
    Source source;
    int native;
    int code;
};

// The one table of error numbers. EPIPE comes from a send on a connection the
// peer has already reset; the caller sees it as an aborted connection.
constexpr Row kTable[] = {
    {Source::Errno, EINTR, WSAEINTR},
    {Source::Errno, EBADF, WSAEBADF},
    {Source::Errno, EACCES, WSAEACCES},
    {Source::Errno, EPERM, WSAEACCES},
    {Source::Errno, EFAULT, WSAEFAULT},
    {Source::Errno, EINVAL, WSAEINVAL},
    {Source::Errno, EMFILE, WSAEMFILE},
    {Source::Errno, ENFILE, WSAEMFILE},
    {Source::Errno, EWOULDBLOCK, WSAEWOULDBLOCK},
    {Source::Errno, EINPROGRESS, WSAEINPROGRESS},
    {Source::Errno, EALREADY, WSAEALREADY},
    {Source::Errno, ENOTSOCK, WSAENOTSOCK},
    {Source::Errno, EDESTADDRREQ, WSAEDESTADDRREQ},
    {Source::Errno, EMSGSIZE, WSAEMSGSIZE},
    {Source::Errno, EPROTOTYPE, WSAEPROTOTYPE},
    {Source::Errno, ENOPROTOOPT, WSAENOPROTOOPT},
    {Source::Errno, EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {Source::Errno, ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {Source::Errno, EOPNOTSUPP, WSAEOPNOTSUPP},
    {Source::Errno, EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {Source::Errno, EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {Source::Errno, EADDRINUSE, WSAEADDRINUSE},
    {Source::Errno, EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {Source::Errno, ENETDOWN, WSAENETDOWN},
    {Source::Errno, ENETUNREACH, WSAENETUNREACH},
    {Source::Errno, ENETRESET, WSAENETRESET},
    {Source::Errno, ECONNABORTED, WSAECONNABORTED},
    {Source::Errno, EPIPE, WSAECONNABORTED},
    {Source::Errno, ECONNRESET, WSAECONNRESET},
    {Source::Errno, ENOBUFS, WSAENOBUFS},
    {Source::Errno, ENOMEM, WSAENOBUFS},
    {Source::Errno, EISCONN, WSAEISCONN},
    {Source::Errno, ENOTCONN, WSAENOTCONN},
    {Source::Errno, ESHUTDOWN, WSAESHUTDOWN},
    {Source::Errno, ETOOMANYREFS, WSAETOOMANYREFS},
    {Source::Errno, ETIMEDOUT, WSAETIMEDOUT},
    {Source::Errno, ECONNREFUSED, WSAECONNREFUSED},
    {Source::Errno, ELOOP, WSAELOOP},
    {Source::Errno, ENAMETOOLONG, WSAENAMETOOLONG},
    {Source::Errno, EHOSTDOWN, WSAEHOSTDOWN},
    {Source::Errno, EHOSTUNREACH, WSAEHOSTUNREACH},
    {Source::Lookup, EAI_NONAME, WSAHOST_NOT_FOUND},
#ifdef EAI_ADDRFAMILY
    {Source::Lookup, EAI_ADDRFAMILY, WSANO_DATA},
#endif
#ifdef EAI_NODATA
    {Source::Lookup, EAI_NODATA, WSANO_DATA},
#endif
    {Source::Lookup, EAI_AGAIN, WSATRY_AGAIN},
    {Source::Lookup, EAI_FAIL, WSANO_RECOVERY},
    {Source::Lookup, EAI_FAMILY, WSAEAFNOSUPPORT},
    {Source::Lookup, EAI_SOCKTYPE, WSAESOCKTNOSUPPORT},
    {Source::Lookup, EAI_SERVICE, WSATYPE_NOT_FOUND},
    {Source::Lookup, EAI_BADFLAGS, WSAEINVAL},
    {Source::Lookup, EAI_MEMORY, WSA_NOT_ENOUGH_MEMORY},
    {Source::Lookup, EAI_OVERFLOW, WSAEFAULT},
};

const Row* find(Source source, int native)
{
    for (const Row& row : kTable)
        if (row.source == source && row.native == native)
            return &row;
    return nullptr;
}

} // namespace

int SocketErrorFromErrno(int err)
{
    const Row* row = find(Source::Errno, err);
    return row ? row->code : err;
}

int SocketErrorFromLookup(int status, int err)
{
    if (status == EAI_SYSTEM)
        return SocketErrorFromErrno(err);
    const Row* row = find(Source::Lookup, status);
    return row ? row->code : WSANO_RECOVERY;
}

std::string SocketErrorText(int err)
{
    char buffer[256];
    return strerror_r(err, buffer, sizeof buffer); // the GNU variant returns the text
}

std::string SocketApiErrorMessage(int err, const char* Api)
{
    return Format("Windows socket error: %s (%d), on API '%s'", SocketErrorText(err).c_str(), SocketErrorFromErrno(err), Api);
}

std::string AsyncSocketErrorMessage(int code) { return Format("Asynchronous socket error %d", code); }
