#include "reception_fixture.h"

#include <algorithm>
#include <cstdlib>

#include "scanproto/access_lock.h"

namespace qb::test {

std::string Be16(uint16_t value) {
  return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string Body2(uint16_t code, uint16_t word) { return Be16(code) + Be16(word); }

std::string ThreeWords(uint16_t code, uint16_t a, uint16_t b) {
  return Be16(6) + Be16(code) + Be16(a) + Be16(b);
}

std::string PcCancel() { return Be16(4) + Be16(0x3602) + Be16(0xFEE2); }

std::string ImageHeaderBody(const PageHeaderFields& fields) {
  std::string body(84, '\0');
  auto put16 = [&](size_t at, uint16_t v) { body.replace(at, 2, Be16(v)); };
  put16(0, 0x3001);
  put16(2, fields.dataForm);
  put16(4, 36);
  body.replace(6, 4, Be16(fields.dataLength >> 16) + Be16(fields.dataLength & 0xFFFF));
  put16(10, fields.resolution);
  put16(12, fields.width);
  put16(14, fields.height);
  put16(22, fields.packing);
  put16(24, fields.polarity);
  put16(32, fields.continuation);
  const size_t nameAt = 36 + fields.formatName.size() + 1;
  put16(34, static_cast<uint16_t>(nameAt));
  body.replace(36, fields.formatName.size(), fields.formatName);
  std::string tail = fields.documentName + '\0';
  if (nameAt + tail.size() > body.size()) body.resize(nameAt + tail.size(), '\0');
  body.replace(nameAt, tail.size(), tail);
  return body;
}

void ReceptionTest::SetUp() {
  dest_ = root_.path() + "/srv/dest";
  temp_ = root_.path() + "/tmp/pages";
  std::filesystem::create_directories(dest_);
  std::filesystem::create_directories(temp_);
  ::setenv("TMP", temp_.c_str(), 1);
  InitTempFolder();
  ServerTest::SetUp();
}

ScanJob& ReceptionTest::ConnectPrinter() {
  fd_ = OpenClient(kJobPort, kPrinterIp);
  EXPECT_EQ(Receive(4), std::string("OK\0\x05", 4));
  job_ = server_->FirstJob();
  EXPECT_NE(job_, nullptr);
  std::snprintf(job_->document.folderPath, sizeof job_->document.folderPath, "%s", dest_.c_str());
  job_->document.jobNo = 7;
  job_->majorVersion = 1;
  return *job_;
}

void ReceptionTest::SendBody(const std::string& body) {
  SendRaw(fd_, Frame(body));
  const int socket = job_->socket;
  for (int i = 0; i < 200; ++i) {
    Pump(1);
    if (server_->FindJob(socket) != job_) return;  // closed by the server
    if (server_->PacketBytesPending(*job_) == 0) return;
  }
}

void ReceptionTest::SendData(const std::string& data, size_t chunk) {
  for (size_t at = 0; at < data.size();) {
    size_t n = std::min(chunk, data.size() - at);
    // A last piece under 5 bytes would end the data phase: fold it into
    // the piece before.
    if (data.size() - at - n > 0 && data.size() - at - n < 5) n -= 5;
    SendBody(data.substr(at, n));
    at += n;
  }
}

std::vector<std::string> ReceptionTest::DestinationFiles() const { return FolderNames(dest_); }
std::vector<std::string> ReceptionTest::TempFiles() const { return FolderNames(temp_); }

std::string ReceptionTest::ReadLog() const {
  return ReadWholeFile(root_.DataDir() + "/tvscanlog_f.bin");
}

}  // namespace qb::test
