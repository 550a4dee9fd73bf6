// The settings adjuster every channel carries. Declarations only; implemented in libNuvlet.
#pragma once

#include "../Contract.h"
#include "../GDRV.h"
#include "Parameters.h"

namespace Talvo {
namespace Utility {

// The IAsyncAdjuster face of a channel: SetValue builds a set of changes, ApplySettings queues
// it with its handler; the channel's worker pops and applies queued sets and answers each
// handler with Finished(source, code). Called by host threads.
class SimpleAdjuster : public IAsyncAdjuster {
 public:
  // `source` is the contract named in Finished calls (the channel itself).
  explicit SimpleAdjuster(IContract* source) : source_(source) {}

  void SetValue(const char* name, bool value) override;
  void SetValue(const char* name, int value) override;
  void SetValue(const char* name, double value) override;
  void SetValue(const char* name, const char* value) override;
  // Queues the set; when the queue is full the handler hears Finished(source, 16) at once.
  void ApplySettings(IAsyncActionHandler* handler) override;

  // When the persistent parameter "blockConfiguration" is true, answers `handler` with
  // Finished(source, 0) and returns true: the set must not reach the camera.
  bool processBlockingConfiguration(const ParamsMap& set, IAsyncActionHandler* handler);

  ParametersContainer& parameters() { return parameters_; }
  const ParametersContainer& parameters() const { return parameters_; }
  IContract* adjusterSource() const { return source_; }

 protected:
  ParametersContainer parameters_;

 private:
  IContract* source_;
};

}  // namespace Utility
}  // namespace Talvo
