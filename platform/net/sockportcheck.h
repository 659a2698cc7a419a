#pragma once
// The range check that both socket components apply to a port number.
#include <cstdint>

// Raises ESocketError "Invalid port number %d" outside 0..65535.
void CheckSocketPort(int64_t Value);
// Value as an int once it has passed CheckSocketPort.
int SocketPortValue(int64_t Value);
