#include "Recordings.h"

#include "AudioTone.h"
#include "JpegSegments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace camsim {

namespace {

constexpr std::int64_t kFirstSequenceId = 1000;
constexpr double kStartFraction = 0.5;  // the camera's times carry fractions of a second
constexpr std::size_t kInfoBlockSize = 64;
constexpr std::size_t kAudioSamplesPerBlock = 800;

std::string decimal(double seconds, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, seconds);
  return text;
}

// The binary information block: "ZLF", version 2.0 without records, the time in microseconds.
std::string infoBlock(double seconds) {
  std::string block(kInfoBlockSize, '\0');
  block.replace(0, 3, "ZLF");
  block[4] = 2;
  const auto micros = static_cast<std::uint64_t>(std::llround(seconds * 1e6));
  for (int i = 0; i < 8; ++i) block[8 + i] = static_cast<char>((micros >> (8 * i)) & 0xFF);
  return block;
}

// A whole number, "-" allowed (offset=-1).
std::optional<std::int64_t> numberOf(const Target& target, const char* name) {
  const std::string text = target.valueOr(name, "");
  const bool negative = !text.empty() && text[0] == '-';
  const auto value = parseNumber(negative ? text.substr(1) : text, 0, 4000000000L);
  if (!value) return std::nullopt;
  return negative ? -static_cast<std::int64_t>(*value) : static_cast<std::int64_t>(*value);
}

}  // namespace

std::optional<TimelineSettings> parseTimeline(const Target& target, TimelineSettings base, std::string& error) {
  struct Field {
    const char* name;
    long min;
    long max;
    int* into;
  };
  const Field fields[] = {{"count", 0, 100000, &base.count},
                          {"length", 0, 86400, &base.length},
                          {"gap", 0, 86400, &base.gap},
                          {"pictures", 1, 1000, &base.pictures},
                          {"pace", 0, 60000, &base.paceMs}};
  for (const Field& field : fields) {
    if (!target.has(field.name)) continue;
    const auto value = parseNumber(target.valueOr(field.name, ""), field.min, field.max);
    if (!value) {
      error = std::string(field.name) + " must be a number from " + std::to_string(field.min) + " to " +
              std::to_string(field.max);
      return std::nullopt;
    }
    *field.into = static_cast<int>(*value);
  }
  if (target.has("start")) {
    const auto start = parseNumber(target.valueOr("start", ""), 1, 4000000000L);
    if (!start) {
      error = "start must be unix seconds";
      return std::nullopt;
    }
    base.start = *start;
  }
  if (target.has("audio")) base.audio = target.valueOr("audio", "1") != "0";
  if (target.has("deltafirst")) base.deltaFirst = target.valueOr("deltafirst", "1") != "0";
  return base;
}

Recordings::Recordings(const PictureSource& pictures) : pictures_(pictures) {}

void Recordings::configure(const TimelineSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = settings;
}

TimelineSettings Recordings::settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

std::vector<Recordings::Sequence> Recordings::sequencesLocked() const {
  std::vector<Sequence> sequences;
  for (int i = 0; i < settings_.count; ++i) {
    const double start =
        static_cast<double>(settings_.start) + static_cast<double>(i) * (settings_.length + settings_.gap);
    sequences.push_back({kFirstSequenceId + i, start + kStartFraction, settings_.length});
  }
  return sequences;
}

Reply Recordings::simControl(const Target& target) {
  std::string error;
  const auto parsed = parseTimeline(target, settings(), error);
  if (!parsed) return Reply::text(400, error + "\r\n");
  configure(*parsed);
  Reply reply = Reply::text(200, nlohmann::ordered_json{{"count", parsed->count},
                                                        {"length", parsed->length},
                                                        {"gap", parsed->gap},
                                                        {"start", parsed->start},
                                                        {"pictures", parsed->pictures},
                                                        {"pace", parsed->paceMs},
                                                        {"audio", parsed->audio},
                                                        {"deltafirst", parsed->deltaFirst}}
                                         .dump() +
                                     "\n");
  reply.contentType = "application/json";
  return reply;
}

bool Recordings::isStreamRequest(const Target& target) {
  return target.path == "/control/event.jpg" && target.valueOr("output", "") == "zlg";
}

Reply Recordings::handle(const Target& target) const {
  const std::string output = target.valueOr("output", "");
  if (output == "evtinfo") return storageSpan();
  if (output == "alarmlist_extended") return alarmList(target);
  if (output == "jpeg") return picture(target);
  return Reply::text(400, "unknown output\r\n");
}

Reply Recordings::storageSpan() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto sequences = sequencesLocked();
  const double head = sequences.empty() ? 0 : sequences.front().start;
  const double tail = sequences.empty() ? 0 : sequences.back().start + sequences.back().length;
  return Reply::text(200, "headtime_usec=" + decimal(head, 6) + "\r\ntailtime_usec=" + decimal(tail, 6) + "\r\n");
}

Reply Recordings::alarmList(const Target& target) const {
  const auto length = numberOf(target, "length");
  if (!length || *length < 1) return Reply::text(400, "length must be a number from 1\r\n");
  std::vector<Sequence> sequences;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sequences = sequencesLocked();
  }
  std::vector<Sequence> listed;  // newest first
  if (target.has("sequence")) {
    const auto id = numberOf(target, "sequence");
    const auto offset = numberOf(target, "offset");
    if (!id || !offset || (*offset != 1 && *offset != -1)) return Reply::text(400, "bad sequence or offset\r\n");
    for (auto it = sequences.rbegin(); it != sequences.rend(); ++it)
      if (*offset < 0 ? it->id < *id : it->id > *id) listed.push_back(*it);
    // After a sequence: the next ones, still listed newest first.
    if (*offset > 0 && static_cast<std::int64_t>(listed.size()) > *length)
      listed.erase(listed.begin(), listed.end() - *length);
  } else {
    const auto time = numberOf(target, "searchbytime_start");
    if (!time) return Reply::text(400, "searchbytime_start must be unix seconds\r\n");
    for (auto it = sequences.rbegin(); it != sequences.rend(); ++it)
      if (std::floor(it->start) <= static_cast<double>(*time)) listed.push_back(*it);
  }
  if (static_cast<std::int64_t>(listed.size()) > *length) listed.resize(static_cast<std::size_t>(*length));
  if (listed.empty()) return Reply::text(200, "[\n]\n");
  std::string body = "[\n";
  for (const Sequence& sequence : listed) {
    if (body.size() > 2) body += ",\n";
    body += "{\"alarmimage\":\"" + std::to_string(sequence.id) + "\",\"timestamp\":" + decimal(sequence.start, 6) +
            ",\"seqinfo\":{\"length_sec\":" + std::to_string(sequence.length) + "}}";
  }
  Reply reply = Reply::text(200, body + "\n]\n");
  reply.contentType = "application/json";
  return reply;
}

std::string Recordings::pictureOf(const Sequence& sequence, int index, const TimelineSettings& settings,
                                  bool key) const {
  const double step = static_cast<double>(sequence.length) / settings.pictures;
  const double time = sequence.start + step * index;
  const double last = sequence.start + step * (settings.pictures - 1);
  const std::string header =
      "#:R9IMG\nSECTION RECORDING\nTIT=" + decimal(time, 3) + "\nENO=" + std::to_string(sequence.id) +
      "\nFFR=1\nLFR=" + std::to_string(settings.pictures) + "\nFCO=" + std::to_string(settings.pictures) +
      "\nFTI=" + decimal(sequence.start, 3) + "\nLTI=" + decimal(last, 3) + "\nENDSECTION RECORDING\n";
  const auto encoded = pictures_.picture(static_cast<std::uint64_t>(sequence.id * 100 + index));
  return insertAfterApp0(key ? encoded->key : encoded->delta, commentSegment(infoBlock(time)) + commentSegment(header));
}

Reply Recordings::picture(const Target& target) const {
  const auto second = numberOf(target, "searchbytime_start");
  if (!second) return Reply::text(400, "searchbytime_start must be unix seconds\r\n");
  TimelineSettings settings;
  std::vector<Sequence> sequences;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settings = settings_;
    sequences = sequencesLocked();
  }
  const double time = static_cast<double>(*second);
  for (const Sequence& sequence : sequences) {
    if (sequence.start + sequence.length <= time) continue;
    const double step = static_cast<double>(sequence.length) / settings.pictures;
    const int index =
        time <= sequence.start || step <= 0 ? 0 : std::min(settings.pictures - 1, int((time - sequence.start) / step));
    Reply reply = Reply::text(200, pictureOf(sequence, index, settings, true));
    reply.contentType = "image/jpeg";
    return reply;
  }
  return Reply::notFound();
}

std::optional<RecordingStreamPlan> Recordings::stream(const Target& target) const {
  TimelineSettings settings;
  std::vector<Sequence> sequences;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settings = settings_;
    sequences = sequencesLocked();
  }
  RecordingStreamPlan plan;
  plan.head = "HTTP/1.0 200 OK\r\nContent-Type: image/zlg\r\nConnection: close\r\n\r\n";
  plan.paceMs = settings.paceMs;
  const Sequence* chosen = nullptr;
  int first = 0;
  if (target.has("sequence")) {
    const auto id = numberOf(target, "sequence");
    if (!id) return std::nullopt;
    for (const Sequence& sequence : sequences)
      if (sequence.id > *id) {
        chosen = &sequence;
        break;
      }
  } else {
    const auto second = numberOf(target, "searchbytime_start");
    if (!second) return std::nullopt;
    const double time = static_cast<double>(*second);
    for (const Sequence& sequence : sequences) {
      if (sequence.start + sequence.length <= time) continue;
      chosen = &sequence;
      const double step = static_cast<double>(sequence.length) / settings.pictures;
      if (time > sequence.start && step > 0)
        first = std::min(settings.pictures - 1, int((time - sequence.start) / step));
      break;
    }
  }
  if (!chosen) return plan;  // nothing more stored: an empty stream
  ToneGenerator tone;
  std::uint32_t audioSequence = 0;
  const int shift = settings.deltaFirst ? 2 : 0;
  for (int index = first; index < settings.pictures; ++index) {
    const int counted = index - first;
    const bool key = counted >= shift && (counted - shift) % 4 == 0;
    std::string piece = pictureOf(*chosen, index, settings, key);
    if (settings.audio) piece += audioBlock(tone.nextSamples(kAudioSamplesPerBlock), audioSequence++);
    plan.pieces.push_back(std::move(piece));
  }
  return plan;
}

}  // namespace camsim
