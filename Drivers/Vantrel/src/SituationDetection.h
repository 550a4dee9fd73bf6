// Vantrel::SituationDetection: the camera's passive-infrared detector ("ir_detection") and its
// shock/tap detector (every other identifier). Both live in the camera section "event_env";
// only the sensor ("ir" or "gy") and the one setting differ.
#pragma once

#include <string>

#include "BaseDetection.h"

namespace Vantrel {

class SituationDetection : public BaseDetection {
 protected:
  std::string eventType() const override { return "env"; }
  std::string sensorType() const override { return infrared_ ? "ir" : "gy"; }
  std::string sensorParameters() override { return std::string(); }
  void applySettings(const Talvo::Utility::ParamsMap& set, Talvo::Utility::ActionCompletion done) override;

 private:
  friend class BaseDetection;
  SituationDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel, const std::string& detectorId,
                     const std::string& eventName, Device* device);

  const bool infrared_;
  Talvo::http::AsyncOperationPtr request_;  // connection thread
};

}  // namespace Vantrel
