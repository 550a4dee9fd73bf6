// Vantrel::AudioSource: the camera's microphone. It opens no connection of its own: the camera
// sends its audio inside the server-push video stream of the same channel, and the video worker
// hands each payload through the device to the source registered under that channel number.
//
// Ownership: the host owns the source until Destroy; the device's map holds a shared reference
// while the source is registered, so a delivery in progress keeps it alive.
// Every server-push stream of the channel carries the same microphone, so only one stream feeds
// the source: the first running stream when the source starts (or the first to send audio when
// none runs), and when that stream ends, the next running one. The new stream's blocks that came
// after the old stream's last block are held meanwhile and go first, so the hand-over neither
// skips nor repeats a block.
//
// Threads: Start, Stop, Destroy and ApplySettings on host threads; onAudioFrame, streamEnded and
// applyPendingSettings on the video workers of the channel. No lock is held while the host is
// called: a delivery counts itself in, and Stop waits until the deliveries in progress are out
// (unless Stop comes from inside one), so that no frame reaches the handler after Stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

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

  // One audio payload of the channel's video stream `stream`.
  void onAudioFrame(uint32_t stream, const uint8_t* data, size_t size);
  // The worker of `stream` sends no more audio: the next running stream takes over if it was fed.
  void streamEnded(uint32_t stream);
  // Applies the setting sets the host queued (microphone level).
  void applyPendingSettings();

  uint64_t deliveredFrames() const { return frames_.load(); }
  // The source as the host knows it.
  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IAudioSource*>(this); }

 private:
  AudioSource(Talvo::GDRV::IAudioSourceHandler* handler, uint32_t channel, Talvo::MFF::IMultimediaFrameFactory* factory,
              Device* device);
  // Idle -> Starting (microphone request, Started) -> Running -> Idle. A Stop while Starting
  // becomes StopAsked, and Start reports the stop once Started is out.
  enum class State { Idle, Starting, StopAsked, Running };

  void doApplySettings();
  // Sends the microphone request; blocking, called without any lock.
  int enableMicrophone();
  using Block = std::vector<uint8_t>;
  void deliver(const uint8_t* data, size_t size);
  // With mutex_ held: keeps a block of a stream that does not feed the source (yet).
  void hold(uint32_t stream, const uint8_t* data, size_t size);
  void reportStopped();
  bool running();

  uint32_t channel_;
  Talvo::GDRV::IAudioSourceHandler* handler_;
  Talvo::MFF::IMultimediaFrameFactory* factory_;
  Device* device_;
  boost::shared_ptr<DeviceData> deviceData_;
  std::atomic<uint64_t> frames_{0};
  std::mutex mutex_;  // guards state_ and deliveries_; never held while calling the host
  std::condition_variable deliveriesDone_;
  State state_ = State::Idle;
  int deliveries_ = 0;  // onAudioFrame calls between their state check and their return
  std::optional<uint32_t> fedBy_;  // the stream whose blocks go to the host; guarded by mutex_
  // Per other stream, its blocks since the feeding stream's last one, oldest first (mutex_).
  std::map<uint32_t, std::deque<Block>> held_;
  Talvo::Utility::ParamsMap initialParameters_;
  boost::shared_ptr<AudioSource> self_;  // the host's ownership, released by Destroy
};

}  // namespace Vantrel
