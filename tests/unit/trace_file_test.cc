// The trace file stays bounded however long the receiver traces.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/trace.h"
#include "test_root.h"

namespace qb {
namespace {

class TraceFile : public ::testing::Test {
 protected:
  void SetUp() override { SetTraceMode(2); }
  void TearDown() override { SetTraceMode(0); }

  std::string Path() const { return root_.path() + "/tmp/qbxLog.log"; }
  void FillToTheLimit() const {
    std::ofstream(Path()) << std::string(static_cast<size_t>(kTraceFileMax), 'x');
  }

  test::TestRoot root_;
};

// Each line's time stamp checked for its form and taken off.
std::string WithoutTimeStamps(const std::string& text) {
  const std::string stamp = "dddd-dd-ddTdd:dd:dd.ddd ";
  std::string out;
  for (const std::string& line : test::Lines(text)) {
    const bool stamped = test::StartsWithShape(line, stamp);
    EXPECT_TRUE(stamped) << line;
    out += (stamped ? line.substr(stamp.size()) : line) + "\n";
  }
  return out;
}

// A full file is moved aside whole and the trace goes on in a new one; the
// generation before is replaced, so two files are all there ever are.
TEST_F(TraceFile, AFullFileIsMovedAsideAndANewOneStarted) {
  std::ofstream(Path() + ".1") << "the generation before\n";
  FillToTheLimit();
  TraceLog("first %d", 1);
  TraceLog("second");
  EXPECT_EQ(WithoutTimeStamps(test::ReadWholeFile(Path())), "first 1\nsecond\n");
  EXPECT_EQ(std::filesystem::file_size(Path() + ".1"), static_cast<uintmax_t>(kTraceFileMax));
}

// Where the full file cannot be moved, it is emptied rather than left to grow.
TEST_F(TraceFile, AFileThatCannotBeMovedIsEmptiedInstead) {
  std::filesystem::create_directories(Path() + ".1/in-the-way");
  FillToTheLimit();
  TraceLog("after the limit");
  EXPECT_EQ(WithoutTimeStamps(test::ReadWholeFile(Path())), "after the limit\n");
}

}  // namespace
}  // namespace qb
