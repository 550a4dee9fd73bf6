// zelta-dump's side of the stream SDK: the client objects that turn what the SDK delivers into
// JSON lines on standard output (one per picture, control message and audio packet), save the
// pictures when asked, and hand the credentials to the SDK. All run on the thread that steps the
// SDK.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "Zelta_AuthorizationHandler.h"
#include "Zelta_EventNotificationListener.h"
#include "Zelta_SinkAudio.h"
#include "Zelta_SinkVideo.h"

namespace zeltadump {

// Pictures: {"kind":"picture","time_us":N,"bytes":N,"sections":[...],"thermal":[...]}; with a
// save folder each picture is also written as picture-<n>.jpg.
class PictureLines : public Zelta::Zelta_SinkVideo {
 public:
  PictureLines(std::ostream& out, std::string saveFolder);
  int consume(std::unique_ptr<Zelta::Zelta_Image> image) override;
  uint64_t pictures() const { return m_pictures; }
  // Set when a picture could not be saved (the dump then ends).
  const std::string& saveError() const { return m_saveError; }

 private:
  void save(const Zelta::Zelta_Image& image);

  std::ostream& m_out;
  std::string m_saveFolder;
  uint64_t m_pictures = 0;
  std::string m_saveError;
};

// Control messages: {"kind":"control","id":N,"text":...}.
class ControlLines : public Zelta::Zelta_EventNotificationListener {
 public:
  explicit ControlLines(std::ostream& out) : m_out(out) {}
  void notifyEvent(int32_t id, const char* text) override;
  uint64_t messages() const { return m_messages; }

 private:
  std::ostream& m_out;
  uint64_t m_messages = 0;
};

// Audio packets: {"kind":"audio","bytes":N}, in the stream's own format.
class AudioLines : public Zelta::Zelta_SinkAudio {
 public:
  explicit AudioLines(std::ostream& out) : m_out(out) {}
  int consume(std::shared_ptr<Zelta::Zelta_Audio> audio) override;
  uint64_t packets() const { return m_packets; }

 private:
  std::ostream& m_out;
  uint64_t m_packets = 0;
};

// The URL's credentials on every request; after `kAttempts` refused ones the SDK gives up.
class Credentials : public Zelta::Zelta_AuthorizationHandler {
 public:
  static constexpr int kAttempts = 3;
  Credentials(std::string user, std::string password) : m_user(std::move(user)), m_password(std::move(password)) {}

  bool getUserName(char* buffer, size_t size) override;
  bool getPassword(char* buffer, size_t size) override;
  bool needsAuthorization(const char*) override { return !m_user.empty(); }
  void authenticationFailed() override { ++m_refused; }
  void connectionAborted() override { m_aborted = true; }
  int maxAuthorizationAttempts() override { return kAttempts; }
  bool reconnectAfterAuthFailure() override { return true; }
  bool aborted() const { return m_aborted; }

 private:
  std::string m_user;
  std::string m_password;
  int m_refused = 0;
  bool m_aborted = false;
};

// An SDK message with credentials taken out: the password and any Basic authorisation token.
std::string withoutCredentials(std::string text, const std::string& password);

}  // namespace zeltadump
