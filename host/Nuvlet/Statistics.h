// Per-channel statistics of the utility library: the reporter that hands named lines to the
// host, the frame counters of a stream and the connection-start counter. Declarations only;
// implemented in libNuvlet (Nuvlet/src/Statistics.cpp). docs/statistics.md describes the lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <boost/asio/io_context.hpp>

#include "../Contract.h"
#include "../GDRV.h"
#include "Logging.h"

namespace Talvo {
namespace Utility {

// Receives one statistics line: `name` such as "video" or "connects", `text` the line.
using StatisticReportFunction = std::function<void(const std::string& name, const std::string& text)>;

// Hands statistics lines of one channel to the host's channel handler.
//
// updateStatistic may be called from any thread (normally the channel's video worker): it only
// posts the call of StatisticUpdated onto `io` (the device's connection thread), so the
// caller never waits for the host. The posted task holds copies of the handler pointer, the
// channel pointer and the strings, never the reporter: the reporter may be gone when it runs.
// The host keeps the handler valid while the device's connection thread runs tasks of the channel.
// `io` must outlive the reporter.
class StatisticReporter {
 public:
  // `logger` is copied; `handler` may be null (then nothing reaches the host).
  StatisticReporter(const LoggerOwner& logger, GDRV::IAsyncDeviceChannelHandler* handler, IContract* channel,
                    boost::asio::io_context& io);
  StatisticReporter(const StatisticReporter&) = delete;
  StatisticReporter& operator=(const StatisticReporter&) = delete;
  virtual ~StatisticReporter();

  // Logs " <name>: <text>" at level 0 and posts StatisticUpdated(channel, name, text); after
  // reportStopAfterLastLine the line is only logged.
  void updateStatistic(const std::string& name, const std::string& text);
  // The channel's last act: posts its Stopped report onto `io` behind every line posted before,
  // so that the host hears no line after Stopped. The report itself goes out as reportStop
  // sends it (StopReport.h), never on `io`'s thread, so a host may stop or destroy anything
  // from Stopped. When `io` drops the task unrun (its owner ends first) the task still sends
  // the report as it goes. Called once, by the thread that calls updateStatistic.
  void reportStopAfterLastLine();

 private:
  LoggerOwner statisticLogger_;
  GDRV::IAsyncDeviceChannelHandler* handler_;
  IContract* channel_;
  boost::asio::io_context& io_;
  bool stopReported_ = false;
};

// Frame counters of one stream: frames, bytes, key frames and out-of-sync events.
//
// Two sets of counters run side by side:
//  - the totals, since creation or since the last getFramesStatistic(..., reset = true);
//  - the report period, restarted by resetFrameCounter and after every periodic line.
// Every `interval` frames of a period the period's line is reported through the report function
// (on the calling thread, inside onFrame), and a new period starts.
//
// Line format (rates with one decimal, '.' as decimal point):
//   "frames=1234 key=124 bytes=5678901 fps=25.0 kbps=1800.2 outOfSync=0"
// fps = frames / seconds, kbps = bytes * 8 / 1000 / seconds, over the measured time; 0.0 when
// no time has passed.
//
// Threads: one owner thread (the channel's worker) calls every member; none is synchronised.
class FramesStatistic {
 public:
  // Milliseconds since 1970; tests pass their own clock.
  using Clock = std::function<uint64_t()>;
  // The interval used until resetFrameCounter says otherwise.
  static constexpr int kDefaultFrameReportInterval = 90;

  // `report` receives the periodic lines (may be empty: nothing is reported).
  // Without `clock`, Talvo::Utility::timeStamp() measures the time.
  FramesStatistic(std::string name, StatisticReportFunction report, Clock clock = Clock());
  virtual ~FramesStatistic();

  // One frame of `size` bytes; `key` for a key frame. Reports the period's line when the period
  // has counted its interval of frames.
  void onFrame(size_t size, bool key);
  // Starts a new report period with cleared period counters. From now on a line is reported
  // every `frameReportInterval` frames when it is > 0, else every `defaultInterval` frames
  // (the video source passes 90); when both are <= 0 no periodic line is reported.
  void resetFrameCounter(int frameReportInterval, int defaultInterval);
  // The stream lost its synchronisation (counted in the totals and the period).
  void streamOutOfSync();

  // The totals as a line. Rates are measured from `sinceMs` when non-zero (for example the
  // moment the stream really started), else from the start of the totals (creation or the last
  // reset), up to `nowMs`. With `reset` the totals are cleared afterwards and restart at `nowMs`.
  std::string getFramesStatistic(uint64_t nowMs, uint64_t sinceMs, bool reset);

  const std::string& statisticName() const { return name_; }
  uint64_t totalFrames() const { return total_.frames; }
  uint64_t totalKeyFrames() const { return total_.keyFrames; }
  uint64_t totalBytes() const { return total_.bytes; }
  uint64_t totalOutOfSync() const { return total_.outOfSync; }
  uint64_t periodFrames() const { return period_.frames; }
  // The interval in force (0 when periodic lines are off).
  int frameReportInterval() const { return reportInterval_; }

 private:
  struct Counters {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
    uint64_t outOfSync = 0;
    uint64_t startMs = 0;
  };
  uint64_t now() const;
  void startPeriod();
  void reportPeriod();

  std::string name_;
  StatisticReportFunction report_;
  Clock clock_;
  int reportInterval_ = kDefaultFrameReportInterval;
  Counters total_;
  Counters period_;
};

// Counts the starts of a channel's connection. Every start after the first is a reconnect,
// which an integrator wants to see: it reports "starts=N" through the report function.
// Threads: one owner thread, as FramesStatistic.
class ConnectsStatistic {
 public:
  ConnectsStatistic(std::string name, StatisticReportFunction report);
  virtual ~ConnectsStatistic();

  void onConnectionStart();
  uint64_t connectionStarts() const { return starts_; }

 private:
  std::string name_;
  StatisticReportFunction report_;
  uint64_t starts_ = 0;
};

// Formats a statistics line; exposed for tests and for the frame counters.
std::string formatFramesLine(uint64_t frames, uint64_t keyFrames, uint64_t bytes, uint64_t outOfSync,
                             uint64_t elapsedMs);

}  // namespace Utility
}  // namespace Talvo
