#include "server_fixture.h"

#include <algorithm>
#include <utility>

#include "scanproto/access_lock.h"

namespace qb::test {

void ServerTest::SetUp() {
  root_.WriteSettings(settings_);
  ClearLockedClients();
  env_.SetFreeBytes(uint64_t{1} << 40);
  StartServer(inlineDocumentWork_ ? RunDocumentWorkInline : DocumentWorkRunner{});
  env_.AdvanceMs(10);  // lets the start-up timer hand over to the idle check
  Pump();
}

void ServerTest::StartServer(DocumentWorkRunner runner) {
  ReceiverEvents hooks;
  hooks.trayState = [this](int state) { trayStates_.push_back(state); };
  hooks.newFileNotice = [this] { ++newFileNotices_; };
  hooks.notifyConfig = [this](uint32_t message, int64_t value) {
    notices_.emplace_back(message, value);
  };
  server_ = std::make_unique<ScanServer>(loop_, env_, std::move(hooks), std::move(runner));
  ASSERT_TRUE(server_->Start(listen_, ListenPorts{0, 0}));
}

void ServerTest::TearDown() {
  for (int fd : clients_) SockClose(fd);
  clients_.clear();
  server_.reset();
  ClearLockedClients();
}

void ServerTest::Pump(int rounds) {
  for (int i = 0; i < rounds; ++i) loop_.RunOnce(2);
}

int ServerTest::OpenClient(uint16_t role, const char* from) {
  uint32_t local = 0;
  if (from != nullptr) {
    EXPECT_TRUE(ParseDottedAddress(from, &local)) << from;
  }
  int fd = TcpConnect(0x7F000001, server_->BoundPort(role), local);
  EXPECT_GE(fd, 0);
  if (fd >= 0) clients_.push_back(fd);
  Pump();
  return fd;
}

void ServerTest::CloseClient(int fd) {
  auto found = std::find(clients_.begin(), clients_.end(), fd);
  if (found == clients_.end()) return;
  clients_.erase(found);
  SockClose(fd);
}

void ServerTest::SendRaw(int fd, const std::string& bytes) {
  ASSERT_EQ(SockSend(fd, bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
}

std::string ServerTest::Frame(const std::string& body) {
  std::string frame{static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)};
  return frame + body;
}

std::string ServerTest::Receive(int fd, size_t n, int idleLimit) {
  std::string got;
  for (int idle = 0; got.size() < n && idle < idleLimit;) {
    Pump(1);
    if (!WaitReadable(fd, 1)) {
      ++idle;
      continue;
    }
    char chunk[65536];
    long count = SockRecv(fd, chunk, std::min(sizeof chunk, n - got.size()));
    if (count <= 0) break;
    got.append(chunk, static_cast<size_t>(count));
  }
  return got;
}

bool ServerTest::ClosedByServer(int fd) {
  for (int i = 0; i < 100; ++i) {
    Pump(1);
    if (WaitReadable(fd, 1)) {
      char scrap[4096];
      long count = SockRecv(fd, scrap, sizeof scrap);
      if (count <= 0) return true;
    }
  }
  return false;
}

int ServerTest::TrayCount(int state) const {
  return static_cast<int>(std::count(trayStates_.begin(), trayStates_.end(), state));
}

}  // namespace qb::test
