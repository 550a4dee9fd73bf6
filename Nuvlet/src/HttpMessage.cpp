// Header lookup of answers: names compare without case.
#include "host/Nuvlet/HttpMessage.h"

#include <algorithm>

#include "HttpCharacters.h"

namespace Talvo {
namespace http {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return characters::lowerAscii(x) < characters::lowerAscii(y);
  });
}

std::string HttpResponse::header(const std::string& name, bool* found) const {
  const auto it = headers.find(name);
  if (found) *found = it != headers.end();
  return it != headers.end() ? it->second : std::string();
}

}  // namespace http
}  // namespace Talvo
