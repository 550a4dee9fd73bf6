// Defaults, the queue of setting sets, stored values and the codec selection; the settings adjuster:
// typed values reach the queued set, a full queue and a blocked configuration are answered at once.
// Loading the model repository: each kind of bad file, and the defaults of the shipped one.
#include "host/Nuvlet/Parameters.h"
#include "host/Nuvlet/SimpleAdjuster.h"
#include "host/Nuvlet/Repository.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

#include "TestChannels.h"
#include "CapturingLogger.h"
#include "ScratchFolder.h"
#include "ShippedRepository.h"

namespace {

using namespace Talvo::Utility;
using namespace Talvo::GDRV;

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

// Stream settings override channel settings; a channel or stream beyond the model takes the last.
// Audio takes its own; an empty model gives nothing.
TEST(InitializeParamsTest, StreamSettingsOverrideChannelSettingsAndTheLastStandsForMore) {
  const auto property = [](const char* name, int value) { return std::make_shared<PropertyInt>(name, value); };
  ModelEntry model;  // a video channel's settings and its streams "main" and "push"; an audio source
  model.videoChannels.push_back({{{}, {property("fps", 20), property("compression", 2)}},
                                 {{"main", {property("keyFrameInterval", 10)}}, {"push", {property("fps", 5)}}}});
  model.audioSources.push_back({{}, {property("volume", 10)}});
  const DriverInfo info;
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
  ParametersContainer source, none;
  ParamsMap initial, empty;
  audioSourceInitializeParams(source, 0, model, info, initial);
  EXPECT_EQ(anyOr<int>(source.getPersistentParam("volume"), 0), 10);
  videoSourceInitializeParams(none, 0, 0, ModelEntry(), info, empty);
  audioSourceInitializeParams(none, 3, ModelEntry(), info, empty);
  EXPECT_TRUE(empty.empty());
}

TEST(CodecSelectionTest, CodecParameterByIdentifierOrName) {
  DriverInfo info;
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

TEST(SimpleAdjusterTest, SetValueFillsTheNextSetAFullQueueAndABlockedConfigurationAreAnsweredAtOnce) {
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

// A valid repository; tests replace parts of it.
const std::string kMinimal = R"({
  "name": "Vantrel", "number": 378,
  "codecs": {"zelta": {"name": "Zelta", "value": "0"}, "mjpeg": {"name": "MJPEG", "value": "1"}},
  "streams": {"main": ["zelta", "mjpeg"]},
  "detectors": {"motion": {"properties": {"detectionType": "motion_detection"}, "settings": {"sensitivity": 50}}},
  "models": [{
    "identities": [{"vendor": "Vantrel", "model": "VX-A", "firmware": ["1.0"]}],
    "properties": {"version": 2, "label": "2", "night": true, "ratio": 2.5, "offset": -3},
    "video": [{"parameters": {"isOneLens": 1}, "settings": {"fps": 20},
               "streams": [{"description": "main", "settings": {"keyFrameInterval": 10}}]}],
    "detectors": ["motion"]
  }]
})";

// kMinimal with its one `from` replaced by `to`.
std::string edited(const std::string& from, const std::string& to) {
  std::string text = kMinimal;
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

class RepositoryTest : public ::testing::Test {
 protected:
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << content; }

  // Loads `path` into an info that holds a marker, and checks that a failure leaves it alone.
  int load(const std::string& path) {
    info_ = DriverInfo();
    info_.name = "unchanged";
    RepoLoader loader(&logger_);
    const int result = loader.load(path, info_);
    if (result != 0) {
      EXPECT_EQ(info_.name, "unchanged");
      EXPECT_TRUE(info_.models.empty());
      EXPECT_EQ(" " + loader.lastError(), logger_.lines().back().message);
    } else {
      EXPECT_EQ(loader.lastError(), "");
    }
    return result;
  }
  ScratchFolder folder_;
  const std::string path_ = folder_.file("Orsel.Vantrel.rep");
  CapturingLogger logger_{3};
  DriverInfo info_;
};

// An unreadable file ("@PATH": the path loaded) gives 1, bad content (written to the file) 2; the
// one logged line names the problem. Without a logger only the result and lastError tell.
TEST_F(RepositoryTest, EachKindOfBadFileGivesItsResultAndNamesTheProblem) {
  const std::pair<std::string, std::string> cases[] = {
      {"@" + folder_.file("missing.rep"), "cannot be opened (No such file or directory)"},
      {"@" + folder_.path().string(), "is not a regular file"},
      {edited(R"("number": 378)", R"("number": 378, "name": "x")"),
       "JSON error at line 2, column 42: duplicate member 'name'"},
      {edited(R"("name": "Vantrel", )", ""), "member 'name' is missing"},
      {edited("378", "3000000000"), "number: integer out of range"},
      {edited(R"("models": [{)", R"("models": [], "x": [{)"), "unknown member 'x'"},
      {edited(R"([{"vendor": "Vantrel", "model": "VX-A", "firmware": ["1.0"]}])", "[]"),
       "models[0].identities: must not be empty"},
      {edited(R"(["1.0"])", "[1.0]"), "models[0].identities[0].firmware[0]: must be a string, not a number"},
      {edited(R"("description": "main")", R"("description": "x")"),
       "models[0].video[0].streams[0]: stream description 'x' is not defined"},
      {edited(R"(["zelta", "mjpeg"])", R"(["zelta", "nope"])"), "streams.main[1]: codec 'nope' is not defined"},
      {edited(R"("detectors": ["motion"])", R"("detectors": ["nope"])"),
       "models[0].detectors[0]: detector 'nope' is not defined"},
      {edited(R"("fps": 20)", R"("fps": [20])"),
       "models[0].video[0].settings.fps: must be a boolean, a number or a string, not an array"},
      {edited(R"("settings": {"fps")", R"("setings": {"fps")"), "models[0].video[0]: unknown member 'setings'"},
      {edited(R"("detectors": ["motion"])", R"("io": [{"parameters": {}}])"),
       "models[0].io[0]: member 'kind' is missing"},
      {std::string(65, '[') + std::string(65, ']'), "JSON error at line 1, column 65: nesting deeper than 64 levels"},
      {std::string(64, '[') + std::string(64, ']'), "the document: must be an object, not an array"},
      {R"({"name": "Vantrel", "number": 378, "models": []})", "models: must not be empty"},
      {kMinimal + std::string(4u * 1024 * 1024, ' '), "is larger than 4 MiB"},
  };
  for (const auto& [content, problem] : cases) {
    SCOPED_TRACE(problem);
    logger_.clear();
    const bool unreadable = content.rfind("@", 0) == 0;
    const std::string path = unreadable ? content.substr(1) : path_;
    if (!unreadable) write(content);
    EXPECT_EQ(load(path), unreadable ? 1 : 2);
    const auto lines = logger_.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(std::to_string(lines[0].level) + " " + lines[0].function + " " + lines[0].file,
              "3 load Nuvlet/src/Repository");
    EXPECT_EQ(lines[0].message.rfind(" Repository '" + path + "': " + problem, 0), 0u) << lines[0].message;
  }
  write("{");
  DriverInfo info;
  RepoLoader loader(nullptr);
  EXPECT_EQ(loader.load(path_, info), 2);
  EXPECT_NE(loader.lastError().find("JSON error"), std::string::npos);
}

template <class Property>
const Property* propertyAs(const Properties& properties, const std::string& name) {
  return dynamic_cast<const Property*>(findProperty(properties, name));
}

int intOf(const Properties& properties, const std::string& name) {
  const auto* p = propertyAs<PropertyInt>(properties, name);
  return p ? p->value : -1;
}

TEST_F(RepositoryTest, ValuesKeepTheirJsonType) {
  write(kMinimal);
  ASSERT_EQ(load(path_), 0) << logger_.dump();
  ASSERT_EQ(info_.models.size(), 1u);
  const Properties& properties = info_.models[0].properties;
  const auto* ratio = propertyAs<PropertyDouble>(properties, "ratio");
  ASSERT_TRUE(ratio && propertyAs<PropertyBool>(properties, "night"));
  EXPECT_EQ(intOf(properties, "version"), 2);
  EXPECT_DOUBLE_EQ(ratio->value, 2.5);
  EXPECT_NE(propertyAs<PropertyString>(properties, "label"), nullptr) << "\"2\" stays a text";
  EXPECT_EQ(info_.streamCodecs.at("main"), (std::vector<std::string>{"zelta", "mjpeg"}));
}

TEST(ShippedRepository, EveryVideoStreamHasTheDefaultsTheDeviceReads) {
  const auto shipped = loadShippedRepository();
  std::set<int> responseOnCall;
  for (const auto& m : shipped->models) {
    for (uint32_t channel = 0; channel < m.videoChannels.size(); ++channel) {
      for (uint32_t stream = 0; stream < m.videoChannels[channel].streams.size(); ++stream) {
        SCOPED_TRACE(m.identities[0].model + " video " + std::to_string(channel) + "." + std::to_string(stream));
        ParametersContainer parameters;
        ParamsMap initial;
        videoSourceInitializeParams(parameters, channel, stream, m, *shipped, initial);
        EXPECT_FALSE(anyOr<std::string>(initial["resolution"], "").empty());
        for (const char* name : {"compression", "fps", "keyFrameInterval", "frameReportInterval"})
          EXPECT_NE(anyOr<int>(initial[name], -1), -1) << name;
        const std::string codec = anyOr<std::string>(initial["codec"], "");
        const auto& allowed = shipped->streamCodecs.at(m.videoChannels[channel].streams[stream].description);
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), codec), allowed.end()) << codec;
      }
    }
    for (const auto& source : m.audioSources) EXPECT_EQ(intOf(source.settings, "volume"), 10);
    for (const auto& destination : m.audioDestinations)
      responseOnCall.insert(intOf(destination.parameters, "isResponseOnCall"));
  }
  EXPECT_EQ(responseOnCall, (std::set<int>{0, 1}));
}

}  // namespace
