#include "Options.h"

#include "Models.h"
#include "Query.h"

#include <functional>
#include <map>

namespace camsim {

namespace {

using ValueHandler = std::function<std::string(Options&, const std::string&)>;

std::string parsePort(const std::string& value, std::uint16_t& port) {
  const auto number = parseNumber(value, 0, 65535);
  if (!number) return "port must be a number from 0 to 65535";
  port = static_cast<std::uint16_t>(*number);
  return "";
}

std::string parsePicture(Options& options, const std::string& value) {
  const auto x = value.find('x');
  if (x == std::string::npos) return "--picture wants WIDTHxHEIGHT, e.g. 640x360";
  const auto width = parseNumber(value.substr(0, x), 16, 8192);
  const auto height = parseNumber(value.substr(x + 1), 16, 8192);
  if (!width || !height) return "--picture sizes must be numbers from 16 to 8192";
  options.pictureWidth = static_cast<int>(*width);
  options.pictureHeight = static_cast<int>(*height);
  return "";
}

const std::map<std::string, ValueHandler>& valueOptions() {
  static const std::map<std::string, ValueHandler> handlers = {
      {"--port", [](Options& o, const std::string& v) { return parsePort(v, o.httpPort); }},
      {"--https-port",
       [](Options& o, const std::string& v) {
         o.httpsEnabled = true;
         return parsePort(v, o.httpsPort);
       }},
      {"--bind",
       [](Options& o, const std::string& v) {
         o.bindAddress = v;
         return std::string();
       }},
      {"--user",
       [](Options& o, const std::string& v) {
         o.user = v;
         return std::string();
       }},
      {"--password",
       [](Options& o, const std::string& v) {
         o.password = v;
         return std::string();
       }},
      {"--model",
       [](Options& o, const std::string& v) {
         o.model = v;
         return findModel(v) ? std::string() : "unknown model " + v;
       }},
      {"--picture", parsePicture},
      {"--quality",
       [](Options& o, const std::string& v) {
         const auto q = parseNumber(v, 1, 100);
         if (!q) return std::string("--quality must be a number from 1 to 100");
         o.quality = static_cast<int>(*q);
         return std::string();
       }},
  };
  return handlers;
}

std::string applyFlag(Options& options, const std::string& arg, bool& known) {
  known = true;
  if (arg == "--unthrottled") {
    options.unthrottled = true;
  } else if (arg == "--verbose") {
    options.verbose = true;
  } else if (arg == "--help" || arg == "-h") {
    options.help = true;
  } else {
    known = false;
  }
  return "";
}

std::string checkWhole(const Options& options, bool portGiven) {
  if (!portGiven) return "--port is required (0 picks a free port)";
  if (options.user.empty() != options.password.empty()) {
    return "--user and --password go together";
  }
  return "";
}

}  // namespace

OptionsParse parseOptions(const std::vector<std::string>& args) {
  OptionsParse result;
  bool portGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool isFlag = false;
    applyFlag(result.options, arg, isFlag);
    if (isFlag) continue;
    const auto handler = valueOptions().find(arg);
    if (handler == valueOptions().end()) return {result.options, "unknown option " + arg};
    if (i + 1 >= args.size()) return {result.options, arg + " needs a value"};
    const std::string error = handler->second(result.options, args[++i]);
    if (!error.empty()) return {result.options, error};
    if (arg == "--port") portGiven = true;
  }
  if (result.options.help) return result;
  result.error = checkWhole(result.options, portGiven);
  return result;
}

std::string helpText() {
  std::string models;
  for (const std::string& name : modelNames()) models += " " + name;
  return "vantrel-camsim: simulated Vantrel camera for the demo and the tests\n"
         "\n"
         "Usage: vantrel-camsim --port P [options]\n"
         "  --port P          HTTP port (0 picks a free port)\n"
         "  --https-port P    also serve HTTPS with a self-signed certificate (0 picks a port)\n"
         "  --bind ADDR       listen address (default 127.0.0.1)\n"
         "  --user U          require Basic authentication with this user ...\n"
         "  --password W      ... and this password (both or neither)\n"
         "  --model M         camera model (default VX-S10):" +
         models +
         "\n"
         "  --unthrottled     stream as fast as the client reads (benchmarks); pictures are\n"
         "                    encoded once at start (a ring of 8) instead of per request\n"
         "  --picture WxH     picture size (default 640x360)\n"
         "  --quality Q       JPEG quality 1..100 (default 80)\n"
         "  --verbose         log every request to stderr (never credentials)\n"
         "  --help            this text\n"
         "\n"
         "At start one JSON line goes to stdout: {\"http_port\":N,\"https_port\":M}.\n"
         "Runs until SIGINT or SIGTERM. Bad arguments: exit status 2.\n"
         "\n"
         "Camera paths (GET; Basic authentication when --user is given):\n"
         "  /control/control?read&section=S[&key...]   read a section\n"
         "  /control/control?set&section=S&k=v...      store keys (also without 'set')\n"
         "  /control/faststream.jpg?stream=Zelta|full&fps=N[&iframerefresh=K]\n"
         "  /record/current.jpg                         one picture\n"
         "  /admin/control?...  /admin/audio?setMicro=0|1  /admin/rcontrol  /control/rcontrol\n"
         "  /api/json/...                               JSON documents\n"
         "\n"
         "Control paths (no authentication, not in the request log):\n"
         "  /sim/requests[?clear=1]    request log, one JSON object per line\n"
         "  /sim/fault?[path=P&][count=N&]ACTION   install a fault; /sim/fault?clear=1 removes all\n"
         "      ACTION: delay_ms=N status=N empty=1 close=1 stall_after_head=1 garbage=1\n"
         "              drop_after_parts=N stall_after_parts=N garbage_part=N no_eoi=N endless_part=N\n"
         "  /sim/events?enable=0|1&est=LIST   event section in every stream picture\n"
         "  /sim/json?path=/api/json/...&body=JSON   replace a JSON document\n"
         "  /sim/state?section=S[&key...]     read a section without authentication\n"
         "\n"
         "Details: docs/camsim.md\n";
}

}  // namespace camsim
