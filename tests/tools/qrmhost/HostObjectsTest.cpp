// What qrmhost hands to a module, checked as a module relies on it: the frame factory refuses
// sizes no picture comes near; and the repository reader's refusals, which end the program with
// status 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ExitError.h"
#include "FrameFactory.h"
#include "Repository.h"

namespace qrmhost {
namespace {

TEST(HostObjects, FrameFactoryRefusesOversizedBuffersAndCountsLiveOnes) {
  FrameFactory factory;
  EXPECT_EQ(factory.AllocateCompressedBuffer("MJPEG", kMaxBufferSize + 1, 0, true), nullptr);
  EXPECT_EQ(factory.AllocateAudioBuffer("G.711", kMaxBufferSize + 1, 0, 64000, 0), nullptr);
  Talvo::MFF::ICompressedBuffer* picture = factory.AllocateCompressedBuffer("MJPEG", 16, 0, true);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(factory.liveBuffers(), 1);
  picture->Destroy();
  EXPECT_EQ(factory.liveBuffers(), 0);
}

TEST(HostObjects, MissingBrokenOrEmptyRepositoryIsAUsageError) {
  const std::filesystem::path path = std::filesystem::path(testing::TempDir()) / "qrmhost-test-models.rep";
  const struct {
    const char* content;  // null: no file
    const char* reason;
  } cases[] = {{nullptr, ": "}, {"{\"models\": [", ": "}, {"{\"name\": \"Fake\"}", ": it has no \"models\" list"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content ? c.content : "no file");
    std::filesystem::remove(path);
    if (c.content) std::ofstream(path) << c.content;
    try {
      readRepository(path);
      ADD_FAILURE() << "read";
    } catch (const ExitError& e) {
      EXPECT_EQ(e.status(), kExitUsage);
      EXPECT_EQ(std::string(e.what()).rfind("cannot read repository " + path.string() + c.reason, 0), 0u) << e.what();
    }
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace qrmhost
