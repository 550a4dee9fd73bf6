// The camera as a storage device against the simulator's recording timeline: the span, searches
// over ranges in the camera's batches of 50, stopping, and answers that are no list.
#include "RecordingSearch.h"

#include <algorithm>
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

// A sequence of the simulator's timeline: begin and end in ms.
uint64_t sequenceBegin(int index, int length = 10, int gap = 5) {
  return (kStart + static_cast<uint64_t>(index) * (length + gap)) * 1000 + 500;
}

struct FoundRange {
  std::string id;
  uint64_t begin;
  uint64_t end;
  std::vector<std::string> tracks;  // "video 1500000000500-1500000010500"
};

class SearchHandler : public Talvo::GDRV::IRecordingSearchHandler, public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
  void Completed(Talvo::GDRV::IRecordingSearch*, int32_t code) override {
    record([&] { codes_.push_back(code); });
  }
  void Found(Talvo::GDRV::IRecordingSearch*, Talvo::GDRV::Storage::IRecordingRange* range) override {
    FoundRange found{range->GetRecordingId(), range->GetBegin(), range->GetEnd(), {}};
    for (auto* tracks = range->GetTracks(); tracks->MoveNext();) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackRange>(tracks->Current());
      found.tracks.push_back(std::string(track->GetTrackId()) + " " + std::to_string(track->GetBegin()) + "-" +
                             std::to_string(track->GetEnd()));
    }
    record([&] { ranges_.push_back(found); });
  }
  // The completion code, -1 when none came in time; only one may come.
  int waitForCompletion() const {
    waitUntil([&] { return !codes_.empty(); }, 10s);
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_LE(codes_.size(), 1u);
    return codes_.empty() ? -1 : codes_.front();
  }
  std::vector<FoundRange> ranges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ranges_;
  }

 private:
  std::vector<int> codes_;
  std::vector<FoundRange> ranges_;
};

// The storage span as "list <recordings>" / "one <recording>" / "failed <code>".
class InfoHandler : public Talvo::GDRV::IRecordingsInfoHandler,
                    public Talvo::GDRV::ISingleRecordingInfoHandler,
                    public Recorder {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
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
  std::string waitForReport() const {
    waitUntil([&] { return !report_.empty(); }, 10s);
    std::lock_guard<std::mutex> lock(mutex_);
    return report_;
  }

 private:
  static std::string describe(Talvo::GDRV::Storage::IRecordingInfo* recording) {
    std::string text = std::string(recording->GetId()) + ":" + recording->GetName() + " " +
                       std::to_string(recording->GetBegin()) + "-" + std::to_string(recording->GetEnd());
    for (auto* tracks = recording->GetTracks(); tracks->MoveNext();) {
      auto* track = Talvo::contract_cast<Talvo::GDRV::Storage::ITrackInfo>(tracks->Current());
      text += std::string(" ") + track->GetId() + "/" + track->GetMediaType();
    }
    return text;
  }
  void add(std::string report) {
    record([&] { report_ = report_.empty() ? report : report_ + "; " + report; });
  }
  std::string report_;
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
  int find(uint64_t begin, uint64_t end, SearchHandler& found) {
    if (search) search->Destroy();
    search = device->CreateRecordingSearch("0");
    search->FindRecordings(Talvo::GDRV::DateTimeRange{begin, end}, 0, &found);
    return found.waitForCompletion();
  }
  int find(uint64_t begin, uint64_t end) { return find(begin, end, handler); }
  std::vector<std::string> listRequests() const { return camera.requestTargets(kList); }

  std::shared_ptr<Talvo::Utility::GlobalService> service = Talvo::Utility::GlobalService::instance();
  CamsimProcess camera;
  CapturingLogger logger;
  std::unique_ptr<Vantrel::Device> device;
  SearchHandler handler;
  Talvo::GDRV::IRecordingSearch* search = nullptr;
};

TEST_F(RecordingSearchTest, StorageSpanIsOneRecordingWithBothTracksAndNoneWhenTheCardIsEmpty) {
  const std::string span = "0:VantrelRecording 1500000000500-1500000040500 video/video audio/audio";
  for (const auto& c :
       {std::make_pair(3, span), std::make_pair(0, std::string("0:VantrelRecording 0-0 video/video audio/audio"))}) {
    timeline(c.first);
    InfoHandler list, one;
    device->RequestRecordingsInfo(&list);
    device->RequestRecordingInfo("0", &one);
    EXPECT_EQ(list.waitForReport(), c.first ? "list " + span : "list") << c.first;
    EXPECT_EQ(one.waitForReport(), "one " + c.second) << c.first;
    EXPECT_EQ(camera.requestTargets("/control/event.jpg"),
              std::vector<std::string>(2, "/control/event.jpg?output=evtinfo"));
  }
  EXPECT_TRUE(
      logger.contains("] in range [2017-07-14T02:40:00.500Z=1500000000500,2017-07-14T02:40:40.500Z=1500000040500]"))
      << logger.dump();
}

TEST_F(RecordingSearchTest, A120SequenceRangeComesNewestFirstInThreeBatches) {
  timeline(120);
  const uint64_t end = sequenceBegin(119) + 60000;
  EXPECT_EQ(find(sequenceBegin(0) - 1000, end), 0);

  const auto ranges = handler.ranges();
  ASSERT_EQ(ranges.size(), 120u);
  for (int i = 0; i < 120; ++i) {
    const int index = 119 - i;
    EXPECT_EQ(ranges[i].id, std::to_string(1000 + index));
    EXPECT_EQ(ranges[i].begin, sequenceBegin(index));
    EXPECT_EQ(ranges[i].end, sequenceBegin(index) + 10000);
  }
  EXPECT_EQ(ranges[0].tracks, std::vector<std::string>{"video 1500001785500-1500001795500"});
  EXPECT_EQ(listRequests(), (std::vector<std::string>{
                                kList + "&searchbytime_start=" + std::to_string(end / 1000) + "&length=50",
                                kList + "&sequence=1070&offset=-1&length=50",
                                kList + "&sequence=1020&offset=-1&length=50",
                            }));
  EXPECT_TRUE(logger.contains(" Records reported: 120"));
}

TEST_F(RecordingSearchTest, TheRangesEdgesTheSequenceOverItsBeginIsInTheOneBeforeItEndsTheSearch) {
  timeline(60);
  // From 3 s into sequence 55 up to the very start of sequence 58.
  EXPECT_EQ(find(sequenceBegin(55) + 3000, sequenceBegin(58)), 0);
  const auto ranges = handler.ranges();
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[0].id, "1057");
  EXPECT_EQ(ranges[2].id, "1055");
  EXPECT_EQ(ranges[2].begin, sequenceBegin(55));
  EXPECT_EQ(listRequests().size(), 1u) << "the first batch reaches the range's begin";
  EXPECT_TRUE(logger.contains(" 3 Records reprted, stop as reached start of range."));
  EXPECT_TRUE(logger.contains(" Record found id=1057 start="));
}

TEST_F(RecordingSearchTest, AStoppedSearchCompletesWith12AndReportsNothing) {
  timeline(10);
  camera.fault("path=/control/event.jpg&delay_ms=300&count=1");
  search = device->CreateRecordingSearch("0");
  search->FindRecordings(Talvo::GDRV::DateTimeRange{sequenceBegin(0), sequenceBegin(9)}, 0, &handler);
  search->StopSearch();
  search->StopSearch();
  EXPECT_EQ(handler.waitForCompletion(), 12);
  EXPECT_TRUE(handler.ranges().empty());
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
    int code;
    size_t ranges;  // 1049 down to 1000
    const char* logged;
    long lists;  // list requests
  };
  for (const Case& c : {Case{"[{\"alarmimage\":\"1\",\"timestamp\":", 0, 0, " Exception: ", 1},
                        Case{"[\n]\n", 0, 0, " Nothing found", 1},
                        Case{"{\"alarmimage\":\"1\"}", 0, 0, " Exception: ", 1}, Case{batch, 256, 50, "", 2}}) {
    SCOPED_TRACE(c.body.substr(0, 40));
    RawPeer peer(
        {RawPeer::send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body)});
    connect(peer.port());
    SearchHandler found;
    EXPECT_EQ(find(kStart * 1000, (kStart + 5000) * 1000, found), c.code);
    const auto ranges = found.ranges();
    ASSERT_EQ(ranges.size(), c.ranges);
    for (size_t i = 0; i < ranges.size(); ++i) EXPECT_EQ(ranges[i].id, std::to_string(1049 - i));
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

// A camera that drops every connection unanswered: the search and both storage queries report
// the failure, none of them success.
TEST_F(RecordingSearchTest, ATransportFailureIsReportedNotSuccess) {
  RawPeer peer({RawPeer::close()});
  connect(peer.port());
  InfoHandler list, one;
  device->RequestRecordingsInfo(&list);
  device->RequestRecordingInfo("0", &one);
  for (const InfoHandler* info : {&list, &one}) {
    const std::string report = info->waitForReport();
    EXPECT_EQ(report.rfind("failed ", 0), 0u) << report;
    EXPECT_NE(report, "failed 0");
  }
  const int code = find(1000, 2000000);
  EXPECT_NE(code, 0);
  EXPECT_NE(code, -1) << "completed";
  EXPECT_TRUE(handler.ranges().empty());
  EXPECT_TRUE(logger.contains("] Failed to get record, error:")) << logger.dump();
}

}  // namespace
