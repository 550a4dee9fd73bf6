// Vantrel::IODeviceProfileBasedMngr: the device's meeting point of the profile-based I/O boards
// with the camera. It runs the boards' camera requests and checks their answers, keeps the
// camera's lists of message-triggered event profiles and of connected RS-232 boards, and hands
// the camera's active-event list, read from the event section of the live stream, to every
// registered board.
//
// Threads: event sections arrive on the video workers (processEventFrame and the channel
// registration); everything else runs on the device's connection thread, where the event lists
// are dispatched too, so a board sees its registration, its requests' answers and the event lists
// on one thread. The mutex guards the board set and the followed channel; it is never held while
// a board or the host is called.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "host/Nuvlet/Http.h"
#include "host/Nuvlet/Logging.h"

namespace Vantrel {

class Device;

// True when a text anywhere in `value` (a camera's answer, nested as deep as it likes) ends with
// `mark`. Walks without recursion, so no nesting can exhaust the calling thread's stack.
bool holdsTextEndingWith(const nlohmann::json& value, const std::string& mark);

// What the manager calls on a registered board (connection thread).
class EventListBoard {
 public:
  virtual ~EventListBoard() = default;
  // The camera's active events at camera time `timeMs`.
  virtual void handleEventList(const std::vector<std::string>& activeEvents, uint64_t timeMs) = 0;
};

class IODeviceProfileBasedMngr {
 public:
  // 0 for a good answer, else the request's error code; the body as received.
  using Completion = std::function<void(int32_t code, const std::string& body)>;

  // One RS-232 board connected to the camera: its serial names it in the camera's configuration
  // and prefixes its messages; it is initialized when it already has the driver's messages.
  struct BoardDescription {
    std::string serial;
    bool initialized = false;
  };

  static constexpr const char* kBoardsPath = "/api/json/config/ZL_232_IO_Box";

  // The camera's boards answer: one JSON object, one member per board, named by the board's
  // serial, in answer order. std::exception for an answer that is no object or nests too deep.
  static std::vector<BoardDescription> parseBoards(const std::string& body);

  // `owner` outlives the manager.
  explicit IODeviceProfileBasedMngr(Device& owner);
  ~IODeviceProfileBasedMngr();
  IODeviceProfileBasedMngr(const IODeviceProfileBasedMngr&) = delete;
  IODeviceProfileBasedMngr& operator=(const IODeviceProfileBasedMngr&) = delete;

  // Connection thread. Registering makes the device arm the camera's events; a board is
  // called with event lists until it unregisters.
  void registerBoard(const std::shared_ptr<EventListBoard>& board);
  void unregisterBoard(const EventListBoard* board);

  // Connection thread. GET (or POST of a JSON document) `path` on the camera; the answer is
  // checked under `requestName` and `done` runs on the connection thread.
  void sendRequest(const std::string& path, const std::string& requestName, Completion done);
  void postJson(const std::string& path, const std::string& document, const std::string& requestName, Completion done);

  // Connection thread. Reads the camera's message-event profiles ("Reading events profile");
  // `done` gets whether the answer was good. isMessageProfilDefined looks into the last answer.
  void readMessageProfiles(std::function<void(bool)> done);
  bool isMessageProfilDefined(const std::string& name) const;

  // Connection thread. Reads the boards connected to the camera; `done` runs after the
  // descriptions were renewed (emptied when the answer is bad).
  void getBoardDesc(std::function<void()> done);
  const BoardDescription* boardDescription(uint32_t board) const;

  // Video workers: the live stream of `channel` runs; its event sections are followed while no
  // other channel's are.
  void registerEventChannel(uint32_t channel);
  void unregisterEventChannel(uint32_t channel);
  // Video workers: an event section of `channel`'s stream.
  void processEventFrame(uint32_t channel, const std::string& text);

  // Cancels the requests in flight (the device goes). Connection thread or after it ended.
  void shutdown();

 private:
  void start(const std::string& requestName, Completion done,
             const std::function<void(Talvo::http::Callback, Talvo::http::AsyncOperationPtr&)>& launch);
  void dispatch(const std::vector<std::string>& activeEvents, uint64_t timeMs);
  void readBoardDescriptions(const std::string& body);
  Talvo::LoggerOwner logger() const;

  Device& owner_;

  mutable std::mutex mutex_;  // guards the three members below
  std::vector<std::shared_ptr<EventListBoard>> boards_;
  std::map<uint32_t, int> videoChannels_;  // channel -> running streams
  bool following_ = false;
  uint32_t followed_ = 0;

  // Connection thread only.
  std::map<uint64_t, Talvo::http::AsyncOperationPtr> pending_;
  uint64_t nextRequest_ = 0;
  std::string messageProfiles_;
  std::map<uint32_t, BoardDescription> boardDescriptions_;
};

}  // namespace Vantrel
