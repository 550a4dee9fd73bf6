// Defaults, the queue of setting sets, stored values and the codec selection; the settings adjuster:
// typed values reach the queued set, a full queue and a blocked configuration are answered at once.
#include "host/Nuvlet/Parameters.h"
#include "host/Nuvlet/SimpleAdjuster.h"
#include "TestChannels.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace Talvo::Utility;
using Talvo::GDRV::PropertyInt;

std::string shown(const boost::any& value) {
  if (const auto* i = boost::any_cast<int>(&value)) return std::to_string(*i);
  if (const auto* b = boost::any_cast<bool>(&value)) return *b ? "true" : "false";
  if (const auto* d = boost::any_cast<double>(&value)) return std::to_string(*d);
  if (const auto* s = boost::any_cast<std::string>(&value)) return "'" + *s + "'";
  return "?";
}

// Every queued set, popped in order: "<index of its handler in `handlers`, or -> key=value...".
std::vector<std::string> drain(ParametersContainer& parameters,
                               const std::vector<const Talvo::IAsyncActionHandler*>& handlers = {}) {
  std::vector<std::string> sets;
  ParamsMap values;
  Talvo::IAsyncActionHandler* handler = nullptr;
  while (parameters.popParameters(values, handler)) {
    const auto at = std::find(handlers.begin(), handlers.end(), handler);
    std::string text = at == handlers.end() ? "-" : std::to_string(at - handlers.begin());
    for (const auto& [key, value] : values) text += " " + key + "=" + shown(value);
    sets.push_back(text);
  }
  EXPECT_FALSE(parameters.hasPending());
  return sets;
}

TEST(ParametersContainerTest, PersistentValueIsStoredElseDefaultElseEmpty) {
  ParametersContainer parameters;
  parameters.setDefaults({{"fps", 20}, {"resolution", std::string("1280x720")}});
  EXPECT_EQ(shown(parameters.getPersistentParam("fps")), "20");
  parameters.setPersistentParam("fps", 25);
  parameters.updateParams({{"resolution", std::string("640x360")}, {"volume", 3}});
  EXPECT_EQ(shown(parameters.getPersistentParam("fps")) + shown(parameters.getDefaultValue("fps")) +
                shown(parameters.getPersistentParam("resolution")) + shown(parameters.getPersistentParam("volume")),
            "2520'640x360'3");
  EXPECT_TRUE(parameters.getPersistentParam("missing").empty());
  EXPECT_TRUE(parameters.getDefaultValue("missing").empty());
  EXPECT_EQ(anyOr<std::string>(parameters.getPersistentParam("fps"), "other type"), "other type");
}

// Sets come out in order with their handlers; a full queue refuses and drops the set being built.
TEST(ParametersContainerTest, SetsArePoppedInOrderAndAFullQueueDropsTheSet) {
  ParametersContainer parameters;
  RecordingActionHandler first, second;
  parameters.setValue("fps", 10);
  parameters.setValue("fps", 12);
  ASSERT_TRUE(parameters.queueChanges(&first));
  parameters.setValue("volume", 5);
  ASSERT_TRUE(parameters.queueChanges(&second));
  ASSERT_TRUE(parameters.queueChanges(nullptr));
  EXPECT_TRUE(parameters.getPersistentParam("fps").empty()) << "a queued value is not applied yet";
  EXPECT_EQ(drain(parameters, {&first, &second}), (std::vector<std::string>{"0 fps=12", "1 volume=5", "-"}));

  for (size_t i = 0; i < ParametersContainer::kMaxPendingSets; ++i) {
    parameters.setValue("n", static_cast<int>(i));
    ASSERT_TRUE(parameters.queueChanges(nullptr)) << i;
  }
  parameters.setValue("dropped", true);
  EXPECT_FALSE(parameters.queueChanges(nullptr));
  const auto sets = drain(parameters);
  ASSERT_EQ(sets.size(), ParametersContainer::kMaxPendingSets);
  EXPECT_EQ(sets.front() + "|" + sets.back(), "- n=0|- n=63");
  parameters.setValue("after", 1);
  ASSERT_TRUE(parameters.queueChanges(nullptr));
  EXPECT_EQ(drain(parameters), std::vector<std::string>{"- after=1"});
}

Talvo::GDRV::PropertyPtr intProperty(const char* name, int value) { return std::make_shared<PropertyInt>(name, value); }

Talvo::GDRV::ModelEntry twoStreamModel() {
  Talvo::GDRV::ModelEntry model;
  Talvo::GDRV::VideoChannelDescription video;
  video.settings = {intProperty("fps", 20), intProperty("compression", 2)};
  video.streams.push_back({"main", {intProperty("keyFrameInterval", 10)}});
  video.streams.push_back({"push", {intProperty("fps", 5)}});
  model.videoChannels.push_back(video);
  Talvo::GDRV::ChannelDescription audio;
  audio.settings = {intProperty("volume", 10)};
  model.audioSources.push_back(audio);
  return model;
}

// Stream settings override channel settings; a channel or stream beyond the model takes the last.
// Audio takes its own; an empty model gives nothing.
TEST(InitializeParamsTest, StreamSettingsOverrideChannelSettingsAndTheLastStandsForMore) {
  const auto model = twoStreamModel();
  const Talvo::GDRV::DriverInfo info;
  const struct {
    uint32_t channel, stream;
    int fps, keyFrameInterval;  // -1: not set
  } cases[] = {{0, 0, 20, 10}, {0, 1, 5, -1}, {7, 9, 5, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.channel) + "." + std::to_string(c.stream));
    ParametersContainer parameters;
    ParamsMap initial;
    videoSourceInitializeParams(parameters, c.channel, c.stream, model, info, initial);
    EXPECT_EQ(anyOr<int>(initial["fps"], -1), c.fps);
    EXPECT_EQ(anyOr<int>(parameters.getDefaultValue("fps"), -1), c.fps);
    EXPECT_EQ(anyOr<int>(initial["compression"], -1), 2);
    EXPECT_EQ(anyOr<int>(parameters.getPersistentParam("keyFrameInterval"), -1), c.keyFrameInterval);
  }
  ParametersContainer source;
  ParamsMap initial, empty;
  audioSourceInitializeParams(source, 0, model, info, initial);
  EXPECT_EQ(anyOr<int>(source.getPersistentParam("volume"), 0), 10);
  ParametersContainer none;
  videoSourceInitializeParams(none, 0, 0, Talvo::GDRV::ModelEntry(), info, empty);
  audioSourceInitializeParams(none, 3, Talvo::GDRV::ModelEntry(), info, empty);
  EXPECT_TRUE(empty.empty());
}

TEST(CodecSelectionTest, CodecParameterByIdentifierOrName) {
  Talvo::GDRV::DriverInfo info;
  info.codecs["zelta"] = {"Zelta", "0"};
  info.codecs["mjpeg"] = {"MJPEG", "1"};
  info.codecs["h264"] = {"H264", "h264"};
  ParametersContainer parameters;
  const auto codec = [&](const char* fallback) {
    return getCodecName(parameters, info, fallback) + " " + getCodecValue(parameters, info, fallback);
  };
  EXPECT_EQ(codec("Zelta"), "Zelta 0");
  EXPECT_EQ(getCodecValue(parameters, info, "Unknown"), "");
  parameters.setDefaults({{"codec", std::string("h264")}});
  EXPECT_EQ(codec("Zelta"), "H264 h264");
  parameters.setPersistentParam("codec", std::string("MJPEG"));
  EXPECT_EQ(codec("Zelta"), "MJPEG 1");
  parameters.setPersistentParam("codec", std::string("nope"));
  EXPECT_EQ(codec("MJPEG"), "MJPEG 1");
  EXPECT_EQ(getCodecName(parameters, info, "Zelta"), "Zelta");
  parameters.setPersistentParam("codec", 1);
  EXPECT_EQ(getCodecName(parameters, info, "Zelta"), "Zelta");
}

class TestAdjuster : public SimpleAdjuster {
 public:
  TestAdjuster() : SimpleAdjuster(this) {}
  void* Cast(const char* t) override { return QueryContract(t); }
  void* QueryContract(const char*) override { return nullptr; }
};

TEST(SimpleAdjusterTest, SetValueStoresTypedValuesForTheNextSet) {
  TestAdjuster adjuster;
  adjuster.SetValue("flag", true);
  adjuster.SetValue("fps", 12);
  adjuster.SetValue("ratio", 0.5);
  adjuster.SetValue("resolution", "640x360");
  adjuster.SetValue("empty", static_cast<const char*>(nullptr));
  adjuster.SetValue(nullptr, 3);
  adjuster.SetValue(nullptr, "x");
  RecordingActionHandler handler;
  adjuster.ApplySettings(&handler);
  EXPECT_TRUE(handler.results().empty()) << "the worker answers a queued set";
  EXPECT_EQ(drain(adjuster.parameters(), {&handler}),
            std::vector<std::string>{"0 empty='' flag=true fps=12 ratio=0.500000 resolution='640x360'"});
}

TEST(SimpleAdjusterTest, FullQueueAndBlockedConfigurationAreAnsweredAtOnce) {
  TestAdjuster adjuster;
  RecordingActionHandler handler;
  for (size_t i = 0; i < ParametersContainer::kMaxPendingSets; ++i) adjuster.ApplySettings(&handler);
  EXPECT_TRUE(handler.results().empty());
  adjuster.ApplySettings(&handler);
  adjuster.ApplySettings(nullptr);  // nobody to answer
  EXPECT_EQ(handler.results(), std::vector<int>{16});
  EXPECT_EQ(handler.sources(), std::vector<Talvo::IContract*>{&adjuster});

  EXPECT_FALSE(adjuster.processBlockingConfiguration({}, &handler));
  adjuster.parameters().setPersistentParam("blockConfiguration", true);
  EXPECT_TRUE(adjuster.processBlockingConfiguration({}, &handler));
  EXPECT_TRUE(adjuster.processBlockingConfiguration({}, nullptr));
  EXPECT_EQ(handler.results(), (std::vector<int>{16, 0}));
  adjuster.parameters().setPersistentParam("blockConfiguration", std::string("true"));
  EXPECT_FALSE(adjuster.processBlockingConfiguration({}, &handler)) << "only a bool blocks";
}

}  // namespace
