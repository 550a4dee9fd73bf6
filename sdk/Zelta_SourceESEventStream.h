// The event-stream source: sends the POST request when the connection opens, cuts the received
// bytes into segments (JPEG pictures, APP11 audio, APP12 control) whatever the receive sizes,
// and sorts them into three queues with byte limits. The packetizer reads the video queue, the
// audio conversion the audio queue, the event broker the control queue.
//
// Ownership: the source owns its queues and their buffers until they are read. Single-threaded:
// constructed, stepped (through async_network_loop) and read on the SDK's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "Zelta_Buffer.h"
#include "Zelta_EventSource.h"
#include "Zelta_SourceAudio.h"
#include "Zelta_SourceHTTP.h"
#include "Zelta_SourceVideo.h"
#include "Zelta_StreamInfo.h"

namespace Zelta {

class Zelta_SinkAudio;  // held for the audio conversion

enum Zelta_SegmentType : int {
  Zelta_Segment_Image = 0,
  Zelta_Segment_Audio = 1,
  Zelta_Segment_Control = 2,
  Zelta_Segment_Unknown = 3
};
const char* segmentTypeName(int type);

struct Zelta_Segment {
  const uint8_t* start = nullptr;
  size_t length = 0;
  int type = Zelta_Segment_Unknown;
  bool complete = false;
};

class Zelta_SourceESEventStream : public Zelta_SourceHTTP,
                                  public Zelta_EventSource,
                                  public Zelta_SourceAudio,
                                  public Zelta_SourceVideo {
 public:
  static constexpr size_t kReceiveBufferSize = 66560;  // holds the largest marker segment (65 537)
  static constexpr size_t kVideoQueueLimit = 32u << 20;
  static constexpr size_t kAudioQueueLimit = 4u << 20;
  static constexpr size_t kControlQueueLimit = 1u << 20;

  // A queue of owned buffers with a byte limit counted in buffer capacities.
  class Zelta_BufferQueue {
   public:
    Zelta_BufferQueue(int id, size_t limit, std::shared_ptr<Zelta_StreamInfo> streamInfo);
    // Appends, or drops the buffer when the limit would be passed; false when dropped.
    bool push(std::unique_ptr<Zelta_Buffer> buffer);
    // Appends an empty marked buffer whatever the limit: the picture read so far ends there
    // without its end (the packetizer drops it).
    void pushEndMark();
    // Copies queued bytes into target's free space: 0 copied, 1 nothing queued, 2 target full,
    // -1 no target. With `markedDrained`, stops after draining a buffer whose marker is set and
    // reports it there.
    int readInto(Zelta_Buffer* target, bool* markedDrained = nullptr);
    std::unique_ptr<Zelta_Buffer> popFront();
    size_t queuedBytes() const { return m_queuedBytes; }
    size_t count() const { return m_buffers.size(); }
    size_t limit() const { return m_limit; }

   private:
    std::unique_ptr<Zelta_Buffer> removeFront();
    std::deque<std::unique_ptr<Zelta_Buffer>> m_buffers;
    int m_id;
    size_t m_queuedBytes = 0;
    size_t m_limit;
    std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  };

  // Connects at once (status Error when that fails).
  Zelta_SourceESEventStream(std::string url, std::shared_ptr<Zelta_AuthorizationHandler> authHandler,
                            std::shared_ptr<Zelta_NetworkConnection> connection,
                            std::shared_ptr<Zelta_SinkAudio> audioSink, std::shared_ptr<Zelta_StreamInfo> streamInfo);
  ~Zelta_SourceESEventStream() override;

  // Cuts the receive buffer's unread bytes into segments; returns how many were handed on.
  int processSegments();

  int readVideo(Zelta_Buffer* target) override { return m_videoQueue.readInto(target); }
  // The queued piece that completes a picture carries the buffer marker.
  bool marksPictureEnds() const override { return true; }
  int readVideoPicture(Zelta_Buffer* target, bool* pictureEnded) override {
    *pictureEnded = false;
    return m_videoQueue.readInto(target, pictureEnded);
  }
  bool deliversMore() const override;
  size_t queuedVideoBytes() const override { return m_videoQueue.queuedBytes(); }
  int readAudio(Zelta_Buffer* target) override { return m_audioQueue.readInto(target); }
  std::unique_ptr<Zelta_Buffer> takeAudioSegment() override { return m_audioQueue.popFront(); }
  size_t queuedAudioBytes() const override { return m_audioQueue.queuedBytes(); }
  int readControl(Zelta_Buffer* target) override { return m_controlQueue.readInto(target); }
  std::unique_ptr<Zelta_Buffer> takeControlSegment() override { return m_controlQueue.popFront(); }
  size_t queuedControlBytes() const override { return m_controlQueue.queuedBytes(); }
  eSendStatus sendCommand(const char* data, size_t length) override { return sendMessage(data, length); }

  const std::shared_ptr<Zelta_SinkAudio>& audioSink() const { return m_audioSink; }
  const std::shared_ptr<Zelta_StreamInfo>& streamInfo() const { return m_streamInfo; }

 protected:
  void onConnectionOpened() override;
  void onDataAvailable(int socket) override;

 private:
  // 1 with a segment, -1 when none can be found, -4 when more data is needed.
  int findNextSegment(const uint8_t* data, size_t length, Zelta_Segment& out);
  int classifySegmentStart(const uint8_t* data, size_t length, Zelta_Segment& out, bool quiet);
  int scanImage(const uint8_t* data, size_t length, Zelta_Segment& out);
  int findUnknown(const uint8_t* data, size_t length, Zelta_Segment& out);
  bool imageInProgress() const;
  // Scan state and unread bytes of a connection that ended; a picture it left unfinished is
  // ended in the video queue.
  void forgetConnection();
  // False when the segment could not be taken (the receive loop must stop).
  bool handOn(const Zelta_Segment& segment);
  Zelta_BufferQueue& queueFor(int type);

  std::shared_ptr<Zelta_StreamInfo> m_streamInfo;
  Zelta_BufferQueue m_videoQueue;
  Zelta_BufferQueue m_audioQueue;
  Zelta_BufferQueue m_controlQueue;
  std::unique_ptr<Zelta_Buffer> m_receiveBuffer;
  int m_lastType = Zelta_Segment_Unknown;
  // Image scan: the last marker seen inside the current picture (kNoMarker before one, kImageDone
  // after its end) and where to resume scanning in the next data (a skipped marker segment may
  // reach beyond the bytes seen so far).
  int m_lastMarker;
  size_t m_resumeOffset = 0;
  bool m_resumePending = false;
  // A piece of the current picture was dropped (video queue full): its other pieces are too.
  bool m_droppingPicture = false;
  std::shared_ptr<Zelta_SinkAudio> m_audioSink;
};

}  // namespace Zelta
