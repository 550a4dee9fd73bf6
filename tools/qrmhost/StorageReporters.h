// The handlers of `recordings` and `playback`: they print what the module reports as JSON lines
// and let the command wait for the end of each step.
// Threads: the module calls them from its threads; the command waits on the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Console.h"
#include "PictureSaver.h"
#include "host/GDRV.h"

namespace qrmhost {

using StorageClock = std::chrono::steady_clock;

// A value set once by a module thread and awaited by the main thread.
class Awaited {
 public:
  void set(int value);
  std::optional<int> waitUntil(StorageClock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<int> value_;
};

// {"kind":"storage","begin":MS,"end":MS} (0 and 0 without recordings) or a failure code.
class StorageInfoReporter : public Talvo::GDRV::IRecordingsInfoHandler {
 public:
  explicit StorageInfoReporter(Console& console) : console_(console) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::GDRV::IStorageDevice* device, int32_t code) override;
  void Result(Talvo::GDRV::IStorageDevice* device, Talvo::GDRV::Storage::IRecordingInfoEnumerator* recordings) override;

  Awaited done;        // 0 or the failure code
  uint64_t begin = 0;  // valid once done
  uint64_t end = 0;

 private:
  Console& console_;
};

// {"kind":"range","id":...,"begin":MS,"end":MS} per range; the ranges are kept for the gaps.
class SearchReporter : public Talvo::GDRV::IRecordingSearchHandler {
 public:
  explicit SearchReporter(Console& console) : console_(console) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Completed(Talvo::GDRV::IRecordingSearch* search, int32_t code) override;
  void Found(Talvo::GDRV::IRecordingSearch* search, Talvo::GDRV::Storage::IRecordingRange* range) override;

  // The ranges found, as [begin, end] pairs; call after done.
  std::vector<std::pair<uint64_t, uint64_t>> ranges();
  Awaited done;

 private:
  Console& console_;
  std::mutex mutex_;
  std::vector<std::pair<uint64_t, uint64_t>> ranges_;
};

// The holes of `ranges` inside [from, to], oldest first.
std::vector<std::pair<uint64_t, uint64_t>> gapsBetween(std::vector<std::pair<uint64_t, uint64_t>> ranges, uint64_t from,
                                                       uint64_t to);

// Frames as {"kind":"frame",...} and {"kind":"audio",...}; the end of the play as
// {"kind":"failed","code":N} or {"kind":"finished","code":N}. Pictures go to `saver` if any.
class PlaybackReporter : public Talvo::GDRV::IRecordingPlaybackHandler {
 public:
  PlaybackReporter(Console& console, PictureSaver* saver) : console_(console), saver_(saver) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::GDRV::IRecordingPlayback* playback, int32_t code) override;
  void Finished(Talvo::GDRV::IRecordingPlayback* playback, int32_t code) override;
  void MultimediaFrame(Talvo::GDRV::IRecordingPlayback* playback, const char* trackId,
                       Talvo::MFF::IMultimediaBuffer* buffer) override;

  Awaited ended;
  // "frames" and "audio_frames" so far, for the progress line and the closing line.
  void addCounts(JsonObject& line);

 private:
  Console& console_;
  PictureSaver* saver_;
  std::mutex mutex_;
  uint64_t pictures_ = 0;
  uint64_t audioBlocks_ = 0;
};

// {"kind":<kind>,"code":N} for a seek or play answer.
class ActionReporter : public Talvo::IAsyncActionHandler {
 public:
  ActionReporter(Console& console, const char* kind) : console_(console), kind_(kind) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Finished(Talvo::IContract* source, int code) override;

  Awaited done;

 private:
  Console& console_;
  const char* kind_;
};

}  // namespace qrmhost
