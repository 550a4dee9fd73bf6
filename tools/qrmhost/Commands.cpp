#include "Commands.h"

namespace qrmhost {

const std::vector<CommandDeclaration>& commandDeclarations() {
  static const std::vector<CommandDeclaration> declarations = {
      declareModels, declareDevice,   declareLive,       declarePtz,      declareIo,
      declareAutodetect, declareDetect, declareThermal, declareDiscover, declareRecordings,
      declarePlayback, declareSpeak, declareFleet, declareServe, declareFingerprint};
  return declarations;
}

}  // namespace qrmhost
