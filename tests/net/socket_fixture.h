#pragma once
// A server and a client socket component owned by one root, with every event
// written to a log, on the loopback of a private network namespace.
#include "box_watcher.h"
#include "scktcomp.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

constexpr int kPort = 2000;

class SocketTest : public testing::Test {
protected:
    SocketTest();
    void SetUp() override;

    // Log lines: "client connect", "server disconnect", "client error 3 10061".
    std::vector<std::string> events;
    int count(const std::string& line) const;
    bool seen(const std::string& line) const { return count(line) > 0; }
    // Errors of one side, as "<kind> <code>".
    std::vector<std::string> errors(const std::string& side) const;

    // Decides what an error handler does with the code; clears it by default.
    std::function<void(TCustomWinSocket*, TErrorEvent, int&)> onError = [](TCustomWinSocket*, TErrorEvent, int& code) {
        code = 0;
    };
    // Run inside the matching event after it is logged.
    std::function<void(TCustomWinSocket*)> onServerConnect, onServerRead, onClientRead;

    // Listens on kPort and calls it from the client; returns the accepted connection.
    TCustomWinSocket* connectPair();

    BoxWatcher boxes;
    TComponent root{nullptr};
    TServerSocket* server;
    TClientSocket* client;
};

// Bytes waiting on Socket, received whole.
std::string ReceiveAll(TCustomWinSocket* Socket);

// Plain POSIX peers for the cases the components cannot produce.
int RawConnect(int port);            // blocking connect to 127.0.0.1
void ResetAndClose(int fd);          // closes with a reset (linger 0)
