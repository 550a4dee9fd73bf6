// `speak`: a call to the loudspeaker of audio destination C, 20 ms buffers of G.711 u-law sent in
// real time (from a raw file, or a tone), then the hang-up.
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "ContractObject.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"
#include "SettingValue.h"
#include "host/Nuvlet/G711.h"

namespace qrmhost {
namespace {

constexpr int kSampleRate = 8000;                  // G.711: one byte per sample
constexpr size_t kBufferBytes = kSampleRate / 50;  // 20 ms
constexpr int kBitRate = 64000;
constexpr auto kBufferTime = std::chrono::milliseconds(20);
constexpr auto kCallDeadline = std::chrono::seconds(15);  // the module's own guards end a call sooner
constexpr auto kHangUpDeadline = std::chrono::seconds(5);

struct SpeakOptions {
  uint32_t channel = 0;
  std::string file;
  double toneHz = 440.0;
  double seconds = 5.0;
  std::vector<std::string> settings;
};

// The audio of the call: the file's bytes as they are, or a u-law sine at half scale.
class AudioPlan {
 public:
  explicit AudioPlan(const SpeakOptions& options) : toneHz_(options.toneHz) {
    if (options.file.empty()) return;
    file_.emplace(options.file, std::ios::binary);
    if (!*file_) throw usageError("cannot read " + options.file);
  }
  // The next 20 ms (fewer bytes at the end of a file); empty when the file has ended.
  std::vector<uint8_t> next() {
    std::vector<uint8_t> bytes(kBufferBytes);
    if (file_) {
      file_->read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      bytes.resize(static_cast<size_t>(file_->gcount()));
      return bytes;
    }
    for (auto& byte : bytes) {
      const double phase = 2 * M_PI * toneHz_ * static_cast<double>(sample_++) / kSampleRate;
      byte = Talvo::Utility::linearToUlaw(static_cast<int16_t>(16000 * std::sin(phase)));
    }
    return bytes;
  }

 private:
  double toneHz_;
  uint64_t sample_ = 0;
  std::optional<std::ifstream> file_;
};

// The destination's notifications: {"kind":"call","state":"established"|"ended","code":N}.
class CallReporter : public Talvo::GDRV::IAudioDestinationHandler {
 public:
  explicit CallReporter(Console& console) : console_(console) {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return answerCast<CallReporter, Talvo::GDRV::IAudioDestinationHandler, Talvo::GDRV::IAsyncDeviceChannelHandler,
                      Talvo::IContract>(this, typeName);
  }
  void Failed(Talvo::IContract*, int32_t code) override { report("ended", code); }
  void Started(Talvo::IContract*) override { report("established", 0); }
  void Stopped(Talvo::IContract*) override { report("ended", 0); }
  void StatisticUpdated(Talvo::IContract*, const char*, const char*) override {}

  // True once the call is established; false when it ended or `deadline` passed first.
  bool waitEstablished(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return established_ || ended_; });
    return established_ && !ended_;
  }
  bool waitEnded(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_until(lock, deadline, [this] { return ended_; });
  }
  bool ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }

 private:
  void report(const char* state, int32_t code) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (std::string(state) == "ended")
        ended_ = true;
      else
        established_ = true;
    }
    changed_.notify_all();
    auto line = kindLine("call");
    line["state"] = state;
    line["code"] = code;
    console_.report(line);
  }

  Console& console_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool established_ = false;
  bool ended_ = false;
};

struct Sent {
  uint64_t buffers = 0;
  uint64_t bytes = 0;
};

// Sends 20 ms buffers at their pace until the time is up, the audio ends, the call ends or Ctrl-C.
Sent sendInRealTime(Host& host, Talvo::GDRV::IAudioDestination& destination, CallReporter& call, AudioPlan& audio,
                    double seconds) {
  Sent sent;
  const auto started = Clock::now();
  const auto end = started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (auto due = started; due < end && !call.ended(); due += kBufferTime) {
    if (host.stopRequest().waitUntil(due)) break;
    const std::vector<uint8_t> bytes = audio.next();
    if (bytes.empty()) break;
    OwnedBuffer<Talvo::MFF::IAudioBuffer> buffer(host.frameFactory().AllocateAudioBuffer(
        "G.711", bytes.size(), 0, kBitRate, Talvo::MFF::AUDIO_G7XX_ENCODING_ULAW));
    if (!buffer) throw ExitError(kExitFailure, "no audio buffer for " + std::to_string(bytes.size()) + " bytes");
    std::copy(bytes.begin(), bytes.end(), buffer->GetBuffer());
    destination.SendAudio(buffer.release());  // the channel takes the buffer and ends it
    ++sent.buffers;
    sent.bytes += bytes.size();
  }
  return sent;
}

int runSpeak(Host& host, const SpeakOptions& options) {
  AudioPlan audio(options);
  std::vector<SettingValue> settings;
  for (const auto& text : options.settings) settings.push_back(parseSetting(text));
  auto& deviceReporter = host.keep<DeviceReporter>(host.console());
  auto& call = host.keep<CallReporter>(host.console());
  auto& settingsReporter = host.keep<SettingsReporter>(host.console());

  auto device = host.createDevice(deviceReporter);
  ModuleObject<Talvo::GDRV::IAudioDestination> destination(device->CreateAudioDestination(&call, options.channel));
  if (!destination)
    throw ExitError(kExitUsage, "the module has no audio destination " + std::to_string(options.channel) + " for " +
                                    host.options().model);
  auto* adjuster = Talvo::contract_cast<Talvo::IAsyncAdjuster>(destination.get());
  if (!settings.empty() && !adjuster)
    throw ExitError(kExitUsage, "the audio destination takes no settings (no adjuster)");
  host.connect(*device);
  if (!settings.empty()) {
    storeSettings(*adjuster, settings, [&host](const std::string& text) { host.logger().log(1, text); });
    adjuster->ApplySettings(&settingsReporter);
    // The level is set before the call, so that the first words come out at it.
    if (!settingsReporter.waitFinished(Clock::now() + kCallDeadline))
      host.console().message("qrmhost: the settings were not answered in time; calling anyway");
  }

  destination->Call();
  Sent sent;
  const bool established = call.waitEstablished(Clock::now() + kCallDeadline);
  if (established) sent = sendInRealTime(host, *destination, call, audio, options.seconds);
  destination->HangUp();
  if (established) call.waitEnded(Clock::now() + kHangUpDeadline);
  destination.reset();
  device.reset();

  auto line = kindLine("sent");
  line["buffers"] = sent.buffers;
  line["bytes"] = sent.bytes;
  host.console().report(line);
  return cameraOutcome(established);
}

}  // namespace

void declareSpeak(CLI::App& app, CommandRun& chosen) {
  auto* command =
      app.add_subcommand("speak",
                         "Connects (needs --camera URL --model M), calls the loudspeaker of audio destination C and\n"
                         "sends 20 ms buffers of G.711 u-law in real time, from a raw file or a tone, then hangs up.\n"
                         "Prints {\"kind\":\"call\",\"state\":\"established\"|\"ended\",\"code\":N} and\n"
                         "{\"kind\":\"sent\",\"buffers\":N,\"bytes\":N}.");
  auto options = std::make_shared<SpeakOptions>();
  command->add_option("--channel", options->channel, "audio destination index (default 0)")->type_name("C");
  auto* file = command->add_option("--file", options->file, "raw G.711 u-law bytes, 8000 per second, sent as they are")
                   ->type_name("RAW");
  command->add_option("--tone", options->toneHz, "a sine tone of HZ instead of a file (default 440)")
      ->type_name("HZ")
      ->check(finiteRange(1.0, 3999.0))
      ->excludes(file);
  addSecondsOption(*command, options->seconds, "how long to send (default 5; a file may end sooner)");
  command
      ->add_option("--set", options->settings,
                   "a setting of the destination applied before the call (may be repeated),\n"
                   "for example volume=80")
      ->type_name("NAME=VALUE")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command->callback([&chosen, options] { chosen = [options](Host& host) { return runSpeak(host, *options); }; });
}

}  // namespace qrmhost
