// Numbers read from texts whatever the process's locale.
#include "host/Nuvlet/NumberText.h"

#include <locale>
#include <sstream>
#include <stdexcept>

namespace Talvo {
namespace Utility {

double stringToDouble(const std::string& text) {
  std::istringstream stream(text);
  stream.imbue(std::locale::classic());
  double value = 0;
  stream >> std::skipws >> value;
  if (stream.fail()) throw std::invalid_argument("not a number: '" + text.substr(0, 32) + "'");
  stream >> std::ws;
  if (!stream.eof()) throw std::invalid_argument("not a number: '" + text.substr(0, 32) + "'");
  return value;
}

}  // namespace Utility
}  // namespace Talvo
