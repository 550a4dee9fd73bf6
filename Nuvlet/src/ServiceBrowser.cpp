#include "host/Nuvlet/ServiceBrowser.h"

#include <net/if.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <boost/asio/post.hpp>

namespace Talvo {
namespace Utility {

namespace {

// Lets the posted callbacks through one at a time until closed; close waits for a running one
// (unless it runs on the closing thread itself). No lock is held while a callback runs.
class CallbackGate {
 public:
  CallbackGate(ServiceBrowser::FoundCallback found, ServiceBrowser::ErrorCallback error)
      : found_(std::move(found)), error_(std::move(error)) {}

  template <class Call>
  void pass(Call call) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      idle_.wait(lock, [&] { return !busy_ || !open_; });
      if (!open_) return;
      busy_ = true;
      caller_ = std::this_thread::get_id();
    }
    struct Leave {
      CallbackGate& gate;
      ~Leave() {
        std::lock_guard<std::mutex> lock(gate.mutex_);
        gate.busy_ = false;
        gate.caller_ = std::thread::id();
        gate.idle_.notify_all();
      }
    } leave{*this};
    call(found_, error_);
  }

  void close() {
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;
    idle_.notify_all();
    if (caller_ == std::this_thread::get_id()) return;
    idle_.wait(lock, [&] { return !busy_; });
  }

 private:
  const ServiceBrowser::FoundCallback found_;
  const ServiceBrowser::ErrorCallback error_;
  std::mutex mutex_;
  std::condition_variable idle_;
  bool open_ = true;
  bool busy_ = false;
  std::thread::id caller_;
};

std::string avahiText(int error) { return avahi_strerror(error); }

void ignoreClientState(AvahiClient*, AvahiClientState, void*) {}

}  // namespace

struct ServiceBrowser::Impl {
  Impl(boost::asio::io_context& context, std::string service, std::shared_ptr<CallbackGate> callbacks)
      : io(context), serviceType(std::move(service)), gate(std::move(callbacks)) {}

  // On Avahi's poll thread (or the creating thread inside avahi_client_new): hand over to io.
  void postFound(std::string address, int port, TxtMap txt, std::string hostName) {
    boost::asio::post(
        io, [gate = gate, address = std::move(address), port, txt = std::move(txt), hostName = std::move(hostName)] {
          gate->pass([&](const FoundCallback& found, const ErrorCallback&) {
            if (found) found(address, port, txt, hostName);
          });
        });
  }
  void postError(std::string message) {
    boost::asio::post(io, [gate = gate, message = std::move(message)] {
      gate->pass([&](const FoundCallback&, const ErrorCallback& error) {
        if (error) error(message);
      });
    });
  }

  static void onClientState(AvahiClient* client, AvahiClientState state, void* self) {
    if (state == AVAHI_CLIENT_FAILURE)
      static_cast<Impl*>(self)->postError("Avahi daemon connection lost: " + avahiText(avahi_client_errno(client)));
  }

  static void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                       AvahiLookupResultFlags, void* self) {
    Impl& impl = *static_cast<Impl*>(self);
    AvahiClient* client = avahi_service_browser_get_client(browser);
    if (event == AVAHI_BROWSER_FAILURE) {
      impl.postError("Browsing " + impl.serviceType + " failed: " + avahiText(avahi_client_errno(client)));
    } else if (event == AVAHI_BROWSER_NEW) {
      // The resolver frees itself in onResolve; those still open go with the client.
      if (!avahi_service_resolver_new(client, interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                                      static_cast<AvahiLookupFlags>(0), &Impl::onResolve, self))
        impl.postError(std::string("Cannot resolve service ") + name + ": " + avahiText(avahi_client_errno(client)));
    }
  }

  static void onResolve(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                        const char* name, const char*, const char*, const char* hostName, const AvahiAddress* address,
                        uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* self) {
    Impl& impl = *static_cast<Impl*>(self);
    if (event == AVAHI_RESOLVER_FOUND && address) {
      char addressText[AVAHI_ADDRESS_STR_MAX] = {};
      avahi_address_snprint(addressText, sizeof addressText, address);
      impl.postFound(addressText, port, txtMap(txt), hostName ? hostName : "");
    } else if (event == AVAHI_RESOLVER_FAILURE) {
      impl.postError(std::string("Resolving service ") + (name ? name : "") +
                     " failed: " + avahiText(avahi_client_errno(avahi_service_resolver_get_client(resolver))));
    }
    avahi_service_resolver_free(resolver);
  }

  // Each TXT string is at most 255 bytes (DNS), so the map stays small.
  static TxtMap txtMap(AvahiStringList* txt) {
    TxtMap map;
    for (AvahiStringList* item = txt; item; item = avahi_string_list_get_next(item)) {
      char* key = nullptr;
      char* value = nullptr;
      size_t size = 0;
      if (avahi_string_list_get_pair(item, &key, &value, &size) != 0) continue;
      map[key] = value ? std::string(value, size) : std::string();
      avahi_free(key);
      avahi_free(value);
    }
    return map;
  }

  boost::asio::io_context& io;
  const std::string serviceType;
  const std::shared_ptr<CallbackGate> gate;
  AvahiIfIndex interfaceIndex = AVAHI_IF_UNSPEC;
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  bool querying = false;
};

ServiceBrowser::ServiceBrowser(boost::asio::io_context& io, const std::string& serviceType,
                               const std::string& interfaceName, FoundCallback found, ErrorCallback error)
    : impl_(new Impl(io, serviceType, std::make_shared<CallbackGate>(std::move(found), std::move(error)))) {
  if (!interfaceName.empty()) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) throw std::runtime_error("No network interface named " + interfaceName);
    impl_->interfaceIndex = static_cast<AvahiIfIndex>(index);
  }
  impl_->poll = avahi_threaded_poll_new();
  if (!impl_->poll) throw std::runtime_error("Cannot create the Avahi poll thread");
  int failure = 0;
  impl_->client = avahi_client_new(avahi_threaded_poll_get(impl_->poll), static_cast<AvahiClientFlags>(0),
                                   &Impl::onClientState, impl_.get(), &failure);
  if (!impl_->client) {
    avahi_threaded_poll_free(impl_->poll);
    impl_->poll = nullptr;
    throw std::runtime_error("No Avahi daemon reachable: " + avahiText(failure));
  }
}

ServiceBrowser::~ServiceBrowser() { stop(); }

void ServiceBrowser::query() {
  if (!impl_->client || impl_->querying) return;
  if (!avahi_service_browser_new(impl_->client, impl_->interfaceIndex, AVAHI_PROTO_UNSPEC, impl_->serviceType.c_str(),
                                 nullptr, static_cast<AvahiLookupFlags>(0), &Impl::onBrowse, impl_.get()))
    throw std::runtime_error("Cannot browse " + impl_->serviceType + ": " +
                             avahiText(avahi_client_errno(impl_->client)));
  if (avahi_threaded_poll_start(impl_->poll) < 0) throw std::runtime_error("Cannot start the Avahi poll thread");
  impl_->querying = true;
}

void ServiceBrowser::stop() {
  if (impl_->poll) {
    avahi_threaded_poll_stop(impl_->poll);  // joins Avahi's thread; nothing is posted after this
    avahi_client_free(impl_->client);       // with the browser and every open resolver
    avahi_threaded_poll_free(impl_->poll);
    impl_->client = nullptr;
    impl_->poll = nullptr;
  }
  impl_->gate->close();
}

std::string ServiceBrowser::daemonUnreachableReason() {
  AvahiSimplePoll* poll = avahi_simple_poll_new();
  if (!poll) return "cannot create an Avahi poll";
  int failure = 0;
  AvahiClient* client = avahi_client_new(avahi_simple_poll_get(poll), static_cast<AvahiClientFlags>(0),
                                         &ignoreClientState, nullptr, &failure);
  std::string reason;
  if (client)
    avahi_client_free(client);
  else
    reason = avahiText(failure);
  avahi_simple_poll_free(poll);
  return reason;
}

}  // namespace Utility
}  // namespace Talvo
