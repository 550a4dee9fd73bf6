// The camera as a storage device against the simulator's recording timeline: the span, searches
// over ranges in the camera's batches of 50, stopping, and answers that are no list.
#include "RecordingSearch.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CamsimProcess.h"
#include "CapturingLogger.h"
#include "Device.h"
#include "RawPeer.h"
#include "Recorder.h"
#include "ShippedDevice.h"
#include "host/Nuvlet/GlobalService.h"
#include "host/Storage.h"

namespace {

using namespace std::chrono_literals;

const uint64_t kStart = 1500000000;  // the timeline's first second
const std::string kList = "/control/event.jpg?output=alarmlist_extended";

// The begin (ms) of a sequence of the simulator's timeline: 10 s long, 5 s apart.
uint64_t sequenceBegin(int index) { return (kStart + static_cast<uint64_t>(index) * 15) * 1000 + 500; }

// What the search and the storage queries report, in order: "1057 <begin>-<end> video <begin>-<end>"
// per range found with its tracks, "completed 0", "list <recordings>", "one <recording>", "failed 110".
class StorageReports : public Talvo::GDRV::IRecordingSearchHandler,
                       public Talvo::GDRV::IRecordingsInfoHandler,
                       public Talvo::GDRV::ISingleRecordingInfoHandler,
                       public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
  void Completed(Talvo::GDRV::IRecordingSearch*, int32_t code) override { add("completed " + std::to_string(code)); }
  void Found(Talvo::GDRV::IRecordingSearch*, Talvo::GDRV::Storage::IRecordingRange* range) override {
    std::string text = range->GetRecordingId() + (" " + span(range->GetBegin(), range->GetEnd()));
    for (auto* tracks = range->GetTracks(); tracks->MoveNext();) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackRange>(tracks->Current());
      text += " " + std::string(track->GetTrackId()) + " " + span(track->GetBegin(), track->GetEnd());
    }
    add(text);
  }
  void Failed(Talvo::GDRV::IStorageDevice*, int32_t code) override { add("failed " + std::to_string(code)); }
  void Result(Talvo::GDRV::IStorageDevice*, Talvo::GDRV::Storage::IRecordingInfoEnumerator* recordings) override {
    std::string text = "list";
    while (recordings->MoveNext())
      text += " " + describe(Talvo::contract_cast<Talvo::GDRV::Storage::IRecordingInfo>(recordings->Current()));
    add(text);
  }
  void Result(Talvo::GDRV::IStorageDevice*, Talvo::GDRV::Storage::IRecordingInfo* recording) override {
    add("one " + describe(recording));
  }
  // Every report once the last one came ("completed", "list", "one" or "failed"; empty when none
  // came in time).
  std::vector<std::string> waitForEnd() const {
    waitUntil([&] { return !reports_.empty() && !std::isdigit(static_cast<unsigned char>(reports_.back()[0])); }, 10s);
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  static std::string span(uint64_t begin, uint64_t end) { return std::to_string(begin) + "-" + std::to_string(end); }
  static std::string describe(Talvo::GDRV::Storage::IRecordingInfo* recording) {
    std::string text = recording->GetId() + (":" + std::string(recording->GetName())) + " " +
                       span(recording->GetBegin(), recording->GetEnd());
    for (auto* tracks = recording->GetTracks(); tracks->MoveNext();) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackInfo>(tracks->Current());
      text += std::string(" ") + track->GetId() + "/" + track->GetMediaType();
    }
    return text;
  }
  void add(std::string report) {
    record([&] { reports_.push_back(std::move(report)); });
  }
  std::vector<std::string> reports_;
};

class RecordingSearchTest : public ::testing::Test {
 protected:
  void SetUp() override { connect(camera.httpPort()); }
  void TearDown() override {
    if (search) search->Destroy();
    device.reset();
  }
  void connect(uint16_t port) {
    device = makeShippedDevice("VX-S10", nullptr, &logger);
    device->Connect(("http://127.0.0.1:" + std::to_string(port) + "/").c_str());
  }
  void timeline(int count) {
    camera.get("/sim/recordings?count=" + std::to_string(count) + "&length=10&gap=5&start=" + std::to_string(kStart));
    camera.clearRequests();
  }
  // What a search over [begin, end] reported.
  std::vector<std::string> find(uint64_t begin, uint64_t end, bool stop = false) {
    if (search) search->Destroy();
    search = device->CreateRecordingSearch("0");
    reports.emplace_back();
    search->FindRecordings(Talvo::GDRV::DateTimeRange{begin, end}, 0, &reports.back());
    if (stop) search->StopSearch(), search->StopSearch();
    return reports.back().waitForEnd();
  }
  std::vector<std::string> listRequests() const { return camera.requestTargets(kList); }

  std::shared_ptr<Talvo::Utility::GlobalService> service = Talvo::Utility::GlobalService::instance();
  CamsimProcess camera;
  CapturingLogger logger;
  std::unique_ptr<Vantrel::Device> device;
  std::deque<StorageReports> reports;
  Talvo::GDRV::IRecordingSearch* search = nullptr;
};

// The ranges `first` down to `last` that begin at `begin(i)` and last 10 s, then "completed <code>".
std::vector<std::string> ranges(int first, int last, std::function<uint64_t(int)> begin, int code) {
  std::vector<std::string> texts;
  for (int i = first; i >= last; --i) {
    const std::string span = std::to_string(begin(i)) + "-" + std::to_string(begin(i) + 10000);
    texts.push_back(std::to_string(1000 + i) + " " + span + " video " + span);
  }
  texts.push_back("completed " + std::to_string(code));
  return texts;
}

// The span of the card's sequences, none on an empty card; a camera that drops every connection
// unanswered makes both storage queries and a search report the failure, none of them success.
TEST_F(RecordingSearchTest, StorageSpanIsOneRecordingWithBothTracksAndATransportFailureIsNoSuccess) {
  const std::string span = "0:VantrelRecording 1500000000500-1500000040500 video/video audio/audio";
  const std::string empty = "0:VantrelRecording 0-0 video/video audio/audio";
  RawPeer closing({RawPeer::close()});
  for (const int count : {3, 0, -1}) {
    SCOPED_TRACE(count);
    if (count < 0) connect(closing.port());
    timeline(std::max(count, 0));
    StorageReports list, one;
    device->RequestRecordingsInfo(&list);
    device->RequestRecordingInfo("0", &one);
    auto reported = list.waitForEnd();
    reported.push_back(one.waitForEnd().at(0));
    if (count >= 0) {
      EXPECT_EQ(reported, (std::vector<std::string>{count ? "list " + span : "list", "one " + (count ? span : empty)}));
      EXPECT_EQ(camera.requestTargets("/control/event.jpg"),
                std::vector<std::string>(2, "/control/event.jpg?output=evtinfo"));
      continue;
    }
    ASSERT_EQ(reported.size(), 2u);
    for (const auto& report : reported) EXPECT_TRUE(report.rfind("failed ", 0) == 0 && report != "failed 0") << report;
    const auto searched = find(1000, 2000000);
    ASSERT_EQ(searched.size(), 1u);
    EXPECT_TRUE(searched[0].rfind("completed ", 0) == 0 && searched[0] != "completed 0") << searched[0];
  }
  EXPECT_TRUE(
      logger.contains("] in range [2017-07-14T02:40:00.500Z=1500000000500,2017-07-14T02:40:40.500Z=1500000040500]"))
      << logger.dump();
  EXPECT_TRUE(logger.contains("] Failed to get record, error:")) << logger.dump();
}

// Newest first in the camera's batches of 50, each starting before the oldest sequence listed;
// the sequence over the range's begin is in it, and the batch that reaches the begin ends the
// search. A stopped search completes with 12 and reports nothing.
TEST_F(RecordingSearchTest, A120SequenceRangeComesNewestFirstInThreeBatches) {
  timeline(120);
  const uint64_t end = sequenceBegin(119) + 60000;
  EXPECT_EQ(find(sequenceBegin(0) - 1000, end), ranges(119, 0, sequenceBegin, 0));
  EXPECT_EQ(listRequests(), (std::vector<std::string>{
                                kList + "&searchbytime_start=" + std::to_string(end / 1000) + "&length=50",
                                kList + "&sequence=1070&offset=-1&length=50",
                                kList + "&sequence=1020&offset=-1&length=50",
                            }));
  EXPECT_TRUE(logger.contains(" Records reported: 120"));

  // From 3 s into sequence 55 up to the very start of sequence 58.
  camera.clearRequests();
  EXPECT_EQ(find(sequenceBegin(55) + 3000, sequenceBegin(58)), ranges(57, 55, sequenceBegin, 0));
  EXPECT_EQ(listRequests().size(), 1u) << "the first batch reaches the range's begin";
  EXPECT_TRUE(logger.contains(" 3 Records reprted, stop as reached start of range."));
  EXPECT_TRUE(logger.contains(" Record found id=1057 start="));

  camera.fault("path=/control/event.jpg&delay_ms=300&count=1");
  EXPECT_EQ(find(sequenceBegin(0), sequenceBegin(9), true), std::vector<std::string>{"completed 12"});
}

// Answers that are no list (complete with 0, nothing found), and a camera (or a proxy's cache)
// that answers every follow-up with the same batch: the search ends once with 256, and each
// sequence is reported once.
TEST_F(RecordingSearchTest, AnswersThatListNothingOrTheSameBatchAgain) {
  std::string batch = "[";
  for (int i = 49; i >= 0; --i)
    batch += "{\"alarmimage\":\"" + std::to_string(1000 + i) + "\",\"timestamp\":" + std::to_string(kStart + 20 * i) +
             ",\"seqinfo\":{\"length_sec\":10}}" + (i != 0 ? "," : "]");
  struct Case {
    std::string body;
    std::vector<std::string> reported;
    const char* logged;
    long lists;  // list requests
  };
  for (const Case& c : {Case{"[{\"alarmimage\":\"1\",\"timestamp\":", {"completed 0"}, " Exception: ", 1},
                        Case{"[\n]\n", {"completed 0"}, " Nothing found", 1},
                        Case{"{\"alarmimage\":\"1\"}", {"completed 0"}, " Exception: ", 1},
                        Case{batch,
                             ranges(
                                 49, 0, [](int i) { return (kStart + 20 * i) * 1000; }, 256),
                             "", 2}}) {
    SCOPED_TRACE(c.body.substr(0, 40));
    RawPeer peer(
        {RawPeer::send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body)});
    connect(peer.port());
    EXPECT_EQ(find(kStart * 1000, (kStart + 5000) * 1000), c.reported);
    EXPECT_TRUE(logger.contains(c.logged)) << logger.dump();
    const auto heads = peer.requests();
    EXPECT_EQ(std::count_if(heads.begin(), heads.end(),
                            [](const std::string& head) { return head.find("GET " + kList) == 0; }),
              c.lists);
    EXPECT_TRUE(std::any_of(heads.begin(), heads.end(), [](const std::string& head) {
      return head.find("GET " + kList + "&searchbytime_start=" + std::to_string(kStart + 5000) + "&length=50 ") == 0;
    }));
    search->Destroy();
    search = nullptr;
    device.reset();
  }
}

}  // namespace
