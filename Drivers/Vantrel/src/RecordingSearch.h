// Vantrel::RecordingSearch: finds the camera's event sequences inside a time range. The camera
// lists its sequences newest first, 50 at a time: the search asks for those up to the range's
// end, then for the 50 before the oldest of each full batch, and reports every sequence that
// overlaps the range until it reaches one that ended before the range's begin. A follow-up batch
// must move past the sequences already listed (its oldest one is new); a camera that lists the
// same sequences again ends the search with 256, and no sequence is reported twice.
//
// Ownership: the host owns the search until Destroy. The host stops a running search and waits
// for its completion call before it destroys it, so a pending batch always finds it alive.
// Threads: FindRecordings, StopSearch and Destroy on host threads; the batches and every handler
// call on the device's connection thread. Batches follow one another, never in parallel.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Device.h"
#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"

namespace Vantrel {

class RecordingSearch : public Talvo::GDRV::IRecordingSearch, public Talvo::LoggerOwner {
 public:
  // The camera's batch size.
  static constexpr int kBatchSize = 50;

  RecordingSearch(std::string recordingId, Device* device);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Destroy() override { delete this; }

  // Starts a search; one Found per range, then one Completed (0, 12 when stopped, or the
  // request's error). `maxCount` is not used: the camera's batches decide.
  void FindRecordings(const Talvo::GDRV::DateTimeRange& range, uint32_t maxCount,
                      Talvo::GDRV::IRecordingSearchHandler* handler) override;
  // Sets the stop flag; the next batch completes the search with 12.
  void StopSearch() override;

 private:
  // Connection thread: one batch of the camera's list.
  void handleFindRecordings(int32_t code, const std::vector<Device::recording_t>& batch);
  // Reports what lies in the range and was not listed before; true when the walk reached the
  // range's begin.
  bool reportBatch(const std::vector<Device::recording_t>& batch);
  // A follow-up batch whose oldest sequence was listed already brings the search no further.
  bool movesOn(const std::vector<Device::recording_t>& batch) const;
  void complete(int32_t code);

  const std::string recordingId_;
  Device* device_;
  std::atomic<int> stop_{0};  // 0 running, 1 stop requested
  // Set by FindRecordings before the first request, then used on the connection thread only.
  Talvo::GDRV::DateTimeRange range_;
  Talvo::GDRV::IRecordingSearchHandler* handler_ = nullptr;
  uint64_t reported_ = 0;
  std::set<std::string> listed_;  // identifiers of the sequences the camera listed so far
};

}  // namespace Vantrel
