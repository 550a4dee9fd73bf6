// Chunked answer bodies, decoded as their bytes arrive.
#include "Nuvlet/include/ChunkedBodyDecoder.h"

#include <algorithm>
#include <cctype>

#include "HttpCharacters.h"

namespace Talvo {
namespace http {

namespace detail {

using characters::isTextChar;
using characters::lowerAscii;

ChunkedBodyDecoder::Result ChunkedBodyDecoder::feed(const char* data, size_t size, size_t& used, Body& body,
                                                    size_t maxBody) {
  used = 0;
  while (used < size && state_ != State::Done) {
    switch (state_) {
      case State::SizeLine:
      case State::Trailer: {
        bool complete = false;
        const Result taken = takeLine(data + used, size - used, used, complete);
        if (taken != Result::NeedMore) return taken;
        if (!complete) return Result::NeedMore;
        const Result ended = state_ == State::SizeLine ? endSizeLine(body, maxBody) : endTrailerLine();
        if (ended != Result::NeedMore) return ended;
        break;
      }
      case State::Data: {
        const size_t n = std::min(chunkLeft_, size - used);
        body.insert(body.end(), data + used, data + used + n);
        used += n;
        chunkLeft_ -= n;
        if (chunkLeft_ == 0) state_ = State::DataEnd;
        break;
      }
      case State::DataEnd: {
        // The two bytes after the chunk data must be CRLF; they may arrive one at a time.
        line_.push_back(data[used++]);
        if (line_.size() == 1 && line_[0] != '\r') return Result::Malformed;
        if (line_.size() == 2) {
          if (line_[1] != '\n') return Result::Malformed;
          line_.clear();
          state_ = State::SizeLine;
        }
        break;
      }
      case State::Done:
        break;
    }
  }
  return state_ == State::Done ? Result::Done : Result::NeedMore;
}

// Collects a line into line_ up to its CRLF; `complete` when the CRLF was taken.
ChunkedBodyDecoder::Result ChunkedBodyDecoder::takeLine(const char* data, size_t size, size_t& used, bool& complete) {
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (!line_.empty() && line_.back() == '\r') {
      if (c != '\n') return Result::Malformed;
      line_.pop_back();
      used += i + 1;
      complete = true;
      return Result::NeedMore;
    }
    if (c == '\n') return Result::Malformed;  // a bare LF
    if (line_.size() >= kMaxLineSize) return Result::Malformed;
    line_.push_back(c);
  }
  used += size;
  return Result::NeedMore;
}

ChunkedBodyDecoder::Result ChunkedBodyDecoder::endSizeLine(const Body& body, size_t maxBody) {
  size_t i = 0;
  size_t value = 0;
  for (; i < line_.size() && std::isxdigit(static_cast<unsigned char>(line_[i])); ++i) {
    const char c = lowerAscii(line_[i]);
    value = value * 16 + static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    if (value > maxBody) return Result::TooLarge;  // checked at every digit: no overflow
  }
  if (i == 0) return Result::Malformed;
  // After the size only blanks and chunk extensions (";name=value") may follow.
  while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
  if (i < line_.size() && line_[i] != ';') return Result::Malformed;
  if (!std::all_of(line_.begin() + static_cast<std::ptrdiff_t>(i), line_.end(), isTextChar)) return Result::Malformed;
  line_.clear();
  if (value > maxBody - body.size()) return Result::TooLarge;
  chunkLeft_ = value;
  state_ = value == 0 ? State::Trailer : State::Data;
  return Result::NeedMore;
}

ChunkedBodyDecoder::Result ChunkedBodyDecoder::endTrailerLine() {
  const bool empty = line_.empty();
  line_.clear();
  if (empty) {
    state_ = State::Done;
    return Result::Done;
  }
  if (++trailerLines_ > kMaxTrailerLines) return Result::Malformed;
  return Result::NeedMore;
}

}  // namespace detail
}  // namespace http
}  // namespace Talvo
