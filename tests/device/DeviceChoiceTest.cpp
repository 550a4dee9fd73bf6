// The device's class choices for every model of the shipped repository, and the Zelta frame kind.
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "Device.h"
#include "ShippedRepository.h"
#include "Nuvlet/include/ModuleDriver.h"

namespace {

using Vantrel::DetectorKind;
using Vantrel::IODeviceKind;
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

VideoSourceKind videoKind(const Talvo::GDRV::ModelEntry& entry, uint32_t channel, uint32_t stream) {
  return Vantrel::chooseVideoSource(entry, shippedRepository(), channel, stream);
}

TEST(DeviceChoice, VideoClassPerRepositoryModel) {
  EXPECT_EQ(videoKind(model("VX-S10"), 0, 0), VideoSourceKind::Classic) << "version 1";
  EXPECT_EQ(videoKind(model("VX-S10"), 0, 1), VideoSourceKind::Classic);
  EXPECT_EQ(videoKind(model("VX-D20"), 0, 0), VideoSourceKind::Ver2);
  EXPECT_EQ(videoKind(model("VX-D21"), 0, 0), VideoSourceKind::Ver2);
  EXPECT_EQ(videoKind(model("VX-T40"), 0, 0), VideoSourceKind::Ver2);
  EXPECT_EQ(videoKind(model("VX-H30"), 0, 0), VideoSourceKind::Rtsp) << "JPEG first, H264 second";
  EXPECT_EQ(videoKind(model("VX-H30"), 1, 0), VideoSourceKind::Classic);
  EXPECT_EQ(videoKind(model("VX-P50"), 0, 0), VideoSourceKind::Classic) << "no version property";
  EXPECT_EQ(videoKind(model("generic"), 0, 0), VideoSourceKind::Classic);
}

TEST(DeviceChoice, BadIndicesGiveNoVideoClassEvenForTheGenericModel) {
  EXPECT_EQ(videoKind(model("VX-S10"), 0, 2), VideoSourceKind::None);
  EXPECT_EQ(videoKind(model("VX-S10"), 1, 0), VideoSourceKind::None);
  EXPECT_EQ(videoKind(model("generic"), 4, 0), VideoSourceKind::None);
}

TEST(DeviceChoice, VersionMustBeTheInteger2) {
  Talvo::GDRV::ModelEntry entry = model("VX-D20");
  entry.properties = {std::make_shared<Talvo::GDRV::PropertyString>("version", "2")};
  std::string badCast;
  EXPECT_EQ(Vantrel::chooseVideoSource(entry, shippedRepository(), 0, 0, &badCast), VideoSourceKind::Classic);
  EXPECT_TRUE(badCast.empty()) << "a string version is no error";
  entry.properties = {std::make_shared<Talvo::GDRV::PropertyInt>("version", 3)};
  EXPECT_EQ(videoKind(entry, 0, 0), VideoSourceKind::Classic);
  entry.properties = {std::make_shared<Talvo::GDRV::PropertyInt>("version", 2)};
  EXPECT_EQ(videoKind(entry, 0, 0), VideoSourceKind::Ver2);
}

TEST(DeviceChoice, UnknownStreamDescriptionGivesNothing) {
  Talvo::GDRV::ModelEntry entry = model("VX-S10");
  entry.videoChannels[0].streams[0].description = "missing";
  EXPECT_EQ(videoKind(entry, 0, 0), VideoSourceKind::None);
}

TEST(DeviceChoice, IOClassByKindName) {
  std::vector<IODeviceKind> kinds;
  for (const auto& io : model("VX-IO60").ioDevices) kinds.push_back(Vantrel::chooseIODevice(io.kind));
  EXPECT_EQ(kinds, (std::vector<IODeviceKind>{IODeviceKind::Classic, IODeviceKind::Zl232IOBox, IODeviceKind::ZlBusIO,
                                              IODeviceKind::Zl232Gen}));
  EXPECT_EQ(Vantrel::chooseIODevice("iodev_3X1"), IODeviceKind::None) << "case-sensitive";
  EXPECT_EQ(Vantrel::chooseIODevice(""), IODeviceKind::None);
}

TEST(DeviceChoice, DetectorByDetectionType) {
  const auto& info = shippedRepository();
  EXPECT_EQ(Vantrel::detectionTypeOf(info, "motion"), "motion_detection");
  EXPECT_EQ(Vantrel::detectionTypeOf(info, "motion_detection"), "motion_detection") << "no property: the id";
  EXPECT_EQ(Vantrel::detectionTypeOf(info, "tamper"), "tamper") << "unknown detector: the id";
  EXPECT_EQ(Vantrel::chooseDetector(Vantrel::detectionTypeOf(info, "shock")), DetectorKind::Shock);
  EXPECT_EQ(Vantrel::chooseDetector(Vantrel::detectionTypeOf(info, "ir")), DetectorKind::Ir);
  EXPECT_EQ(Vantrel::chooseDetector(Vantrel::detectionTypeOf(info, "thermal")), DetectorKind::Thermal);
  EXPECT_EQ(Vantrel::chooseDetector(Vantrel::detectionTypeOf(info, "temperatures")), DetectorKind::Temperatures);
  EXPECT_EQ(Vantrel::chooseDetector(Vantrel::detectionTypeOf(info, "motion_reversed")), DetectorKind::Motion);
  EXPECT_EQ(Vantrel::chooseDetector("Motion_detection"), DetectorKind::None);
}

int frameKind(const std::vector<uint8_t>& bytes) { return Vantrel::getZeltaFrameKind(bytes.data(), bytes.size()); }

TEST(ZeltaFrameKind, TablesScanAndBrokenWalks) {
  EXPECT_EQ(frameKind({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x00}), 0) << "shorter than 7 bytes";
  EXPECT_EQ(frameKind({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x00, 0x00}), 1);
  EXPECT_EQ(frameKind({0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x00, 0x00}), 1);
  EXPECT_EQ(frameKind({0xFF, 0xD8, 0xFF, 0xDA, 0x01, 0x02, 0x03, 0x04}), 2);
  EXPECT_EQ(frameKind({0xFF, 0xD9, 0xFF, 0xDA, 0x01, 0x02, 0x03}), 0) << "no start of image";
  // APP0 of length 4, then a quantisation table or a scan.
  const std::vector<uint8_t> app0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0xAA, 0xBB};
  auto with = [&](std::vector<uint8_t> tail) {
    std::vector<uint8_t> bytes = app0;
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
  };
  EXPECT_EQ(frameKind(with({0xFF, 0xDB, 0, 0, 0, 0, 0})), 1);
  EXPECT_EQ(frameKind(with({0xFF, 0xDA, 0, 0, 0, 0, 0})), 2);
  EXPECT_EQ(frameKind(with({0x00, 0xDA, 0, 0, 0, 0, 0})), 0) << "the next marker must start with FF";
  EXPECT_EQ(frameKind(with({0xFF, 0xDA, 0, 0})), 0) << "a marker within 4 bytes of the end";
  // A length that points past the end is no frame, not a read past it.
  EXPECT_EQ(frameKind({0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0x00, 0x00}), 0);
}

TEST(ZeltaFrameKind, RandomBytesNeverReadOutside) {
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes(3 + random() % 40);
    for (auto& b : bytes) b = random() % 4 == 0 ? 0xFF : uint8_t(random());
    bytes[0] = 0xFF;
    bytes[1] = 0xD8;
    bytes[2] = 0xFF;
    // A heap copy of exactly the right size, so that the address sanitizer sees any overread.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const int kind = Vantrel::getZeltaFrameKind(exact.get(), bytes.size());
    ASSERT_GE(kind, 0);
    ASSERT_LE(kind, 2);
  }
}

}  // namespace
