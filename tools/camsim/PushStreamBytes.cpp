#include "PushStreamBytes.h"

#include "JpegSegments.h"

#include <ctime>

namespace camsim {

namespace {

std::string boundaryLine() { return std::string("--") + kBoundary + "\r\n"; }

}  // namespace

StreamRequestParse parseStreamRequest(const Target& target) {
  StreamRequest request;
  const std::string kind = target.valueOr("stream", "Zelta");
  if (kind == "Zelta") {
    request.kind = StreamKind::Zelta;
  } else if (kind == "full") {
    request.kind = StreamKind::Full;
  } else {
    return {std::nullopt, "stream must be Zelta or full"};
  }
  if (target.has("fps")) {
    const auto fps = parseNumber(target.valueOr("fps", ""), 0, 1000);
    if (!fps) return {std::nullopt, "fps must be a number"};
    request.fps = *fps == 0 || *fps > kMaxFps ? kMaxFps : static_cast<int>(*fps);
  }
  if (target.has("iframerefresh")) {
    const auto every = parseNumber(target.valueOr("iframerefresh", ""), 1, 100000);
    if (!every) return {std::nullopt, "iframerefresh must be a number from 1"};
    request.keyEvery = static_cast<int>(*every);
  }
  return {request, ""};
}

std::string streamHead() {
  return std::string(
             "HTTP/1.0 200 OK\r\n"
             "Content-Type: multipart/x-mixed-replace;boundary=") +
         kBoundary + "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n" + boundaryLine();
}

StreamPartMaker::StreamPartMaker(const PictureSource& pictures, const CameraState& state, StreamRequest request,
                                 std::optional<Fault> fault)
    : pictures_(pictures), state_(state), request_(request), fault_(std::move(fault)) {}

bool streamFaultHits(const std::optional<Fault>& fault, FaultAction action, std::uint64_t number) {
  return fault && fault->action == action && static_cast<std::uint64_t>(fault->value) == number;
}

std::optional<StreamStep> faultStopStep(const std::optional<Fault>& fault, std::uint64_t index) {
  if (streamFaultHits(fault, FaultAction::DropAfterParts, index)) return StreamStep{StepKind::Drop, ""};
  if (streamFaultHits(fault, FaultAction::StallAfterParts, index)) return StreamStep{StepKind::Stall, ""};
  return std::nullopt;
}

void StreamPartMaker::attach(std::optional<Fault> fault) {
  fault_ = std::move(fault);
  faultBase_ = partsMade_;
}

StreamStep StreamPartMaker::next() {
  const std::uint64_t index = partsMade_;
  if (auto stop = faultStopStep(fault_, index - faultBase_)) return *stop;
  ++partsMade_;
  if (faultHits(FaultAction::EndlessPart, index + 1)) {
    return {StepKind::EndlessStart, "Content-Type: image/jpeg\r\n\r\n\xFF\xD8\xFF\xE0"};
  }
  if (faultHits(FaultAction::DropMidPart, index + 1)) {
    std::string part = wrapPart(pictureBody(index));
    part.resize(part.size() / 2);
    return {StepKind::PartThenDrop, std::move(part)};
  }
  if (faultHits(FaultAction::GarbagePart, index + 1)) {
    return {StepKind::Part, wrapPart(garbageBody(index))};
  }
  const bool good = !faultHits(FaultAction::NoEoi, index + 1);
  return {StepKind::Part, wrapPart(pictureBody(index)), good};
}

std::string StreamPartMaker::pictureBody(std::uint64_t index) {
  const auto picture = pictures_.picture(index);
  const bool key = request_.kind == StreamKind::Full || index % request_.keyEvery == 0;
  std::string body = key ? picture->key : picture->delta;
  const EventSettings events = state_.events();
  if (events.enabled || state_.messages().hasBoardEvents())
    body = insertAfterApp0(body, commentSegment(eventComment()));
  if (faultHits(FaultAction::NoEoi, index + 1)) body.resize(body.size() - 2);
  if (state_.microphone()) {
    body += audioBlock(tone_.nextSamples(kAudioSampleRate / request_.fps), audioSequence_++);
  }
  return body;
}

std::string StreamPartMaker::garbageBody(std::uint64_t index) const {
  std::string body(2048, '\0');
  std::uint32_t noise = static_cast<std::uint32_t>(index * 2654435761u) | 1u;
  for (char& byte : body) {
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    // Never '-', so the random bytes cannot form a boundary line.
    byte = static_cast<char>(noise & 0xFF) == '-' ? 'x' : static_cast<char>(noise & 0xFF);
  }
  return body;
}

// The EST list: what /sim/events gave, then the active events of the I/O boards.
std::string StreamPartMaker::eventComment() const {
  std::string est = state_.events().est;
  for (const std::string& name : state_.messages().activeBoardEvents()) est += (est.empty() ? "" : ",") + name;
  return "#:R9IMG\r\nSECTION EVENT\r\nTIT=" + std::to_string(std::time(nullptr)) + "\r\nEST=" + est +
         "\r\nENDSECTION EVENT\r\n";
}

std::string StreamPartMaker::wrapPart(const std::string& body) const {
  return "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n" +
         boundaryLine();
}

std::string StreamPartMaker::endlessFiller(std::size_t size) { return std::string(size, '\x55'); }

}  // namespace camsim
