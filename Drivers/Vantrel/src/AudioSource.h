// Vantrel::AudioSource: the camera's microphone. It opens no connection of its own: the camera
// sends its audio inside the server-push video stream of the same channel, and the video worker
// hands each payload through the device to the source registered under that channel number.
//
// Ownership: the host owns the source until Destroy; the device's map holds a shared reference
// while the source is registered, so a delivery in progress keeps it alive.
// Threads: Start, Stop, Destroy and ApplySettings on host threads; onAudioFrame and
// applyPendingSettings on the video worker of the channel.
#pragma once

#include <cstddef>
#include <cstdint>

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "DeviceData.h"
#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/SimpleAdjuster.h"

namespace Vantrel {

class Device;

class AudioSource : public Talvo::GDRV::IAudioSource, public Talvo::Utility::SimpleAdjuster, public Talvo::LoggerOwner {
 public:
  // Creates the source and registers it with `device` under `channel` (an existing entry stays).
  static AudioSource* create(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel,
                             Talvo::MFF::IMultimediaFrameFactory* factory, Device* device);
  ~AudioSource() override;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  void Destroy() override;
  uint32_t GetChannel() override { return channel_; }
  void Start() override;
  void Stop() override;

  // One audio payload of this channel's video stream.
  void onAudioFrame(const uint8_t* data, size_t size);
  // Applies the setting sets the host queued (microphone level).
  void applyPendingSettings();

  uint64_t deliveredFrames() const { return frames_; }
  // The source as the host knows it.
  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IAudioSource*>(this); }

 private:
  AudioSource(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel, Talvo::MFF::IMultimediaFrameFactory* factory,
              Device* device);
  void doApplySettings();

  uint32_t channel_;
  Talvo::GDRV::IAudioSourceHandler* handler_;
  Talvo::MFF::IMultimediaFrameFactory* factory_;
  Device* device_;
  boost::shared_ptr<DeviceData> deviceData_;
  bool started_ = false;
  uint64_t frames_ = 0;
  boost::recursive_mutex mutex_;
  Talvo::Utility::ParamsMap initialParameters_;
  boost::shared_ptr<AudioSource> self_;  // the host's ownership, released by Destroy
};

}  // namespace Vantrel
