#include "host/Nuvlet/Statistics.h"

#include <iomanip>
#include <locale>
#include <memory>
#include <sstream>
#include <utility>

#include <boost/asio/post.hpp>

#include "host/Nuvlet/StopReport.h"
#include "host/Nuvlet/Time.h"

namespace Talvo {
namespace Utility {

// ---------------------------------------------------------------------------------------------
// StatisticReporter

StatisticReporter::StatisticReporter(const LoggerOwner& logger, GDRV::IAsyncDeviceChannelHandler* handler,
                                     IContract* channel, boost::asio::io_context& io)
    : statisticLogger_(logger), handler_(handler), channel_(channel), io_(io) {}

StatisticReporter::~StatisticReporter() = default;

void StatisticReporter::updateStatistic(const std::string& name, const std::string& text) {
  NLOG(statisticLogger_, 0, " " << name << ": " << text);
  if (handler_ == nullptr || stopReported_) return;
  // The task must not touch `this`: the channel may end before the connection thread runs it.
  GDRV::IAsyncDeviceChannelHandler* handler = handler_;
  IContract* channel = channel_;
  boost::asio::post(
      io_, [handler, channel, name, text]() { handler->StatisticUpdated(channel, name.c_str(), text.c_str()); });
}

namespace {

// The Stopped report queued behind the lines: sent when the task runs, or else as the task goes.
class StopBehindLines {
 public:
  StopBehindLines(GDRV::IAsyncDeviceChannelHandler* handler, IContract* channel)
      : handler_(handler), channel_(channel) {}
  StopBehindLines(const StopBehindLines&) = delete;
  StopBehindLines& operator=(const StopBehindLines&) = delete;
  ~StopBehindLines() { send(); }
  void send() {
    if (sent_) return;
    sent_ = true;
    reportStop(handler_, channel_);
  }

 private:
  GDRV::IAsyncDeviceChannelHandler* handler_;
  IContract* channel_;
  bool sent_ = false;
};

}  // namespace

void StatisticReporter::reportStopAfterLastLine() {
  if (stopReported_) return;
  stopReported_ = true;
  if (handler_ == nullptr) return;
  auto stop = std::make_shared<StopBehindLines>(handler_, channel_);
  try {
    boost::asio::post(io_, [stop]() { stop->send(); });
  } catch (const std::exception&) {
    // Not queued: `stop` sends the report as it goes.
  }
}

// ---------------------------------------------------------------------------------------------
// FramesStatistic

namespace {
double perSecond(double amount, uint64_t elapsedMs) {
  return elapsedMs == 0 ? 0.0 : amount * 1000.0 / static_cast<double>(elapsedMs);
}
}  // namespace

std::string formatFramesLine(uint64_t frames, uint64_t keyFrames, uint64_t bytes, uint64_t outOfSync,
                             uint64_t elapsedMs) {
  std::ostringstream line;
  line.imbue(std::locale::classic());  // '.' as decimal point whatever the host's locale
  line << "frames=" << frames << " key=" << keyFrames << " bytes=" << bytes << std::fixed << std::setprecision(1)
       << " fps=" << perSecond(static_cast<double>(frames), elapsedMs)
       << " kbps=" << perSecond(static_cast<double>(bytes) * 8.0 / 1000.0, elapsedMs) << " outOfSync=" << outOfSync;
  return line.str();
}

FramesStatistic::FramesStatistic(std::string name, StatisticReportFunction report, Clock clock)
    : name_(std::move(name)), report_(std::move(report)), clock_(std::move(clock)) {
  total_.startMs = now();
  period_.startMs = total_.startMs;
}

FramesStatistic::~FramesStatistic() = default;

uint64_t FramesStatistic::now() const { return clock_ ? clock_() : timeStamp(); }

void FramesStatistic::onFrame(size_t size, bool key) {
  for (Counters* counters : {&total_, &period_}) {
    ++counters->frames;
    counters->bytes += size;
    if (key) ++counters->keyFrames;
  }
  if (reportInterval_ > 0 && period_.frames >= static_cast<uint64_t>(reportInterval_)) reportPeriod();
}

void FramesStatistic::resetFrameCounter(int frameReportInterval, int defaultInterval) {
  reportInterval_ = frameReportInterval > 0 ? frameReportInterval : (defaultInterval > 0 ? defaultInterval : 0);
  startPeriod();
}

void FramesStatistic::streamOutOfSync() {
  ++total_.outOfSync;
  ++period_.outOfSync;
}

std::string FramesStatistic::getFramesStatistic(uint64_t nowMs, uint64_t sinceMs, bool reset) {
  const uint64_t startMs = sinceMs != 0 ? sinceMs : total_.startMs;
  const uint64_t elapsedMs = nowMs > startMs ? nowMs - startMs : 0;  // a clock step back gives no rate
  std::string line = formatFramesLine(total_.frames, total_.keyFrames, total_.bytes, total_.outOfSync, elapsedMs);
  if (reset) {
    total_ = Counters();
    total_.startMs = nowMs;
  }
  return line;
}

void FramesStatistic::startPeriod() {
  period_ = Counters();
  period_.startMs = now();
}

void FramesStatistic::reportPeriod() {
  const uint64_t nowMs = now();
  const uint64_t elapsedMs = nowMs > period_.startMs ? nowMs - period_.startMs : 0;
  const std::string line =
      formatFramesLine(period_.frames, period_.keyFrames, period_.bytes, period_.outOfSync, elapsedMs);
  period_ = Counters();
  period_.startMs = nowMs;
  if (report_) report_(name_, line);
}

// ---------------------------------------------------------------------------------------------
// ConnectsStatistic

ConnectsStatistic::ConnectsStatistic(std::string name, StatisticReportFunction report)
    : name_(std::move(name)), report_(std::move(report)) {}

ConnectsStatistic::~ConnectsStatistic() = default;

void ConnectsStatistic::onConnectionStart() {
  ++starts_;
  if (starts_ > 1 && report_) report_(name_, "starts=" + std::to_string(starts_));
}

}  // namespace Utility
}  // namespace Talvo
