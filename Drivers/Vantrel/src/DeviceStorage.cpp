// Vantrel::Device as a storage device: the camera keeps event sequences on its own storage, and
// the host sees them as one recording, "VantrelRecording", with a video and an audio track.
#include <memory>
#include <string>
#include <vector>

#include "Device.h"
#include "Nuvlet/include/StorageRecords.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "RecordingPlayback.h"
#include "RecordingSearch.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

namespace {

const char* const kStorageSpanRequest = "/control/event.jpg?output=evtinfo";
const char* const kRecordingId = "0";
const char* const kRecordingName = "VantrelRecording";
const int kStorageRequestTimeoutSeconds = 30;

void logAs(const Talvo::LoggerOwner& logger, int level, int line, const char* function, const std::string& text) {
  if (logger.isLevelEnabled(level)) logger.log(level, __FILE__, line, function, text);
}

std::string timeText(uint64_t ms) { return Talvo::Utility::timestampToString(ms) + "=" + std::to_string(ms); }

}  // namespace

void Device::storageGet(const std::string& path, Talvo::http::Callback callback) {
  post([this, path, callback = std::move(callback)] {
    Talvo::asio::ConnectionInfo info;
    try {
      info = connectionInfo();
    } catch (const std::exception&) {
      callback(Talvo::error::make_error_code(Talvo::error::bad_request), {}, {});
      return;
    }
    Talvo::http::AsyncOperationPtr operation;  // the request keeps itself alive until its callback
    Talvo::http::asyncGetEx(info, path, ioContext(), kStorageRequestTimeoutSeconds, callback, operation, rawLogger());
  });
}

void Device::getDeviceRecordings(StorageSpanCallback callback) {
  storageGet(kStorageSpanRequest, [callback](const boost::system::error_code& error, const Talvo::http::Body& body,
                                             const Talvo::http::HttpResponse&) {
    if (error) return callback(Talvo::Utility::translateSystemError(error), {});
    const StorageSpan span = parseStorageSpan(std::string(body.begin(), body.end()));
    callback(0, Talvo::GDRV::DateTimeRange{span.head, span.tail});
  });
}

void Device::requestRecordings(const std::string& path, RecordingsCallback callback) {
  storageGet(path, [this, callback](const boost::system::error_code& error, const Talvo::http::Body& body,
                                    const Talvo::http::HttpResponse&) {
    NUVLET_DCHECK_CALLED_ON(isCalledFromConnectionThread());
    const Talvo::LoggerOwner logger = deviceLogger();
    if (error) {
      logAs(logger, 3, __LINE__, "handleFindRecording", " Failed to get record, error:" + error.message());
      return callback(Talvo::Utility::translateSystemError(error), {});
    }
    const std::string text(body.begin(), body.end());
    if (isEmptyAlarmList(text)) {
      logAs(logger, 0, __LINE__, "handleFindRecording", " Nothing found");
      return callback(0, {});
    }
    std::vector<recording_t> found;
    try {
      found = parseAlarmList(text);
    } catch (const std::exception& e) {
      logAs(logger, 3, __LINE__, "handleFindRecording", std::string(" Exception: ") + e.what());
      found.clear();
    }
    callback(0, found);
  });
}

// True when the camera holds recordings; then the span is logged.
bool Device::logStorageSpan(const Talvo::GDRV::DateTimeRange& range) const {
  if (range.begin == 0 || range.end == 0) return false;
  NLOG(deviceLogger(), 0,
       " Found recordings on camera [" << Talvo::asio::addressStringToDisplay(connectionString()) << "] in range ["
                                       << timeText(range.begin) << "," << timeText(range.end) << "]");
  return true;
}

void Device::RequestRecordingsInfo(Talvo::GDRV::IRecordingsInfoHandler* handler) {
  if (!handler) return;
  getDeviceRecordings([this, handler](int32_t code, const Talvo::GDRV::DateTimeRange& range) {
    if (code != 0) return handler->Failed(this, code);
    std::vector<std::shared_ptr<Talvo::Utility::RecordingInfo>> recordings;
    if (logStorageSpan(range)) {
      recordings.push_back(std::make_shared<Talvo::Utility::RecordingInfo>(
          kRecordingId, kRecordingName,
          std::vector<Talvo::Utility::TrackDescription>{Talvo::Utility::VIDEO_TRACK_INFO,
                                                        Talvo::Utility::AUDIO_TRACK_INFO},
          range.begin, range.end));
    }
    Talvo::Utility::RecordingInfoEnumerator enumerator(std::move(recordings));
    handler->Result(this, &enumerator);
  });
}

void Device::RequestRecordingInfo(const char* recordingId, Talvo::GDRV::ISingleRecordingInfoHandler* handler) {
  if (!handler) return;
  const std::string id = recordingId ? recordingId : kRecordingId;
  getDeviceRecordings([this, handler, id](int32_t code, const Talvo::GDRV::DateTimeRange& range) {
    if (code != 0) return handler->Failed(this, code);
    const bool filled = logStorageSpan(range);
    Talvo::Utility::RecordingInfo recording(id, kRecordingName,
                                            {Talvo::Utility::VIDEO_TRACK_INFO, Talvo::Utility::AUDIO_TRACK_INFO},
                                            filled ? range.begin : 0, filled ? range.end : 0);
    handler->Result(this, &recording);
  });
}

Talvo::GDRV::IRecordingSearch* Device::CreateRecordingSearch(const char* recordingId) {
  return new RecordingSearch(recordingId ? recordingId : kRecordingId, this);
}

Talvo::GDRV::IRecordingPlayback* Device::CreateRecordingPlayback(const char* recordingId,
                                                                 Talvo::MFF::IMultimediaFrameFactory* factory,
                                                                 Talvo::GDRV::Storage::ITrackIdEnumerator* tracks,
                                                                 Talvo::GDRV::IRecordingPlaybackHandler* handler) {
  return new RecordingPlayback(recordingId ? recordingId : kRecordingId, this, factory, tracks, handler);
}

}  // namespace Vantrel
