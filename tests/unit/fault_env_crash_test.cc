#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/fault_env.h"
#include "temp_folder.h"

namespace qb {
namespace {

// What a later process finds: the content, or "<none>".
std::string Found(const std::string& path) {
  std::string data;
  return ReadWholeFile(Env::Default(), path, &data) ? data : "<none>";
}

// Opens, appends, optionally syncs, and closes.
void Write(Env& env, const std::string& path, const std::string& data, bool sync) {
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(env.NewWritableFile(path, CreateMode::kAppend, &file)) << path;
  ASSERT_TRUE(file->Append(data.data(), data.size()));
  if (sync) {
    ASSERT_TRUE(file->Sync());
  }
  ASSERT_TRUE(file->Close());
}

using Contents = std::map<std::string, std::string>;

class FaultEnvCrash : public ::testing::Test {
 protected:
  // Crashes; then what a later process finds under each name of `expected`
  // must be what it says.
  void ExpectAfterCrash(const Contents& expected) {
    env_.SimulateCrash();
    Contents found;
    for (const auto& [name, content] : expected) found[name] = Found(dir_ / name);
    EXPECT_EQ(found, expected);
  }

  test::TempFolder dir_;
  FaultEnv env_{false};
};

TEST_F(FaultEnvCrash, FilesKeepOnlyTheirSyncedBytes) {
  Write(Env::Default(), dir_ / "old", "before|", false);  // from an earlier process: durable
  Write(env_, dir_ / "old", "synced|", true);
  Write(env_, dir_ / "old", "lost", false);
  Write(env_, dir_ / "new", "kept|", true);
  Write(env_, dir_ / "new", "lost", false);
  ASSERT_TRUE(env_.SyncFolder(dir_.path()));
  Write(env_, dir_ / "emptied", "x", true);
  ASSERT_TRUE(env_.SyncFolder(dir_.path()));
  ASSERT_TRUE(WriteWholeFile(env_, dir_ / "emptied", "unsynced", false));  // truncates, no sync
  ExpectAfterCrash({{"old", "before|synced|"}, {"new", "kept|"}, {"emptied", ""}});
}

TEST_F(FaultEnvCrash, NewFilesVanishUnlessTheirFolderWasSynced) {
  ASSERT_TRUE(env_.CreateFolder(dir_ / "other"));
  Write(env_, dir_ / "before-sync", "a", true);
  Write(env_, dir_ / "other/elsewhere", "b", true);
  ASSERT_TRUE(env_.SyncFolder(dir_.path() + "/"));  // another folder's sync does not count
  Write(env_, dir_ / "after-sync", "c", true);
  ExpectAfterCrash({{"before-sync", "a"}, {"other/elsewhere", "<none>"}, {"after-sync", "<none>"}});
}

TEST_F(FaultEnvCrash, RenamesNeedTheTargetFolderSynced) {
  ASSERT_TRUE(env_.CreateFolder(dir_ / "in"));
  Write(Env::Default(), dir_ / "doc", "v1", false);
  Write(Env::Default(), dir_ / "moved", "m", false);
  Write(Env::Default(), dir_ / "kept", "k", false);

  // Replacing: the old content comes back, the new file under its old
  // name with what was synced of it.
  Write(env_, dir_ / "doc.tmp", "v2", true);
  ASSERT_TRUE(env_.SyncFolder(dir_.path()));
  Write(env_, dir_ / "doc.tmp", "+unsynced", false);
  ASSERT_TRUE(env_.Rename(dir_ / "doc.tmp", dir_ / "doc"));
  // Three steps; the folder "in" is synced between the second and the third.
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "moved", dir_ / "moved2"));
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "moved2", dir_ / "in/moved3"));
  // Synced in the target's folder: stays.
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "kept", dir_ / "in/kept"));
  ASSERT_TRUE(env_.SyncFolder(dir_ / "in"));
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "in/moved3", dir_ / "in/moved4"));  // after the sync
  // The step into "in" was synced there; only the one after it is undone.
  ExpectAfterCrash({{"doc", "v1"},
                    {"doc.tmp", "v2"},
                    {"moved", "<none>"},
                    {"moved2", "<none>"},
                    {"in/moved3", "m"},
                    {"in/moved4", "<none>"},
                    {"in/kept", "k"},
                    {"kept", "<none>"}});
}

TEST_F(FaultEnvCrash, ANewFileRenamedIsStillNewUntilItsNewFolderIsSynced) {
  ASSERT_TRUE(env_.CreateFolder(dir_ / "in"));
  Write(env_, dir_ / "staged", "s", true);
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "staged", dir_ / "in/placed"));
  Write(env_, dir_ / "staged2", "t", true);
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "staged2", dir_ / "in/placed2"));
  ASSERT_TRUE(env_.SyncFolder(dir_ / "in"));
  Write(env_, dir_ / "staged3", "u", true);
  ASSERT_TRUE(env_.RenameNoReplace(dir_ / "staged3", dir_ / "in/placed3"));
  ExpectAfterCrash(
      {{"in/placed", "s"}, {"in/placed2", "t"}, {"in/placed3", "<none>"}, {"staged3", "<none>"}});
}

TEST_F(FaultEnvCrash, NothingHappensAfterTheLastAllowedOperation) {
  std::unique_ptr<WritableFile> file;
  env_.CrashAfterFileOps(3);
  ASSERT_TRUE(env_.NewWritableFile(dir_ / "f", CreateMode::kNewOnly, &file));
  ASSERT_TRUE(file->Append("a", 1));
  ASSERT_TRUE(file->Sync());
  EXPECT_FALSE(file->Append("b", 1));
  EXPECT_FALSE(file->Close());
  EXPECT_FALSE(file->Close());
  EXPECT_FALSE(env_.SyncFolder(dir_.path()));
  EXPECT_FALSE(env_.Rename(dir_ / "f", dir_ / "g"));
  EXPECT_FALSE(env_.Remove(dir_ / "f"));
  FileInfo info;
  EXPECT_FALSE(env_.Stat(dir_ / "f", &info));
  EXPECT_EQ(Found(dir_ / "f"), "a");  // the refused calls changed nothing

  env_.SimulateCrash();  // the next process: works, but the old file is dead
  EXPECT_EQ(Found(dir_ / "f"), "<none>");
  std::unique_ptr<WritableFile> again;
  ASSERT_TRUE(env_.NewWritableFile(dir_ / "f", CreateMode::kNewOnly, &again));
  ASSERT_TRUE(again->Append("c", 1));
  ASSERT_TRUE(again->Close());
  EXPECT_FALSE(file->Append("d", 1));
  EXPECT_EQ(Found(dir_ / "f"), "c");
}

// The way a document should be replaced: at every point the power may go,
// the next process finds the old or the new document whole.
TEST_F(FaultEnvCrash, AReplaceWithSyncsSurvivesACrashAtEveryStep) {
  auto save = [&](const std::string& content) {
    std::unique_ptr<WritableFile> file;
    FileResult ok = env_.NewWritableFile(dir_ / "doc.part", CreateMode::kTruncate, &file);
    if (ok) ok = file->Append(content.data(), content.size());
    if (ok) ok = file->Sync();
    if (ok) ok = file->Close();
    if (ok) ok = env_.Rename(dir_ / "doc.part", dir_ / "doc");
    if (ok) ok = env_.SyncFolder(dir_.path());
    return ok.ok();
  };
  Write(Env::Default(), dir_ / "doc", "old document", false);
  const int64_t before = env_.FileOpCount();
  ASSERT_TRUE(save("old document"));
  const int steps = static_cast<int>(env_.FileOpCount() - before);
  EXPECT_EQ(steps, 6);

  for (int n = 0; n <= steps; ++n) {
    SCOPED_TRACE(n);
    env_.CrashAfterFileOps(n);
    EXPECT_EQ(save("new document"), n == steps);
    env_.SimulateCrash();
    EXPECT_EQ(Found(dir_ / "doc"), n == steps ? "new document" : "old document");
    ASSERT_TRUE(save("old document"));
  }
}

TEST_F(FaultEnvCrash, FailWriteFailsTheNthAppendAsAFullDisk) {
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(env_.NewWritableFile(dir_ / "f", CreateMode::kNewOnly, &file));
  env_.FailWrite(2);
  EXPECT_TRUE(file->Append("a", 1));
  FileResult full = file->Append("b", 1);
  EXPECT_EQ(full.error(), FileError::kNoSpace);
  EXPECT_TRUE(file->Append("c", 1));
  EXPECT_EQ(file->Size(), 2u);
  file->Close();
  EXPECT_EQ(Found(dir_ / "f"), "ac");
}

}  // namespace
}  // namespace qb
