#include "Zelta_EventBroker.h"

#include <cstring>

#include "Zelta_Buffer.h"
#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr const char* kMethodNames[] = {"mode",    "audiooutput",  "fps",          "setRate",      "video_enable",
                                        "size",    "sensor",       "display_mode", "ptz_click",    "ptz_zoom",
                                        "ptz_pan", "RotorCommand", "live",         "play",         "pause",
                                        "seek",    "jump",         "show",         "setThermalRaw"};
static_assert(sizeof kMethodNames / sizeof kMethodNames[0] == Zelta_EventBroker::kMethodCount, "one name per method");

constexpr size_t kSegmentPrefix = 4;  // marker and length

}  // namespace

Zelta_EventBroker::Zelta_EventBroker(std::shared_ptr<Zelta_EventSource> source,
                                     std::shared_ptr<Zelta_EventNotificationListener> listener)
    : m_source(std::move(source)), m_listener(std::move(listener)) {
  const auto& source_ = m_source;
  ZELTA_CHECK(source_ != nullptr);
}

const char* Zelta_EventBroker::methodName(int method) {
  return method >= 0 && method < kMethodCount ? kMethodNames[method] : nullptr;
}

std::string Zelta_EventBroker::playPosition(int64_t seconds, int64_t microseconds) {
  const int64_t millis = microseconds / 1000;
  return concat(seconds, ".", millis < 100 ? "0" : "", millis < 10 ? "0" : "", millis);
}

int Zelta_EventBroker::addCommand(int id, const char* text) {
  if (id > m_commandId)
    Zelta_Print::message(
        "suspicous command id. When building a new command, only use ids provided by getNextCommandId()");
  m_pending.emplace_back(text ? text : "");
  return 1;
}

int Zelta_EventBroker::sendCommand(int method, const std::string& params) {
  const char* name = methodName(method);
  if (!name) {
    Zelta_Print::message(concat("Invalid option at index ", method));
    return 0;
  }
  const int id = getNextCommandId();
  addCommand(id, concat("{\"method\":\"", name, "\",\"id\":", id, ",\"params\":[", params, "]}").c_str());
  return id;
}

Zelta_ReturnCode Zelta_EventBroker::processControls() {
  if (m_ready && !m_pending.empty()) sendFront();
  while (const auto segment = m_source->takeControlSegment()) handleControlSegment(*segment);
  return Zelta_Return_Ok;
}

void Zelta_EventBroker::sendFront() {
  const std::string& text = m_pending.front();
  // The camera reads commands up to their terminating zero byte.
  const eSendStatus result = m_source->sendCommand(text.c_str(), text.size() + 1);
  if (result == eSend_Ok) {
    ZELTA_TRACE(kTraceSetup, "successfully sent: ", text);
    m_pending.pop_front();
  } else if (result == eSend_NotConnected) {
    Zelta_Print::message(
        "failed to send commands, connection lost? dropping command queue! you need to reconnect before queuing new "
        "commands");
    m_pending.clear();
    m_ready = false;
  }  // other failures: the command stays for the next step
}

void Zelta_EventBroker::handleControlSegment(const Zelta_Buffer& segment) {
  const size_t length = segment.unread() > kSegmentPrefix ? segment.unread() - kSegmentPrefix : 0;
  std::string text(reinterpret_cast<const char*>(segment.readPointer()) + (length ? kSegmentPrefix : 0), length);
  text.resize(std::strlen(text.c_str()));  // the camera may end its text with zero bytes
  const int32_t id = getControlId(text.c_str(), text.size());
  ZELTA_TRACE(kTraceSetup, "ctrl channel got: ", text, " extracted id ", id);
  if (!m_ready && (id == 0 || text.find("eventstream") != std::string::npos)) m_ready = true;
  if (m_listener)
    m_listener->notifyEvent(id, text.c_str());
  else
    Zelta_Print::message(concat("no notification listener, dropping event information for ", id, ": ", text));
}

int32_t Zelta_EventBroker::getControlId(const char* text, size_t length) {
  const char* ctrl = text;
  ZELTA_CHECK(ctrl != nullptr);
  const std::string message(text, strnlen(text, length));
  const size_t key = message.find("\"id\"");
  if (key == std::string::npos) return -1;
  size_t pos = message.find(':', key + 4);
  if (pos == std::string::npos) return -1;
  ++pos;
  while (pos < message.size() && message[pos] == ' ') ++pos;
  const bool negative = pos < message.size() && message[pos] == '-';
  if (negative) ++pos;
  if (pos >= message.size() || message[pos] < '0' || message[pos] > '9') return -1;
  int64_t value = 0;
  for (; pos < message.size() && message[pos] >= '0' && message[pos] <= '9'; ++pos) {
    value = value * 10 + (message[pos] - '0');
    if (value > INT32_MAX) return -1;  // not an id this SDK handed out
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace Zelta
