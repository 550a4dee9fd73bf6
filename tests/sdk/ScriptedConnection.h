// A Zelta_NetworkConnection without a network: it "connects" at once, hands out the bytes of a
// recorded stream in the receive sizes the test chooses, and records what the SDK sends.
// Single-threaded like the SDK. Used by the segment tests, the fuzzers and the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Zelta_NetworkConnection.h"

class ScriptedConnection : public Zelta::Zelta_NetworkConnection {
 public:
  static constexpr int kSocket = 7;

  // Receive sizes are used in turn (the last one repeats); 0 entries mean "nothing this step".
  void feed(std::string bytes, std::vector<size_t> receiveSizes = {}) {
    owned_ = std::move(bytes);
    feedBorrowed(owned_, std::move(receiveSizes));
  }
  // The same without a copy: `bytes` must outlive the feeding (benchmarks).
  void feedBorrowed(const std::string& bytes, std::vector<size_t> receiveSizes = {}) {
    pending_ = &bytes;
    offset_ = 0;
    sizes_ = receiveSizes.empty() ? std::vector<size_t>{bytes.empty() ? 1 : bytes.size()} : std::move(receiveSizes);
    nextSize_ = 0;
  }
  bool drained() const { return offset_ >= pending_->size(); }

  Zelta::NetworkResult setupConnectionToRemoteHost(const char* host, int port, bool ssl, int* socketOut) override {
    ++connects;
    if (failConnect) return Zelta::kNetworkError;
    *socketOut = kSocket;
    sendConnectionReady(kSocket);
    return Zelta::kNetworkSuccess;
  }
  Zelta::NetworkResult receiveData(int socket, uint8_t* buffer, size_t capacity, size_t* received) override {
    *received = 0;
    if (drained()) return Zelta::kNetworkNothingReceived;
    const size_t size =
        std::min({sizes_[std::min(nextSize_++, sizes_.size() - 1)], capacity, pending_->size() - offset_});
    if (size == 0) return Zelta::kNetworkNothingReceived;
    std::memcpy(buffer, pending_->data() + offset_, size);
    offset_ += size;
    *received = size;
    return Zelta::kNetworkSuccess;
  }
  Zelta::NetworkResult sendData(int socket, const uint8_t* data, size_t length, int* sent) override {
    if (sendFailures > 0) {
      --sendFailures;
      *sent = -1;
      return Zelta::kNetworkError;
    }
    sentBytes.append(reinterpret_cast<const char*>(data), length);
    *sent = static_cast<int>(length);
    return Zelta::kNetworkSuccess;
  }
  Zelta::NetworkResult closeConnection(int socket) override {
    ++closes;
    sendConnectionClosed(socket);
    return Zelta::kNetworkSuccess;
  }
  void setConnectionState(int state) override { states.push_back(state); }

  std::string sentBytes;
  std::vector<int> states;
  int connects = 0;
  int closes = 0;
  int sendFailures = 0;
  bool failConnect = false;

 private:
  std::string owned_;
  const std::string* pending_ = &owned_;
  size_t offset_ = 0;
  std::vector<size_t> sizes_{1};
  size_t nextSize_ = 0;
};
