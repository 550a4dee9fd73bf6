#include "Zelta_SourceESEventStream.h"

#include <cstring>

#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr int kNoMarker = -1;
constexpr int kImageDone = 0xFF;
constexpr uint8_t kSOI = 0xD8, kSOS = 0xDA, kEOI = 0xD9, kAPP11 = 0xEB, kAPP12 = 0xEC;

bool isSkippedMarkerSegment(uint8_t marker) {
  switch (marker) {
    case 0xC0:  // SOF0
    case 0xC4:  // DHT
    case 0xDB:  // DQT
    case 0xE0:  // APP0
    case 0xEB:  // APP11
    case 0xEC:  // APP12
    case 0xED:  // APP13
    case 0xFE:  // COM
      return true;
    default:
      return false;
  }
}

size_t markerSegmentLength(const uint8_t* marker) { return 256u * marker[2] + marker[3] + 2; }

// First 0xFF 0xD9 pair at or after `from`, or length when there is none.
size_t findEndOfImage(const uint8_t* data, size_t from, size_t length) {
  while (from + 1 < length) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(data + from, 0xFF, length - from - 1));
    if (!ff) return length;
    const size_t at = static_cast<size_t>(ff - data);
    if (data[at + 1] == kEOI) return at;
    from = at + 1;
  }
  return length;
}

}  // namespace

const char* segmentTypeName(int type) {
  switch (type) {
    case Zelta_Segment_Image:
      return "Image";
    case Zelta_Segment_Audio:
      return "Audio";
    case Zelta_Segment_Control:
      return "Control";
    case Zelta_Segment_Unknown:
      return "Unknown";
    default:
      return "enum out of bounds";
  }
}

// ---- queues ----

Zelta_SourceESEventStream::Zelta_BufferQueue::Zelta_BufferQueue(int id, size_t limit,
                                                                std::shared_ptr<Zelta_StreamInfo> streamInfo)
    : m_id(id), m_limit(limit), m_streamInfo(std::move(streamInfo)) {}

bool Zelta_SourceESEventStream::Zelta_BufferQueue::push(std::unique_ptr<Zelta_Buffer> buffer) {
  if (m_queuedBytes + buffer->capacity() > m_limit) {
    Zelta_Print::message(
        concat("queue size exceeds limit of ", m_limit, " dropping incoming data of ", buffer->capacity()));
    m_streamInfo->addValue(Zelta_StreamInfo::kSegmentsDropped, 1);
    return false;
  }
  m_queuedBytes += buffer->capacity();
  m_buffers.push_back(std::move(buffer));
  m_streamInfo->setValue(m_id, static_cast<int>(m_buffers.size()));
  return true;
}

void Zelta_SourceESEventStream::Zelta_BufferQueue::pushEndMark() {
  auto mark = std::make_unique<Zelta_Buffer>(1);
  mark->setMarker(true);
  m_queuedBytes += mark->capacity();
  m_buffers.push_back(std::move(mark));
  m_streamInfo->setValue(m_id, static_cast<int>(m_buffers.size()));
}

std::unique_ptr<Zelta_Buffer> Zelta_SourceESEventStream::Zelta_BufferQueue::removeFront() {
  auto front = std::move(m_buffers.front());
  m_buffers.pop_front();
  const size_t capacity = front->capacity();
  if (capacity > m_queuedBytes) {
    Zelta_Print::message(concat("queue size out of sync? buffer size ", capacity, " but queue size is only ",
                                m_queuedBytes, " resetting queue size"));
    m_queuedBytes = 0;
  } else {
    m_queuedBytes -= capacity;
  }
  m_streamInfo->setValue(m_id, static_cast<int>(m_buffers.size()));
  return front;
}

int Zelta_SourceESEventStream::Zelta_BufferQueue::readInto(Zelta_Buffer* target, bool* markedDrained) {
  if (!target) {
    Zelta_Print::message("missing buffer");
    return -1;
  }
  if (target->freeSpace() == 0) {
    Zelta_Print::message("no space left in buffer");
    return 2;
  }
  bool copied = false;
  while (target->freeSpace() > 0 && !m_buffers.empty()) {
    Zelta_Buffer& front = *m_buffers.front();
    const size_t count = std::min(target->freeSpace(), front.unread());
    target->write(front.readPointer(), count);
    front.consume(count);
    copied = copied || count > 0;
    if (front.unread() > 0) continue;
    const bool marked = front.marker();
    removeFront();
    if (marked && markedDrained) {
      *markedDrained = true;
      copied = true;  // an empty end mark is news too
      break;
    }
  }
  return copied ? 0 : 1;
}

std::unique_ptr<Zelta_Buffer> Zelta_SourceESEventStream::Zelta_BufferQueue::popFront() {
  if (m_buffers.empty()) return nullptr;
  return removeFront();
}

// ---- source ----

Zelta_SourceESEventStream::Zelta_SourceESEventStream(std::string url,
                                                     std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                                                     std::shared_ptr<Zelta_NetworkConnection> connection,
                                                     std::shared_ptr<Zelta_SinkAudio> audioSink,
                                                     std::shared_ptr<Zelta_StreamInfo> streamInfo)
    : Zelta_SourceHTTP(std::move(url), std::move(authHandler), std::move(connection)),
      m_streamInfo(streamInfo ? std::move(streamInfo) : std::make_shared<Zelta_StreamInfo>()),
      m_videoQueue(Zelta_StreamInfo::kVideoQueueCount, kVideoQueueLimit, m_streamInfo),
      m_audioQueue(Zelta_StreamInfo::kAudioQueueCount, kAudioQueueLimit, m_streamInfo),
      m_controlQueue(Zelta_StreamInfo::kControlQueueCount, kControlQueueLimit, m_streamInfo),
      m_receiveBuffer(std::make_unique<Zelta_Buffer>(kReceiveBufferSize)),
      m_lastMarker(kNoMarker),
      m_audioSink(std::move(audioSink)) {
  connect_remote();
}

Zelta_SourceESEventStream::~Zelta_SourceESEventStream() = default;

bool Zelta_SourceESEventStream::deliversMore() const {
  return getStatus() != eNetStatus_Closed && getStatus() != eNetStatus_Error;
}

void Zelta_SourceESEventStream::onConnectionOpened() {
  forgetConnection();  // a reconnect starts with the new connection's first byte
  sendPostRequest();
}

void Zelta_SourceESEventStream::forgetConnection() {
  if (imageInProgress() && !m_droppingPicture) m_videoQueue.pushEndMark();
  m_droppingPicture = false;
  m_receiveBuffer->clear();
  m_receiveBuffer->setMarker(false);
  m_lastType = Zelta_Segment_Unknown;
  m_lastMarker = kNoMarker;
  m_resumeOffset = 0;
  m_resumePending = false;
}

void Zelta_SourceESEventStream::onDataAvailable(int socket) {
  Zelta_Buffer& buffer = *m_receiveBuffer;
  if (buffer.freeSpace() == 0) {
    Zelta_Print::message("No space left in recv buffer, need to enlarge buffer?");
    return;
  }
  const size_t count = recvData(socket, buffer.writePointer(), buffer.freeSpace());
  if (count == 0) return;
  buffer.commit(count);
  checkResponse(buffer.readPointer(), buffer.unread());
  processSegments();
}

bool Zelta_SourceESEventStream::imageInProgress() const {
  return m_lastMarker != kNoMarker && m_lastMarker != kImageDone;
}

int Zelta_SourceESEventStream::processSegments() {
  int handed = 0;
  while (m_receiveBuffer->unread() > 0) {
    Zelta_Buffer& current = *m_receiveBuffer;  // handOn may replace the receive buffer
    Zelta_Segment segment;
    const int found = findNextSegment(current.readPointer(), current.unread(), segment);
    if (found == -1) {
      Zelta_Print::message("failed to find next segment");
      current.compact();
      return handed;
    }
    if (found == -4) {
      current.compact();
      return handed;
    }
    if (segment.type == Zelta_Segment_Unknown && m_lastType != Zelta_Segment_Image) {
      ZELTA_TRACE(kTraceNetwork, "skipping non-payload data");
      current.consume(segment.length);
      continue;
    }
    if (segment.type == Zelta_Segment_Unknown) {
      Zelta_Print::message(
          "-> invalid state: 0.1: last segment was image -> data before next segment start belongs to that image "
          "segment");
    } else if (!segment.complete && segment.type != Zelta_Segment_Image) {
      current.compact();  // an audio or control segment waits until it is whole
      return handed;
    }
    if (!handOn(segment)) {
      current.compact();
      return handed;
    }
    ++handed;
    if (segment.type != Zelta_Segment_Unknown) m_lastType = segment.type;
  }
  m_receiveBuffer->clear();
  return handed;
}

int Zelta_SourceESEventStream::findNextSegment(const uint8_t* data, size_t length, Zelta_Segment& out) {
  if (imageInProgress() || m_resumePending) return scanImage(data, length, out);
  if (data[0] == 0xFF) {
    // A segment start cut by the receive: wait for its marker and length rather than lose it.
    if (length < 4) return -4;
    const int classified = classifySegmentStart(data, length, out, false);
    if (classified == 1 || classified == -4) return classified;
  }
  return findUnknown(data, length, out);
}

int Zelta_SourceESEventStream::findUnknown(const uint8_t* data, size_t length, Zelta_Segment& out) {
  out.start = data;
  out.type = Zelta_Segment_Unknown;
  for (size_t from = 1; from < length;) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(data + from, 0xFF, length - from));
    if (!ff) break;
    const size_t at = static_cast<size_t>(ff - data);
    Zelta_Segment probe;
    // A 0xFF too near the end may start a segment: the bytes before it end here, it waits.
    if (length - at < 4 || classifySegmentStart(ff, length - at, probe, true) != -1) {
      out.length = at;
      out.complete = true;
      m_lastMarker = kNoMarker;
      m_resumePending = false;
      return 1;
    }
    from = at + 1;
  }
  out.length = length;
  out.complete = false;
  return 1;
}

int Zelta_SourceESEventStream::classifySegmentStart(const uint8_t* data, size_t length, Zelta_Segment& out,
                                                    bool quiet) {
  if (length < 4 || data[0] != 0xFF) {
    Zelta_Print::message(concat("Invalid segment start ", static_cast<int>(data[0])));
    return -1;
  }
  switch (data[1]) {
    case kAPP11:
    case kAPP12:
      out.start = data;
      out.type = data[1] == kAPP11 ? Zelta_Segment_Audio : Zelta_Segment_Control;
      out.length = markerSegmentLength(data);
      out.complete = out.length <= length;
      return 1;
    case kSOI:
      if (quiet) return 1;  // only asked whether a segment starts here
      m_lastMarker = kNoMarker;
      m_resumePending = false;
      return scanImage(data, length, out);
    default:
      return -1;
  }
}

int Zelta_SourceESEventStream::scanImage(const uint8_t* data, size_t length, Zelta_Segment& out) {
  size_t pos = m_resumePending ? m_resumeOffset : 0;
  m_resumePending = false;
  m_resumeOffset = 0;
  out.start = data;
  out.type = Zelta_Segment_Image;
  while (pos < length && m_lastMarker != kSOS) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(data + pos, 0xFF, length - pos));
    if (!ff) {
      pos = length;
      break;
    }
    pos = static_cast<size_t>(ff - data);
    if (length - pos < 4) {
      // A marker cut by the receive: hand on what lies before it, rescan it with more data.
      m_resumePending = true;
      if (pos == 0) return -4;
      out.length = pos;
      out.complete = false;
      return 1;
    }
    const uint8_t marker = data[pos + 1];
    if (marker == kSOI) {
      m_lastMarker = kSOI;
      pos += 1;
    } else if (marker == kSOS) {
      m_lastMarker = kSOS;
      pos += 2;
    } else if (isSkippedMarkerSegment(marker)) {
      m_lastMarker = marker;
      pos += markerSegmentLength(data + pos);
    } else {
      pos += 1;
    }
  }
  if (m_lastMarker != kSOS) {
    m_resumePending = true;
    m_resumeOffset = pos - length;  // 0 when the scan ended exactly at the end
    out.length = length;
    out.complete = false;
    return 1;
  }
  const size_t end = findEndOfImage(data, pos, length);
  if (end < length) {
    out.length = end + 2;
    out.complete = true;
    m_lastMarker = kImageDone;
    return 1;
  }
  // A trailing 0xFF may be the first half of the end-of-image pair: it stays for the next data.
  out.length = data[length - 1] == 0xFF ? length - 1 : length;
  out.complete = false;
  if (out.length == 0) return -4;
  return 1;
}

Zelta_SourceESEventStream::Zelta_BufferQueue& Zelta_SourceESEventStream::queueFor(int type) {
  if (type == Zelta_Segment_Audio) return m_audioQueue;
  if (type == Zelta_Segment_Control) return m_controlQueue;
  return m_videoQueue;
}

bool Zelta_SourceESEventStream::handOn(const Zelta_Segment& segment) {
  Zelta_Buffer& buffer = *m_receiveBuffer;
  if (segment.length == 0) {
    Zelta_Print::message("Invalid segment size: 0");
    buffer.consume(2);
    return true;
  }
  const size_t unread = buffer.unread();
  if (segment.length > unread) {
    Zelta_Print::message("segment length must never exceed buffer size");
    return false;
  }
  const bool pictureEnd = segment.type == Zelta_Segment_Image && segment.complete;
  const bool pictureStart = segment.length >= 2 && segment.start[0] == 0xFF && segment.start[1] == kSOI;
  if (segment.type == Zelta_Segment_Image && m_droppingPicture) {
    // The rest of a picture that lost a piece is of no use.
    buffer.consume(segment.length);
    m_droppingPicture = !pictureEnd;
    m_streamInfo->addValue(Zelta_StreamInfo::kSegmentsDropped, 1);
    return true;
  }
  std::unique_ptr<Zelta_Buffer> queued;
  if (segment.length == unread) {
    // The segment fills the receive buffer: queue the buffer itself, receive into a fresh one.
    queued = std::move(m_receiveBuffer);
    m_receiveBuffer = std::make_unique<Zelta_Buffer>(kReceiveBufferSize);
  } else {
    queued = std::make_unique<Zelta_Buffer>(segment.length);
    queued->write(segment.start, segment.length);
    buffer.consume(segment.length);
  }
  // The packetizer takes a picture as complete at this piece instead of scanning it again.
  queued->setMarker(pictureEnd);
  if (!queueFor(segment.type).push(std::move(queued)) && segment.type == Zelta_Segment_Image) {
    // A picture without this piece would be joined to the next one: the packetizer drops what
    // it has of it at the end mark, and its further pieces are not queued.
    if (!pictureStart) m_videoQueue.pushEndMark();
    m_droppingPicture = !pictureEnd;
  }
  return true;
}

}  // namespace Zelta
