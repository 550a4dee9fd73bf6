// A device search over DNS-SD: browses SERVICE through the local Avahi daemon on the search's
// own I/O service and asks the maker's search (Derived) which announcements are its cameras.
//
// Derived provides, called on the search's thread:
//   std::unique_ptr<MMD::IpDeviceSearchResult> makeResult(const std::string& address, int port,
//                                                         const ServiceBrowser::TxtMap& txt);
// returning null for an announcement that is not one of its cameras.
#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Nuvlet/include/AsyncDeviceSearchBase.h"
#include "Nuvlet/include/IpDeviceSearchResult.h"
#include "host/Nuvlet/ServiceBrowser.h"

namespace Talvo {
namespace Utility {

template <class Derived, const std::string* SERVICE>
class AsyncDeviceSearchBrowser : public AsyncDeviceSearchBase {
 public:
  AsyncDeviceSearchBrowser(GDRV::IDeviceSearchHandler* handler, ILogger* logger)
      : AsyncDeviceSearchBase(handler, logger, "DNS-SD " + *SERVICE) {}

 protected:
  ~AsyncDeviceSearchBrowser() override { stopSearch(); }

  void startSearch() override { createBrowserForInterface(""); }

  void stopSearch() override {
    std::vector<std::unique_ptr<ServiceBrowser>> stopping;
    {
      std::lock_guard<std::mutex> lock(browsersMutex_);
      stopping.swap(browsers_);
    }
    for (auto& browser : stopping) browser->stop();
  }

  // Seconds between repeated announcements requests; 0: the browsers listen continuously.
  virtual int getBroadcastTimeout() const { return 0; }

  // A browser for `interface` (empty: every interface). A browser that cannot be made is
  // logged and left out; the search goes on with the others.
  void createBrowserForInterface(const std::string& interface) {
    try {
      auto browser = std::make_unique<ServiceBrowser>(
          ioContext(), *SERVICE, interface,
          [this](const std::string& address, int port, const ServiceBrowser::TxtMap& txt, const std::string& hostName) {
            handleFound(address, port, txt, hostName);
          },
          [this](const std::string& message) { handleError(message); });
      browser->query();
      std::lock_guard<std::mutex> lock(browsersMutex_);
      browsers_.push_back(std::move(browser));
    } catch (const std::exception& e) {
      NLOG(*this, 3,
           " Error occurred while creating ServiceBrowser for interface " << interface << " message : " << e.what());
    }
  }

  void handleFound(const std::string& address, int port, const ServiceBrowser::TxtMap& txt,
                   const std::string& hostName) {
    NLOG(*this, 0, " Service of " << hostName << " at " << address << ":" << port);
    std::unique_ptr<MMD::IpDeviceSearchResult> result = static_cast<Derived*>(this)->makeResult(address, port, txt);
    if (result) report(result.get());
  }

  void handleError(const std::string& message) { NLOG(*this, 3, " SDDeviceSearch: Error: " << message); }

 private:
  std::mutex browsersMutex_;  // guards browsers_; never held while a browser calls back
  std::vector<std::unique_ptr<ServiceBrowser>> browsers_;
};

}  // namespace Utility
}  // namespace Talvo
