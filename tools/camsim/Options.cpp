#include "Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#include "Models.h"
#include "Query.h"

namespace camsim {

namespace {

// "WxH" into the options; the error text, or empty.
std::string readPictureSize(const std::string& text, Options& options) {
  const auto x = text.find('x');
  if (x == std::string::npos) return "--picture wants WIDTHxHEIGHT, e.g. 640x360";
  const auto width = parseNumber(text.substr(0, x), 16, 8192);
  const auto height = parseNumber(text.substr(x + 1), 16, 8192);
  if (!width || !height) return "--picture sizes must be numbers from 16 to 8192";
  options.pictureWidth = static_cast<int>(*width);
  options.pictureHeight = static_cast<int>(*height);
  return "";
}

std::string modelList() {
  std::string models;
  for (const std::string& name : modelNames()) models += " " + name;
  return models;
}

const char* const kPathsHelp =
    "At start one JSON line goes to stdout: {\"http_port\":N,\"https_port\":M}\n"
    "(H.264 models add \"rtsp_port\":R: their stream is rtsp://HOST:R/vantrel.h264).\n"
    "Runs until SIGINT or SIGTERM. Bad arguments: exit status 2.\n"
    "\n"
    "Camera paths (GET; authenticated as --auth says when --user is given):\n"
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
    "  /sim/io?[rxd=&cts=&dsr=0|1][&raw=TEXT]   serial signal lines; ?board=B&input=N&state=0|1\n"
    "  /sim/identity?[SWV=F&CFL=M&TSL=T&omit=LIST]   identity headers of /record/current.jpg\n"
    "  /sim/trigger?event=NAME           fire an event profile\n"
    "  /sim/profiles  /sim/reset-profiles  /sim/action?slot=N&name=X   the message system\n"
    "  /sim/speaker                      what the loudspeaker heard\n"
    "  /sim/thermal?celsius=C&hot=T,X,Y,W,H&tin=T&tou=T...   the thermal scene\n"
    "  /sim/recordings?count=N&...       the edge storage's sequences\n"
    "\n"
    "Details: docs/camsim.md";

void declareOptions(CLI::App& app, Options& options) {
  const auto port = CLI::Range(0, 65535).description("");
  app.add_option("--port", options.httpPort, "HTTP port (0 picks a free port)")
      ->type_name("P")
      ->required()
      ->check(port);
  app.add_option("--https-port", options.httpsPort, "also serve HTTPS with a self-signed certificate (0 picks a port)")
      ->type_name("P")
      ->check(port);
  app.add_option("--cert-out", options.certificateOut,
                 "with --https-port: write the certificate (PEM, no key) to FILE,\n"
                 "for clients that are to trust it")
      ->type_name("FILE");
  app.add_option("--bind", options.bindAddress, "listen address (default 127.0.0.1)")->type_name("ADDR");
  app.add_option("--user", options.user, "require authentication with this user ...")->type_name("U");
  app.add_option("--password", options.password, "... and this password (both or neither)")->type_name("W");
  app.add_option_function<std::string>(
         "--auth",
         [&options](const std::string& text) {
           if (!parseAuthMode(text, options.authMode)) throw CLI::ValidationError("--auth takes basic, digest or both");
         },
         "with --user: basic (default), digest (Digest only: SHA-256 and MD5,\n"
         "qop auth; Basic refused) or both")
      ->type_name("MODE");
  app.add_option("--model", options.model, "camera model (default VX-S10):" + modelList())
      ->type_name("M")
      ->check([](const std::string& model) { return findModel(model) ? std::string() : "unknown model " + model; });
  app.add_flag("--unthrottled", options.unthrottled,
               "stream as fast as the client reads (benchmarks); pictures are\n"
               "encoded once at start (a ring of 8) instead of per request");
  app.add_flag("--pre-encoded", options.preEncoded,
               "encode the ring of 8 pictures once at start, yet keep each stream's\n"
               "rate (many paced streams from one simulator)");
  app.add_option_function<std::string>(
         "--picture",
         [&options](const std::string& text) {
           const std::string error = readPictureSize(text, options);
           if (!error.empty()) throw CLI::ValidationError(error);
         },
         "picture size (default 640x360)")
      ->type_name("WxH");
  app.add_option("--quality", options.quality, "JPEG quality 1..100 (default 80)")
      ->type_name("Q")
      ->check(CLI::Range(1, 100).description(""));
  app.add_option("--recordings", options.recordings, "event sequences on the edge storage (default 0)")
      ->type_name("N")
      ->check(CLI::Range(0, 100000));
  app.add_option("--rtsp-port", options.rtspPort, "RTSP port of H.264 models (default 0 picks a free port)")
      ->type_name("P")
      ->check(port);
  app.add_flag("--verbose", options.verbose, "log every request to stderr (never credentials)");
  app.add_flag("--announce", options.announce,
               "announce the camera over DNS-SD (_http._tcp with its model and firmware)\n"
               "through the local Avahi daemon (avahi-publish-service)");
}

}  // namespace

OptionsParse parseOptions(int argc, const char* const* argv) {
  OptionsParse result;
  CLI::App app("vantrel-camsim: simulated Vantrel camera for the demo and the tests\n", "vantrel-camsim");
  app.set_help_flag("-h,--help", "this text");
  app.footer(kPathsHelp);
  app.allow_extras();  // reported below by name only: a mistyped option may be followed by a password
  app.get_formatter()->column_width(22);
  declareOptions(app, result.options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    result.help = app.help();
    return result;
  } catch (const CLI::ParseError& error) {
    result.error = error.what();
  }
  const auto extras = app.remaining();
  if (!extras.empty()) result.error = "unknown option " + extras.front().substr(0, extras.front().find('='));
  if (result.error.empty() && result.options.user.empty() != result.options.password.empty())
    result.error = "--user and --password go together";
  std::replace(result.error.begin(), result.error.end(), '\n', ' ');
  result.options.httpsEnabled = app.count("--https-port") > 0;
  return result;
}

}  // namespace camsim
