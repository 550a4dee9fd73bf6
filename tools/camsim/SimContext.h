// What every connection of the simulator shares. Owned by main(); outlives the server's
// io threads. All members are thread-safe or immutable.
#pragma once

#include "CameraAuth.h"
#include "CameraApi.h"
#include "CameraState.h"
#include "FaultTable.h"
#include "PictureSource.h"
#include "Recordings.h"
#include "RequestLog.h"
#include "SimControl.h"
#include "VerboseLog.h"

namespace camsim {

struct SimContext {
  CameraState& state;
  RequestLog& log;
  FaultTable& faults;
  const PictureSource& pictures;
  CameraApi& api;
  SimControl& control;
  CameraAuth& auth;
  const VerboseLog& verbose;
  bool unthrottled;
  Recordings& recordings;  // the edge storage
};

}  // namespace camsim
