#include "Commands.h"

#include <sstream>

namespace qrmhost {
namespace {

void appendOption(std::ostringstream& text, const OptionSpec& option) {
  std::string head = std::string("  --") + option.name;
  if (option.valueName) head += std::string(" ") + option.valueName;
  text << head;
  const size_t column = 28;
  text << std::string(head.size() < column ? column - head.size() : 1, ' ');
  // Continuation lines of the help text line up under its first line.
  for (char c : std::string(option.help)) {
    text << c;
    if (c == '\n') text << std::string(column, ' ');
  }
  if (option.repeatable) text << " (may be repeated)";
  text << '\n';
}

}  // namespace

const std::vector<CommandSpec>& commandTable() {
  static const std::vector<CommandSpec> table = {
      {"models",
       "[--details]",
       "Lists the models of the module's repository (the .rep file beside the module),\n"
       "one line per identity: {\"kind\":\"model\",\"vendor\":...,\"model\":...,\"firmware\":[...]}.",
       {{"details", nullptr, "add the model's channels, detectors and properties to each line"}},
       runModels},
      {"device",
       "--camera URL --model M [--seconds N]",
       "Creates the device, connects it and prints every connection state it reports:\n"
       "{\"kind\":\"device\",\"state\":\"connected\"|\"disconnected\"|\"failed\",\"code\":N}.\n"
       "Disconnects after N seconds or at Ctrl-C.",
       {{"seconds", "N", "how long to stay connected (default 5, may be a fraction)"}},
       runDevice},
      {"live",
       "--camera URL --model M [--channel C] [--stream S] [--seconds N | --frames N]\n"
       "        [--save DIR] [--set NAME=VALUE]... [--audio]",
       "Connects, starts the video source of channel C, stream S and prints each picture:\n"
       "{\"kind\":\"frame\",\"codec\":...,\"key\":true|false,\"size\":N}, then a summary line.\n"
       "Stops after N seconds (default 5), after N pictures, or at Ctrl-C.",
       {{"channel", "C", "video channel index (default 0)"},
        {"stream", "S", "stream index of the channel (default 0)"},
        {"seconds", "N", "how long to run (default 5 unless --frames is given)"},
        {"frames", "N", "stop after N pictures"},
        {"save", "DIR",
         "write every picture to DIR: 000001.jpg (key or MJPEG picture),\n"
         "000002.zelta (Zelta delta picture)"},
        {"set", "NAME=VALUE",
         "a channel setting applied after Start; VALUE is an int, true/false,\n"
         "a decimal number or text; a :int :bool :double :string suffix\n"
         "forces the type",
         true},
        {"audio", nullptr, "also start the channel's audio source: {\"kind\":\"audio\",\"size\":N}"}},
       runLive},
  };
  return table;
}

std::string helpText() {
  std::ostringstream text;
  text << "qrmhost - loads a driver module as a video-management host does and prints what it reports.\n\n"
          "Usage: qrmhost [global options] COMMAND [command options]\n\n"
          "Output: one JSON object per line on stdout, each with a \"kind\" field; the module's log\n"
          "on stderr as \"[level] file:line function: message\".\n\n"
          "Global options:\n";
  for (const auto& option : globalOptionSpecs()) appendOption(text, option);
  appendOption(text, {"help", nullptr, "this text (also after a command)"});
  for (const auto& command : commandTable()) {
    text << "\nqrmhost " << command.name << ' ' << command.synopsis << '\n';
    std::istringstream summary(command.summary);
    for (std::string line; std::getline(summary, line);) text << "  " << line << '\n';
    for (const auto& option : command.options) appendOption(text, option);
  }
  text << "\nExit status: 0 done (also when the camera did not answer: the output says why);\n"
          "2 bad command line, module that will not load, unknown model or unreadable repository;\n"
          "1 any other failure of qrmhost itself.\n";
  return text.str();
}

}  // namespace qrmhost
