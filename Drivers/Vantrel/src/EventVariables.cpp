#include "EventVariables.h"

#include <stdexcept>

#include "CameraJson.h"

namespace Vantrel {

namespace {

const char kLocalMessages[] = "messages.local.";

// A document whose shape is not a list of records.
struct TreeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A record's member as text: a text as it is, a whole number in decimal. A missing member, a
// record that is no object or a member of another kind is a tree error (the camera's value is
// never written out: it may nest deeper than a writer can go).
std::string memberText(const nlohmann::json& record, const char* name) {
  if (!record.is_object()) throw TreeError("a record is not an object");
  const auto value = record.find(name);
  if (value == record.end()) throw TreeError(std::string("no such node (") + name + ")");
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number_unsigned()) return std::to_string(value->get<uint64_t>());
  throw TreeError(std::string("node (") + name + ") is neither a text nor a whole number");
}

// Whole-string unsigned decimal; std::invalid_argument or std::out_of_range otherwise.
uint64_t secondsOf(const std::string& text) {
  if (text.find_first_not_of("0123456789") != std::string::npos) throw std::invalid_argument("stoull: " + text);
  size_t used = 0;
  const unsigned long long value = std::stoull(text, &used, 10);
  if (value > UINT64_MAX / 1000) throw std::out_of_range("stoull: " + text);
  return value;
}

void readRecord(const nlohmann::json& record, EventVariables& out) {
  const std::string path = memberText(record, "path");
  if (path.compare(0, sizeof kLocalMessages - 1, kLocalMessages) != 0) return;
  const std::string seconds = memberText(record, "tv_sec");
  if (seconds.empty()) return;
  if (memberText(record, "type") != "changed") return;
  out[path.substr(sizeof kLocalMessages - 1)] = secondsOf(seconds) * 1000;
}

}  // namespace

void parseEventVariables(const Talvo::LoggerOwner& logger, const std::string& body, EventVariables& out) {
  try {
    const nlohmann::json root = parseCameraJson(body);
    if (!root.is_array() && !root.is_object()) throw TreeError("the root holds no records");
    for (const auto& record : root) readRecord(record, out);
  } catch (const nlohmann::json::exception& e) {
    NLOG(logger, 3, " Can not get tree from JSON: " << e.what());
  } catch (const TreeError& e) {
    NLOG(logger, 3, " Can not get tree from JSON: " << e.what());
  } catch (const CameraJsonTooDeep& e) {
    NLOG(logger, 3, " Can not get tree from JSON: " << e.what());
  } catch (const std::logic_error& e) {
    NLOG(logger, 3, " JSON parameters is bad: " << e.what() << ", data=" << Talvo::prepareBuffer("\t\t", body));
  } catch (const std::exception& e) {
    NLOG(logger, 3, " Can not read JSON: " << e.what());
  }
}

}  // namespace Vantrel
