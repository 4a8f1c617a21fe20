#include "scanproto/stored_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "test_root.h"

namespace qb {
namespace {

// A cleared job whose parameter copy names destination 300, a sender name
// at offset 100 and a meta data record at offset 200.
std::unique_ptr<ScanJob> RequestedJob() {
  auto job = std::make_unique<ScanJob>(Env::Default());
  job->Clear();
  job->document.para = KeptParaRequest{0x3402, 300, 100, 200};
  std::strcpy(reinterpret_cast<char*>(job->document.paraCopy + 100), "FrontDeskScanner");
  std::strcpy(reinterpret_cast<char*>(job->document.paraCopy + 200), "QNN_SKAN:Carol");
  std::strcpy(job->peerIp, "10.1.2.3");
  std::strcpy(job->document.senderName, "Alice");
  std::strcpy(job->document.outputPath, "/srv/in/doc_000.pdf");
  return job;
}

TEST(StoredDocumentTest, TakesTheRequestFieldsAndTheJobsTexts) {
  auto job = RequestedJob();
  job->document.multiPage = true;
  job->document.pageCount = 4;
  StoredDocument document = StoredDocumentOf(*job);
  EXPECT_EQ(document.destination, 300);
  EXPECT_EQ(document.peerAddress, "10.1.2.3");
  EXPECT_EQ(document.senderName, "Alice");
  EXPECT_EQ(document.requestSenderName, "FrontDeskScanner");
  EXPECT_EQ(document.outputPath, "/srv/in/doc_000.pdf");
  EXPECT_EQ(document.fileCount, 1);  // one multi-page file
  // The record inside the copy reaches to the copy's end.
  EXPECT_EQ(document.metaData.data, job->document.paraCopy + 200);
  EXPECT_EQ(document.metaData.size, kParaCopySize - 200);

  job->document.multiPage = false;
  EXPECT_EQ(StoredDocumentOf(*job).fileCount, 4);  // a file per page

  job->document.metaData.reset(new uint8_t[600]());
  job->document.metaDataLength = 600;
  document = StoredDocumentOf(*job);
  EXPECT_EQ(document.metaData.data, job->document.metaData.get());
  EXPECT_EQ(document.metaData.size, 600u);
}

TEST(StoredDocumentTest, AbsentOrOutOfRangeOffsetsGiveNothing) {
  auto job = RequestedJob();
  job->document.para.nameOffset = 0x7F00;  // far past the copy
  job->document.para.metaOffset = 540;     // just past the copy
  StoredDocument document = StoredDocumentOf(*job);
  EXPECT_EQ(document.requestSenderName, "");
  EXPECT_EQ(document.metaData.data, nullptr);
  EXPECT_EQ(document.metaData.size, 0u);

  job->document.para.nameOffset = job->document.para.metaOffset = 0;
  document = StoredDocumentOf(*job);
  EXPECT_EQ(document.requestSenderName, "");
  EXPECT_EQ(document.metaData.data, nullptr);
}

TEST(StoredDocumentTest, UnterminatedBuffersAreCutAtTheirEnd) {
  auto job = RequestedJob();
  std::memset(job->peerIp, '1', sizeof job->peerIp);
  std::memset(job->document.senderName, 'S', sizeof job->document.senderName);
  StoredDocument document = StoredDocumentOf(*job);
  EXPECT_EQ(document.peerAddress, std::string(sizeof job->peerIp, '1'));
  EXPECT_EQ(document.senderName, std::string(sizeof job->document.senderName, 'S'));
}

}  // namespace
}  // namespace qb
