#include "ServerPushReader.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "Nuvlet/include/HttpAnswerHead.h"

namespace Vantrel {

const char ServerPushReader::kBoundary[] = "--VANTREL_Fast_Serverpush\r\n";

namespace {

const size_t kBoundaryLength = sizeof(ServerPushReader::kBoundary) - 1;
const char kHeadEnd[] = "\r\n\r\n";
const char kEventSectionEnd[] = "ENDSECTION EVENT\r\n";
const size_t kEventSectionEndLength = sizeof(kEventSectionEnd) - 1;
const uint8_t kAudioMarker[] = {0xFF, 0xD9, 0xFF, 0xED};
const size_t kAudioBlockHeader = 16;
const size_t kSmallestBody = 4;  // shorter bodies hold nothing worth a look

Needle needleOf(const char* text, size_t length) { return Needle{reinterpret_cast<const uint8_t*>(text), length}; }

bool isBodyTrailer(const uint8_t* next, size_t nextSize) {
  return nextSize >= ServerPushReader::kBodyTrailer && next[0] == '\r' && next[1] == '\n' &&
         std::memcmp(next + 2, ServerPushReader::kBoundary, kBoundaryLength) == 0;
}

// Whether the first boundary across the end of `body` and its trailer `next` is the trailer's.
bool trailerHoldsFirstBoundary(const uint8_t* body, size_t size, const uint8_t* next) {
  uint8_t seam[kBoundaryLength - 1 + ServerPushReader::kBodyTrailer];
  const size_t tail = std::min(size, kBoundaryLength - 1);
  std::memcpy(seam, body + size - tail, tail);
  std::memcpy(seam + tail, next, ServerPushReader::kBodyTrailer);
  Needle boundary = needleOf(ServerPushReader::kBoundary, kBoundaryLength);
  findNeedles(seam, 0, tail + ServerPushReader::kBodyTrailer, &boundary, 1);
  return boundary.at == tail + 2;
}

}  // namespace

const size_t ServerPushReader::kBodyTrailer = 2 + kBoundaryLength;

void ServerPushReader::restart() { begin(Stage::AnswerHead); }

void ServerPushReader::begin(Stage stage) {
  stage_ = stage;
  scanned_ = 0;
  needles_[0] =
      stage == Stage::PartHead ? needleOf(kHeadEnd, sizeof(kHeadEnd) - 1) : needleOf(kBoundary, kBoundaryLength);
  needles_[1] = needleOf(kEventSectionEnd, kEventSectionEndLength);
  needles_[2] = Needle{kAudioMarker, sizeof(kAudioMarker)};
  count_ = stage == Stage::Body ? 3 : 1;  // heads: only their end matters
  longest_ = 0;
  for (size_t n = 0; n < count_; ++n) longest_ = std::max(longest_, needles_[n].length);
}

ServerPushReader::Step ServerPushReader::feed(const uint8_t* data, size_t size) {
  assert(size >= scanned_ && "fed fewer bytes than were scanned already");
  assert((data != nullptr || size == 0) && "bytes without a place");
  Step step;
  findNeedles(data, scanned_, size, needles_, count_);
  // A needle may begin in the last bytes and end in those still to come.
  if (size >= longest_) scanned_ = std::max(scanned_, size - longest_ + 1);
  if (needles_[0].at == Needle::kNotFound) {
    step.status = size >= kMaxPartSize ? Status::TooLarge : Status::NeedMore;
    return step;
  }
  step.status = Status::StageDone;
  step.consume = needles_[0].at + needles_[0].length;
  if (stage_ == Stage::Body) {
    step.isBody = true;
    if (step.consume >= kBodyTrailer)
      step.pieces = cutBody(data, step.consume - kBodyTrailer, needles_[1].at, needles_[2].at);
  }
  begin(stage_ == Stage::PartHead ? Stage::Body : Stage::PartHead);
  return step;
}

void ServerPushReader::bodyCutElsewhere() {
  assert(stage_ == Stage::Body && "no part head came before");
  begin(Stage::PartHead);
}

std::optional<size_t> ServerPushReader::announcedLength(const uint8_t* head, size_t size) {
  Talvo::http::HttpResponse part;
  part.status = 200;  // a part always has a body
  const char* begin = reinterpret_cast<const char*>(head);
  if (Talvo::http::parseHeaders(begin, begin + size, part.headers) != size) return std::nullopt;
  Talvo::http::detail::BodyFraming framing;
  size_t length = 0;
  if (Talvo::http::detail::bodyFraming(part, kMaxPartSize - kBodyTrailer, framing, length) ||
      framing != Talvo::http::detail::BodyFraming::ContentLength)
    return std::nullopt;
  return length;
}

std::optional<PartPieces> ServerPushReader::cutAnnouncedBody(const uint8_t* body, size_t size, const uint8_t* next,
                                                             size_t nextSize) {
  if (!isBodyTrailer(next, nextSize) || !trailerHoldsFirstBoundary(body, size, next)) return std::nullopt;
  Needle marks[3] = {needleOf(kBoundary, kBoundaryLength), needleOf(kEventSectionEnd, kEventSectionEndLength),
                     Needle{kAudioMarker, sizeof(kAudioMarker)}};
  findNeedles(body, 0, size, marks, 3);
  if (marks[0].at != Needle::kNotFound) return std::nullopt;  // the part ends before its announced end
  return cutBody(body, size, marks[1].at, marks[2].at);
}

// The marks were looked for in all that was scanned; only those wholly inside the body count
// (the first one seen decides: any inside would have come first).
PartPieces ServerPushReader::cutBody(const uint8_t* data, size_t size, size_t eventEnd, size_t audioMarker) {
  PartPieces pieces;
  if (size < kSmallestBody) return pieces;
  if (eventEnd != Needle::kNotFound && eventEnd + kEventSectionEndLength <= size) {
    pieces.hasEvents = true;
    pieces.events = {data, eventEnd};
  }
  if (audioMarker == Needle::kNotFound || audioMarker + sizeof(kAudioMarker) > size) {
    pieces.picture = {data, size};
    return pieces;
  }
  const size_t pictureSize = audioMarker + 2;  // up to and including FF D9
  pieces.picture = {data, pictureSize};
  const size_t blockSize = size - pictureSize;  // from FF ED on
  if (blockSize >= kAudioBlockHeader)
    pieces.audio = {data + pictureSize + kAudioBlockHeader, blockSize - kAudioBlockHeader};
  return pieces;
}

}  // namespace Vantrel
