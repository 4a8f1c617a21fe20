#include "storage/extension_call.h"

#include <gtest/gtest.h>

#include <memory>

#include "storage/raw_dump.h"
#include "storage/receive_log.h"
#include "tests/storage/meta_record_builder.h"
#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

namespace fs = std::filesystem;
using testing::MetaRecordBuilder;
using testing::ReadWholeFile;
using testing::ScopedEnv;
using testing::StorageTest;

class ExtensionCallTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    folder_ = MakeFolder("dest").string();
    callLog_ = (root_ / "calls.log").string();
    document_.destination = 12;
    document_.peerAddress = "192.168.1.20";
    document_.senderName = "Alice";
    document_.outputPath = folder_ + "/doc_000.pdf";
    document_.fileCount = 3;
    logPath_ = std::make_unique<ScopedEnv>("QUERN_EXT_EXAMPLE_LOG", callLog_.c_str());
  }
  void ListLibrary(const std::string& library) const {
    WriteDestinationList("12;" + folder_ + ";;;" + library + "\n");
  }
  std::string Calls() const { return ReadWholeFile(callLog_); }

  std::string folder_;
  std::string callLog_;
  StoredDocument document_;
  std::unique_ptr<ScopedEnv> logPath_;
};

TEST_F(ExtensionCallTest, ExampleLibrarySeesTheDocument) {
  ListLibrary(QB_EXAMPLE_EXTENSION);
  int32_t status = 1;
  qnExtParaOperation(&document_, &status, Env::Default());
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Calls(), "operation=2\tstatus=1\tscanner=192.168.1.20\tfiles=3\tpath=" + folder_ +
                         "/doc_000.pdf\tsender=Alice\tdestination=12\tmeta=no\n");
}

TEST_F(ExtensionCallTest, StatusFourMarksTheLogEntry) {
  ListLibrary(QB_EXAMPLE_EXTENSION);
  ScopedEnv wanted("QUERN_EXT_EXAMPLE_STATUS", "4");
  int32_t status = 0;
  qnExtParaOperation(&document_, &status, Env::Default());
  ASSERT_EQ(status, 4);
  ASSERT_TRUE(LogStoredDocument(document_, status != 4, Env::Default()));
  EXPECT_NE(ReadReceiveLog().find("  ;Alice;*** doc_000.pdf ***;3;" + folder_), std::string::npos);
}

TEST_F(ExtensionCallTest, UnusableLibrariesAreSkipped) {
  for (std::string library : {(root_ / "missing.so").string(), std::string("libm.so.6")}) {
    ListLibrary(library);
    int32_t status = 1;
    qnExtParaOperation(&document_, &status, Env::Default());
    EXPECT_EQ(status, 1) << library;
  }
  EXPECT_FALSE(fs::exists(callLog_));
  EXPECT_TRUE(LogStoredDocument(document_, true, Env::Default()));
}

TEST_F(ExtensionCallTest, SenderRecordAppliesAfterTheCallOnlyForAListedDestination) {
  auto record = MetaRecordBuilder("QNN_SKAN:").Bytes();
  std::string name = "Bob-the-scanner-with-a-very-long-name";
  std::vector<uint8_t> block(record.begin(), record.begin() + 9);
  block.insert(block.end(), name.begin(), name.end());  // no NUL: ends with the block
  document_.metaData = {block.data(), block.size()};

  WriteDestinationList("");
  int32_t status = 1;
  EXPECT_FALSE(qnExtParaOperation(&document_, &status, Env::Default()));
  EXPECT_EQ(document_.senderName, "Alice");

  ListLibrary(QB_EXAMPLE_EXTENSION);
  EXPECT_TRUE(qnExtParaOperation(&document_, &status, Env::Default()));
  EXPECT_NE(Calls().find("\tsender=Alice\t"), std::string::npos);
  EXPECT_NE(Calls().find("\tmeta=yes\n"), std::string::npos);
  EXPECT_EQ(document_.senderName, name.substr(0, 32));
}

TEST_F(ExtensionCallTest, DumpRecordsTheCall) {
  fs::path dump = root_ / "dump.bin";
  WriteSetting("MANAGEMENT", "FTP_DebugLogDBA", dump.string());
  ASSERT_TRUE(RawDumpEnabled());

  // The dump shows as many bytes as the record's length field claims.
  auto record = MetaRecordBuilder("QNA_ATTR:").Length(30).Text(1, "abc").Bytes();
  record.resize(80, 'x');
  document_.metaData = {record.data(), record.size()};
  ListLibrary(QB_EXAMPLE_EXTENSION);
  int32_t status = 1;
  qnExtParaOperation(&document_, &status, Env::Default());

  std::string expected =
      std::string("Loading ExtDLL : ") + QB_EXAMPLE_EXTENSION + "\n" + "MetaData=BINARY[" +
      std::string(reinterpret_cast<const char*>(record.data()), 30) + "]END\n" +
      "QuernExtExpFunc : pScannerAddr = 192.168.1.20, " +
      "slRcvFileNum = 3, pRcvFileName = " + folder_ +
      "/doc_000.pdf, pSenderNameJp = Alice, slSaveNo = 12\n" + "QuernExtExpFunc complete(0)\n";
  EXPECT_EQ(ReadWholeFile(dump), expected);
  EXPECT_NE(Calls().find("\tmeta=yes\n"), std::string::npos);
}

TEST_F(ExtensionCallTest, DumpPathIsReadOnce) {
  fs::path first = root_ / "first.bin";
  WriteSetting("MANAGEMENT", "FTP_DebugLogDBA", first.string());
  RawDumpText(Env::Default(), "one\n");
  WriteSetting("MANAGEMENT", "FTP_DebugLogDBA", (root_ / "second.bin").string());
  uint8_t bytes[] = {0, 1, 2};
  RawDumpBytes(Env::Default(), bytes, sizeof bytes);
  EXPECT_EQ(ReadWholeFile(first), std::string("one\nBINARY[\0\1\2]END\n", 19));
  EXPECT_FALSE(fs::exists(root_ / "second.bin"));
}

}  // namespace
}  // namespace qb
