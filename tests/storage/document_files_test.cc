#include "storage/document_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "storage/name_reservations.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::StorageTest;
using testing::WriteWholeFile;

class DocumentFilesTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    folder_ = MakeFolder("dest");
  }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  std::vector<std::string> Names() const { return test::FolderNames(folder_); }
  fs::path folder_;
};

// Until the commit only hidden staging files exist; a commit with OverWrite
// off never replaces a file that appeared meanwhile, and every stored file
// is writable by the account and its group, never by others.
TEST_F(DocumentFilesTest, FilesAppearOnlyWhenCommittedAndNeverReplaceOthers) {
  DocumentFiles files(Env::Default(), NameReservations::NewOwner());
  WriteWholeFile(files.Begin(Path("scan_001.tif")), "page one");
  WriteWholeFile(files.Begin(Path("scan_000.tif")), "renamed later");
  files.Rename(Path("scan_000.tif"), Path("scan_002.tif"));
  ASSERT_EQ(Names().size(), 2u);
  for (const std::string& name : Names()) EXPECT_EQ(name.rfind(".qbx-", 0), 0u) << name;

  WriteWholeFile(Path("scan_002.tif"), "the user's");  // taken while we were receiving
  std::vector<std::pair<std::string, std::string>> moved;
  ASSERT_TRUE(files.Commit(false, &moved));
  EXPECT_EQ(Names(), (std::vector<std::string>{"scan(1)_002.tif", "scan_001.tif", "scan_002.tif"}));
  EXPECT_EQ(ReadWholeFile(Path("scan_002.tif")), "the user's");
  EXPECT_EQ(ReadWholeFile(Path("scan(1)_002.tif")), "renamed later");
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved[0].second, Path("scan(1)_002.tif"));
  EXPECT_EQ(fs::status(Path("scan_001.tif")).permissions() & fs::perms::all, fs::perms(0660));
  EXPECT_EQ(files.Count(), 0u);
}

TEST_F(DocumentFilesTest, OverWriteReplacesAndDroppedFilesLeaveNothing) {
  WriteWholeFile(Path("memo.pdf"), "older");
  {
    DocumentFiles files(Env::Default(), NameReservations::NewOwner());
    WriteWholeFile(files.Begin(Path("memo.pdf")), "newer");
    ASSERT_TRUE(files.Commit(true, nullptr));
  }
  EXPECT_EQ(ReadWholeFile(Path("memo.pdf")), "newer");
  {
    DocumentFiles files(Env::Default(), NameReservations::NewOwner());
    WriteWholeFile(files.Begin(Path("a.tif")), "a");
    WriteWholeFile(files.Begin(Path("b.tif")), "b");
    files.Drop(Path("a.tif"));
    EXPECT_EQ(files.Count(), 1u);
  }  // a document that goes away unfinished
  EXPECT_EQ(Names(), std::vector<std::string>{"memo.pdf"});
}

// Only this machine's leftovers go: on a folder shared by two receivers,
// the other machine's staging files belong to processes we cannot see.
TEST_F(DocumentFilesTest, AbandonedStagingFilesOfThisMachinesDeadProcessesAreRemoved) {
  const std::string host = HostIdentity();
  {
    DocumentFiles files(Env::Default(), NameReservations::NewOwner());
    const std::string staging = files.Begin(Path("scan.tif"));
    EXPECT_EQ(fs::path(staging).filename().string().rfind(".qbx-" + host + "-", 0), 0u) << staging;
    files.Drop(Path("scan.tif"));
  }
  const std::set<std::string> kept = {".hidden",  // not a staging file
                                      ".qbx-" + host + "-1-1.part",  // init is alive
                                      ".qbx-otherhost-999999999-1.part",  // another machine's
                                      ".qbx-" + host + "-12x-1.part",  // not a process id
                                      "sub"};
  for (const std::string& name : kept) {
    if (name != "sub") WriteWholeFile(Path(name), "x");
  }
  WriteWholeFile(Path(".qbx-" + host + "-999999999-1.part"), "half a scan");  // no such process
  WriteWholeFile(Path(".qbx-999999997-2.part"), "from before hosts were named");
  fs::create_directory(folder_ / "sub");
  WriteWholeFile(folder_ / "sub" / (".qbx-" + host + "-999999998-4.part"), "x");
  WriteDestinationList("1;" + folder_.string() + ";;;\n");
  EXPECT_EQ(RemoveAbandonedStagingFilesInDestinations(Env::Default()), 3);
  EXPECT_EQ(Names(), std::vector<std::string>(kept.begin(), kept.end()));
}

}  // namespace
}  // namespace qb
