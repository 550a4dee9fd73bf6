// `discover [--seconds N]`: the cameras of the module's maker that announce themselves on the
// local network (DNS-SD through the Avahi daemon).
#include <chrono>
#include <memory>
#include <string>

#include "Commands.h"
#include "ContractObject.h"
#include "ExitError.h"
#include "Host.h"
#include "JsonLine.h"
#include "host/Nuvlet/ServiceBrowser.h"

namespace qrmhost {

namespace {

// {"kind":"found",...} per result. Called on the search's thread.
class DiscoverReporter : public Talvo::GDRV::IDeviceSearchHandler {
 public:
  explicit DiscoverReporter(Console& console) : console_(console) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answerCast<DiscoverReporter, Talvo::GDRV::IDeviceSearchHandler, Talvo::IContract>(this, typeName);
  }
  bool failed() const { return failed_.load(); }
  void Failed(Talvo::IContract*, int32_t code) override {
    failed_.store(true);
    auto line = kindLine("found");
    line["code"] = code;
    console_.report(line);
  }
  void Found(Talvo::IContract*, Talvo::GDRV::IDeviceSearchResult* result) override {
    auto text = [](const char* value) { return std::string(value ? value : ""); };
    auto line = kindLine("found");
    line["brand"] = text(result->GetBrand());
    line["model"] = text(result->GetModel());
    line["firmware"] = text(result->GetFirmware());
    auto* ip = Talvo::contract_cast<Talvo::GDRV::IIpDeviceSearchResult>(result);
    line["address"] = ip ? text(ip->GetAddress()) : std::string();
    line["port"] = ip ? ip->GetPort() : 0;
    line["driver"] = text(result->GetDriverName());
    console_.report(line);
  }

 private:
  Console& console_;
  std::atomic<bool> failed_{false};
};

int runDiscover(Host& host, double seconds) {
  const std::string unreachable = Talvo::Utility::ServiceBrowser::daemonUnreachableReason();
  if (!unreachable.empty()) {
    host.console().message("qrmhost: no Avahi daemon reachable (" + unreachable + "); nothing to discover");
    return kExitCamera;
  }
  auto& reporter = host.keep<DiscoverReporter>(host.console());
  std::unique_ptr<Talvo::GDRV::IDeviceSearch, void (*)(Talvo::GDRV::IDeviceSearch*)> search(
      host.module().module().CreateDeviceSearch(&reporter), [](Talvo::GDRV::IDeviceSearch* s) {
        if (s) s->Destroy();
      });
  if (!search) throw ExitError(kExitUsage, "the module has no device search");
  search->Start();
  host.stopRequest().waitUntil(Clock::now() +
                               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  search->Stop();
  return cameraOutcome(!reporter.failed());
}

}  // namespace

void declareDiscover(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "discover",
      "Listens N seconds (default 5) for cameras of the module's maker announcing themselves over\n"
      "DNS-SD and prints {\"kind\":\"found\",\"brand\":...,\"model\":...,\"firmware\":...,\"address\":...,\n"
      "\"port\":N,\"driver\":...} per camera found. Without a reachable Avahi daemon it says so on\n"
      "stderr and exits 3.");
  auto seconds = std::make_shared<double>(5.0);
  addSecondsOption(*command, *seconds, "how long to listen (default 5, may be a fraction)");
  command->callback([&chosen, seconds] { chosen = [seconds](Host& host) { return runDiscover(host, *seconds); }; });
}

}  // namespace qrmhost
