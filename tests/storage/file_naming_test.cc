#include "storage/file_naming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "storage/name_cleaning.h"
#include "storage/name_reservations.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::StorageTest;
using testing::WriteWholeFile;

class FileNamingTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    folder_ = MakeFolder("dest");
  }
  void Touch(const std::string& name) const { WriteWholeFile(folder_ / name, "x"); }
  std::string Unique(const std::string& name, bool overwrite = false, std::string* stem = nullptr,
                     int* digits = nullptr, uint64_t owner = 0) const {
    std::string path = MakeUniqueFileName((folder_ / name).string(), overwrite, nullptr, stem,
                                          digits, owner, Env::Default());
    return fs::path(path).filename().string();
  }
  fs::path folder_;
};

TEST_F(FileNamingTest, PageSeriesIsGuardedAsAWhole) {
  Touch("doc_000.tif");
  std::string stem;
  int digits = 0;
  EXPECT_EQ(Unique("doc_000.tif", false, &stem, &digits), "doc(1)_000.tif");
  EXPECT_EQ(stem, "doc(1)");
  EXPECT_EQ(digits, 3);

  fs::remove(folder_ / "doc_000.tif");
  Touch("report_005.tif");
  EXPECT_EQ(Unique("report_000.tif"), "report(1)_000.tif");
  EXPECT_EQ(Unique("scan0007_000.tif"), "scan0007_000.tif");
}

TEST_F(FileNamingTest, NamesWithoutPageNumberGetCountedMarks) {
  Touch("memo.pdf");
  EXPECT_EQ(Unique("memo.pdf"), "memo(1).pdf");
  Touch("memo(1).pdf");
  EXPECT_EQ(Unique("memo.pdf"), "memo(2).pdf");

  Touch("a_b.pdf");
  EXPECT_EQ(Unique("a_b.pdf"), "a_b(1).pdf");
}

TEST_F(FileNamingTest, OverwriteKeepsTheDesiredNameButOnlyTheNumberOfItsSuffix) {
  Touch("doc_000.tif");
  EXPECT_EQ(Unique("doc_000.tif", true), "doc_000.tif");
  EXPECT_EQ(Unique("doc_7ab.pdf", true), "doc_007.pdf");
}

TEST_F(FileNamingTest, MissingFolderGivesTheDesiredName) {
  std::string desired = (root_ / "nowhere/doc_000.pdf").string();
  std::string full;
  EXPECT_EQ(MakeUniqueFileName(desired, false, &full, nullptr, nullptr, 0, Env::Default()),
            desired);
  EXPECT_EQ(full, desired);
}

// A name handed to a running job is taken until that job ends, whatever
// the end; then only the folder counts, so a job that never wrote its file
// leaves nothing behind, and looking up names costs the same after
// thousands of such jobs as before the first.
TEST_F(FileNamingTest, ReservedNamesLastAsLongAsTheirJob) {
  const uint64_t first = NameReservations::NewOwner(), second = NameReservations::NewOwner();
  auto unique = [this](const char* name, uint64_t owner) {
    return Unique(name, false, nullptr, nullptr, owner);
  };
  EXPECT_EQ(unique("job_000.pdf", first), "job_000.pdf");
  EXPECT_EQ(unique("job_000.pdf", second), "job(1)_000.pdf");
  NameReservations::Instance().Release(first);
  EXPECT_EQ(unique("job_000.pdf", first), "job_000.pdf");  // dropped, never written
  NameReservations::Instance().Release(first);
  NameReservations::Instance().Release(second);
  EXPECT_EQ(NameReservations::Instance().Count(), 0u);

  for (int i = 0; i < 2000; ++i) {
    const uint64_t owner = NameReservations::NewOwner();
    unique("a.tif", owner);
    NameReservations::Instance().Release(owner);
  }
  EXPECT_EQ(NameReservations::Instance().Count(), 0u);
  EXPECT_EQ(unique("a.tif", 0), "a.tif");
}

TEST_F(FileNamingTest, ConcurrentNamingNeverHandsOutOnePathTwice) {
  fs::path before = fs::current_path();
  constexpr int kThreads = 6;
  constexpr int kNamesEach = 15;
  std::vector<std::vector<std::string>> results(kThreads);
  std::vector<std::thread> threads;
  std::vector<uint64_t> owners;
  for (int t = 0; t < kThreads; ++t) owners.push_back(NameReservations::NewOwner());
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const char* desired = t % 2 == 0 ? "same_000.pdf" : "same.pdf";
      for (int i = 0; i < kNamesEach; ++i) {
        std::string path = (folder_ / desired).string();
        results[t].push_back(
            MakeUniqueFileName(path, false, nullptr, nullptr, nullptr, owners[t], Env::Default()));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (uint64_t owner : owners) NameReservations::Instance().Release(owner);
  std::set<std::string> seen;
  for (const auto& list : results) seen.insert(list.begin(), list.end());
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kNamesEach));
  EXPECT_EQ(fs::current_path(), before);
}

// Further files of a document: exact names, the mark before the page number.
TEST_F(FileNamingTest, FreeExactNameSkipsFilesReservationsAndTheDocumentsOwn) {
  const std::string folder = folder_.string() + "/";
  Touch("doc_002.tif");
  EXPECT_EQ(MakeFreeExactName(folder, "doc_003.tif", 0, nullptr, Env::Default()),
            folder + "doc_003.tif");
  EXPECT_EQ(MakeFreeExactName(folder, "doc_002.tif", 0, nullptr, Env::Default()),
            folder + "doc(1)_002.tif");
  auto own = [&](const std::string& path) { return path == folder + "page(1).tif"; };
  Touch("page.tif");
  EXPECT_EQ(MakeFreeExactName(folder, "page.tif", 0, own, Env::Default()), folder + "page(2).tif");
}

TEST(NameCandidate, SplitsPageNumbersAndMarks) {
  struct Case {
    const char* name;
    int n;
    const char* candidate;
    const char* stem;
    int number;
    int digits;
  } cases[] = {
      {"doc_000.tif", 0, "doc_???.tif", "doc", 0, 3},
      {"doc_012.tif", 2, "doc(2)_???.tif", "doc(2)", 12, 3},
      {"doc_0a1.tif", 0, "doc_0a1.tif", "doc_0a1", 0, 0},
      {"doc_1234.tif", 1, "doc_1234(1).tif", "doc_1234(1)", 0, 0},
      {"report.pdf", 1, "report(1).pdf", "report(1)", 0, 0},
      {"plain_000", 0, "plain_???", "plain", 0, 3},
  };
  for (const Case& c : cases) {
    NameCandidate result = MakeNameCandidate(c.name, c.n);
    EXPECT_EQ(result.candidate, c.candidate) << c.name;
    EXPECT_EQ(result.stem, c.stem) << c.name;
    EXPECT_EQ(result.number, c.number) << c.name;
    EXPECT_EQ(result.digits, c.digits) << c.name;
  }
}

TEST(NameCandidate, Cp932TrailByteIsNotAnUnderscore) {
  // 0x83 0x5F is one katakana character whose second byte equals "_".
  const std::string name =
      "ab\x83\x5F"
      "001.pdf";
  {
    ScopedEnv utf8("QUILLBOX_CODEPAGE", nullptr);
    EXPECT_EQ(MakeNameCandidate(name, 0).digits, 3);
  }
  ScopedEnv japanese("QUILLBOX_CODEPAGE", "932");
  NameCandidate result = MakeNameCandidate(name, 1);
  EXPECT_EQ(result.digits, 0);
  EXPECT_EQ(result.candidate,
            "ab\x83\x5F"
            "001(1).pdf");
}

TEST(NumberedNames, RenumberKeepsTheOldWidth) {
  EXPECT_EQ(RenumberFileName("/srv/in/doc_000.tif", 1), "/srv/in/doc_001.tif");
  EXPECT_EQ(RenumberFileName("/srv/in/doc_00.tif", 7), "/srv/in/doc_07.tif");
  EXPECT_EQ(RenumberFileName("/srv/in/doc_0000.tif", 7), "/srv/in/doc_0007.tif");
  EXPECT_EQ(RenumberFileName("/srv/in/doc_0.tif", 12), "/srv/in/doc_12.tif");
  EXPECT_EQ(RenumberFileName("/srv/a_b/x_y_00009.pdf", 2), "/srv/a_b/x_y_002.pdf");
  EXPECT_EQ(RenumberFileName("/srv/in/plain.tif", 3), "/srv/in/plain.tif");
}

TEST(NameCleaning, InvalidCharactersBecomeUnderscores) {
  std::string name = "Rep:ort?.pdf";
  ReplaceInvalidNameChars(&name);
  EXPECT_EQ(name, "Rep_ort_.pdf");
  char all[] = "a\\/:,;*?|\"<>b";
  ReplaceInvalidNameChars(all);
  EXPECT_STREQ(all, "a___________b");
}

TEST(NameCleaning, Cp932DoubleByteCharactersStayWhole) {
  // 0x95 0x5C and 0x83 0x7C are characters whose second bytes equal "\"
  // and "|".
  const std::string original = "\x95\x5C:\x83\x7C.pdf";
  std::string asUtf8 = original;
  ReplaceInvalidNameChars(&asUtf8);
  EXPECT_EQ(asUtf8, "\x95__\x83_.pdf");

  ScopedEnv japanese("QUILLBOX_CODEPAGE", "932");
  std::string asCp932 = original;
  ReplaceInvalidNameChars(&asCp932);
  EXPECT_EQ(asCp932, "\x95\x5C_\x83\x7C.pdf");
  // A lone lead byte does not convert: the name is left alone.
  std::string broken = "a:\x95";
  ReplaceInvalidNameChars(&broken);
  EXPECT_EQ(broken, "a:\x95");
}

TEST(NameCleaning, ParentReferencesCannotClimbOut) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"..\\..\\name", "xxxxxxname"}, {"../../etc", "xxxxxxetc"}, {"a/..", "a/xx"}, {"..", "xx"},
      {"a..b/c", "a..b/c"},           {"x\\..", "x\\xx"},
  };
  for (const Case& c : cases) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s", c.in);
    NeutraliseParentRefs(buffer);
    EXPECT_STREQ(buffer, c.out) << c.in;
  }
}

}  // namespace
}  // namespace qb
