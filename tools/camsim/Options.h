// Command line of vantrel-camsim, declared once with CLI11.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "CameraAuth.h"

namespace camsim {

struct Options {
  std::uint16_t httpPort = 0;
  bool httpsEnabled = false;
  std::uint16_t httpsPort = 0;
  std::string bindAddress = "127.0.0.1";
  std::string user;      // empty: no authentication
  std::string password;  // never printed
  AuthMode authMode = AuthMode::Basic;
  std::string certificateOut;  // with HTTPS: where the certificate's PEM is written at start
  std::string model = "VX-S10";
  bool unthrottled = false;
  bool preEncoded = false;  // the ring of pictures without --unthrottled: paced streams that cost little CPU
  int pictureWidth = 640;
  int pictureHeight = 360;
  int quality = 80;
  bool verbose = false;
  bool announce = false;  // publish the camera over DNS-SD through the local Avahi daemon
  int recordings = 0;  // event sequences on the edge storage
  std::uint16_t rtspPort = 0;  // H.264 models: the RTSP port (0 picks a free one)
};

struct OptionsParse {
  Options options;
  std::optional<std::string> help;  // --help was given: the text to print
  std::string error;                // one line, empty when the command line is fine
};

OptionsParse parseOptions(int argc, const char* const* argv);

}  // namespace camsim
