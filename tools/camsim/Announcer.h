// Announces the simulated camera on the local network as the real cameras do: a DNS-SD
// "_http._tcp" service with the TXT keys "net.vantrel.fullname" and "net.vantrel.firmware",
// published by avahi-publish-service through the local Avahi daemon.
//
// Threads: made and destroyed on the main thread; a reader thread of its own turns the
// publisher's output into one line on stderr (announced, or no daemon reachable) and ends when
// the publisher does. The destructor ends the publisher and joins the thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <thread>

namespace camsim {

class Announcer {
 public:
  // Starts announcing `model` (firmware `firmware`) at `port`; failures are only reported on
  // stderr, the simulator runs on without an announcement.
  Announcer(const std::string& model, const std::string& firmware, std::uint16_t port);
  ~Announcer();
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

 private:
  void readPublisher(int output) const;

  pid_t publisher_ = -1;
  std::thread reader_;
};

}  // namespace camsim
