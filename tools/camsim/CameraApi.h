// The camera's own paths (everything except /sim and the server-push stream).
// One handler per path family; add a family by adding an entry to the table in the .cpp.
// Thread safety: handle() may run on several io threads at once; the state locks itself.
#pragma once

#include "CameraState.h"
#include "PictureSource.h"
#include "Query.h"
#include "Reply.h"

#include <atomic>
#include <cstdint>

namespace camsim {

class CameraApi {
 public:
  // References are kept: state and pictures must outlive the api.
  CameraApi(CameraState& state, const PictureSource& pictures);

  // `body`: the request's body (POST), empty for most requests.
  Reply handle(const Target& target, const std::string& rawQuery, const std::string& body = std::string());

 private:
  Reply control(const Target& target);
  Reply remoteControl(const Target& target);
  Reply adminControl(const std::string& rawQuery);
  Reply adminControl(const Target& target, const std::string& rawQuery);
  Reply messageSystemRead(const Target& target);
  void messageSystemSet(const std::string& section, const Target& target, SectionLines& plain);
  Reply adminAudio(const Target& target);
  Reply json(const Target& target, const std::string& body);
  Reply writeBoxConfig(const std::string& path, const std::string& body);
  Reply currentPicture();

  CameraState& state_;
  const PictureSource& pictures_;
  std::atomic<std::uint64_t> snapshotCount_{0};
};

// Lines as the camera writes them: "key=value\r\n" each.
std::string formatSection(const SectionLines& lines);

// The read part of /control/control and /sim/state: section= plus optional key names.
Reply readSection(const CameraState& state, const Target& target);

}  // namespace camsim
