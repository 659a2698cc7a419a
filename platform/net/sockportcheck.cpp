#include "sockportcheck.h"

#include "scktcomp.h"

void CheckSocketPort(int64_t Value)
{
    if (Value < 0 || Value > 65535)
        throw ESocketError(Format("Invalid port number %lld", static_cast<long long>(Value)));
}

int SocketPortValue(int64_t Value)
{
    CheckSocketPort(Value);
    return static_cast<int>(Value);
}
