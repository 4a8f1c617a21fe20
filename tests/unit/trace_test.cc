// The trace's texts in the program's code page.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qb {
namespace {

std::string Traced(const char* format, const char* argument) {
  StartTraceCapture();
  TraceLog(format, argument);
  std::vector<std::string> lines = TakeCapturedTrace();
  StopTraceCapture();
  return lines.empty() ? std::string() : lines[0];
}

// Under code page 932 the Japanese texts go out as code page 932 bytes,
// while names already in that code page pass through unchanged.
TEST(TraceCodePage, JapaneseTextsFollowTheCodePage) {
  const std::string cp932Name = "\x95\x5C.tif";  // a name whose second byte is a backslash
  ::setenv("QUILLBOX_CODEPAGE", "932", 1);
  EXPECT_EQ(Traced("接続を待機しています%s", cp932Name.c_str()),
            "\x90\xDA\x91\xB1\x82\xF0\x91\xD2\x8B\x40\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7" +
                cp932Name);
  EXPECT_EQ(Traced("  Save FName=%s", "a.tif"), "  Save FName=a.tif");
  ::setenv("QUILLBOX_CODEPAGE", "65001", 1);
  EXPECT_EQ(Traced("接続を待機しています%s", ""), "接続を待機しています");
  ::unsetenv("QUILLBOX_CODEPAGE");
}

}  // namespace
}  // namespace qb
