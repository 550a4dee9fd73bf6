#include "Announcer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <vector>

extern char** environ;

namespace camsim {

namespace {

const char* const kPublisher = "avahi-publish-service";
const std::size_t kLineCap = 4096;  // the publisher's lines are short; a longer one is cut

}  // namespace

Announcer::Announcer(const std::string& model, const std::string& firmware, std::uint16_t port) {
  const std::string name = "vantrel-camsim " + model + " " + std::to_string(port);
  std::vector<std::string> arguments = {kPublisher,
                                        name,
                                        "_http._tcp",
                                        std::to_string(port),
                                        "net.vantrel.fullname=" + model,
                                        "net.vantrel.firmware=" + firmware};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    std::cerr << "vantrel-camsim: cannot announce: no pipe for " << kPublisher << std::endl;
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  const int failed = posix_spawnp(&publisher_, kPublisher, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (failed != 0) {
    publisher_ = -1;
    close(pipeEnds[0]);
    std::cerr << "vantrel-camsim: cannot announce: " << kPublisher << " not found (package avahi-utils)" << std::endl;
    return;
  }
  reader_ = std::thread([this, output = pipeEnds[0]] { readPublisher(output); });
}

Announcer::~Announcer() {
  if (publisher_ > 0) {
    kill(publisher_, SIGTERM);
    int status = 0;
    waitpid(publisher_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();  // the pipe ends with the publisher
}

// On the reader thread: the publisher says "Established under name '...'" once published, or
// "Failed to create client object: Daemon not running" and ends.
void Announcer::readPublisher(int output) const {
  FILE* stream = fdopen(output, "r");
  if (!stream) {
    close(output);
    return;
  }
  std::string line;
  bool announced = false;
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) {
    if (c != '\n') {
      if (line.size() < kLineCap) line.push_back(static_cast<char>(c));
      continue;
    }
    if (line.rfind("Established under name", 0) == 0) {
      std::cerr << "vantrel-camsim: announced over DNS-SD: " << line << std::endl;
      announced = true;
    } else if (line.find("Daemon not running") != std::string::npos) {
      std::cerr << "vantrel-camsim: not announced, no Avahi daemon reachable (" << line << ")" << std::endl;
    } else if (!announced) {
      std::cerr << "vantrel-camsim: not announced: " << line << std::endl;
    }
    line.clear();
  }
  std::fclose(stream);
}

}  // namespace camsim
