// The camera's event-variable log ("/api/json/status/messagesystem/eventvariables/log"): per
// message, the time it last changed. A JSON array (or object) of records
// {"path":"messages.local.<name>","tv_sec":"<seconds>","type":"changed"}.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "host/Nuvlet/Logging.h"

namespace Vantrel {

// Message name -> change time in milliseconds since 1970.
using EventVariables = std::map<std::string, uint64_t>;

// Reads `body` into `out`, records in document order; a later record of a name overwrites an
// earlier one. Records of other types, other path prefixes or an empty "tv_sec" are skipped.
// The first broken record ends the walk (logged at level 3 through `logger`, function
// "parseEventVariables"); what was read before it stays in `out`.
void parseEventVariables(const Talvo::LoggerOwner& logger, const std::string& body, EventVariables& out);

}  // namespace Vantrel
