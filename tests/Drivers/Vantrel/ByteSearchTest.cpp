// The video source's pattern search against a plain reference on random data: short blocks put the
// patterns at every block edge, crowded ones force the linear way with many false starts.
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ByteSearch.h"

namespace {

using Vantrel::Needle;

const std::string kBoundary = "--VANTREL_Fast_Serverpush\r\n";
const std::string kEventEnd = "ENDSECTION EVENT\r\n";
const std::string kAudio = "\xFF\xD9\xFF\xED";

size_t reference(const std::vector<uint8_t>& data, size_t from, const std::string& pattern) {
  const std::vector<uint8_t> bytes(pattern.begin(), pattern.end());  // compared as unsigned bytes
  const auto found = std::search(data.begin() + from, data.end(), bytes.begin(), bytes.end());
  return found == data.end() ? Needle::kNotFound : size_t(found - data.begin());
}

// The first needle exactly, the others where before it; searched in an exactly sized heap block
// for the address sanitizer.
void expectLikeReference(const std::vector<uint8_t>& data, size_t from, const std::vector<std::string>& patterns) {
  std::vector<Needle> needles;
  for (const auto& p : patterns) needles.push_back({reinterpret_cast<const uint8_t*>(p.data()), p.size()});
  const std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(data.size(), 1)]);
  std::copy(data.begin(), data.end(), copy.get());
  Vantrel::findNeedles(copy.get(), from, data.size(), needles.data(), needles.size());
  const size_t first = reference(data, from, patterns[0]);
  ASSERT_EQ(needles[0].at, first) << "size " << data.size() << " from " << from;
  for (size_t n = 1; n < patterns.size(); ++n) {
    const size_t expected = reference(data, from, patterns[n]);
    if (expected < first || first == Needle::kNotFound) {
      EXPECT_EQ(needles[n].at, expected) << "needle " << n;
    }
  }
}

TEST(ByteSearch, RandomDataWithPlantedPatterns) {
  std::mt19937 random(11);
  const std::vector<std::string> patterns = {kBoundary, kEventEnd, kAudio};
  const uint8_t fewBytes[] = {'-', '\n', 0xFF, 0xED, 'E'};  // many false starts: the linear way
  for (int round = 0; round < 4000; ++round) {
    const bool crowded = round % 4 == 0;
    std::vector<uint8_t> data(random() % (crowded ? 5000 : 300));
    for (auto& b : data) b = crowded ? fewBytes[random() % 5] : uint8_t(random());
    // Plant some patterns, sometimes overlapping the end or each other.
    for (int k = random() % 4; k > 0; --k) {
      const std::string& p = patterns[random() % patterns.size()];
      if (data.size() < p.size()) continue;
      const size_t at = random() % (data.size() - p.size() + 1);
      std::copy(p.begin(), p.end(), data.begin() + at);
    }
    const size_t from = data.empty() ? 0 : random() % (data.size() + 1);
    expectLikeReference(data, from, patterns);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
