#include "FrameStatisticReporter.h"

namespace Vantrel {

// The report functions capture `this`; they are called only after construction, by the owner.
FrameStatisticReporter::FrameStatisticReporter(const Talvo::LoggerOwner& logger,
                                               Talvo::GDRV::IAsyncDeviceChannelHandler* handler,
                                               Talvo::IContract* channel, boost::asio::io_context& context)
    : Talvo::Utility::StatisticReporter(logger, handler, channel, context),
      Talvo::Utility::FramesStatistic(
          kVideoStatisticName,
          [this](const std::string& name, const std::string& text) { updateStatistic(name, text); }),
      Talvo::Utility::ConnectsStatistic(
          kConnectsStatisticName,
          [this](const std::string& name, const std::string& text) { updateStatistic(name, text); }) {}

FrameStatisticReporter::~FrameStatisticReporter() = default;

void FrameStatisticReporter::onPartDropped() {
  ++droppedParts_;
  updateStatistic(kDroppedStatisticName, "parts=" + std::to_string(droppedParts_));
}

}  // namespace Vantrel
