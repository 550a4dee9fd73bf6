// Command line of vantrel-camsim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct Options {
  std::uint16_t httpPort = 0;
  bool httpsEnabled = false;
  std::uint16_t httpsPort = 0;
  std::string bindAddress = "127.0.0.1";
  std::string user;      // empty: no authentication
  std::string password;  // never printed
  std::string model = "VX-S10";
  bool unthrottled = false;
  int pictureWidth = 640;
  int pictureHeight = 360;
  int quality = 80;
  bool verbose = false;
  bool help = false;
};

struct OptionsParse {
  Options options;
  std::string error;  // empty when the command line is fine
};

OptionsParse parseOptions(const std::vector<std::string>& args);

std::string helpText();

}  // namespace camsim
