#pragma once
// Socket error numbers as the socket events and messages carry them (Windows
// Sockets numbering), mapped from errno and from getaddrinfo results.
#include <string>

enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSATYPE_NOT_FOUND = 10109,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
    WSA_NOT_ENOUGH_MEMORY = 8,
    // A call started without any host name.
    SOCKET_NO_HOST = 1110,
};

// The socket error number for an errno value; an errno without a counterpart
// is passed through unchanged.
int SocketErrorFromErrno(int err);
// The socket error number for a getaddrinfo result (EAI_*); Errno is consulted
// for EAI_SYSTEM.
int SocketErrorFromLookup(int status, int err);
// The system's text for an errno value.
std::string SocketErrorText(int err);

// "Windows socket error: <text> (<code>), on API '<Api>'" for errno Err.
std::string SocketApiErrorMessage(int err, const char* Api);
// "Asynchronous socket error <code>".
std::string AsyncSocketErrorMessage(int code);
