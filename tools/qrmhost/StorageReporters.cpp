#include "StorageReporters.h"

#include <algorithm>

#include "ContractObject.h"
#include "JsonLine.h"
#include "host/Storage.h"

namespace qrmhost {

void Awaited::set(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!value_) value_ = value;
  changed_.notify_all();
}

std::optional<int> Awaited::waitUntil(StorageClock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_until(lock, deadline, [this] { return value_.has_value(); });
  return value_;
}

void* StorageInfoReporter::QueryContract(const char* typeName) {
  return answerCast<StorageInfoReporter, Talvo::GDRV::IRecordingsInfoHandler, Talvo::IContract>(this, typeName);
}

void StorageInfoReporter::Failed(Talvo::GDRV::IStorageDevice*, int32_t code) { done.set(code); }

void StorageInfoReporter::Result(Talvo::GDRV::IStorageDevice*,
                                 Talvo::GDRV::Storage::IRecordingInfoEnumerator* recordings) {
  if (recordings && recordings->MoveNext()) {
    if (auto* recording = Talvo::contract_cast<Talvo::GDRV::Storage::IRecordingInfo>(recordings->Current())) {
      begin = recording->GetBegin();
      end = recording->GetEnd();
    }
  }
  auto line = kindLine("storage");
  line["begin"] = begin;
  line["end"] = end;
  console_.report(line);
  done.set(0);
}

void* SearchReporter::QueryContract(const char* typeName) {
  return answerCast<SearchReporter, Talvo::GDRV::IRecordingSearchHandler, Talvo::IContract>(this, typeName);
}

void SearchReporter::Completed(Talvo::GDRV::IRecordingSearch*, int32_t code) { done.set(code); }

void SearchReporter::Found(Talvo::GDRV::IRecordingSearch*, Talvo::GDRV::Storage::IRecordingRange* range) {
  if (!range) return;
  auto line = kindLine("range");
  line["id"] = range->GetRecordingId() ? range->GetRecordingId() : "";
  line["begin"] = range->GetBegin();
  line["end"] = range->GetEnd();
  console_.report(line);
  std::lock_guard<std::mutex> lock(mutex_);
  ranges_.emplace_back(range->GetBegin(), range->GetEnd());
}

std::vector<std::pair<uint64_t, uint64_t>> SearchReporter::ranges() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ranges_;
}

std::vector<std::pair<uint64_t, uint64_t>> gapsBetween(std::vector<std::pair<uint64_t, uint64_t>> ranges, uint64_t from,
                                                       uint64_t to) {
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<uint64_t, uint64_t>> gaps;
  uint64_t covered = from;  // everything before is on the card
  for (const auto& [begin, end] : ranges) {
    if (begin > covered && covered < to) gaps.emplace_back(covered, std::min(begin, to));
    covered = std::max(covered, end);
  }
  if (covered < to) gaps.emplace_back(covered, to);
  return gaps;
}

void* PlaybackReporter::QueryContract(const char* typeName) {
  return answerCast<PlaybackReporter, Talvo::GDRV::IRecordingPlaybackHandler, Talvo::IContract>(this, typeName);
}

void PlaybackReporter::Failed(Talvo::GDRV::IRecordingPlayback*, int32_t code) {
  auto line = kindLine("failed");
  line["code"] = code;
  console_.report(line);
  ended.set(code);
}

void PlaybackReporter::Finished(Talvo::GDRV::IRecordingPlayback*, int32_t code) {
  auto line = kindLine("finished");
  line["code"] = code;
  console_.report(line);
  ended.set(code);
}

void PlaybackReporter::MultimediaFrame(Talvo::GDRV::IRecordingPlayback*, const char* trackId,
                                       Talvo::MFF::IMultimediaBuffer* buffer) {
  if (!buffer) return;
  if (auto* picture = Talvo::contract_cast<Talvo::MFF::ICompressedBuffer>(buffer)) {
    const std::string codec = picture->GetCodecName() ? picture->GetCodecName() : "";
    auto line = kindLine("frame");
    line["codec"] = codec;
    line["key"] = picture->IsKeyFrame();
    line["time"] = buffer->GetTimeStamp();
    line["size"] = buffer->GetSize();
    console_.report(line);
    uint64_t number = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      number = ++pictures_;
    }
    if (saver_) saver_->save(number, codec, picture->IsKeyFrame(), buffer->GetBuffer(), buffer->GetSize());
  } else {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++audioBlocks_;
    }
    auto line = kindLine("audio");
    line["size"] = buffer->GetSize();
    line["time"] = buffer->GetTimeStamp();
    console_.report(line);
  }
  (void)trackId;
  buffer->Destroy();
}

void PlaybackReporter::addCounts(JsonObject& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  line["frames"] = pictures_;
  line["audio_frames"] = audioBlocks_;
}

void* ActionReporter::QueryContract(const char* typeName) {
  return answerCast<ActionReporter, Talvo::IAsyncActionHandler, Talvo::IContract>(this, typeName);
}

void ActionReporter::Finished(Talvo::IContract*, int code) {
  auto line = kindLine(kind_);
  line["code"] = code;
  console_.report(line);
  done.set(code);
}

}  // namespace qrmhost
