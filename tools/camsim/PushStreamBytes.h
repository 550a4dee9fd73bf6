// The bytes of a /control/faststream.jpg server-push answer, step by step, including the
// stream faults. Knows nothing about sockets or timing (PushStream does that).
//
// Layout: head, then "--VANTREL_Fast_Serverpush\r\n", then per picture
//   "Content-Type: image/jpeg\r\nContent-Length: <n>\r\n\r\n" <n bytes> "\r\n--VANTREL_Fast_Serverpush\r\n"
#pragma once

#include "AudioTone.h"
#include "CameraState.h"
#include "FaultTable.h"
#include "PictureSource.h"
#include "Query.h"

#include <cstdint>
#include <optional>
#include <string>

namespace camsim {

inline constexpr const char* kBoundary = "VANTREL_Fast_Serverpush";
constexpr int kMaxFps = 25;

enum class StreamKind { Zelta, Full };

struct StreamRequest {
  StreamKind kind = StreamKind::Zelta;
  int fps = kMaxFps;  // pictures per second; 0 in the query means kMaxFps
  int keyEvery = 10;  // Zelta: a key picture every keyEvery pictures
};

struct StreamRequestParse {
  std::optional<StreamRequest> request;
  std::string error;
};

// Reads stream=, fps= and iframerefresh= of the query.
StreamRequestParse parseStreamRequest(const Target& target);

// HTTP head of the answer plus the first boundary line.
std::string streamHead();

enum class StepKind {
  Part,          // bytes: one whole part, boundary line included
  EndlessStart,  // bytes: a part head and the picture start; then filler forever
  Drop,          // close the connection now
  PartThenDrop,  // bytes: the start of a part; close the connection once they are written
  Stall,         // send nothing more, keep the connection open
};

struct StreamStep {
  StepKind kind = StepKind::Part;
  std::string bytes;
  bool goodPicture = false;  // a Part holding a whole, well-formed picture
};

// True when the stream's fault is `action` for part (or picture) `number`.
bool streamFaultHits(const std::optional<Fault>& fault, FaultAction action, std::uint64_t number);
// What the stream's fault makes of part (or picture) `index`, counted from 0: a drop or a stall
// before it; nothing when it is sent.
std::optional<StreamStep> faultStopStep(const std::optional<Fault>& fault, std::uint64_t index);

// One per stream connection; not thread-safe (the connection's strand calls it).
// Holds references: pictures and state must outlive it.
class StreamPartMaker {
 public:
  StreamPartMaker(const PictureSource& pictures, const CameraState& state, StreamRequest request,
                  std::optional<Fault> fault);

  StreamStep next();
  // Replaces the stream's fault (a fault that reached the running stream, or none once the
  // faults were cleared); its part numbers count from the next part.
  void attach(std::optional<Fault> fault);

  // Filler sent after EndlessStart: bytes that contain no boundary.
  static std::string endlessFiller(std::size_t size);

 private:
  std::string pictureBody(std::uint64_t index);
  std::string garbageBody(std::uint64_t index) const;
  std::string eventComment() const;
  std::string wrapPart(const std::string& body) const;
  // `partNumber` counts the stream's parts from 1; the fault counts from its attachment.
  bool faultHits(FaultAction action, std::uint64_t partNumber) const {
    return streamFaultHits(fault_, action, partNumber - faultBase_);
  }

  const PictureSource& pictures_;
  const CameraState& state_;
  const StreamRequest request_;
  std::optional<Fault> fault_;
  std::uint64_t faultBase_ = 0;  // parts made before the fault was attached
  ToneGenerator tone_;
  std::uint32_t audioSequence_ = 0;
  std::uint64_t partsMade_ = 0;
};

}  // namespace camsim
