#include "RecordingSearch.h"

#include <memory>
#include <utility>

#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/StorageRecords.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

namespace {

const char* const kEventList = "/control/event.jpg?output=alarmlist_extended";

std::string timeText(uint64_t ms) { return Talvo::Utility::timestampToString(ms) + "=" + std::to_string(ms); }

std::string upToPath(uint64_t endMs) {
  return std::string(kEventList) + "&searchbytime_start=" + std::to_string(endMs / 1000) +
         "&length=" + std::to_string(RecordingSearch::kBatchSize);
}

std::string beforePath(const std::string& id) {
  return std::string(kEventList) + "&sequence=" + id + "&offset=-1" +
         "&length=" + std::to_string(RecordingSearch::kBatchSize);
}

}  // namespace

RecordingSearch::RecordingSearch(std::string recordingId, Device* device)
    : Talvo::LoggerOwner(device->rawLogger(), ""), recordingId_(std::move(recordingId)), device_(device) {}

void* RecordingSearch::QueryContract(const char* typeName) {
  using namespace Talvo::Utility;
  return castTo<Path<Talvo::IContract>, Path<Talvo::IDestroyable>, Path<Talvo::GDRV::IRecordingSearch>>(this, typeName);
}

void RecordingSearch::FindRecordings(const Talvo::GDRV::DateTimeRange& range, uint32_t,
                                     Talvo::GDRV::IRecordingSearchHandler* handler) {
  NLOG(*this, 0, " Recording search for interval (" << timeText(range.begin) << "," << timeText(range.end) << ")");
  range_ = range;
  handler_ = handler;
  reported_ = 0;
  listed_.clear();
  device_->requestRecordings(upToPath(range.end), [this](int32_t code, const std::vector<Device::recording_t>& batch) {
    handleFindRecordings(code, batch);
  });
}

void RecordingSearch::StopSearch() {
  int running = 0;
  stop_.compare_exchange_strong(running, 1);
}

void RecordingSearch::handleFindRecordings(int32_t code, const std::vector<Device::recording_t>& batch) {
  if (stop_.load() != 0) return complete(12);
  if (code != 0) return complete(code);
  NLOG(*this, 0, " Records found:" << batch.size());
  if (!listed_.empty() && !movesOn(batch)) {
    NLOG(*this, 3, " The camera listed sequences it had listed before, the search ends after " << reported_);
    return complete(Talvo::error::bad_response);
  }
  if (reportBatch(batch)) {
    NLOG(*this, 0, " " << reported_ << " Records reprted, stop as reached start of range.");
    return complete(0);
  }
  if (batch.size() > static_cast<size_t>(kBatchSize - 1)) {
    device_->requestRecordings(
        beforePath(batch.back().id),
        [this](int32_t next, const std::vector<Device::recording_t>& older) { handleFindRecordings(next, older); });
    return;
  }
  NLOG(*this, 0, " Records reported: " << reported_);
  complete(0);
}

bool RecordingSearch::movesOn(const std::vector<Device::recording_t>& batch) const {
  return batch.empty() || listed_.count(batch.back().id) == 0;
}

bool RecordingSearch::reportBatch(const std::vector<Device::recording_t>& batch) {
  for (const Device::recording_t& recording : batch) {
    const uint64_t end = recording.end();
    if (range_.begin > end) return true;
    if (!listed_.insert(recording.id).second) continue;
    if (recording.start >= range_.end) continue;
    NLOG(*this, 0,
         " Record found id=" << recording.id << " start=" << timeText(recording.start) << ","
                             << " length=" << recording.length);
    Talvo::Utility::RecordingRange found(
        recording.id, recording.start, end,
        {std::make_shared<Talvo::Utility::TrackRange>(Talvo::Utility::VIDEO_TRACK_ID, recording.start, end)});
    ++reported_;
    if (handler_) handler_->Found(this, &found);
  }
  return false;
}

void RecordingSearch::complete(int32_t code) {
  if (handler_) handler_->Completed(this, code);
}

}  // namespace Vantrel
