// The I/O channels and detectors of `qrmhost serve`: their reports become events and a state the
// API shows. Module threads call the handlers; the server's threads read the state.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "Broadcast.h"
#include "JsonLine.h"
#include "StopControl.h"
#include "host/Analytics.h"
#include "host/GDRV.h"

namespace qrmhost {

// Takes an event (its "kind" first); any thread.
using EventSink = std::function<void(JsonObject event)>;

// What served I/O channels and detectors share: the camera they belong to, Started/Stopped and
// Failed (an event "<kind>_failed" with the code).
class ServedChannelState {
 public:
  ServedChannelState(std::string camera, size_t cameraIndex, std::string id, const char* kind, EventSink sink)
      : camera_(std::move(camera)), cameraIndex_(cameraIndex), id_(std::move(id)), kind_(kind), sink_(std::move(sink)) {}

  const std::string& id() const { return id_; }
  size_t cameraIndex() const { return cameraIndex_; }
  void started() { running_ = true; }
  void stopped();
  void failed(int32_t code);
  // True once Stopped came (or the channel never started), false when `deadline` passes first.
  bool waitStopped(Clock::time_point deadline);

 protected:
  // {"kind":..., "id":..., "camera":..., ...}, then the members `fill` adds, to the sink.
  void emit(const std::string& kind, const std::function<void(JsonObject&)>& fill);
  // {"id","camera","kind","camera_index"}: the head of the channel's entry in the API.
  JsonObject entryHead() const;

 private:
  const std::string camera_;
  const size_t cameraIndex_;
  const std::string id_;
  const char* const kind_;
  const EventSink sink_;
  std::mutex stopMutex_;
  std::condition_variable stopChanged_;
  std::atomic<bool> running_{false};
};

// An I/O channel: inputs as they change, outputs as they are switched or seen switching.
class ServedIO final : public Talvo::GDRV::IIODeviceHandler,
                       public Talvo::GDRV::IDigitalOutputHandler,
                       public ServedChannelState {
 public:
  ServedIO(std::string camera, size_t cameraIndex, uint32_t index, EventSink sink);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract*, int32_t code) override { failed(code); }
  void Started(Talvo::IContract*) override { started(); }
  void Stopped(Talvo::IContract*) override { stopped(); }
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}
  void InputChanged(Talvo::IContract*, int32_t input, bool active, uint64_t time) override;
  void OutputChanged(Talvo::IContract*, int32_t code) override;
  void OutputStateChanged(Talvo::IContract*, int32_t output, bool active, uint64_t time) override;

  uint32_t index() const { return index_; }
  // Switches `output` of `io` and waits for the channel's answer: its code, or nullopt when
  // `deadline` passed first. One caller at a time (the server's worker).
  std::optional<int32_t> switchOutput(Talvo::GDRV::IIODevice& io, int32_t output, bool active,
                                      Clock::time_point deadline);
  // The API's entry: the head, "io", "inputs" and "outputs" ({"0":true,...}: as last reported).
  JsonObject entry();

 private:
  void reportState(const char* kind, std::map<int32_t, bool>& states, int32_t index, bool active, uint64_t time);

  const uint32_t index_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::map<int32_t, bool> inputs_;
  std::map<int32_t, bool> outputs_;
  uint64_t asked_ = 0;                  // SetOutput calls; the channel answers them in order
  uint64_t answers_ = 0;                // OutputChanged calls
  std::map<uint64_t, int32_t> codes_;   // answers not yet taken, by number (from 1)
};

// A detector: its events (begin, end, periodical) and whether one is active.
class ServedDetector : public Talvo::GDRV::IVideoAnalyticsHandler, public ServedChannelState {
 public:
  ServedDetector(std::string camera, size_t cameraIndex, uint32_t channel, std::string detector, EventSink sink,
                 const char* kind = "detector");

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Failed(Talvo::IContract*, int32_t code) override { failed(code); }
  void Started(Talvo::IContract*) override { started(); }
  void Stopped(Talvo::IContract*) override { stopped(); }
  void Event(Talvo::IContract*, const char* name, Talvo::GDRV::EventPhase phase, uint64_t time, const char*,
             const char*) override;
  void Data(Talvo::IContract*, const char*, uint64_t, const char*) override {}

  uint32_t channel() const { return channel_; }
  const std::string& detector() const { return detector_; }
  // The API's entry: the head, "channel", "detector", "active" (names of open events), "events".
  virtual JsonObject entry();

 private:
  const uint32_t channel_;
  const std::string detector_;
  std::mutex mutex_;
  std::map<std::string, bool> active_;
  uint64_t events_ = 0;
};

// A thermal camera's temperatures detector: about once a second a temperature matrix becomes a
// heat map (a JPEG picture, made on the caller's worker) for its viewers, with its minimum,
// maximum and mean; device temperatures (levels) are kept as they come.
class ServedThermal final : public ServedDetector, public Talvo::Analytics::IPeriodicalEventHandler {
 public:
  // Hands a heat map's making to a worker thread: (who, the job); a later job of the same `who`
  // replaces one still waiting.
  using Render = std::function<void(const void* who, std::function<void()> job)>;

  ServedThermal(std::string camera, size_t cameraIndex, uint32_t channel, std::string detector, EventSink sink,
                Render render);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void PeriodicalEvent(Talvo::IContract*, const char* name, uint64_t time, const char*,
                       Talvo::Analytics::IEventPropertySet* properties) override;

  Broadcast& heatMaps() { return heatMaps_; }
  // The detector's entry with "matrix" ({"time","width","height","min","max","mean"}) and "levels".
  JsonObject entry() override;

 private:
  void takeMatrix(uint64_t time, Talvo::Analytics::IFloatMatrix& matrix);

  const Render render_;
  Broadcast heatMaps_{2, 32};
  std::mutex mutex_;
  JsonObject matrix_;                   // the last matrix's figures
  std::map<std::string, double> levels_;
  std::optional<uint64_t> lastHeatMap_;  // the last heat map's matrix time
};

}  // namespace qrmhost
