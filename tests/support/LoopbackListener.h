// A listening TCP socket on 127.0.0.1 at an ephemeral port, for the scripted peers.
#pragma once

#include <cstdint>

// Returns the socket and sets `port`; throws std::runtime_error naming `who` when it cannot.
int openLoopbackListener(std::uint16_t& port, const char* who);
