// The TIFF writer's fixed layout, the temporary names and the clean-ups.
#include "imaging/page_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <utility>

#include "storage/file_naming.h"
#include "tests/imaging/imaging_test_support.h"

namespace qb::test {
namespace {

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t U16At(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// A temporary page file with `dataSize` data bytes, as the coder leaves it.
void MakePageFile(uint32_t tempJobNo, int index, size_t dataSize, uint16_t resolutionCode,
                  uint16_t polarity) {
  std::vector<uint8_t> bytes(kImageHeaderSize + dataSize, 0);
  const uint16_t width = 1728, height = 2200;
  for (auto [at, word] : {std::pair{10, resolutionCode}, {12, width}, {14, height}, {24, polarity}}) {
    std::memcpy(&bytes[at], &word, 2);
  }
  for (size_t i = 0; i < dataSize; ++i) bytes[kImageHeaderSize + i] = static_cast<uint8_t>(i);
  WriteFileBytes(TempDatName(index, tempJobNo), bytes);
}

struct Entry {
  uint16_t tag, type;
  uint32_t count, value;
  bool operator==(const Entry&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << std::hex << e.tag << std::dec << ":" << e.type << ":" << e.count << ":" << e.value;
  }
};
std::vector<Entry> EntriesAt(const std::vector<uint8_t>& b, size_t directory) {
  std::vector<Entry> entries;
  for (size_t i = 0; i < U16At(b, directory); ++i) {
    const size_t at = directory + 2 + 12 * i;
    entries.push_back({U16At(b, at), U16At(b, at + 2), U32At(b, at + 4), U32At(b, at + 8)});
  }
  return entries;
}

TEST(WriteTiffTest, OnePageLayout) {
  JobFixture fixture;
  MakePageFile(5, 3, 1000, 0x0300, 1);
  const std::string out = (fixture.folder() / "one.tif").string();
  ASSERT_TRUE(WriteTiff(5, 3, 3, 1, out.c_str(), 1, qb::Env::Default()));
  const std::vector<uint8_t> b = ReadFileBytes(out);
  ASSERT_EQ(b.size(), 1234u);
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 8),
            (std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0}));
  const std::vector<Entry> expected = {
      {0x00FE, 4, 1, 2},   {0x0100, 4, 1, 1728}, {0x0101, 4, 1, 2200}, {0x0102, 3, 1, 1},
      {0x0103, 3, 1, 4},   {0x0106, 3, 1, 1},    {0x010A, 3, 1, 2},    {0x0111, 4, 1, 234},
      {0x0112, 3, 1, 1},   {0x0115, 3, 1, 1},    {0x0116, 4, 1, 2200}, {0x0117, 4, 1, 1000},
      {0x011A, 5, 1, 218}, {0x011B, 5, 1, 226},  {0x0125, 4, 1, 0},    {0x0128, 3, 1, 2},
      {0x0129, 3, 2, 0},  // page index 3 written alone is page 0
  };
  EXPECT_EQ(EntriesAt(b, 8), expected);
  EXPECT_EQ(U32At(b, 214), 0u);  // no next directory
  EXPECT_EQ(U32At(b, 218), 300u);
  EXPECT_EQ(U32At(b, 222), 1u);
  EXPECT_EQ(U32At(b, 226), 300u);
  EXPECT_EQ(b[234], 0);
  EXPECT_EQ(b[234 + 999], static_cast<uint8_t>(999));
  EXPECT_FALSE(std::filesystem::exists(TempDatName(3, 5)));  // deleted once copied
}

TEST(WriteTiffTest, TwoPageLayoutAndMhTags) {
  JobFixture fixture;
  MakePageFile(6, 0, 1000, 0x0600, 0);
  MakePageFile(6, 1, 500, 0x0999, 0);  // unknown code: 200 dpi
  const std::string out = (fixture.folder() / "two.tif").string();
  ASSERT_TRUE(WriteTiff(6, 0, 1, 1, out.c_str(), 2, qb::Env::Default()));
  const std::vector<uint8_t> b = ReadFileBytes(out);
  ASSERT_EQ(b.size(), 1234u + 226 + 500);
  EXPECT_EQ(U32At(b, 214), 1234u);  // first page's next-directory offset
  const std::vector<Entry> second = EntriesAt(b, 1234);
  ASSERT_EQ(second.size(), 17u);
  EXPECT_EQ(second[4].value, 3u);       // Compression T.4
  EXPECT_EQ(second[6].value, 2u);       // FillOrder 2
  EXPECT_EQ(second[7].value, 1460u);    // strip
  EXPECT_EQ(second[12].value, 1444u);   // value area
  EXPECT_EQ(second[14].tag, 0x0124);    // T4Options
  EXPECT_EQ(second[16].value, 1u);      // PageNumber (1, 0)
  EXPECT_EQ(U32At(b, 1234 + 206), 0u);  // last page
  EXPECT_EQ(U32At(b, 1444), 200u);
  EXPECT_EQ(U32At(b, 218), 600u);
}

TEST(WriteTiffTest, MissingPageFailsButKeepsEarlierPages) {
  JobFixture fixture;
  MakePageFile(7, 0, 10, 0x0200, 0);
  const std::string out = (fixture.folder() / "short.tif").string();
  EXPECT_FALSE(WriteTiff(7, 0, 3, 1, out.c_str(), 2, qb::Env::Default()));
  EXPECT_EQ(ReadFileBytes(out).size(), 8u + 226 + 10);
  EXPECT_FALSE(WriteTiff(7, 0, 4, 1, out.c_str(), 1, qb::Env::Default()));  // no such mode
  EXPECT_FALSE(
      WriteTiff(7, 0, 3, 1, (fixture.folder() / "no/such.tif").c_str(), 1, qb::Env::Default()));
}

TEST(TempNamesTest, CounterRulesAndNames) {
  JobFixture fixture;
  const std::string tmp = fixture.folder().string() + "/";
  EXPECT_EQ(TempDatName(2, 17), tmp + "rcvimg17_2.dat");
  EXPECT_EQ(TempTifName(17, 2), tmp + "rcvimg17_2.tif");

  TempPageCounter counter(1000000);
  char path[sizeof PageJob::curFilePath] = "";
  uint32_t jobNo = 0;
  ASSERT_TRUE(counter.MakeTempPageName(0, path, sizeof path, &jobNo, qb::Env::Default()));
  EXPECT_EQ(jobNo, 1u);
  EXPECT_EQ(std::string(path), tmp + "rcvimg1_0.dat");

  // Existing files are skipped when a new number is drawn.
  WriteFileBytes(TempDatName(0, 2), {1});
  WriteFileBytes(TempDatName(0, 3), {1});
  path[0] = '\0';
  ASSERT_TRUE(counter.MakeTempPageName(0, path, sizeof path, &jobNo, qb::Env::Default()));
  EXPECT_EQ(jobNo, 4u);

  // Later pages reuse the number and replace a stale file.
  WriteFileBytes(TempDatName(1, 4), {1, 2, 3});
  ASSERT_TRUE(counter.MakeTempPageName(1, path, sizeof path, &jobNo, qb::Env::Default()));
  EXPECT_EQ(std::string(path), tmp + "rcvimg4_1.dat");
  EXPECT_FALSE(std::filesystem::exists(path));

  // A path left by a file sent whole is not a number of the job's own.
  std::snprintf(path, sizeof path, "%s", "/srv/scans/dest1/photo.jpg");
  uint32_t fresh = 0;
  ASSERT_TRUE(counter.MakeTempPageName(0, path, sizeof path, &fresh, qb::Env::Default()));
  EXPECT_EQ(fresh, 5u);
  EXPECT_EQ(std::string(path), tmp + "rcvimg5_0.dat");

  char tiny[8] = "";
  EXPECT_FALSE(counter.MakeTempPageName(0, tiny, sizeof tiny, &jobNo, qb::Env::Default()));
}

// A fresh number wraps after 999999; a number skipped for an existing file
// wraps after 99999 already.
TEST(TempNamesTest, CounterWrapsAtItsTwoLimits) {
  JobFixture fixture;
  char path[sizeof PageJob::curFilePath] = "";
  uint32_t jobNo = 0;
  TempPageCounter high(999999);
  ASSERT_TRUE(high.MakeTempPageName(0, path, sizeof path, &jobNo, qb::Env::Default()));
  EXPECT_EQ(jobNo, 1000000u);

  WriteFileBytes(TempDatName(0, 99999), {1});
  WriteFileBytes(TempDatName(0, 100000), {1});
  TempPageCounter skipping(99998);
  path[0] = '\0';
  ASSERT_TRUE(skipping.MakeTempPageName(0, path, sizeof path, &jobNo, qb::Env::Default()));
  EXPECT_EQ(jobNo, 1u);
  path[0] = '\0';
  ASSERT_TRUE(skipping.MakeTempPageName(0, path, sizeof path, &jobNo, qb::Env::Default()));
  EXPECT_EQ(jobNo, 2u);  // each counter goes on from its own last number
}

TEST(TempPagesTest, DeletesOnlyTheFinishedPages) {
  JobFixture fixture;
  PageJob& job = fixture.job();
  job.tempJobNo = 9;
  job.pageCount = 2;
  for (int i = 0; i < 3; ++i) WriteFileBytes(TempDatName(i, 9), {1});
  DeleteTempPages(job.tempJobNo, job.pageCount, qb::Env::Default());
  EXPECT_FALSE(std::filesystem::exists(TempDatName(0, 9)));
  EXPECT_FALSE(std::filesystem::exists(TempDatName(1, 9)));
  EXPECT_TRUE(std::filesystem::exists(TempDatName(2, 9)));
}

TEST(SwapWordBytesTest, SwapsWholeWordsOnly) {
  uint8_t data[5] = {1, 2, 3, 4, 5};
  SwapWordBytes(data, 5);
  EXPECT_EQ(std::vector<uint8_t>(data, data + 5), (std::vector<uint8_t>{2, 1, 4, 3, 5}));
}

}  // namespace
}  // namespace qb::test
