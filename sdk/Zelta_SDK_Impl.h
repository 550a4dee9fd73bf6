// Zelta_SDK over one Zelta_Main: every operation forwards to the main object's parts.
#pragma once

#include <memory>

#include "Zelta_Main.h"
#include "Zelta_SDK.h"

namespace Zelta {

class Zelta_SDK_Impl : public Zelta_SDK {
 public:
  static constexpr int kNoMain = -2;

  explicit Zelta_SDK_Impl(std::unique_ptr<Zelta_Main> main);

  int stream_setup(const std::string& url) override;
  void stepLoop() override;
  int close(bool autoReconnect) override;
  int connect() override;
  int networkStatus() const override;
  void setLogLevel(bool enable, int level) override;

  int audioOutput(bool enable) override;
  void setAudioOutputName(const std::string& name) override;
  int videoEnable(bool enable) override;
  int size(int width, int height, bool configMode) override;
  int thermalRaw(bool enable) override;
  int live() override;
  int mode(const std::string& name) override;
  int fps(double value) override;
  int setRate(double value) override;
  int sensor(const std::string& name) override;
  int displayMode(const std::string& mode, bool configMode) override;
  int ptzClick(int x, int y) override;
  int ptzZoom(double factor) override;
  int ptzPan(int dx, int dy) override;
  int rotorCommand(int cmd, int para1, int para2, int para3, int ptzWindow, bool configMode) override;
  int play(int64_t seconds, int64_t microseconds) override;
  int pause() override;
  int seek(const std::string& wellKnownPosition) override;
  int jump(int offset) override;
  int show() override;

  int getNextCommandId() override;
  int sendRawCommand(int id, const std::string& text) override;
  void setAudioSendCodec(uint32_t codec) override;
  size_t sendAudio(const Zelta_Audio* audio) override;

  Zelta_Main* main() { return m_main.get(); }

 private:
  // The setup's result, or kNoMain before the stream was set up.
  template <typename Call>
  int withSetup(Call call);

  std::unique_ptr<Zelta_Main> m_main;
};

}  // namespace Zelta
