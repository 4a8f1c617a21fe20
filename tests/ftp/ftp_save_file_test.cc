// Received-file buffers: the temporary-file buffer the FTP engine makes for
// every STOR, and the memory buffer with its chunk rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/folders.h"
#include "ftp/save_file.h"
#include "platform/fault_env.h"
#include "tests/unit/test_root.h"

namespace qb {
namespace {

namespace fs = std::filesystem;

class SaveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = root_.path() + "/tmp";
    ::setenv("TMP", temp_.c_str(), 1);
    InitTempFolder();
  }
  std::vector<std::string> TempFiles() const { return test::FolderNames(temp_); }
  static std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31) ^ (i >> 9));
    return data;
  }
  test::TestRoot root_;
  std::string temp_;
};

// A buffer without bytes makes no temporary file and saves nothing; one
// with bytes keeps them in a TXQB*.tmp file of its own in TMP (more than
// the 1 MiB copy block here, so a save copies in several rounds), saves
// them to as many paths as it is given, replacing what is there, and
// takes its file with it when it goes.
TEST_F(SaveFileTest, TemporaryFileLivesInTmpSavesAnywhereAndGoesWithTheBuffer) {
  const std::string data = Pattern(2500000);
  const std::string first = root_.path() + "/first.tif", second = root_.path() + "/second.tif";
  {
    TempSaveFile empty(first.c_str(), Env::Default());
    EXPECT_STREQ(empty.GetTempName(), "");
    EXPECT_FALSE(empty.Save());
    EXPECT_FALSE(fs::exists(first));
    EXPECT_TRUE(TempFiles().empty());

    TempSaveFile file(nullptr, Env::Default());
    for (size_t at = 0; at < data.size(); at += 30000) {
      ASSERT_TRUE(file.Write(data.data() + at,
                             static_cast<uint32_t>(std::min<size_t>(30000, data.size() - at))));
    }
    EXPECT_EQ(file.GetSize(), data.size());
    const std::string name = file.GetTempName();
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(temp_));
    const std::string base = fs::path(name).filename().string();
    EXPECT_EQ(base.rfind("TXQB", 0), 0u) << base;
    EXPECT_EQ(base.substr(base.size() - 4), ".tmp");
    std::string back(data.size(), '\0');
    ASSERT_TRUE(file.ReadAll(back.data()));
    EXPECT_EQ(back, data);
    EXPECT_FALSE(file.Save());  // nowhere to save to
    for (const std::string& path : {first, second, second}) {
      file.SetPath(path.c_str());
      ASSERT_TRUE(file.Save());
      EXPECT_EQ(test::ReadWholeFile(path), data);
    }
    TempSaveFile other(nullptr, Env::Default());
    ASSERT_TRUE(other.Write("b", 1));
    EXPECT_STRNE(other.GetTempName(), file.GetTempName());
  }
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(SaveFileTest, FailingWriteIsReportedAndNotCounted) {
  FaultEnv env(false);
  TempSaveFile file(nullptr, env);
  ASSERT_TRUE(file.Write("1234", 4));
  env.FailWrite(1);
  EXPECT_FALSE(file.Write("5678", 4));
  EXPECT_EQ(file.GetSize(), 4u);
  EXPECT_TRUE(file.Write("90", 2));
  char back[6];
  ASSERT_TRUE(file.ReadAll(back));
  EXPECT_EQ(std::string(back, 6), "123490");

  // No temporary folder: the first write fails.
  ::setenv("TMP", (root_.path() + "/missing").c_str(), 1);
  InitTempFolder();
  TempSaveFile nowhere(nullptr, Env::Default());
  EXPECT_FALSE(nowhere.Write("x", 1));
  EXPECT_EQ(nowhere.GetSize(), 0u);
  EXPECT_STREQ(nowhere.GetTempName(), "");
}

// The memory buffer keeps 256 KiB chunks: writes that end exactly at a
// chunk's end, go on after it, or span several chunks read back whole.
TEST_F(SaveFileTest, MemoryBufferReadsBackAcrossItsChunks) {
  const std::string data = Pattern(3 * 262144 + 17);
  const std::vector<std::vector<uint32_t>> writes = {{100000, 162144, 5},
                                                     {static_cast<uint32_t>(data.size())}};
  for (const auto& sizes : writes) {
    MemorySaveFile file(nullptr);
    EXPECT_EQ(file.GetTempName(), nullptr);
    size_t at = 0;
    for (uint32_t size : sizes) {
      ASSERT_TRUE(file.Write(data.data() + at, size));
      at += size;
      EXPECT_EQ(file.GetSize(), at);
      std::string back(at, '\0');
      ASSERT_TRUE(file.ReadAll(back.data()));
      EXPECT_EQ(back, data.substr(0, at));
    }
  }
  // Beyond its limit the buffer counts the bytes but keeps none.
  MemorySaveFile capped(nullptr, 10);
  ASSERT_TRUE(capped.Write("0123456789", 10));
  ASSERT_TRUE(capped.Write("x", 1));
  EXPECT_EQ(capped.GetSize(), 11u);
  char back[11];
  EXPECT_FALSE(capped.ReadAll(back));
}

}  // namespace
}  // namespace qb
