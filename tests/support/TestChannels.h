// Host objects a channel talks to, recording what they hear: video and audio handlers, a frame
// factory, a channel handler of statistics lines and an action handler. Thread-safe: the driver
// calls them from its own threads while the test waits. Header-only.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "Recorder.h"
#include "host/GDRV.h"
#include "host/MFF.h"

// A heap buffer as the host's frame factory hands it out.
template <class Interface>
class TestBuffer : public TestContract<Interface> {
 public:
  TestBuffer(std::string codec, size_t size, bool key) : codec(std::move(codec)), bytes(size), key(key) {}
  void Destroy() override { delete this; }
  uint8_t* GetBuffer() override { return bytes.data(); }
  size_t GetSize() override { return bytes.size(); }
  void SetTimeStamp(uint64_t ms) override { time = ms; }
  uint64_t GetTimeStamp() override { return time; }

  const std::string codec;
  std::vector<uint8_t> bytes;
  const bool key;
  uint64_t time = 0;
};

struct VideoBuffer : TestBuffer<Talvo::MFF::ICompressedBuffer> {
  using TestBuffer::TestBuffer;
  const char* GetCodecName() override { return codec.c_str(); }
  bool IsKeyFrame() override { return key; }
};

struct AudioBuffer : TestBuffer<Talvo::MFF::IAudioBuffer> {
  using TestBuffer::TestBuffer;
  const char* GetFormat() override { return codec.c_str(); }
  int32_t GetBitRate() override { return 64000; }
  int32_t GetEncoding() override { return 0; }
};

class TestFrameFactory : public TestContract<Talvo::MFF::IMultimediaFrameFactory>, public Recorder {
 public:
  Talvo::MFF::ICompressedBuffer* AllocateCompressedBuffer(const char* codec, size_t size, int, bool key) override {
    record([&] { ++videoAllocations; });
    return new VideoBuffer(codec ? codec : "", size, key);
  }
  Talvo::MFF::IAudioBuffer* AllocateAudioBuffer(const char* format, size_t size, uint64_t timeStamp, int32_t bitRate,
                                                int32_t encoding) override {
    record([&] {
      ++audioAllocations;
      lastAudioTimeStamp = timeStamp;
      lastAudioBitRate = bitRate;
      lastAudioEncoding = encoding;
      lastAudioFormat = format ? format : "";
    });
    return giveAudioBuffers ? new AudioBuffer(format ? format : "", size, true) : nullptr;
  }
  size_t audioCount() const { return snapshot(&TestFrameFactory::audioAllocations); }
  size_t videoCount() const { return snapshot(&TestFrameFactory::videoAllocations); }

  bool giveAudioBuffers = true;  // false: the host has no buffer to give
  size_t videoAllocations = 0;
  size_t audioAllocations = 0;
  uint64_t lastAudioTimeStamp = 0;
  int32_t lastAudioBitRate = 0;
  int32_t lastAudioEncoding = -1;
  std::string lastAudioFormat;
};

struct ReceivedFrame {
  std::string codec;
  bool key;
  std::vector<uint8_t> bytes;
};

// Records what a channel reports: started/stopped, failures with their codes, frames, statistics
// lines ("name text"), and what came after Stopped. A test may act as a host does from inside a
// callback: onFrame (with the number of frames so far), onFailed and onLine run on the driver's
// thread outside the lock; set them before the channel starts.
template <class Handler, class Buffer>
class RecordingChannelHandler : public TestContract<Handler>, public Recorder {
 public:
  void Failed(Talvo::IContract*, int32_t code) override {
    record([&] { failures.push_back(code); });
    if (onFailed) onFailed();
  }
  void Started(Talvo::IContract*) override {
    record([&] { ++started; });
  }
  void Stopped(Talvo::IContract*) override {
    record([&] { ++stopped; });
  }
  void StatisticUpdated(Talvo::IContract*, const char* name, const char* text) override {
    if (onLine) onLine();
    record([&] {
      afterStopped += stopped > 0;
      lines.push_back(std::string(name) + " " + text);
    });
  }
  void MultimediaFrame(Talvo::IContract*, Buffer* buffer) override {
    auto* ours = dynamic_cast<TestBuffer<Buffer>*>(buffer);
    ReceivedFrame frame{ours ? ours->codec : "", ours && ours->key, ours ? ours->bytes : std::vector<uint8_t>()};
    buffer->Destroy();
    size_t count = 0;
    record([&] {
      afterStopped += stopped > 0;
      frames.push_back(std::move(frame));
      count = frames.size();
    });
    if (onFrame) onFrame(count);
  }

  bool waitForFrames(size_t n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return frames.size() >= n; }, deadline);
  }
  bool waitForLines(size_t n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return lines.size() >= n; }, deadline);
  }
  bool waitForLine(const std::string& line, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return std::find(lines.begin(), lines.end(), line) != lines.end(); }, deadline);
  }
  bool waitForFailures(size_t n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return failures.size() >= n; }, deadline);
  }
  bool waitForStopped(std::chrono::milliseconds deadline, int n = 1) const {
    return waitUntil([&] { return stopped >= n; }, deadline);
  }
  bool waitForStarts(int n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return started >= n; }, deadline);
  }

  std::function<void(size_t frames)> onFrame;
  std::function<void()> onFailed;
  std::function<void()> onLine;
  int started = 0;
  int stopped = 0;
  int afterStopped = 0;  // frames and lines that came after a Stopped
  std::vector<int> failures;
  std::vector<ReceivedFrame> frames;
  std::vector<std::string> lines;
};

using RecordingVideoHandler = RecordingChannelHandler<Talvo::GDRV::IVideoSourceHandler, Talvo::MFF::ICompressedBuffer>;
using RecordingAudioHandler = RecordingChannelHandler<Talvo::GDRV::IAudioSourceHandler, Talvo::MFF::IAudioBuffer>;

// Records, in order, what reaches a channel handler and the thread it came on: "name text" for a
// statistics line, "Stopped" for Stopped.
class RecordingNoteHandler : public Talvo::GDRV::IAsyncDeviceChannelHandler, public Recorder {
 public:
  struct Note {
    Talvo::IContract* channel;
    std::string text;
    std::thread::id thread;
  };
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char*) override { return nullptr; }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract* channel) override { add(channel, "Stopped"); }
  void StatisticUpdated(Talvo::IContract* channel, const char* name, const char* text) override {
    add(channel, std::string(name) + " " + text);
  }
  std::vector<Note> notes() const { return snapshot(&RecordingNoteHandler::notes_); }
  std::vector<std::string> texts() const {
    std::vector<std::string> texts;
    for (const Note& note : notes()) texts.push_back(note.text);
    return texts;
  }
  // True once the latest note is Stopped; false when `deadline` passes first.
  bool waitForStopped(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const {
    return waitUntil([&] { return !notes_.empty() && notes_.back().text == "Stopped"; }, deadline);
  }

 private:
  void add(Talvo::IContract* channel, std::string text) {
    record([&] { notes_.push_back({channel, std::move(text), std::this_thread::get_id()}); });
  }
  std::vector<Note> notes_;
};

class RecordingActionHandler : public TestContract<Talvo::IAsyncActionHandler, Talvo::IContract>, public Recorder {
 public:
  void Finished(Talvo::IContract* source, int code) override {
    record([&] {
      codes.push_back(code);
      sources_.push_back(source);
    });
  }
  bool waitForResults(size_t n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return codes.size() >= n; }, deadline);
  }
  std::vector<int> results() const { return snapshot(&RecordingActionHandler::codes); }
  std::vector<Talvo::IContract*> sources() const { return snapshot(&RecordingActionHandler::sources_); }

 private:
  std::vector<int> codes;
  std::vector<Talvo::IContract*> sources_;
};

// One setting value as the host passes it, a number or a text, and a set of them queued on an adjuster.
struct Value {
  std::string name;
  std::variant<int, std::string> value;
};
using Set = std::vector<Value>;

inline void setValues(Talvo::IAsyncAdjuster* adjuster, const Set& set) {
  for (const Value& v : set) {
    if (const int* number = std::get_if<int>(&v.value))
      adjuster->SetValue(v.name.c_str(), *number);
    else
      adjuster->SetValue(v.name.c_str(), std::get<std::string>(v.value).c_str());
  }
}
