// The /sim/* paths that tests and people use to look inside and steer the simulator.
// Thread safety: handle() may run on several io threads at once.
#pragma once

#include "CameraState.h"
#include "FaultTable.h"
#include "Query.h"
#include "Reply.h"
#include "RequestLog.h"

namespace camsim {

class SimControl {
 public:
  // References are kept: all must outlive the control.
  SimControl(CameraState& state, RequestLog& log, FaultTable& faults);

  Reply handle(const Target& target);

 private:
  Reply requests(const Target& target);
  Reply fault(const Target& target);
  Reply events(const Target& target);
  Reply json(const Target& target);
  Reply identity(const Target& target);
  Reply signalLines(const Target& target);
  Reply boardInput(const Target& target);
  Reply ioState();
  Reply trigger(const Target& target);
  Reply action(const Target& target);

  CameraState& state_;
  RequestLog& log_;
  FaultTable& faults_;
};

}  // namespace camsim
