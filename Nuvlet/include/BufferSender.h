// The buffer sender's state and its handling of stream information. A stream source (live video,
// recording playback) passes information about the next buffers as a boost::any holding one of
// the FilterInfo messages below; the sender keeps what the following buffers need.
//
// Ownership: the sender does not own the FramesStatistic (it may be null); the owner of both
// keeps the statistic alive as long as the sender.
// Threads: one owner thread (the stream's worker) calls every member; none is synchronised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <boost/any.hpp>

#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/Statistics.h"

namespace Talvo {
namespace Utility {

// Stream information messages, each carried in a boost::any.
namespace FilterInfo {
// Whether the next buffers start with a key frame; true also ends an out-of-sync state.
struct SetKeyFrame {
  bool keyFrame = false;
};
// The time stamp (ms since 1970) attached to the next buffers.
struct SetTimeStamp {
  uint64_t timeStamp = 0;
};
// The stream's bit rate; meant for filters that know one. The buffer sender ignores it.
struct SetBitrate {
  int bitrate = 0;
};
// The stream lost its synchronisation (a gap or damaged data); no data.
struct StreamOutOfSync {};
// An opaque user-data packet from the camera's stream.
struct UserData {
  std::vector<uint8_t> data;
};
}  // namespace FilterInfo

class BufferSender {
 public:
  using UserDataPacket = std::vector<uint8_t>;
  // The camera feeds user data: one packet and the pending list are capped.
  static constexpr size_t kMaxUserDataPacketSize = 1048576;  // 1 MiB
  static constexpr size_t kMaxPendingUserDataPackets = 1000;
  static constexpr uint32_t kOutOfSyncCollapseCount = 1000;

  // `logger` is copied; `statistic` (may be null) counts out-of-sync events.
  BufferSender(const LoggerOwner& logger, FramesStatistic* statistic, bool userDataEnabled = false)
      : logger_(logger), statistic_(statistic), userDataEnabled_(userDataEnabled) {}

  // Takes the information in `info` by the type it holds; other types are ignored.
  void handleInfo(const boost::any& info) {
    const std::type_info& type = info.type();
    if (type == typeid(FilterInfo::SetKeyFrame))
      onKeyFrame(boost::any_cast<const FilterInfo::SetKeyFrame&>(info));
    else if (type == typeid(FilterInfo::StreamOutOfSync))
      onStreamOutOfSync();
    else if (type == typeid(FilterInfo::SetTimeStamp))
      timeStamp_ = boost::any_cast<const FilterInfo::SetTimeStamp&>(info).timeStamp;
    else if (type == typeid(FilterInfo::UserData))
      onUserData(boost::any_cast<const FilterInfo::UserData&>(info).data);
  }

  // The time stamp the playback path attaches to each forwarded buffer.
  uint64_t timeStamp() const { return timeStamp_; }
  bool waitForKeyFrame() const { return waitForKeyFrame_; }
  bool outOfSync() const { return outOfSync_; }
  uint64_t outOfSyncEvents() const { return outOfSyncEvents_; }

  bool userDataEnabled() const { return userDataEnabled_; }
  void setUserDataEnabled(bool enabled) { userDataEnabled_ = enabled; }
  const std::deque<UserDataPacket>& pendingUserData() const { return pendingUserData_; }
  // Hands the pending packets over (oldest first) and leaves the list empty.
  std::deque<UserDataPacket> takePendingUserData() {
    std::deque<UserDataPacket> taken;
    taken.swap(pendingUserData_);
    return taken;
  }

  const LoggerOwner& senderLogger() const { return logger_; }

 private:
  void onKeyFrame(const FilterInfo::SetKeyFrame& info) {
    waitForKeyFrame_ = info.keyFrame;
    if (info.keyFrame) outOfSync_ = false;
  }

  void onStreamOutOfSync() {
    outOfSync_ = true;
    ++outOfSyncEvents_;
    if (statistic_) statistic_->streamOutOfSync();
    if (!logger_.isLevelEnabled(0)) return;
    // A broken stream repeats this every frame: one line per kOutOfSyncCollapseCount events.
    static const std::string collapserKey = std::string(__FILE__) + ":" + std::to_string(__LINE__) + ":" + __func__;
    if (!LogCollapserMaker::logCollapser(collapserKey, kOutOfSyncCollapseCount)) return;
    logger_.log(0, __FILE__, __LINE__, "handleInfo",
                " [collapsed " + std::to_string(kOutOfSyncCollapseCount) + "]" + "Stream out of sync.");
  }

  void onUserData(const UserDataPacket& packet) {
    // "<=" on purpose: with 1000 pending the 1001st is still accepted, the next one dropped.
    if (packet.size() <= kMaxUserDataPacketSize && pendingUserData_.size() <= kMaxPendingUserDataPackets) {
      if (userDataEnabled_ && !packet.empty()) pendingUserData_.push_back(packet);
      return;
    }
    NLOG(logger_, 2,
         " User data packet dropped due packet or container size limitations. Passed packet size = "
             << packet.size() << " container size = " << pendingUserData_.size());
  }

  LoggerOwner logger_;
  FramesStatistic* statistic_;
  uint64_t timeStamp_ = 0;
  bool waitForKeyFrame_ = false;
  bool outOfSync_ = false;
  bool userDataEnabled_;
  std::deque<UserDataPacket> pendingUserData_;
  uint64_t outOfSyncEvents_ = 0;  // the collapser's own count is process-wide, per message
};

}  // namespace Utility
}  // namespace Talvo
