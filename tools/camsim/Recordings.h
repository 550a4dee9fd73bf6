// The camera's edge storage: a timeline of recorded event sequences and the answers of
// "/control/event.jpg" about it.
//
//   ?output=evtinfo                          headtime_usec / tailtime_usec (decimal seconds)
//   ?output=alarmlist_extended&searchbytime_start=T&length=N
//                                            the N newest sequences that start at or before T
//   ?output=alarmlist_extended&sequence=ID&offset=-1&length=N
//                                            the N sequences before ID (offset=1: after it)
//   ?output=jpeg&searchbytime_start=T        the picture of second T
//   ?output=zlg&searchbytime_start=T         the sequence at T (or the next one) as a Zelta stream
//   ?output=zlg&sequence=ID&offset=1         the sequence after ID as a Zelta stream
//
// Lists are JSON arrays, newest first, "[\n]\n" when nothing matches. A stream holds the
// sequence's pictures, each with a ZLF block and an R9IMG header (TIT, ENO, FFR, LFR, FCO, FTI,
// LTI), a key picture first, an audio block after each picture when the timeline has audio; the
// connection closes at the sequence's end.
// Thread safety: every member locks; pictures are encoded outside the lock.
#pragma once

#include "PictureSource.h"
#include "Query.h"
#include "Reply.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct TimelineSettings {
  int count = 0;                    // sequences
  int length = 10;                  // seconds each
  int gap = 5;                      // seconds between them
  std::int64_t start = 1500000000;  // unix seconds of the oldest one
  int pictures = 4;                 // pictures per played sequence
  int paceMs = 0;                   // pause before each picture of a played sequence
  bool audio = true;                // audio blocks in played sequences
  bool deltaFirst = false;          // played sequences start with two delta pictures
};

// Reads count=, length=, gap=, start=, pictures=, pace=, audio=, deltafirst= over `base`.
std::optional<TimelineSettings> parseTimeline(const Target& target, TimelineSettings base, std::string& error);

// A played sequence: the answer's bytes in the order they go out, and the pause before each.
struct RecordingStreamPlan {
  std::string head;
  std::vector<std::string> pieces;
  int paceMs = 0;
};

class Recordings {
 public:
  explicit Recordings(const PictureSource& pictures);

  void configure(const TimelineSettings& settings);
  TimelineSettings settings() const;

  // GET /sim/recordings?...: sets the timeline, answers it as JSON.
  Reply simControl(const Target& target);
  // The answers of "/control/event.jpg" except played sequences.
  Reply handle(const Target& target) const;
  // True for a request of a played sequence.
  static bool isStreamRequest(const Target& target);
  // The played sequence a stream request asks for; nothing (404) when there is none.
  std::optional<RecordingStreamPlan> stream(const Target& target) const;

 private:
  struct Sequence {
    std::int64_t id = 0;
    double start = 0;  // unix seconds, with a fraction
    int length = 0;
  };
  std::vector<Sequence> sequencesLocked() const;
  Reply storageSpan() const;
  Reply alarmList(const Target& target) const;
  Reply picture(const Target& target) const;
  std::string pictureOf(const Sequence& sequence, int index, const TimelineSettings& settings, bool key) const;

  const PictureSource& pictures_;
  mutable std::mutex mutex_;
  TimelineSettings settings_;
};

}  // namespace camsim
