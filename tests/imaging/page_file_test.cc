// The page file closes exactly once, whoever holds it last, and the coder
// never writes through a page file that is no longer open.
#include "imaging/page_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "imaging/fax_coder.h"
#include "imaging_test_support.h"

namespace qb::test {
namespace {

TEST(PageFileTest, ClosesWhenItGoesAndWhenReplaced) {
  JobFixture fixture;
  const std::string first = (fixture.folder() / "first.bin").string();
  const std::string second = (fixture.folder() / "second.bin").string();
  {
    PageFile file = PageFile::Open(Env::Default(), first, false);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Write("abc", 3), 3u);
    // Buffered until the close: only a closed file shows its bytes.
  }
  EXPECT_EQ(ReadFileBytes(first).size(), 3u);

  PageFile held = PageFile::Open(Env::Default(), first, true);
  held.Write("de", 2);
  PageFile moved = std::move(held);
  EXPECT_FALSE(held.IsOpen());  // the moved-from handle is empty
  EXPECT_EQ(held.Write("x", 1), 0u);
  moved = PageFile::Open(Env::Default(), second, false);  // closes the first
  EXPECT_EQ(ReadFileBytes(first).size(), 5u);
  moved.Close();
  moved.Close();  // a second close does nothing
  EXPECT_FALSE(moved.IsOpen());
}

TEST(PageFileTest, CoderWritingIntoAClosedOrDetachedFileFails) {
  JobFixture fixture;
  PageJob& job = fixture.job();
  PageLayout layout;
  layout.width = 1728;
  layout.height = 2;
  const std::vector<uint8_t> line(layout.width / 8, 0x5A);
  for (const bool detach : {false, true}) {
    ASSERT_TRUE(job.coder.SetUp(layout));
    const std::string path = (fixture.folder() / "page.bin").string();
    job.pageFile = PageFile::Open(Env::Default(), path, false);
    job.coder.WriteInto(&job.pageFile);
    EXPECT_TRUE(job.coder.WritesInto(job.pageFile));
    EXPECT_EQ(job.coder.CodeLine(line.data()), 1);
    if (detach) {
      job.coder.StopWriting();
      EXPECT_FALSE(job.coder.WritesInto(job.pageFile));
    } else {
      job.pageFile.Close();
    }
    EXPECT_EQ(job.coder.FinishPage(), -1);
    EXPECT_TRUE(job.coder.WriteFailed());
    EXPECT_EQ(job.coder.BytesWritten(), 0u);
    EXPECT_EQ(job.coder.LinesCoded(), 1);
    job.pageFile.Close();
  }
}

}  // namespace
}  // namespace qb::test
