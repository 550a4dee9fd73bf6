// Records of the camera's edge storage as the host reads them. Declarations only.
#pragma once

#include <cstdint>

#include "Contract.h"

namespace Talvo {
namespace GDRV {

class IBasicEnumerator : public IContract {
 public:
  virtual void Reset() = 0;
  virtual bool MoveNext() = 0;       // false past the last element
  virtual IContract* Current() = 0;  // valid after MoveNext returned true; owned by the enumerator
};

namespace Storage {

class ITrackInfo : public IContract {
 public:
  virtual const char* GetId() = 0;
  virtual const char* GetMediaType() = 0;  // "video" or "audio"
};

class ITrackRange : public IContract {
 public:
  virtual const char* GetTrackId() = 0;
  virtual uint64_t GetBegin() = 0;
  virtual uint64_t GetEnd() = 0;
};

class ITracksRangeEnumerator : public IBasicEnumerator {};
class ITrackInfoEnumerator : public IBasicEnumerator {};

class IRecordingRange : public IContract {
 public:
  virtual const char* GetRecordingId() = 0;
  virtual uint64_t GetBegin() = 0;
  virtual uint64_t GetEnd() = 0;
  virtual ITracksRangeEnumerator* GetTracks() = 0;
};

class IRecordingInfo : public IContract {
 public:
  virtual const char* GetId() = 0;
  virtual const char* GetName() = 0;
  virtual uint64_t GetBegin() = 0;
  virtual uint64_t GetEnd() = 0;
  virtual ITrackInfoEnumerator* GetTracks() = 0;
};

class IRecordingInfoEnumerator : public IBasicEnumerator {};

// The tracks the host wants played; Current() answers an ITrackInfo.
class ITrackIdEnumerator : public IBasicEnumerator {};

}  // namespace Storage
}  // namespace GDRV
}  // namespace Talvo
