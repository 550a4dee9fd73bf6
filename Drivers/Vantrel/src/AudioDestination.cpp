#include "AudioDestination.h"
#include "ChannelLogger.h"

#include <algorithm>
#include <exception>

#include <boost/any.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "Nuvlet/include/Contract.h"
#include "Nuvlet/include/HttpAnswerHead.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "Nuvlet/include/HttpDigest.h"
#include "host/Nuvlet/HttpCategory.h"

namespace Vantrel {

namespace {
const char* const kSpeakerPath = "/control/ddspeaker";
const char* const kAudioSection = "/control/control?set&section=audio";
const int kSettingsTimeoutSeconds = 30;
}  // namespace

AudioDestination::AudioDestination(Talvo::GDRV::IAudioDestinationHandler* handler, uint32_t channel, Device* device)
    : Talvo::Utility::SimpleAdjuster(static_cast<Talvo::GDRV::IAudioDestination*>(this)),
      Talvo::LoggerOwner(channelLogger(device, (boost::format("ad %1%") % channel).str())),
      channel_(channel),
      handler_(handler),
      device_(device),
      writeTimeout_(Talvo::asio::DEFAULT_CONNECT_TIMEOUT),
      work_(io_.get_executor()) {
  const auto& destinations = device->modelEntry().audioDestinations;
  if (channel < destinations.size())
    responseOnCall_ = Talvo::GDRV::intProperty(destinations[channel].parameters, "isResponseOnCall") != 0;
  Talvo::Utility::audioDestinationInitializeParams(parameters_, channel, device->modelEntry(), device->driverInfo(),
                                                   initialParameters_);
  worker_ = boost::thread([this] { workerMain(); });
}

// Runs after the worker ended (Destroy stops and joins it, or the worker deletes the object).
AudioDestination::~AudioDestination() {
  try {
    if (worker_.joinable()) worker_.join();
  } catch (const std::exception& e) {
    NLOG(*this, 3, " " << e.what());
  }
}

void* AudioDestination::QueryContract(const char* typeName) {
  using Talvo::Utility::castTo;
  using Talvo::Utility::Path;
  return castTo<Path<Talvo::IContract, Talvo::GDRV::IAudioDestination>, Path<Talvo::GDRV::IAudioDestination>,
                Path<Talvo::GDRV::IDeviceChannel>, Path<Talvo::IAsyncAdjuster>>(this, typeName);
}

void AudioDestination::workerMain() {
  io_.run();
  if (deleteOnExit_) delete this;  // Destroy came from a notification on this thread
}

void AudioDestination::Destroy() {
  destroying_ = true;  // no notification after this
  io_.stop();
  if (boost::this_thread::get_id() == worker_.get_id()) {
    deleteOnExit_ = true;
    worker_.detach();
    return;
  }
  worker_.join();
  delete this;
}

void AudioDestination::Call() {
  boost::asio::post(io_, [this] { startCall(); });
}

void AudioDestination::HangUp() {
  boost::asio::post(io_, [this] { hangUp(); });
}

// The host that hangs up waits for the call's end: it hears it once even when no call was up.
void AudioDestination::hangUp() {
  bool callUp = socket_.is_open();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callUp = callUp || phase_ != Phase::Idle;
  }
  if (callUp) return endCall(true);
  NLOG(*this, 0, " No call to end");
  if (notifying()) handler_->Stopped(contract());
}

AudioDestination::HostBuffer AudioDestination::take(Talvo::MFF::IAudioBuffer* buffer) {
  return HostBuffer(buffer, [](Talvo::MFF::IAudioBuffer* ended) { ended->Destroy(); });
}

void AudioDestination::SendAudio(Talvo::MFF::IAudioBuffer* buffer) {
  if (buffer == nullptr) return;
  HostBuffer taken = take(buffer);
  if (buffer->GetSize() == 0) return;  // nothing to play: ended at once
  const int32_t bitRate = buffer->GetBitRate() > 0 ? buffer->GetBitRate() : kDefaultBitRate;
  const size_t capBytes = static_cast<size_t>(bitRate) / 8 * kQueuedMilliseconds / 1000;
  bool startWriting = false;
  Released dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phase_ == Phase::Idle) return;  // no call: nothing to play the audio on; ended at once
    queuedBytes_ += buffer->GetSize();
    queue_.push_back(std::move(taken));
    capQueue(capBytes, dropped);
    startWriting = phase_ == Phase::Established && !writing_;
    if (startWriting) writing_ = true;
  }
  if (startWriting) boost::asio::post(io_, [this] { writeNext(); });
}

// Drops the oldest waiting buffers (never the one being written, never the newest) into `dropped`.
void AudioDestination::capQueue(size_t capBytes, Released& dropped) {
  const size_t inFlight = writing_ ? 1 : 0;
  while (queuedBytes_ > capBytes && queue_.size() > inFlight + 1) {
    const auto oldest = queue_.begin() + static_cast<std::ptrdiff_t>(inFlight);
    queuedBytes_ -= (*oldest)->GetSize();
    dropped.push_back(std::move(*oldest));
    queue_.erase(oldest);
    ++droppedThisCall_;
    ++droppedTotal_;
  }
}

void AudioDestination::startCall() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phase_ != Phase::Idle) return;  // a call is on already
  }
  Talvo::asio::ConnectionInfo info;
  try {
    info = device_->cameraConnection();
  } catch (const std::exception&) {
    if (notifying()) handler_->Failed(contract(), 10);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    phase_ = Phase::Connecting;
  }
  const uint64_t call = ++call_;
  armGuard(call);
  boost::asio::ip::tcp::endpoint endpoint;
  if (Talvo::asio::literalEndpoint(info, endpoint)) return connectTo(endpoint);
  lookup_.start(info.host, info.port,
                [this, call](const boost::system::error_code& error, Talvo::asio::LookupResults results) {
                  if (call != call_) return;
                  if (error || results.empty())
                    return handleConnect(call, error ? error : boost::asio::error::host_not_found);
                  connectTo(*results.begin());
                });
}

void AudioDestination::connectTo(const boost::asio::ip::tcp::endpoint& endpoint) {
  const uint64_t call = call_;
  boost::system::error_code error;
  socket_.open(endpoint.protocol(), error);
  if (error) {
    NLOG(*this, 3, " Socket async connect failed: " << error.message());
    return handleConnect(call, error);
  }
  socket_.async_connect(endpoint, [this, call](const boost::system::error_code& e) { handleConnect(call, e); });
}

void AudioDestination::handleConnect(uint64_t call, const boost::system::error_code& error) {
  if (call != call_) return;
  if (error) {
    NLOG(*this, 3, " Connection failed: " << error.message());
    return endCall(true);
  }
  try {
    requestText_ = speakerRequest(device_->cameraConnection());
  } catch (const Talvo::asio::ConnectionTextError&) {
    return failCall(10);
  } catch (const std::exception& e) {
    NLOG(*this, 3, " Unexpected exception while initializing request: " << e.what());
    return failCall(4);
  }
  boost::asio::async_write(socket_, boost::asio::buffer(requestText_),
                           [this, call](const boost::system::error_code& e, size_t) { handleRequestWritten(call, e); });
}

// The request whose body never ends: no length, the audio follows the empty line.
std::string AudioDestination::speakerRequest(const Talvo::asio::ConnectionInfo& info) const {
  std::string text = std::string("POST ") + kSpeakerPath + " HTTP/1.0\r\n";
  text += "Accept: multipart/x-mixed-replace,*/*\r\n";
  text += "User-Agent: Zelta-ActiveX\r\n";
  text += "Host: " + info.hostAndPort() + "\r\n";
  const std::string authorization = Talvo::http::cameraAuthorization(info, "POST", kSpeakerPath);
  if (!authorization.empty()) text += "Authorization: " + authorization + "\r\n";
  return text + "\r\n";
}

void AudioDestination::handleRequestWritten(uint64_t call, const boost::system::error_code& error) {
  if (call != call_) return;
  if (error) return failCall(Talvo::Utility::translateSystemError(error));
  if (!responseOnCall_) return establish();
  boost::asio::async_read_until(socket_, answer_, "\r\n\r\n", [this, call](const boost::system::error_code& e, size_t) {
    handleAnswerHead(call, e);
  });
}

// The camera answers the call before it plays anything: its status decides.
void AudioDestination::handleAnswerHead(uint64_t call, const boost::system::error_code& error) {
  if (call != call_) return;
  if (error) return failCall(Talvo::Utility::translateSystemError(error));
  const char* begin = static_cast<const char*>(answer_.data().data());
  const char* end = begin + Talvo::http::detail::headEnd(begin, begin + answer_.size());
  Talvo::http::HttpResponse response;
  const size_t statusBytes = Talvo::http::parseStatusLine(begin, end, response);
  if (statusBytes == 0 || Talvo::http::parseHeaders(begin + statusBytes, end, response.headers) == 0)
    return failCall(Talvo::error::bad_response);
  answer_.consume(answer_.size());
  if (!response.isSuccess()) return failCall(Talvo::http::translateResponseError(response));
  establish();
}

void AudioDestination::establish() {
  timer_.cancel();
  bool startWriting = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    phase_ = Phase::Established;
    startWriting = !queue_.empty() && !writing_;
    if (startWriting) writing_ = true;
  }
  NLOG(*this, 0, " Call established");
  if (notifying()) handler_->Started(contract());
  if (startWriting) writeNext();
}

// Writes the front buffer; writing_ is set.
void AudioDestination::writeNext() {
  HostBuffer front;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty() || phase_ != Phase::Established) {
      writing_ = false;
      return;
    }
    front = queue_.front();
  }
  const uint64_t call = call_;
  armGuard(call);
  boost::asio::async_write(
      socket_, boost::asio::buffer(front->GetBuffer(), front->GetSize()),
      [this, call, front](const boost::system::error_code& e, size_t) { handleWritePacket(call, e); });
}

void AudioDestination::handleWritePacket(uint64_t call, const boost::system::error_code& error) {
  if (call != call_) return;
  if (error) {
    NLOG(*this, 3, " Failed to write packet: " << error.message());
    return endCall(true);
  }
  bool more = false;
  HostBuffer written;  // ended once the write's own hold is gone too
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queuedBytes_ -= queue_.front()->GetSize();
    written = std::move(queue_.front());
    queue_.pop_front();
    more = !queue_.empty();
    writing_ = more;
  }
  if (more) return writeNext();
  timer_.cancel();  // a host that pauses is no camera that stalls
}

void AudioDestination::armGuard(uint64_t call) {
  timer_.expires_from_now(writeTimeout_);
  timer_.async_wait([this, call](const boost::system::error_code& error) { handleTimeout(call, error); });
}

void AudioDestination::handleTimeout(uint64_t call, const boost::system::error_code& error) {
  // A wait that ended just before the guard was re-armed still comes without an error.
  if (error || call != call_ || timer_.expires_at() > boost::asio::deadline_timer::traits_type::now()) return;
  NLOG(*this, 0, " Timeout in audio destination");
  endCall(true);
}

void AudioDestination::failCall(int code) {
  endCall(false);
  if (notifying()) handler_->Failed(contract(), code);
}

void AudioDestination::endCall(bool notify) {
  const bool wasOn = socket_.is_open();
  ++call_;  // whatever is still pending belongs to the call that ends here
  boost::system::error_code ignored;
  timer_.cancel();
  lookup_.cancel();
  socket_.close(ignored);
  answer_.consume(answer_.size());
  uint64_t dropped = 0;
  std::deque<HostBuffer> left;  // ended after the mutex is released
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phase_ == Phase::Idle && !wasOn) return;  // no call to end
    phase_ = Phase::Idle;
    left.swap(queue_);
    queuedBytes_ = 0;
    writing_ = false;
    std::swap(dropped, droppedThisCall_);
  }
  if (dropped > 0)
    NLOG(*this, 2, " Dropped " << dropped << " audio buffers: the camera read slower than the host sent");
  NLOG(*this, 0, " Call ended");
  if (notify && notifying()) handler_->Stopped(contract());
}

void AudioDestination::ApplySettings(Talvo::IAsyncActionHandler* handler) {
  SimpleAdjuster::ApplySettings(handler);
  boost::asio::post(io_, [this] { doApplySettings(); });
}

void AudioDestination::doApplySettings() {
  Talvo::Utility::ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters_.popParameters(set, handler)) return;
  parameters_.updateParams(set);
  try {
    std::string path = kAudioSection;
    const auto volume = set.find("volume");
    if (volume != set.end()) path += "&SPEAKERLEVEL=" + std::to_string(boost::any_cast<int>(volume->second));
    Talvo::http::asyncGetEx(
        device_->cameraConnection(), path, io_, kSettingsTimeoutSeconds,
        [this, handler](const boost::system::error_code& error, const Talvo::http::Body&,
                        const Talvo::http::HttpResponse& response) { finishSettings(handler, error, response); },
        settingsRequest_, logger());
  } catch (const boost::bad_any_cast& e) {
    NLOG(*this, 3, " Error: " << e.what());
    if (handler) handler->Finished(contract(), 4);
  } catch (const std::exception& e) {
    NLOG(*this, 3, " Error: " << e.what());
    if (handler) handler->Finished(contract(), 10);
  }
}

void AudioDestination::finishSettings(Talvo::IAsyncActionHandler* handler, const boost::system::error_code& error,
                                      const Talvo::http::HttpResponse& response) {
  int code = 0;
  if (error && error.category() == Talvo::http::http_category()) {
    NLOG(*this, 3, " HTTP response error:" << response.status);
    code = Talvo::http::translateResponseError(response);
  } else if (error) {
    NLOG(*this, 3, " boost::system::error_code: " << error.message());
    code = Talvo::Utility::translateSystemError(error);
  }
  if (handler && !destroying_) handler->Finished(contract(), code);
}

}  // namespace Vantrel
