#include "suffixarray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace velpatch {
namespace {

TEST(SuffixArray, SortsSuffixesAfterTheEmptyOne) {
  const std::string texts[] = {
      "", "a", "banana", "aaaaaaa", std::string("abracadabra\0x", 13), "mississippi"};
  for (const std::string& text : texts) {
    SuffixArray sa;
    ASSERT_TRUE(sa.Build(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    ASSERT_EQ(sa.size(), text.size() + 1) << text;
    EXPECT_EQ(sa.position(0), static_cast<int32_t>(text.size())) << text;
    // Expected order from plain string comparison of every suffix.
    std::vector<int32_t> expected(text.size());
    for (size_t i = 0; i < text.size(); ++i) expected[i] = static_cast<int32_t>(i);
    std::sort(expected.begin(), expected.end(), [&](int32_t a, int32_t b) {
      return text.compare(a, std::string::npos, text, b) < 0;
    });
    for (size_t i = 0; i < text.size(); ++i) {
      EXPECT_EQ(sa.position(i + 1), expected[i]) << text << " entry " << i + 1;
      EXPECT_EQ(sa.prefix(i + 1),
                SuffixArray::Prefix(reinterpret_cast<const uint8_t*>(text.data()) + expected[i],
                                    text.size() - expected[i]));
    }
    // Each entry lies in the range of its first two bytes (a last single byte counts as
    // followed by a zero), and the ranges cover the entries after the empty suffix in order.
    for (size_t i = 1; i < sa.size(); ++i) {
      const uint32_t pair = sa.prefix(i) >> 16;
      EXPECT_LE(sa.first_with(pair), i) << text << " entry " << i;
      EXPECT_GT(sa.first_with(pair + 1), i) << text << " entry " << i;
    }
    EXPECT_EQ(sa.first_with(0), 1u) << text;
    EXPECT_EQ(sa.first_with(SuffixArray::kPairs), sa.size()) << text;
  }
}

TEST(SuffixArray, PrefixIsBigEndianAndZeroPadded) {
  const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  EXPECT_EQ(SuffixArray::Prefix(bytes, 5), 0x12345678u);
  EXPECT_EQ(SuffixArray::Prefix(bytes, 2), 0x12340000u);
  EXPECT_EQ(SuffixArray::Prefix(bytes, 0), 0u);
}

TEST(SuffixArray, LargerRandomTextIsSorted) {
  std::mt19937 rng(3);
  std::vector<uint8_t> text(20000);
  for (uint8_t& b : text) b = static_cast<uint8_t>(rng() % 4);  // many long repeats
  SuffixArray sa;
  ASSERT_TRUE(sa.Build(text.data(), text.size()));
  for (size_t i = 2; i < sa.size(); ++i) {
    const size_t a = sa.position(i - 1), b = sa.position(i);
    EXPECT_TRUE(
        std::lexicographical_compare(text.begin() + a, text.end(), text.begin() + b, text.end()))
        << "entries " << i - 1 << " and " << i;
  }
}

}  // namespace
}  // namespace velpatch
