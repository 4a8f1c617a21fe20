#include "storage/receive_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "platform/fault_env.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::StorageTest;

// The entry after its date and time in the C locale's format
// ("YYYY/MM/DD hh:mm"), or "?" when it does not start with one.
std::string AfterDateTime(const std::string& line) {
  const std::string shape = "dddd/dd/dd dd:dd";
  return test::StartsWithShape(line, shape) ? line.substr(shape.size()) : "?";
}

using test::Lines;

class ReceiveLogTest : public StorageTest {
 protected:
  static StoredDocument Document(const std::string& outputPath,
                                 const std::string& sender = "ScannerA") {
    StoredDocument document;
    document.outputPath = outputPath;
    document.senderName = sender;
    document.fileCount = 1;
    return document;
  }
  static FaxNotice Notice(const char* b, const char* c, const char* d, const char* e,
                          const char* f) {
    FaxNotice notice;
    notice.dateText = "2021/03/04 05:06";
    notice.textB = b;
    notice.textC = c;
    notice.textD = d;
    notice.textE = e;
    notice.textF = f;
    return notice;
  }
  static std::string Entries(int from, int count) {
    std::string text;
    for (int i = from; i < from + count; ++i) text += "entry " + std::to_string(i) + "\n";
    return text;
  }
};

TEST_F(ReceiveLogTest, StoredDocumentEntryInNormalAndMarkedForm) {
  std::string folder = (root_ / "out").string();
  StoredDocument document = Document(folder + "/doc_000.pdf");
  ASSERT_TRUE(LogStoredDocument(document, true, Env::Default()));
  document.fileCount = 5;
  ASSERT_TRUE(LogStoredDocument(document, false, Env::Default()));

  std::vector<std::string> lines = Lines(ReadReceiveLog());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(AfterDateTime(lines[0]), " *;ScannerA;doc_000.pdf;1;" + folder);
  EXPECT_EQ(AfterDateTime(lines[1]), "  ;ScannerA;*** doc_000.pdf ***;5;" + folder);
}

TEST_F(ReceiveLogTest, ScannerColumnFallsBackAndIsCutToSixteenBytes) {
  StoredDocument document = Document("/doc.pdf", "");
  document.requestSenderName = "ABCDEFGHIJKLMNOPQRST";
  ASSERT_TRUE(LogStoredDocument(document, true, Env::Default()));
  std::vector<std::string> lines = Lines(ReadReceiveLog());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" *;ABCDEFGHIJKLMNOP;doc.pdf;1;/"), std::string::npos) << lines[0];

  // Fifteen bytes and then a double-byte character: under code page 932
  // the character is left out whole.
  StoredDocument japanese = Document("/x/doc.pdf", "123456789012345\x82\xA0zz");
  japanese.requestSenderName = "not used while there is a sender name";
  {
    ScopedEnv codePage("QUILLBOX_CODEPAGE", "932");
    ASSERT_TRUE(LogStoredDocument(japanese, true, Env::Default()));
  }
  ASSERT_TRUE(LogStoredDocument(japanese, true, Env::Default()));
  lines = Lines(ReadReceiveLog());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find(";123456789012345;doc.pdf"), std::string::npos);
  EXPECT_NE(lines[2].find(";123456789012345\x82;doc.pdf"), std::string::npos);
}

TEST_F(ReceiveLogTest, FaxNoticeEntry) {
  FaxNotice notice = Notice("Sender_1", "C", "D", "E", "F");
  ASSERT_TRUE(LogFaxNotice(notice, Env::Default()));
  notice.textC.clear();
  ASSERT_TRUE(LogFaxNotice(notice, Env::Default()));
  EXPECT_EQ(ReadReceiveLog(),
            "2021/03/04 05:06 *;Sender_1 C;F;1;E;D\n"
            "2021/03/04 05:06 *;Sender_1;F;1;E;D\n");
}

TEST_F(ReceiveLogTest, TextFromTheNetworkNeverAddsAFieldOrALine) {
  StoredDocument document = Document("/x/a;b\rc.pdf", "Bob;x\n2030/01/01");
  ASSERT_TRUE(LogStoredDocument(document, true, Env::Default()));
  ASSERT_TRUE(LogFaxNotice(Notice("B\r\n", "C;c", "D\x01", "E\nE", "F\x7F;"), Env::Default()));
  std::vector<std::string> lines = Lines(ReadReceiveLog());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(AfterDateTime(lines[0]), " *;Bobx2030/01/01;abc.pdf;1;/x");
  EXPECT_EQ(lines[1], "2021/03/04 05:06 *;B Cc;F;1;EE;D");
}

TEST_F(ReceiveLogTest, MissingDataFolderSkipsTheEntry) {
  fs::remove_all(DataFolderPath());
  EXPECT_FALSE(LogStoredDocument(Document("/x/doc.pdf"), true, Env::Default()));
  TrimReceiveLog(Env::Default());
  EXPECT_FALSE(fs::exists(DataFolderPath()));
}

// A trim keeps the last List entries (100 by default) under one header,
// drops stray headers, and takes the first line of a file made by appends
// alone (no header) for an entry.
TEST_F(ReceiveLogTest, TrimKeepsListEntriesUnderOneHeader) {
  const std::string header = std::string(kReceiveLogHeader) + "\n";
  const struct {
    const char* list;  // nullptr: not set
    std::string before, after;
  } cases[] = {
      {nullptr, header + Entries(1, 100), header + Entries(1, 100)},
      {nullptr, header + Entries(1, 101), header + Entries(2, 100)},
      {nullptr, "//old header\nentry 1\n//stray\nentry 2\n", header + "entry 1\nentry 2\n"},
      {nullptr, Entries(1, 3), Entries(1, 3)},
      {"2", Entries(1, 3), header + Entries(2, 2)},
      {"0", header + Entries(1, 100), header},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before.substr(0, 20));
    if (c.list != nullptr) WriteSetting("MANAGEMENT", "List", c.list);
    WriteReceiveLog(c.before);
    TrimReceiveLog(Env::Default());
    EXPECT_EQ(ReadReceiveLog(), c.after);
  }
}

TEST_F(ReceiveLogTest, TheReceiverKeepsTheLogAtListEntriesItself) {
  WriteSetting("MANAGEMENT", "List", "3");
  for (int i = 1; i <= 5; ++i) {
    LogStoredDocument(Document((root_ / ("doc" + std::to_string(i) + ".pdf")).string()), true,
                      Env::Default());
  }
  std::vector<std::string> lines = Lines(ReadReceiveLog());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], kReceiveLogHeader);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(lines[1 + i].find(";doc" + std::to_string(3 + i) + ".pdf;"), std::string::npos)
        << lines[1 + i];
  }
  EXPECT_FALSE(std::filesystem::exists(DataFolderPath() / "tvscanlog_f.bin.part"));
}

TEST_F(ReceiveLogTest, ConcurrentWritersNeverMixLines) {
  constexpr int kThreads = 4;
  constexpr int kEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      const StoredDocument document =
          Document((root_ / ("folder" + std::to_string(t)) / "doc.pdf").string());
      for (int i = 0; i < kEach; ++i) LogStoredDocument(document, true, Env::Default());
      TrimReceiveLog(Env::Default());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<std::string> lines = Lines(ReadReceiveLog());
  ASSERT_EQ(lines.size(), 101u);  // header + List entries
  const std::string entryStart = " *;ScannerA;doc.pdf;1;" + root_.string() + "/folder";
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string entry = AfterDateTime(lines[i]);
    ASSERT_EQ(entry.size(), entryStart.size() + 1) << lines[i];
    EXPECT_EQ(entry.substr(0, entryStart.size()), entryStart);
  }
}

// A trim is a rewrite of the whole log: wherever the power goes during it,
// the next start finds the old log or the trimmed one, never a part.
TEST_F(ReceiveLogTest, ACrashDuringATrimLeavesOneWholeLog) {
  WriteSetting("MANAGEMENT", "List", "2");
  const std::string old = Entries(1, 3);
  const std::string trimmed = std::string(kReceiveLogHeader) + "\n" + Entries(2, 2);
  FaultEnv env(false);
  WriteReceiveLog(old);
  const int64_t before = env.FileOpCount();
  TrimReceiveLog(env);
  const int steps = static_cast<int>(env.FileOpCount() - before);
  ASSERT_EQ(ReadReceiveLog(), trimmed);
  for (int n = 0; n <= steps; ++n) {
    SCOPED_TRACE(n);
    WriteReceiveLog(old);
    env.CrashAfterFileOps(n);
    TrimReceiveLog(env);
    env.SimulateCrash();
    EXPECT_EQ(ReadReceiveLog(), n == steps ? trimmed : old);
    EXPECT_FALSE(fs::exists(DataFolderPath() / "tvscanlog_f.bin.part"));
  }
}

TEST_F(ReceiveLogTest, AFullDiskFailsTheEntry) {
  FaultEnv env(false);
  env.FailWrite(1);
  EXPECT_FALSE(LogStoredDocument(Document((root_ / "doc.pdf").string()), true, env));
  EXPECT_TRUE(LogStoredDocument(Document((root_ / "doc.pdf").string()), true, env));
  EXPECT_EQ(Lines(ReadReceiveLog()).size(), 1u);
}

}  // namespace
}  // namespace qb
