#include "platform/profile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <utility>

#include "test_root.h"

namespace qb {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  test::TestRoot root_;
  std::string path_ = root_.path() + "/p.ini";
  void Write(const std::string& text) { std::ofstream(path_, std::ios::trunc) << text; }
};

TEST_F(ProfileTest, LookupIgnoresCaseAndTakesFirstMatch) {
  Write("; comment\n[Alpha]\nKey = one \nkey=two\n[ALPHA]\nKEY=three\n[beta]\nx=\"quoted \"\n");
  EXPECT_EQ(ProfileGetString(path_, "alpha", "KEY", "d"), "one");
  EXPECT_EQ(ProfileGetString(path_, "BETA", "X", "d"), "quoted ");
  EXPECT_EQ(ProfileGetString(path_, "alpha", "missing", "d"), "d");
  EXPECT_EQ(ProfileGetString(path_, "gamma", "key", "d"), "d");
  EXPECT_EQ(ProfileGetString(root_.path() + "/none.ini", "alpha", "key", "d"), "d");
  char small[4];
  EXPECT_EQ(ProfileGetString(path_, "alpha", "key", "", small, sizeof small), 3u);
  EXPECT_STREQ(small, "one");
  Write("[a]\nk=longer\n");
  ProfileGetString(path_, "a", "k", "", small, sizeof small);
  EXPECT_STREQ(small, "lon");
}

TEST_F(ProfileTest, IntegersParseALeadingSignedDecimal) {
  Write("[n]\na=42\nb=-17xyz\nc=abc\nd= +8\ne=99999999999999\nf=-99999999999999\ng=\n");
  const std::pair<const char*, int> cases[] = {{"a", 42},      {"b", -17},     {"c", 0},
                                               {"d", 8},       {"e", INT_MAX}, {"f", INT_MIN},
                                               {"g", 0},       {"absent", 5}};
  for (const auto& [key, value] : cases) EXPECT_EQ(ProfileGetInt(path_, "n", key, 5), value) << key;
}

TEST_F(ProfileTest, KeyNamesInFileOrderWithinTheLimit) {
  Write("[s]\nScanner1=a\nother=b\n[t]\nq=1\n");
  EXPECT_EQ(ProfileKeyNames(path_, "S"), (std::vector<std::string>{"Scanner1", "other"}));
  EXPECT_EQ(ProfileKeyNames(path_, "S", 12), (std::vector<std::string>{"Scanner1"}));
  EXPECT_TRUE(ProfileKeyNames(path_, "missing").empty());
}

TEST_F(ProfileTest, WritingKeepsEverythingElse) {
  Write("# top\n[one]\na=1\nb=2\n\n[two]\nc=3\n");
  EXPECT_TRUE(ProfileWriteString(path_, "ONE", "B", "20"));
  EXPECT_TRUE(ProfileWriteString(path_, "one", "new", "x"));
  EXPECT_TRUE(ProfileWriteString(path_, "three", "d", "4"));
  EXPECT_TRUE(ProfileWriteString(path_, "two", "c", nullptr));
  EXPECT_TRUE(ProfileWriteString(path_, "two", "absent", nullptr));
  EXPECT_EQ(test::ReadWholeFile(path_), "# top\n[one]\na=1\nB=20\nnew=x\n\n[two]\n[three]\nd=4\n");
}

// A batch is read and written once, and must come out exactly as the same
// updates written one by one: random files (sections in any order, blank
// and comment lines, a last line without its newline) and random batches
// of replacements, additions and deletions, repeated keys included.
TEST_F(ProfileTest, ABatchWritesWhatItsUpdatesOneByOneWould) {
  const std::string other = root_.path() + "/q.ini";
  uint32_t seed = 7;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245 + 12345;
    return (seed >> 16) % range;
  };
  const char* keys[] = {"Scanner1", "scanner2", "Scanner3", "JobCount", "a"};
  const char* sections[] = {"SCANNERADDR", "scannerAddr", "SCANJOB", "other"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int line = 0, lines = static_cast<int>(next(12)); line < lines; ++line) {
      switch (next(5)) {
        case 0: text += std::string("[") + sections[next(4)] + "]\n"; break;
        case 1: text += "\n"; break;
        case 2: text += "; note\n"; break;
        default: text += std::string(keys[next(5)]) + "=v" + std::to_string(next(9)) + "\n";
      }
    }
    if (!text.empty() && next(3) == 0) text.pop_back();  // no newline at the end
    std::vector<ProfileUpdate> batch;
    for (int i = 0, n = static_cast<int>(next(6)); i < n; ++i) {
      ProfileUpdate update{keys[next(5)], std::nullopt};
      if (next(3) != 0) update.value = "w" + std::to_string(next(9));
      batch.push_back(update);
    }
    const char* section = sections[next(4)];
    std::ofstream(path_, std::ios::trunc) << text;
    std::ofstream(other, std::ios::trunc) << text;
    ProfileWriteMany(path_, section, batch);
    for (const ProfileUpdate& update : batch) {
      ProfileWriteString(other, section, update.key.c_str(),
                         update.value ? update.value->c_str() : nullptr);
    }
    ASSERT_EQ(test::ReadWholeFile(path_), test::ReadWholeFile(other)) << "round " << round << ":\n" << text;
  }
}

TEST_F(ProfileTest, WritesFailQuietlyWithoutAFolderAndDeletesCreateNothing) {
  EXPECT_FALSE(ProfileWriteString(root_.path() + "/no/such/dir.ini", "a", "b", "c"));
  EXPECT_TRUE(ProfileWriteString(path_, "a", "b", nullptr));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(ProfileTest, ConcurrentWritersLoseNoUpdate) {
  // Each writer opens the file on its own, as separate processes would.
  auto writer = [this](const char* prefix) {
    for (int i = 0; i < 100; ++i) {
      std::string key = std::string(prefix) + std::to_string(i);
      ProfileWriteString(path_, "race", key.c_str(), "v");
    }
  };
  std::thread first(writer, "a");
  std::thread second(writer, "b");
  first.join();
  second.join();
  EXPECT_EQ(ProfileKeyNames(path_, "race").size(), 200u);
}

// A reader that takes no lock (a desktop applet reading the tray file)
// sees the whole old text or the whole new one while writers replace it.
TEST_F(ProfileTest, AReplacedFileIsNeverSeenHalfWritten) {
  const std::string longValue(3000, 'x');
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 300; ++i) {
      const std::string value = i % 2 == 0 ? longValue : "short";
      ASSERT_TRUE(ProfileReplaceMany(path_, "TRAY", {{"Icon", value}, {"Tip", "Quillbox"}}));
    }
    done = true;
  });
  int seen = 0;
  while (!done) {
    const std::string text = test::ReadWholeFile(path_);
    if (text.empty()) continue;  // not written yet
    ++seen;
    EXPECT_TRUE(text == "[TRAY]\nIcon=" + longValue + "\nTip=Quillbox\n" ||
                text == "[TRAY]\nIcon=short\nTip=Quillbox\n")
        << text.size();
  }
  writer.join();
  EXPECT_GT(seen, 0);
  EXPECT_EQ(ProfileGetString(path_, "TRAY", "Icon", ""), "short");
}

// Reads of a file that stays as it was may come from the last read; any
// change is seen by the next read, even one that keeps the size, made by a
// writer outside the profile functions after the file had settled.
TEST_F(ProfileTest, AChangeToASettledFileIsSeenAtTheNextRead) {
  Write("[a]\nk=one\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "one");
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "one");
  Write("[a]\nk=two\n");
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "two");
  std::filesystem::remove(path_);
  EXPECT_EQ(ProfileGetString(path_, "a", "k", "gone"), "gone");
  Write("[a]\nk=six\n");
  EXPECT_EQ(ProfileGetInt(path_, "a", "k", 7), 0);
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "six");
}

// Right after a change (the receiver writes its settings on every printer
// connection, then reads them on every page) the reads after the first
// come from it while nothing changes the file; a change by any writer,
// even one that keeps the size and comes within the same instant, is seen
// by the next read.
TEST_F(ProfileTest, AFileJustWrittenIsReadOnceUntilItChanges) {
  ASSERT_TRUE(ProfileWriteString(path_, "a", "k", "one"));
  const uint64_t before = ProfileFileReads();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "one");
  EXPECT_EQ(ProfileFileReads() - before, 1u);

  for (const char* value : {"two", "six", "ten"}) {
    Write(std::string("[a]\nk=") + value + "\n");  // not through the profile functions
    EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), value);
  }
  // A file replaced by another at its name, and one in another folder.
  const std::string beside = path_ + ".new";
  std::ofstream(beside) << "[a]\nk=new\n";
  std::filesystem::rename(beside, path_);
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "new");
  // A writer that may have changed it unseen by its times (on a file
  // system whose times step coarsely): the next read reads it again.
  const uint64_t unchanged = ProfileFileReads();
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "new");
  EXPECT_EQ(ProfileFileReads(), unchanged);
  { std::ofstream opened(path_, std::ios::in | std::ios::out); }
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "new");
  EXPECT_EQ(ProfileFileReads() - unchanged, 1u);
  std::filesystem::create_directory(root_.path() + "/sub");
  const std::string other = root_.path() + "/sub/p.ini";
  std::ofstream(other) << "[a]\nk=one\n";
  EXPECT_EQ(ProfileGetString(other, "a", "k", ""), "one");
  std::ofstream(other, std::ios::trunc) << "[a]\nk=two\n";
  EXPECT_EQ(ProfileGetString(other, "a", "k", ""), "two");
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "new");

  // Reached through a link, or with a second name, the file may change
  // where the watch does not look: such reads are not trusted early.
  const std::string target = root_.path() + "/sub/target.ini";
  const std::string link = root_.path() + "/link.ini";
  const std::string second = root_.path() + "/second.ini";
  std::ofstream(target) << "[a]\nk=one\n";
  std::filesystem::create_symlink(target, link);
  std::filesystem::create_hard_link(path_, second);
  for (const std::string& name : {link, second}) {
    EXPECT_NE(ProfileGetString(name, "a", "k", ""), "");
    const uint64_t reads = ProfileFileReads();
    ProfileGetString(name, "a", "k", "");
    EXPECT_EQ(ProfileFileReads() - reads, 1u) << name;
  }
}

// While another process holds the lock to write, a read that has read the
// file before answers at once with what it read; a first read waits for
// the writer and gets the finished text.
TEST_F(ProfileTest, AReadWaitsForAWriterOnlyWhenItHasNothingToAnswer) {
  Write("[a]\nk=one\n");
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "one");
  ProfileWriterLock writer(path_);
  ASSERT_TRUE(writer.held());
  Write("[a]\nk=two\n");
  auto read =
      std::async(std::launch::async, [this] { return ProfileGetString(path_, "a", "k", ""); });
  const bool answered = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!answered) writer.Release();  // lets the read end
  ASSERT_TRUE(answered);
  EXPECT_EQ(read.get(), "one");

  const std::string other = root_.path() + "/other.ini";
  std::ofstream(other) << "[a]\nk=new\n";
  ProfileWriterLock otherWriter(other);
  ASSERT_TRUE(otherWriter.held());
  auto first =
      std::async(std::launch::async, [&] { return ProfileGetString(other, "a", "k", ""); });
  EXPECT_EQ(first.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  otherWriter.Release();
  EXPECT_EQ(first.get(), "new");
  writer.Release();
  EXPECT_EQ(ProfileGetString(path_, "a", "k", ""), "two");
}

}  // namespace
}  // namespace qb
