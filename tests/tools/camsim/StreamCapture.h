// A client's view of the simulator over raw loopback sockets: the server-push stream's multipart
// layout checked byte by byte, and test-side JPEG checks independent of the simulator's own code
// (libjpeg decoding, a delta picture put behind a key picture's tables). Blocking; any thread.
// Requests go as the tests' camera user admin:meinsm (kAdmin).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "CamsimProcess.h"

inline const char* const kAdmin = "Authorization: Basic YWRtaW46bWVpbnNt\r\n";  // admin:meinsm

struct StreamCapture {
  std::string head;                   // HTTP head of the answer
  std::vector<std::string> pictures;  // part bodies in order
  bool closedByServer = false;        // the server ended the stream before enough parts came
  std::string error;                  // layout fault or passed deadline; empty when all went well
};

// Reads until `parts` parts arrived, the server closed, the layout broke or the deadline
// passed (then error says so).
StreamCapture captureStream(std::uint16_t port, const std::string& target, std::size_t parts,
                            std::chrono::milliseconds deadline = std::chrono::seconds(10));

// "GET `target`" as the tests' camera user.
std::string getRequest(const std::string& target);

// Decodes the whole picture with libjpeg: "WIDTHxHEIGHT", or "" on any libjpeg error or warning.
std::string decodedSize(const std::string& jpeg);
// The big-endian 16-bit number at `at` (marker segment lengths); the caller checks the size.
std::size_t bigEndian16(const std::string& bytes, std::size_t at);
// The delta picture's scan put behind the key picture's head (its tables): what a client
// decoder does with a delta picture.
std::string withTablesOf(const std::string& key, const std::string& delta);
