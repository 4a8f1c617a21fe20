#include "storage/text_lines.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

// The pieces fgets into a buffer of 5 bytes would give.
TEST(TextLines, PiecesAsAFixedBufferReadsThem) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string text;
    Lines expected;
  } cases[] = {
      {"", {}},
      {"ab\ncd", {"ab\n", "cd"}},
      {"abcd\n", {"abcd", "\n"}},  // four bytes fill the buffer, the feed comes alone
      {"abcdefghij\nk\n", {"abcd", "efgh", "ij\n", "k\n"}},
      {std::string("a\0b\nc\n", 6), {"a", "c\n"}},  // the NUL ends the text, not the piece
      {"\n\n", {"\n", "\n"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitTextLines(c.text, 5), c.expected) << c.text;
}

}  // namespace
}  // namespace qb
