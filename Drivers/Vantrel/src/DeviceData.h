// Per-device data shared by the device and every channel it creates.
#pragma once

#include <cstdint>
#include <map>
#include <set>

#include <boost/shared_ptr.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/recursive_mutex.hpp>

namespace Vantrel {

class AudioSource;

struct DeviceData {
  // Audio source of each camera channel; guarded by `mutex`. The video worker of a channel hands
  // the audio it finds in its stream to the source registered under the same channel number.
  std::map<uint32_t, boost::shared_ptr<AudioSource>> audioSources;
  // The server-push streams of each camera channel whose workers run (a stream number once per
  // running worker); guarded by `mutex`. Only one of them feeds the channel's audio source.
  std::map<uint32_t, std::multiset<uint32_t>> liveStreams;
  boost::recursive_mutex mutex;
};

}  // namespace Vantrel
