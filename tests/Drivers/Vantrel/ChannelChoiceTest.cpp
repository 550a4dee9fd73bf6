// Which video channel class serves a stream, for models of the shipped repository and for
// variations of them.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ChannelChoice.h"
#include "Nuvlet/include/ModuleDriver.h"
#include "ShippedRepository.h"
#include "host/Nuvlet/Repository.h"

namespace {

using Vantrel::VideoSourceKind;

const Talvo::GDRV::DriverInfo& shippedRepository() {
  static const std::shared_ptr<const Talvo::GDRV::DriverInfo> info = loadShippedRepository();
  return *info;
}

const Talvo::GDRV::ModelEntry& model(const char* name) {
  const auto* entry = Talvo::Utility::findModelEntry(shippedRepository(), "Vantrel", name, "");
  if (!entry) throw std::runtime_error(std::string("no model ") + name);
  return *entry;
}

// The classic choice (the models the channel tests stream from) and a channel past the last
// (ModuleEntryTest) are checked through the device.
TEST(ChannelChoice, VideoClassPerRepositoryModel) {
  const auto kind = [](const char* name, uint32_t channel, uint32_t stream) {
    return Vantrel::chooseVideoSource(model(name), shippedRepository(), channel, stream);
  };
  EXPECT_EQ(kind("VX-T40", 0, 0), VideoSourceKind::Ver2);
  EXPECT_EQ(kind("VX-S10", 0, 2), VideoSourceKind::None) << "no such stream";
  EXPECT_EQ(kind("generic", 4, 0), VideoSourceKind::None) << "no exception for the generic model here";
}

TEST(ChannelChoice, VersionMustBeTheInteger2AndTheStreamKnown) {
  Talvo::GDRV::ModelEntry entry = model("VX-D20");
  const auto kindWith = [&](Talvo::GDRV::PropertyPtr version, std::string* badCast = nullptr) {
    entry.properties = {std::move(version)};
    return Vantrel::chooseVideoSource(entry, shippedRepository(), 0, 0, badCast);
  };
  std::string badCast;
  EXPECT_EQ(kindWith(std::make_shared<Talvo::GDRV::PropertyString>("version", "2"), &badCast),
            VideoSourceKind::Classic);
  EXPECT_TRUE(badCast.empty()) << "a string version is no error";
  EXPECT_EQ(kindWith(std::make_shared<Talvo::GDRV::PropertyInt>("version", 3)), VideoSourceKind::Classic);
  EXPECT_EQ(kindWith(std::make_shared<Talvo::GDRV::PropertyInt>("version", 2)), VideoSourceKind::Ver2);
  entry.videoChannels[0].streams[0].description = "missing";
  EXPECT_EQ(kindWith(std::make_shared<Talvo::GDRV::PropertyInt>("version", 2)), VideoSourceKind::None);
}

}  // namespace
