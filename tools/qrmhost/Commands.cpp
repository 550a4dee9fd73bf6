#include "Commands.h"

namespace qrmhost {

const std::vector<CommandDeclaration>& commandDeclarations() {
  static const std::vector<CommandDeclaration> declarations = {declareModels, declareDevice, declareLive, declarePtz,
                                                               declareAutodetect, declareDiscover};
  return declarations;
}

}  // namespace qrmhost
