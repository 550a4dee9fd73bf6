// Vantrel::ServerPushReader: cuts the camera's server-push stream into parts. The stream reads
//
//   <answer head> --VANTREL_Fast_Serverpush CR LF
//   <part head> CR LF CR LF <body> CR LF --VANTREL_Fast_Serverpush CR LF   (again and again)
//
// and a body holds a picture, possibly an event section before "ENDSECTION EVENT" CR LF, and
// possibly an audio block after the picture (FF D9 FF ED: end of image, then APP13).
//
// The reader holds no bytes. Its caller keeps what it received in one buffer and hands the reader
// every byte received and not consumed yet, again after each receive, until a stage ends (the
// answer head, a part head, a body); then it drops the stage's bytes from the front and goes on
// with the next stage. Each byte is scanned once, for the boundary, the end of the event section
// and the audio marker together. Safe on any input; a stage longer than kMaxPartSize is refused.
//
// A part head may announce its body's length (Content-Length). A caller may then read the body
// into a place of its own and have it cut by cutAnnouncedBody, which gives the same pieces as the
// scan would, or none when the announcement is not true to the stream (then the caller feeds the
// bytes as usual).
// Threads: one thread uses a reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ByteSearch.h"

namespace Vantrel {

// Bytes inside the caller's buffer; valid until the caller consumes them.
struct ByteRange {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool empty() const { return size == 0; }
};

// What a part's body holds, ready to hand on.
struct PartPieces {
  ByteRange picture;  // empty when the body is too short to hold one (0 to 3 bytes)
  bool hasEvents = false;
  ByteRange events;  // with hasEvents: the event text, up to its end mark
  ByteRange audio;   // the audio payload after its 16-byte block header; empty when none
};

class ServerPushReader {
 public:
  // The most one stage may hold. A camera that sends more without its end has a broken stream.
  static constexpr size_t kMaxPartSize = 32u * 1024 * 1024;
  static const char kBoundary[];  // "--VANTREL_Fast_Serverpush\r\n"
  // The bytes that follow a body: CR LF and the boundary.
  static const size_t kBodyTrailer;

  enum class Status {
    NeedMore,   // the stage goes on: receive more and feed again
    StageDone,  // `consume` bytes finish the stage; for a body, `pieces` says what it held
    TooLarge,   // kMaxPartSize bytes and the stage has not ended
  };
  struct Step {
    Status status = Status::NeedMore;
    size_t consume = 0;
    bool isBody = false;  // with StageDone: the stage was a part body
    PartPieces pieces;
  };

  ServerPushReader() { restart(); }

  // A new connection: the answer head up to the first boundary comes first.
  void restart();

  // `data` holds the `size` bytes received and not consumed yet. Precondition: the same bytes
  // as at the last call, and maybe more, unless that call ended a stage; then the caller has
  // dropped its `consume` bytes from the front.
  Step feed(const uint8_t* data, size_t size);

  // The body length that the part head `head` (its `size` bytes as the PartHead stage consumed
  // them) announces; none without a single readable Content-Length or above the cap.
  static std::optional<size_t> announcedLength(const uint8_t* head, size_t size);
  // `body` holds the `size` bytes a part head announced, `next` the `nextSize` bytes received
  // after them. The pieces of the body when the stream confirms it (`next` begins with its
  // trailer, and no boundary comes earlier); none otherwise, and also while `nextSize` is shorter
  // than kBodyTrailer.
  static std::optional<PartPieces> cutAnnouncedBody(const uint8_t* body, size_t size, const uint8_t* next,
                                                    size_t nextSize);
  // The body after the last part head was cut by cutAnnouncedBody and its trailer consumed: a
  // part head comes next. Precondition: the reader waits for a body.
  void bodyCutElsewhere();

 private:
  enum class Stage { AnswerHead, PartHead, Body };

  void begin(Stage stage);
  static PartPieces cutBody(const uint8_t* data, size_t size, size_t eventEnd, size_t audioMarker);

  Stage stage_ = Stage::AnswerHead;
  Needle needles_[3];  // the stage's end, then (bodies only) the event end and the audio marker
  size_t count_ = 1;
  size_t longest_ = 0;
  size_t scanned_ = 0;  // every needle was looked for at the places before this one
};

}  // namespace Vantrel
