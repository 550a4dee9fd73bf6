// Misbehaviour installed through /sim/fault and looked up for each camera request.
// Thread safety: all methods may be called from any io thread.
#pragma once

#include "Query.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

enum class FaultAction {
  Delay,            // value: milliseconds before the normal answer
  Status,           // value: HTTP status answered with a short body
  Empty,            // 200 with an empty body
  Close,            // close the connection without answering
  StallAfterHead,   // send the head (and a short start of the body), then nothing
  Garbage,          // answer bytes that are not HTTP
  DropAfterParts,   // stream: close after value pictures
  StallAfterParts,  // stream: after value pictures send nothing more
  GarbagePart,      // stream: part number value carries random bytes
  NoEoi,            // stream: picture number value lacks its final FF D9
  EndlessPart,      // stream: part number value never ends
  NoRead,           // loudspeaker: take the call, never read its audio
  DropMidPart,      // stream: part number value is cut in its middle, then the connection closes
  Trickle,          // stream: every part is written value bytes at a time, kTricklePause apart
  Refuse,           // no connection is taken for value milliseconds (not a per-request fault)
  NoThermalAfterParts,  // event stream: after value pictures, pictures carry no thermal data
};

// True for the actions that only make sense on /control/faststream.jpg.
bool isStreamAction(FaultAction action);

struct Fault {
  std::string pathPrefix;  // empty: every camera path (never /sim)
  long remaining = -1;     // -1: until cleared
  FaultAction action = FaultAction::Status;
  long value = 0;
  // running=1: a server-push stream action for the streams running when it is installed (from
  // their next part on, until the faults are cleared), not for streams that start later.
  bool running = false;
  std::uint64_t id = 0;  // given by install, growing
};

// Either a fault or the reason the query does not describe one.
struct FaultParse {
  std::optional<Fault> fault;
  std::string error;
};

// Reads the parameters of /sim/fault (without clear=1).
FaultParse parseFault(const Target& query);

class FaultTable {
 public:
  void install(const Fault& fault);
  void clear();
  // The first installed fault matching this request target with count left; uses one of
  // its count. Stream actions match only the server-push path; running=1 faults never match.
  std::optional<Fault> take(const std::string& target);

  // For a server-push stream that runs: the first fault installed since `seenId` with running=1
  // and a stream action that matches `target`; uses one of its count. Sets `seenId` to the newest
  // fault's id and `clears` to the number of clears so far (both as the stream's start reads them
  // with newestId and clears).
  std::optional<Fault> takeForRunningStream(const std::string& target, std::uint64_t& seenId, std::uint64_t& clears);
  std::uint64_t newestId();
  std::uint64_t clears();

  static constexpr std::size_t kMaxFaults = 100;

  // Refusing connections is the server's: it registers how, once, before it listens.
  using RefuseHandler = std::function<void(long milliseconds)>;
  void onRefuse(RefuseHandler handler);
  // Stops taking connections for `milliseconds`; false when no server listens for it.
  bool refuse(long milliseconds);

 private:
  std::mutex mutex_;
  std::vector<Fault> faults_;
  std::uint64_t newestId_ = 0;
  std::uint64_t clears_ = 0;
  RefuseHandler refuse_;
};

inline constexpr const char* kFastStreamPath = "/control/faststream.jpg";
inline constexpr const char* kEventStreamPath = "/control/eventstream.jpg";
inline constexpr const char* kSpeakerPath = "/control/ddspeaker";
// The H.264 stream of the RTSP server (drop_after_parts and stall_after_parts count its frames).
inline constexpr const char* kRtspStreamPath = "/vantrel.h264";

}  // namespace camsim
