// DNS-SD browsing through the local Avahi daemon. Declarations only; implemented in libNuvlet.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

namespace Talvo {
namespace Utility {

// Browses one service type (such as "_http._tcp") and resolves every instance announced.
//
// Threads: Avahi's own poll thread does the work; the callbacks are posted to the io_context
// handed in and run on whichever thread runs it, never two at once for one browser. The
// creator owns the browser; the io_context must outlive it.
class ServiceBrowser {
 public:
  using TxtMap = std::map<std::string, std::string>;
  // An instance resolved: its address as text, port, TXT record (keys without value map to an
  // empty text) and host name. The TXT bytes are the announcer's, unchecked.
  using FoundCallback =
      std::function<void(const std::string& address, int port, const TxtMap& txt, const std::string& hostName)>;
  using ErrorCallback = std::function<void(const std::string& message)>;

  // Connects to the Avahi daemon. `interfaceName` empty: every interface. Throws
  // std::runtime_error saying so when no daemon is reachable or the interface is unknown.
  ServiceBrowser(boost::asio::io_context& io, const std::string& serviceType, const std::string& interfaceName,
                 FoundCallback found, ErrorCallback error);
  // Stops as stop() does.
  ~ServiceBrowser();
  ServiceBrowser(const ServiceBrowser&) = delete;
  ServiceBrowser& operator=(const ServiceBrowser&) = delete;

  // Starts browsing; results and errors come through the callbacks. Once only.
  void query();
  // Stops Avahi's thread and frees every Avahi object. No callback starts after stop returns;
  // one that is running is waited for, unless stop is called from inside it. Idempotent.
  void stop();

  // Empty when an Avahi daemon answers, else the reason it does not (for a tool's one-line
  // message).
  static std::string daemonUnreachableReason();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Utility
}  // namespace Talvo
