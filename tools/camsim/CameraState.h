// Everything the simulated camera remembers: configuration sections, admin queries, the
// microphone switch, the event information switch and the JSON documents.
// Thread safety: every method may be called from any io thread; one mutex guards all.
#pragma once

#include "MessageSystem.h"
#include "Models.h"
#include "Speaker.h"
#include "ThermalScene.h"

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

// The serial port's signal lines and the signal output. `raw`, when set, replaces the signal
// lines' answer (for cameras that answer oddly).
struct SignalState {
  int rxd = 0, cts = 0, dsr = 0;
  bool output = false;
  std::optional<std::string> raw;
};

struct EventSettings {
  bool enabled = false;
  std::string est;  // the EST list as given to /sim/events
};

class CameraState {
 public:
  CameraState(ModelInfo model, SectionMap sections);

  const ModelInfo& model() const { return model_; }

  // Lines of a section; when keys are named only those, in that order, stored ones only.
  // Nothing when the section does not exist.
  std::optional<SectionLines> read(const std::string& section, const std::vector<std::string>& keys) const;
  // Stores each key=value into the section, creating it when needed.
  void set(const std::string& section, const SectionLines& lines);

  // Queries received on /admin/control, oldest first (bounded: the oldest are dropped).
  void recordAdminQuery(const std::string& query);
  std::vector<std::string> adminQueries() const;

  void setMicrophone(bool on);
  bool microphone() const;

  SignalState signals() const;
  void setSignals(SignalState state);

  void setEvents(EventSettings events);
  EventSettings events() const;

  // The message and event system (it locks itself).
  MessageSystem& messages() { return messages_; }
  const MessageSystem& messages() const { return messages_; }

  // The thermal sensors' scene (it locks itself).
  ThermalScene& thermal() { return thermal_; }
  const ThermalScene& thermal() const { return thermal_; }

  // The loudspeaker that "/control/ddspeaker" calls play on (it locks itself).
  Speaker& speaker() { return speaker_; }

  // JSON document served at an /api/json/ path: a stored one, else the event-variable log or
  // the RS-232 boxes' configuration, computed from the message system at their paths.
  std::optional<std::string> jsonDocument(const std::string& path) const;
  // Forgets a stored document (the computed one answers again).
  void removeJsonDocument(const std::string& path);
  // False when the path is new and kMaxJsonDocuments are already stored.
  bool setJsonDocument(const std::string& path, std::string body);

  // The identity headers of "/record/current.jpg" in the camera's order (SWV firmware, CFL model,
  // TSL thermal sensor), those present only. The model's values until changed.
  SectionLines identityHeaders() const;
  // Sets header `name` (one of the three) to `value`, or leaves it out when there is none.
  void setIdentityHeader(const std::string& name, std::optional<std::string> value);
  static const std::vector<std::string>& identityHeaderNames();

  static constexpr std::size_t kMaxAdminQueries = 1000;
  static constexpr std::size_t kMaxJsonDocuments = 1000;

 private:
  const ModelInfo model_;
  mutable std::mutex mutex_;
  SectionMap sections_;
  std::deque<std::string> adminQueries_;
  bool microphone_ = false;
  EventSettings events_;
  SignalState signals_;
  std::map<std::string, std::string> jsonDocuments_;
  std::map<std::string, std::optional<std::string>> identity_;
  MessageSystem messages_;
  ThermalScene thermal_;
  Speaker speaker_;
};

inline constexpr const char* kEventVariablesPath = "/api/json/status/messagesystem/eventvariables/log";
inline constexpr const char* kRs232BoardsPath = "/api/json/config/ZL_232_IO_Box";

}  // namespace camsim
