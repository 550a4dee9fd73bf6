#include "IODeviceProfileBasedMngr.h"

#include <algorithm>
#include <stdexcept>

#include <boost/asio/post.hpp>
#include <nlohmann/json.hpp>

#include "CameraJson.h"
#include "Device.h"
#include "EventSection.h"
#include "ProfileAnswers.h"
#include "ResponseCheck.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Vantrel {

namespace {

const char kMessageProfilesRead[] = "/control/control?read&section=event_msg&msg";
const char kInitializedMark[] = "_o2_on_1sec";
const int32_t kEmptyAnswer = 256;

// The code a board hands on for a finished request: 0 only for a good answer.
int32_t answerCode(const boost::system::error_code& error, const Talvo::http::Body& body,
                   const Talvo::http::HttpResponse& response) {
  if (error) return Talvo::Utility::translateSystemError(error);
  if (!response.isSuccess()) return Talvo::http::translateResponseError(response);
  return body.empty() ? kEmptyAnswer : 0;
}

}  // namespace

bool holdsTextEndingWith(const nlohmann::json& value, const std::string& mark) {
  std::vector<const nlohmann::json*> left{&value};
  while (!left.empty()) {
    const nlohmann::json& item = *left.back();
    left.pop_back();
    if (item.is_string()) {
      const std::string& text = item.get_ref<const std::string&>();
      if (text.size() >= mark.size() && text.compare(text.size() - mark.size(), mark.size(), mark) == 0) return true;
    } else if (item.is_structured()) {
      for (const nlohmann::json& inner : item) left.push_back(&inner);
    }
  }
  return false;
}

IODeviceProfileBasedMngr::IODeviceProfileBasedMngr(Device& owner) : owner_(owner) {}

IODeviceProfileBasedMngr::~IODeviceProfileBasedMngr() { shutdown(); }

Talvo::LoggerOwner IODeviceProfileBasedMngr::logger() const { return owner_.deviceLogger(); }

void IODeviceProfileBasedMngr::shutdown() {
  for (auto& request : pending_) request.second->cancel();
  pending_.clear();
}

void IODeviceProfileBasedMngr::registerBoard(const std::shared_ptr<EventListBoard>& board) {
  NUVLET_DCHECK_CALLED_ON(owner_.isCalledFromConnectionThread());
  std::lock_guard<std::mutex> lock(mutex_);
  owner_.enableArming();
  if (std::find(boards_.begin(), boards_.end(), board) == boards_.end()) boards_.push_back(board);
}

void IODeviceProfileBasedMngr::unregisterBoard(const EventListBoard* board) {
  NUVLET_DCHECK_CALLED_ON(owner_.isCalledFromConnectionThread());
  std::shared_ptr<EventListBoard> removed;  // released after the lock
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = std::find_if(boards_.begin(), boards_.end(), [board](const auto& b) { return b.get() == board; });
  if (found == boards_.end()) return;
  removed = *found;
  boards_.erase(found);
}

void IODeviceProfileBasedMngr::start(
    const std::string& requestName, Completion done,
    const std::function<void(Talvo::http::Callback, Talvo::http::AsyncOperationPtr&)>& launch) {
  NUVLET_DCHECK_CALLED_ON(owner_.isCalledFromConnectionThread());
  const uint64_t id = nextRequest_++;
  Talvo::http::Callback finished = [this, id, requestName, done](const boost::system::error_code& error,
                                                                 const Talvo::http::Body& body,
                                                                 const Talvo::http::HttpResponse& response) {
    pending_.erase(id);
    isDeviceResponseOk(error, body, response, logger(), requestName, "operator()");
    if (done) done(answerCode(error, body, response), std::string(body.begin(), body.end()));
  };
  try {
    launch(std::move(finished), pending_[id]);
  } catch (const std::exception& e) {
    pending_.erase(id);
    NLOG(logger(), 3, " " << requestName << ": " << e.what());
    const int32_t code = Talvo::Utility::translateSystemError(Talvo::error::make_error_code(Talvo::error::bad_request));
    boost::asio::post(owner_.ioContext(), [done, code] {
      if (done) done(code, std::string());
    });
  }
}

void IODeviceProfileBasedMngr::sendRequest(const std::string& path, const std::string& requestName, Completion done) {
  start(requestName, std::move(done), [this, path](Talvo::http::Callback finished, Talvo::http::AsyncOperationPtr& op) {
    Talvo::http::asyncGetEx(owner_.connectionInfo(), path, owner_.ioContext(), 0, std::move(finished), op,
                            owner_.rawLogger());
  });
}

void IODeviceProfileBasedMngr::postJson(const std::string& path, const std::string& document,
                                        const std::string& requestName, Completion done) {
  start(requestName, std::move(done),
        [this, path, document](Talvo::http::Callback finished, Talvo::http::AsyncOperationPtr& op) {
          Talvo::http::asyncPostEx(owner_.connectionInfo(), path, document, owner_.ioContext(), 0, std::move(finished),
                                   {{"Content-Type", "application/json"}}, op, owner_.rawLogger());
        });
}

void IODeviceProfileBasedMngr::readMessageProfiles(std::function<void(bool)> done) {
  sendRequest(kMessageProfilesRead, "Reading events profile", [this, done](int32_t code, const std::string& body) {
    messageProfiles_ = code == 0 ? body : std::string();
    done(code == 0);
  });
}

bool IODeviceProfileBasedMngr::isMessageProfilDefined(const std::string& name) const {
  return hasMessageProfile(messageProfiles_, name);
}

void IODeviceProfileBasedMngr::getBoardDesc(std::function<void()> done) {
  sendRequest(kBoardsPath, "Reading boards", [this, done](int32_t code, const std::string& body) {
    boardDescriptions_.clear();
    if (code == 0) readBoardDescriptions(body);
    done();
  });
}

std::vector<IODeviceProfileBasedMngr::BoardDescription> IODeviceProfileBasedMngr::parseBoards(const std::string& body) {
  const nlohmann::json boards = parseCameraJson(body);
  if (!boards.is_object()) throw std::runtime_error("the boards answer is not an object");
  std::vector<BoardDescription> found;
  for (auto member = boards.begin(); member != boards.end(); ++member)
    found.push_back({member.key(), holdsTextEndingWith(member.value(), kInitializedMark)});
  return found;
}

void IODeviceProfileBasedMngr::readBoardDescriptions(const std::string& body) {
  try {
    const std::vector<BoardDescription> boards = parseBoards(body);
    for (uint32_t position = 0; position < boards.size(); ++position) {
      const BoardDescription& board = boardDescriptions_[position] = boards[position];
      NLOG(logger(), 0,
           " Board " << position + 1 << " found on device, serial = '" << board.serial
                     << "', initialized=" << board.initialized);
    }
    NLOG(logger(), 0, " Boards found: " << boardDescriptions_.size());
  } catch (const std::exception& e) {
    boardDescriptions_.clear();
    NLOG(logger(), 3, " Can not read parameters from JSON: " << e.what());
  }
}

const IODeviceProfileBasedMngr::BoardDescription* IODeviceProfileBasedMngr::boardDescription(uint32_t board) const {
  const auto found = boardDescriptions_.find(board);
  return found == boardDescriptions_.end() ? nullptr : &found->second;
}

void IODeviceProfileBasedMngr::registerEventChannel(uint32_t channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++videoChannels_[channel];
  if (!following_) {
    following_ = true;
    followed_ = channel;
  }
}

void IODeviceProfileBasedMngr::unregisterEventChannel(uint32_t channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = videoChannels_.find(channel);
  if (found == videoChannels_.end()) return;
  if (--found->second > 0) return;
  videoChannels_.erase(found);
  if (followed_ != channel) return;
  // Another running stream carries the same camera-wide section.
  following_ = !videoChannels_.empty();
  followed_ = following_ ? videoChannels_.begin()->first : 0;
}

void IODeviceProfileBasedMngr::processEventFrame(uint32_t channel, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (boards_.empty() || !following_ || channel != followed_) return;
  }
  auto read = readEventSection(text);
  if (!read) {
    NLOG(logger(), 0, " Cannot get timestamp");
    return;
  }
  boost::asio::post(owner_.ioContext(),
                    [this, section = std::move(*read)] { dispatch(section.activeEvents, section.timeMs); });
}

void IODeviceProfileBasedMngr::dispatch(const std::vector<std::string>& activeEvents, uint64_t timeMs) {
  std::vector<std::shared_ptr<EventListBoard>> boards;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    boards = boards_;
  }
  for (const auto& board : boards) {
    {
      // A board that left during an earlier board's call hears nothing more.
      std::lock_guard<std::mutex> lock(mutex_);
      if (std::find(boards_.begin(), boards_.end(), board) == boards_.end()) continue;
    }
    board->handleEventList(activeEvents, timeMs);
  }
}

}  // namespace Vantrel
