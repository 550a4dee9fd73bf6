// The Stopped notification: delivered once, never on the caller's thread, with or without the
// shared I/O service, also when the service ends right after posting.
#include "host/Nuvlet/StopReport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestChannels.h"
#include "host/Nuvlet/GlobalService.h"

namespace {

using namespace Talvo::Utility;

// True when Stopped came once, from `source`, on another thread than the test's.
bool deliveredOnceElsewhere(const RecordingNoteHandler& recorder, Talvo::IContract* source) {
  if (!recorder.waitForStopped()) return false;
  const auto notes = recorder.notes();
  return notes.size() == 1 && notes[0].channel == source && notes[0].thread != std::this_thread::get_id();
}

TEST(ReportStopTest, DeliversOnAnotherThreadWithOrWithoutALiveService) {
  RecordingActionHandler source;  // any contract
  for (const bool live : {true, false}) {
    const auto service = live ? GlobalService::instance() : nullptr;
    ASSERT_EQ(GlobalService::current(), service);
    RecordingNoteHandler recorder;
    reportStop(&recorder, &source);
    reportStop(nullptr, &source);
    EXPECT_TRUE(deliveredOnceElsewhere(recorder, &source)) << live;
  }
}

TEST(ReportStopTest, DeliversWhenTheServiceEndsRightAfterPosting) {
  RecordingActionHandler source;
  for (int round = 0; round < 20; ++round) {
    RecordingNoteHandler recorder;
    {
      auto service = GlobalService::instance();
      reportStop(&recorder, &source);
    }  // the last reference: the service may end before the call ran
    ASSERT_TRUE(deliveredOnceElsewhere(recorder, &source)) << "round " << round;
  }
}

}  // namespace
