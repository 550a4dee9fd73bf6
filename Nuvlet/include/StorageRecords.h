// The records a storage device hands the host: track descriptions, recordings, recorded ranges
// with their track ranges, and the enumerator over any of them. Header-only, compiled into the
// module.
//
// Ownership: a record owns its texts and its enumerator; an enumerator returned by a record's
// GetTracks() belongs to that record. Records handed to a host handler are valid during that call
// only. Threads: read-only after construction, except the enumerator's position (one reader).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Nuvlet/include/Contract.h"
#include "host/Storage.h"

namespace Talvo {
namespace Utility {

// The identifiers the host names tracks by.
constexpr const char* VIDEO_TRACK_ID = "video";
constexpr const char* AUDIO_TRACK_ID = "audio";

// A track as a recording lists it: identifier and media type.
struct TrackDescription {
  const char* id;
  const char* mediaType;
};
constexpr TrackDescription VIDEO_TRACK_INFO{VIDEO_TRACK_ID, "video"};
constexpr TrackDescription AUDIO_TRACK_INFO{AUDIO_TRACK_ID, "audio"};

class TrackInfo : public GDRV::Storage::ITrackInfo {
 public:
  explicit TrackInfo(const TrackDescription& track) : id_(track.id), mediaType_(track.mediaType) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract>, Path<GDRV::Storage::ITrackInfo>>(this, typeName);
  }
  const char* GetId() override { return id_.c_str(); }
  const char* GetMediaType() override { return mediaType_.c_str(); }

 private:
  std::string id_;
  std::string mediaType_;
};

// Walks a vector of shared elements; Current() answers the element as IContract.
// `Interface` is the enumerator interface the host asks for (derived from IBasicEnumerator).
template <class Interface, class Element>
class BasicEnumeratorImpl : public Interface {
 public:
  BasicEnumeratorImpl() = default;
  explicit BasicEnumeratorImpl(std::vector<std::shared_ptr<Element>> elements) : elements_(std::move(elements)) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract>, Path<GDRV::IBasicEnumerator>, Path<Interface>>(this, typeName);
  }
  void Reset() override { next_ = 0; }
  bool MoveNext() override {
    if (next_ >= elements_.size()) return false;
    ++next_;
    return true;
  }
  IContract* Current() override { return next_ == 0 ? nullptr : elements_[next_ - 1].get(); }

  const std::vector<std::shared_ptr<Element>>& elements() const { return elements_; }

 private:
  std::vector<std::shared_ptr<Element>> elements_;
  size_t next_ = 0;  // elements_[next_ - 1] is current
};

class TrackRange : public GDRV::Storage::ITrackRange {
 public:
  TrackRange(std::string trackId, uint64_t begin, uint64_t end)
      : trackId_(std::move(trackId)), begin_(begin), end_(end) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract>, Path<GDRV::Storage::ITrackRange>>(this, typeName);
  }
  const char* GetTrackId() override { return trackId_.c_str(); }
  uint64_t GetBegin() override { return begin_; }
  uint64_t GetEnd() override { return end_; }

 private:
  std::string trackId_;
  uint64_t begin_;
  uint64_t end_;
};

class RecordingRange : public GDRV::Storage::IRecordingRange {
 public:
  using Tracks = BasicEnumeratorImpl<GDRV::Storage::ITracksRangeEnumerator, TrackRange>;

  RecordingRange(std::string recordingId, uint64_t begin, uint64_t end, std::vector<std::shared_ptr<TrackRange>> tracks)
      : recordingId_(std::move(recordingId)), begin_(begin), end_(end), tracks_(std::move(tracks)) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract>, Path<GDRV::Storage::IRecordingRange>>(this, typeName);
  }
  const char* GetRecordingId() override { return recordingId_.c_str(); }
  uint64_t GetBegin() override { return begin_; }
  uint64_t GetEnd() override { return end_; }
  GDRV::Storage::ITracksRangeEnumerator* GetTracks() override {
    tracks_.Reset();
    return &tracks_;
  }

 private:
  std::string recordingId_;
  uint64_t begin_;
  uint64_t end_;
  Tracks tracks_;
};

class RecordingInfo : public GDRV::Storage::IRecordingInfo {
 public:
  using Tracks = BasicEnumeratorImpl<GDRV::Storage::ITrackInfoEnumerator, TrackInfo>;

  RecordingInfo(std::string id, std::string name, std::vector<TrackDescription> tracks, uint64_t begin, uint64_t end)
      : id_(std::move(id)), name_(std::move(name)), begin_(begin), end_(end), tracks_(makeTracks(tracks)) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract>, Path<GDRV::Storage::IRecordingInfo>>(this, typeName);
  }
  const char* GetId() override { return id_.c_str(); }
  const char* GetName() override { return name_.c_str(); }
  uint64_t GetBegin() override { return begin_; }
  uint64_t GetEnd() override { return end_; }
  GDRV::Storage::ITrackInfoEnumerator* GetTracks() override {
    tracks_.Reset();
    return &tracks_;
  }

 private:
  static std::vector<std::shared_ptr<TrackInfo>> makeTracks(const std::vector<TrackDescription>& tracks) {
    std::vector<std::shared_ptr<TrackInfo>> made;
    for (const TrackDescription& track : tracks) made.push_back(std::make_shared<TrackInfo>(track));
    return made;
  }

  std::string id_;
  std::string name_;
  uint64_t begin_;
  uint64_t end_;
  Tracks tracks_;
};

using RecordingInfoEnumerator = BasicEnumeratorImpl<GDRV::Storage::IRecordingInfoEnumerator, RecordingInfo>;

}  // namespace Utility
}  // namespace Talvo
