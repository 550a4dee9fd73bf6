#include "Host.h"

#include <algorithm>
#include <cctype>

#include "ExitError.h"
#include "Handlers.h"
#include "Repository.h"

namespace qrmhost {
namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Edits (insert, delete, replace) from one text to the other, compared without case. Model names
// differ from each other in two characters (VX-S10, VX-D20), so one edit is "close".
size_t editDistance(const std::string& a, const std::string& b) {
  const std::string x = lowerCase(a), y = lowerCase(b);
  std::vector<size_t> row(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= y.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

}  // namespace

std::vector<std::string> closeModelNames(const std::string& model, const std::vector<std::string>& known) {
  std::vector<std::string> close;
  for (const auto& name : known)
    if (editDistance(model, name) <= 1 && std::find(close.begin(), close.end(), name) == close.end())
      close.push_back(name);
  return close;
}

Host::Host(const GlobalOptions& options, Console& console, StopRequest& stop)
    : options_(options), console_(console), stop_(stop), logger_(console, options.logLevel), moduleHost_(logger_) {}

void Host::AutodetectEnd::operator()(Talvo::GDRV::IAutodetect* tool) const {
  tool->Stop();
  tool->Destroy();
}

Host::~Host() {
  identityCheck_.reset();
  module_.reset();
  // Reverse order: a handler may use what was kept before it (a tally, a picture saver).
  while (!kept_.empty()) kept_.pop_back();
  if (frameFactory_.liveBuffers() != 0)
    console_.message("qrmhost: " + std::to_string(frameFactory_.liveBuffers()) +
                     " frame buffers were never destroyed by the module");
}

LoadedModule& Host::module() {
  if (!module_) {
    const auto path = options_.modulePath.empty() ? defaultModulePath() : options_.modulePath;
    logger_.log(1, "loading module " + path.string());
    module_ = std::make_unique<LoadedModule>(path, moduleHost_);
  }
  return *module_;
}

Talvo::asio::ConnectionInfo Host::camera() const {
  if (!options_.camera) throw usageError("this command needs --camera URL");
  try {
    return Talvo::asio::parseConnectionInfo(*options_.camera);
  } catch (const Talvo::asio::ConnectionTextError& error) {
    // The parser's text names the fault, never the text itself: it may hold the password.
    throw usageError(std::string("--camera: ") + error.what() + "; http(s)://user:password@host:port/ expected");
  }
}

ModuleObject<Talvo::GDRV::IDevice> Host::createDevice(Talvo::GDRV::IDeviceHandler& handler) {
  if (options_.model.empty()) throw usageError("this command needs --model M");
  return createDevice(handler, options_.vendor, options_.model, options_.firmware);
}

void Host::connect(Talvo::GDRV::IDevice& device) {
  logger_.log(1, "connecting to " + camera().display() + " as " + options_.model);
  device.Connect(options_.camera->c_str());
  if (identityCheck_) return;
  identityCheck_.reset(module().module().CreateAutodetect(&keep<IdentityCheck>(console_, options_.model)));
  if (identityCheck_) identityCheck_->Start(options_.camera->c_str());
}

ModuleObject<Talvo::GDRV::IDevice> Host::createDevice(Talvo::GDRV::IDeviceHandler& handler, const std::string& vendor,
                                                      const std::string& model, const std::string& firmware) {
  auto& module = this->module().module();
  ModuleObject<Talvo::GDRV::IDevice> device(
      module.CreateDevice(&handler, vendor.c_str(), model.c_str(), firmware.c_str()));
  if (!device)
    throw ExitError(kExitUsage, "unknown model " + model + " (vendor " + vendor + ", firmware '" + firmware + "')" +
                                    closeMatchesText(model));
  return device;
}

std::vector<std::string> Host::modelNames() {
  std::vector<std::string> names;
  for (const auto& entry : readRepository(repositoryPathOf(module().path())))
    for (const auto& identity : entry.identities) names.push_back(identity.model);
  return names;
}

std::string Host::closeMatchesText(const std::string& model) {
  std::vector<std::string> close;
  try {
    close = closeModelNames(model, modelNames());
  } catch (const ExitError&) {
    return "";  // the module judges its repository; qrmhost only could not suggest
  }
  if (close.empty()) return "; see `qrmhost models`";
  std::string text = "; did you mean ";
  for (size_t i = 0; i < close.size(); ++i) text += (i ? ", " : "") + close[i];
  return text + "?";
}

}  // namespace qrmhost
