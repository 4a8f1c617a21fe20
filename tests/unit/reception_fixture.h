// The scan server in this process, one printer connected from 127.0.0.2
// (a peer whose class cannot be determined, so it is served), and helpers
// that build the image messages of a document.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/folders.h"
#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "scanproto/scan_job.h"
#include "scanproto/scan_server.h"
#include "server_fixture.h"

namespace qb::test {

struct PageHeaderFields {
  uint16_t dataForm = 1;
  std::string documentName = "scan.tif";
  std::string formatName = "TIFF";
  uint16_t width = 0, height = 0, resolution = 0x0200;
  uint16_t packing = 1, polarity = 0, continuation = 0;
  uint32_t dataLength = 0;
};

std::string Be16(uint16_t value);
std::string Body2(uint16_t code, uint16_t word);  // a 4-byte message
std::string ImageHeaderBody(const PageHeaderFields& fields);
// Replies as the printer sees them.
std::string ThreeWords(uint16_t code, uint16_t a, uint16_t b);
std::string PcCancel();

class ReceptionTest : public ServerTest {
 protected:
  void SetUp() override;

  // Connects from 127.0.0.2 and prepares the job as a finished parameter
  // exchange would: destination folder, job number, protocol version 1.
  ScanJob& ConnectPrinter();
  void SendBody(const std::string& body);
  // The image data in packets of at most `chunk` bytes (never below 5).
  void SendData(const std::string& data, size_t chunk = 24576);
  std::string Receive(size_t n) { return ServerTest::Receive(fd_, n); }
  std::string ReceiveAll() { return ServerTest::ReceiveAll(fd_); }
  std::vector<std::string> DestinationFiles() const;
  std::vector<std::string> TempFiles() const;
  std::string ReadLog() const;

  std::string dest_;
  std::string temp_;
  int fd_ = -1;
  ScanJob* job_ = nullptr;
};

}  // namespace qb::test
