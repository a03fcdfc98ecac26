// Memory sizes given on the command line.
#include "cli/memory_size.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessel {
namespace {

struct SizeCase {
  std::string text;
  std::optional<std::size_t> bytes;
};

TEST(MemorySize, ParsesBytesAndSuffixes) {
  constexpr std::size_t K = 1024, M = K * K, G = M * K;
  const std::vector<SizeCase> cases = {
      {"4194304", 4 * M},
      {"4194303", std::nullopt},  // below the least a search needs
      {"4096K", 4 * M},
      {"4096k", 4 * M},
      {"4095K", std::nullopt},
      {"4M", 4 * M},
      {"512m", 512 * M},
      {"1G", G},
      {"1g", G},
      {"24G", 24 * G},
      {"0024G", 24 * G},
      {"3M", std::nullopt},
      {"0", std::nullopt},
      {"0G", std::nullopt},
      {"", std::nullopt},
      {"G", std::nullopt},
      {"-1G", std::nullopt},
      {"+1G", std::nullopt},
      {" 1G", std::nullopt},
      {"1G ", std::nullopt},
      {"1 G", std::nullopt},
      {"1.5G", std::nullopt},
      {"1GB", std::nullopt},
      {"1T", std::nullopt},
      {"1KM", std::nullopt},
      {"0x100000", std::nullopt},
      {"abc", std::nullopt},
      {"18446744073709551615", std::size_t{18446744073709551615ull}},
      {"18446744073709551616", std::nullopt},  // one past the largest size
      {"99999999999999999999999", std::nullopt},
      {"17179869184G", std::nullopt},  // 2^34 GiB = 2^64 bytes: overflows when scaled
      {"17179869183G", std::size_t{17179869183ull} * G},
      {"17179869183M", std::size_t{17179869183ull} * M},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_memory_size(c.text), c.bytes) << "[" << c.text << "]";
}

}  // namespace
}  // namespace tessel
