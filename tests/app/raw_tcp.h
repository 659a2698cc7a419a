#pragma once
// Plain blocking TCP endpoints on loopback, standing in for the far side.
#include <string>

int RawListen(int port);            // listening socket on 127.0.0.1
int RawAccept(int listener);        // -1 when nobody called yet (never blocks)
int RawConnect(int port);           // connected socket to 127.0.0.1, -1 on failure
std::string RawRead(int fd, int waitMs); // what arrives within waitMs ("" on none)
bool RawClosedByPeer(int fd, int waitMs); // end of stream seen within waitMs
void RawWrite(int fd, const std::string& bytes);
void RawClose(int fd);
