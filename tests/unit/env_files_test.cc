#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/env.h"
#include "temp_folder.h"

namespace qb {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::string data;
  EXPECT_TRUE(ReadWholeFile(Env::Default(), path, &data)) << path;
  return data;
}

TEST(EnvFiles, FailuresSayWhyInKindAndWords) {
  test::TempFolder dir;
  Env& env = Env::Default();
  std::unique_ptr<WritableFile> file;
  std::unique_ptr<ReadableFile> reader;
  FileInfo info;
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(WriteWholeFile(env, dir / "taken", "x", false));
  ASSERT_TRUE(env.CreateFolder(dir / "sub"));

  struct Case {
    const char* what;
    FileResult result;
    FileError expected;
  } cases[] = {
      {"open missing", env.OpenReadable(dir / "missing", &reader), FileError::kNotFound},
      {"stat missing", env.Stat(dir / "missing", &info), FileError::kNotFound},
      {"list missing", env.ListFolder(dir / "missing", &entries), FileError::kNotFound},
      {"new only, taken", env.NewWritableFile(dir / "taken", CreateMode::kNewOnly, &file),
       FileError::kExists},
      {"no-replace rename onto a file", env.RenameNoReplace(dir / "sub", dir / "taken"),
       FileError::kExists},
      {"folder exists", env.CreateFolder(dir / "sub"), FileError::kExists},
      {"write a folder", env.NewWritableFile(dir / "sub", CreateMode::kTruncate, &file),
       FileError::kIsFolder},
      {"read a folder", env.OpenReadable(dir / "sub", &reader), FileError::kIsFolder},
      {"rename missing", env.Rename(dir / "missing", dir / "other"), FileError::kNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.result) << c.what;
    EXPECT_EQ(c.result.error(), c.expected) << c.what;
    EXPECT_FALSE(c.result.Reason().empty()) << c.what;
  }
  EXPECT_EQ(FileResult::FromSystemError(28).Reason(), "No space left on device");  // ENOSPC
  EXPECT_EQ(FileResult::Failed(FileError::kNoSpace).Reason(), "No space left on device");
  EXPECT_TRUE(FileResult().Reason().empty());
}

TEST(EnvFiles, BufferedAppendsArriveInOrderAndReadBackAtAnyOffset) {
  test::TempFolder dir;
  Env& env = Env::Default();
  std::string expected;
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(env.NewWritableFile(dir / "f", CreateMode::kNewOnly, &file));
  // Small pieces that cross the buffer's size, and one larger than it.
  for (int i = 0; i < 20000; ++i) {
    std::string piece = std::to_string(i) + ",";
    ASSERT_TRUE(file->Append(piece.data(), piece.size()));
    expected += piece;
  }
  const std::string big(200000, 'b');
  ASSERT_TRUE(file->Append(big.data(), big.size()));
  expected += big;
  ASSERT_TRUE(file->Append("end", 3));
  expected += "end";
  EXPECT_EQ(file->Size(), expected.size());
  ASSERT_TRUE(file->Sync());
  ASSERT_TRUE(file->Close());
  EXPECT_TRUE(file->Close());  // again: the first one's result

  std::unique_ptr<ReadableFile> reader;
  ASSERT_TRUE(env.OpenReadable(dir / "f", &reader));
  ASSERT_EQ(reader->Size(), expected.size());
  char part[10];
  size_t got = 0;
  ASSERT_TRUE(reader->ReadAt(70000, part, sizeof part, &got));
  EXPECT_EQ(std::string(part, got), expected.substr(70000, 10));
  ASSERT_TRUE(reader->ReadAt(expected.size() - 3, part, sizeof part, &got));
  EXPECT_EQ(std::string(part, got), "end");  // short only at the end

  // An unbuffered file holds nothing back: what is appended is there at once.
  ASSERT_TRUE(env.NewUnbufferedFile(dir / "u", CreateMode::kTruncate, &file));
  ASSERT_TRUE(file->Append("coded", 5));
  EXPECT_EQ(Read(dir / "u"), "coded");
}

TEST(EnvFiles, CreateModesAndTheGroupModeWhateverTheUmask) {
  test::TempFolder dir;
  Env& env = Env::Default();
  ASSERT_TRUE(WriteWholeFile(env, dir / "f", "first", false));
  EXPECT_EQ(fs::status(dir / "f").permissions(), fs::perms(0660));

  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(env.NewWritableFile(dir / "f", CreateMode::kAppend, &file));
  EXPECT_EQ(file->Size(), 5u);
  ASSERT_TRUE(file->Append("+more", 5));
  file.reset();  // the destructor closes, and writes what was buffered
  EXPECT_EQ(Read(dir / "f"), "first+more");
  ASSERT_TRUE(WriteWholeFile(env, dir / "f", "new", false));
  EXPECT_EQ(Read(dir / "f"), "new");

  // A symbolic link is neither written through nor followed by Stat.
  fs::create_symlink(dir / "f", dir / "link");
  EXPECT_FALSE(env.NewWritableFile(dir / "link", CreateMode::kTruncate, &file));
  EXPECT_EQ(Read(dir / "f"), "new");
  FileInfo info;
  ASSERT_TRUE(env.Stat(dir / "link", &info));
  EXPECT_FALSE(info.isRegular);
  EXPECT_FALSE(info.isFolder);
  EXPECT_FALSE(info.linksToFolder);
  // It only says where a link leads to a folder (a destination may be one).
  fs::create_directory(dir / "folder");
  fs::create_directory_symlink(dir / "folder", dir / "folder-link");
  ASSERT_TRUE(env.Stat(dir / "folder-link", &info));
  EXPECT_FALSE(info.isFolder);
  EXPECT_TRUE(info.linksToFolder);
}

// A move is a rename on one volume; between two (the temporary folder on
// another file system than a destination) the bytes are copied over
// whatever had the name, and the source goes.
TEST(EnvFiles, MoveFileWithinAndBetweenVolumes) {
  test::TempFolder disk;
  test::TempFolder memoryFolder("/dev/shm");
  const std::string& memory = memoryFolder.path();
  Env& env = Env::Default();
  std::string content(3u << 20, '\0');  // more than one block of the copy
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 4096);
  for (const std::string& from : {disk / "a", memory + "/a"}) {
    SCOPED_TRACE(from);
    ASSERT_TRUE(WriteWholeFile(env, from, content, false));
    ASSERT_TRUE(WriteWholeFile(env, disk / "b", "placeholder", false));
    ASSERT_TRUE(MoveFile(env, from, disk / "b"));
    EXPECT_TRUE(Read(disk / "b") == content);
    EXPECT_FALSE(fs::exists(from));
  }
  ASSERT_TRUE(WriteWholeFile(env, memory + "/d", "x", false));
  EXPECT_EQ(env.Rename(memory + "/d", disk / "d").error(), FileError::kOtherVolume);
  EXPECT_EQ(MoveFile(env, memory + "/missing", disk / "c").error(), FileError::kNotFound);
}

TEST(EnvFiles, FolderWork) {
  test::TempFolder dir;
  Env& env = Env::Default();
  ASSERT_TRUE(env.CreateFolder(dir / "sub"));
  // The account and its group only, whatever the umask.
  EXPECT_EQ(std::filesystem::status(dir / "sub").permissions() & std::filesystem::perms::mask,
            std::filesystem::perms(02770));
  ASSERT_TRUE(WriteWholeFile(env, dir / "a", "1", false));
  ASSERT_TRUE(env.RenameNoReplace(dir / "a", dir / "b"));
  ASSERT_TRUE(WriteWholeFile(env, dir / "c", "2", false));
  ASSERT_TRUE(env.Rename(dir / "c", dir / "b"));
  EXPECT_EQ(Read(dir / "b"), "2");
  ASSERT_TRUE(env.SyncFolder(dir.path()));

  std::vector<FolderEntry> entries = {{"stale", false}};
  ASSERT_TRUE(env.ListFolder(dir.path(), &entries));
  std::map<std::string, bool> found;
  for (const FolderEntry& entry : entries) found[entry.name] = entry.isDirectory;
  EXPECT_EQ(found, (std::map<std::string, bool>{{"b", false}, {"sub", true}}));

  EXPECT_TRUE(env.Remove(dir / "sub"));
  EXPECT_TRUE(env.Remove(dir / "b"));
  EXPECT_EQ(env.Remove(dir / "b").error(), FileError::kNotFound);
}

// An upload's file: blocks written directly to the disk where the volume
// allows it (the temporary folder) and through the page cache where it
// does not (/dev/shm), with the unaligned tails a Sync in mid-stream and
// at the end leave.
TEST(EnvFiles, StreamFilesKeepEveryByteWhateverTheVolume) {
  test::TempFolder disk;
  const std::string memory =
      "/dev/shm/qbstream." + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
  std::filesystem::create_directories(memory);
  Env& env = Env::Default();
  for (const std::string& folder : {disk.path(), memory}) {
    SCOPED_TRACE(folder);
    const std::string path = folder + "/upload";
    std::unique_ptr<WritableFile> file;
    ASSERT_TRUE(env.NewStreamFile(path, &file));
    std::string expected;
    std::string piece(7777, '\0');
    // Past the size where a file moves to larger blocks.
    for (int i = 0; expected.size() < (17u << 20) + 123; ++i) {
      for (size_t k = 0; k < piece.size(); ++k) piece[k] = static_cast<char>(i * 31 + k);
      ASSERT_TRUE(file->Append(piece.data(), piece.size()));
      expected += piece;
      if (i == 200) {
        ASSERT_TRUE(file->Sync());  // mid-stream, not on a block boundary
      }
    }
    EXPECT_EQ(file->Size(), expected.size());
    ASSERT_TRUE(file->Sync());
    ASSERT_TRUE(file->Close());
    EXPECT_TRUE(Read(path) == expected);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0660));
    EXPECT_EQ(env.NewStreamFile(path, &file).error(), FileError::kExists);

    // Whole blocks only, small and then large, and nothing at all.
    ASSERT_TRUE(env.NewStreamFile(folder + "/blocks", &file));
    std::string blocks;
    for (char c = 'a'; c < 'a' + 26; ++c) {
      const std::string block(1 << 20, c);
      ASSERT_TRUE(file->Append(block.data(), block.size()));
      blocks += block;
    }
    file.reset();  // the destructor writes what is held
    EXPECT_TRUE(Read(folder + "/blocks") == blocks);
    ASSERT_TRUE(env.NewStreamFile(folder + "/empty", &file));
    ASSERT_TRUE(file->Sync());
    ASSERT_TRUE(file->Close());
    EXPECT_EQ(Read(folder + "/empty"), "");
  }
  std::filesystem::remove_all(memory);
}

}  // namespace
}  // namespace qb
