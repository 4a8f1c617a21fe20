#include "nameservice/name_service.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "nameservice/fax_handoff.h"
#include "nameservice/host_table.h"
#include "nameservice/name_datagram.h"
#include "nameservice/request_limiter.h"
#include "platform/net.h"
#include "platform/system_log.h"
#include "platform/trace.h"
#include "platform/udp.h"
#include "platform/worker_pool.h"

namespace qb {
namespace {

// Datagrams are read into a cleared buffer this large, so that whatever a
// short datagram does not carry reads as zero.
constexpr size_t kReceiveBufferBytes = 5120;
static_assert(kReceiveBufferBytes >= kNameDatagramBytes);
constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFFu;
// Interfaces whose subnet broadcast is remembered (more are not checked).
constexpr size_t kMaxSubnetBroadcasts = 16;
// Datagrams read in one second at most; beyond it the socket is not read
// until the next second and the kernel drops what does not fit its queue.
// Far above what the printers of a network send, far below a flood's cost.
constexpr uint32_t kReadsPerSecond = 1000;
// Service mode: the table is written at most this often.
constexpr uint32_t kTableWriteMs = 1000;
// How long closing waits for a table write that is under way.
constexpr int kWriteGraceMs = 2000;

class NameService final : public SocketHandler {
 public:
  NameService(EventLoop& loop, NameServiceOptions options)
      : loop_(loop),
        options_(std::move(options)),
        table_(HostTablePath(), options_.saveEachRecord),
        faxQueue_(loop.env()) {
    CopyField(ownUpperName_, options_.ownName.substr(0, kOwnNameMax).c_str());
    UpperCaseAscii(ownUpperName_);
  }

  ~NameService();
  bool Open();
  // Waits for a table write that is under way (closing writes the table).
  void FinishWrites() { writer_.WaitIdle(kWriteGraceMs); }
  void OnReadable() override;
  void OnWritable() override;
  void OnPeerClosed() override;

  void Deliver(const uint8_t* data, size_t size, Ipv4Peer sender);
  int Announce();
  void Broadcast();
  void Save() { table_.Save(Now()); }

  uint16_t Port() const { return socket_.IsOpen() ? LocalPort(socket_.fd()) : 0; }
  const HostTable& table() const { return table_; }

 private:
  void Respond(Ipv4Peer sender);
  // Counts a datagram against the second's reading budget; false (and the
  // socket rests until the next second) when it is spent.
  bool MayRead();
  void NoteSecond(int64_t nowMs);
  bool Admit(uint32_t address) { return limiter_.Admit(address, loop_.env().NowMs()); }
  void WriteTableSoon();
  bool Send(const uint8_t* datagram, uint32_t address, uint16_t port);
  bool MayReplyTo(uint32_t address) const;
  void RefreshSubnetBroadcasts();
  void HandOffFax(const char* upperName, const char* ip);
  LocalDateTime Now() const { return options_.now ? options_.now() : CurrentLocalTime(); }

  EventLoop& loop_;
  NameServiceOptions options_;
  char ownUpperName_[kOwnNameMax + 1] = {};
  HostTable table_;
  LoopSocket socket_;
  uint8_t buffer_[kReceiveBufferBytes] = {};
  NameDatagram received_;
  std::vector<uint32_t> subnetBroadcasts_;
  FaxHandOffQueue faxQueue_;
  RequestLimiter limiter_;
  int64_t second_ = -1;
  uint32_t readsThisSecond_ = 0;
  EventLoop::TimerId resumeTimer_ = 0;
  EventLoop::TimerId writeTimer_ = 0;
  bool writing_ = false;
  // Last: destroyed first, so that no write's completion finds us gone.
  WorkerPool writer_{1};
};

NameService::~NameService() {
  loop_.CancelTimer(resumeTimer_);
  loop_.CancelTimer(writeTimer_);
}

std::unique_ptr<NameService> g_service;
// The loop that RequestAnnounceToHosts posts to, for threads other than its own.
std::mutex g_loop_mutex;
EventLoop* g_loop = nullptr;

bool NameService::Open() {
  table_.Load(Now());
  RefreshSubnetBroadcasts();
  int fd = UdpOpen();
  if (fd < 0) {
    TraceLog(" QN: socket failed:%d", LastSocketError());
    ShowMessageBox("ソケット", "ネットワークエラー(QN)");
    return false;
  }
  socket_ = LoopSocket(loop_, fd);
  if (!UdpBind(fd, options_.port)) {
    const int error = LastSocketError();
    TraceLog(" QN: bind to port %u failed:%d", options_.port, error);
    // Printers then cannot find this PC by its name: a person must know.
    const std::string text = "The name-service port UDP " + std::to_string(options_.port) +
                             " cannot be used (error " + std::to_string(error) +
                             "): printers cannot find this PC by its name.";
    ShowMessageBox(text.c_str(), "Quillbox");
    socket_.Close();
    return false;
  }
  socket_.Watch(this, kEventReadable | kEventWritable | kEventPeerClosed);
  if (options_.saveEachRecord) writeTimer_ = loop_.AddTimer(kTableWriteMs, [this] { WriteTableSoon(); });
  return true;
}

void NameService::NoteSecond(int64_t nowMs) {
  const int64_t second = nowMs / 1000;
  if (second == second_) return;
  second_ = second;
  readsThisSecond_ = 0;
  // The excess is told once a second at most, never datagram by datagram.
  if (const uint32_t refused = limiter_.TakeRefused()) {
    TraceLog(" QN: %u requests over the limit were not answered", refused);
  }
}

bool NameService::MayRead() {
  const int64_t now = loop_.env().NowMs();
  NoteSecond(now);
  if (++readsThisSecond_ <= kReadsPerSecond) return true;
  TraceLog(" QN: more than %u datagrams this second, not read until the next", kReadsPerSecond);
  socket_.PauseReading(true);
  const uint32_t rest = static_cast<uint32_t>(1000 - now % 1000);
  resumeTimer_ = loop_.AddTimer(rest, [this] {
    loop_.CancelTimer(resumeTimer_);
    resumeTimer_ = 0;
    socket_.PauseReading(false);
  });
  return false;
}

// Deliberately at most once a second and on a worker: the file is
// rewritten whole, and requests may come as fast as anyone sends them.
void NameService::WriteTableSoon() {
  if (writing_ || !table_.WriteDue()) return;
  writing_ = true;
  auto write = std::make_shared<HostTableWrite>(table_.TakeWrite(Now()));
  auto before = std::make_shared<uint32_t>(0);
  writer_.Run(
      loop_, [write, before] { *before = WriteHostTable(*write); },
      [this, before] {
        writing_ = false;
        table_.WriteDone(*before);
      });
}

void NameService::OnReadable() {
  TraceLog(" QN:FD_READ Receive");
  if (!MayRead()) return;
  std::memset(buffer_, 0, sizeof buffer_);
  Ipv4Peer sender;
  if (socket_.ReceiveFrom(buffer_, sizeof buffer_, &sender) < 0) return;
  Respond(sender);
}

void NameService::OnWritable() {
  TraceLog(" QN:FD_WRITE Receive");
  Announce();
  Broadcast();
}

void NameService::OnPeerClosed() {
  TraceLog(" QN:FD_CLOSE Receive");
  socket_.Close();
  Save();
}

void NameService::Deliver(const uint8_t* data, size_t size, Ipv4Peer sender) {
  NoteSecond(loop_.env().NowMs());
  std::memset(buffer_, 0, sizeof buffer_);
  std::memcpy(buffer_, data, size < sizeof buffer_ ? size : sizeof buffer_);
  Respond(sender);
}

void NameService::Respond(Ipv4Peer sender) {
  TraceLog(" QN:Receive UDP Data");
  TraceLog("  送信元 Port番号：%d", sender.port);
  ParseNameDatagram(buffer_, &received_);
  const bool nameIsOurs = std::strcmp(received_.upperName, ownUpperName_) == 0;
  const std::string ip = DottedAddress(sender.address);  // fits the short-string buffer

  if (received_.command == kFaxHandlerAnnounce) {
    TraceLog("  Command Name:MT_MULTI_NAME_RESOLVE_RES_4_FAXRCV_HDR( 0x%08x )", received_.command);
    // Our own broadcast comes back to us as well; only another PC's counts.
    if (!nameIsOurs && !GetUSESMTP() && Admit(sender.address)) {
      HandOffFax(received_.upperName, ip.c_str());
    }
  }
  ReplyPlan plan = PlanReply(received_.command, nameIsOurs);
  // A forged sender must not turn our reply into a broadcast, nor get
  // itself recorded.
  if (!plan.due || !MayReplyTo(sender.address)) {
    TraceLog("  Request Ignore");
    return;
  }
  // Deliberately limited per claimed sender and in all: the excess is
  // neither answered nor recorded (see RequestLimiter).
  if (!Admit(sender.address)) return;
  if (plan.records) table_.Record(received_.upperName, ip.c_str(), Now());
  TraceLog("  Data Num    :%d", static_cast<int>(received_.count));
  TraceLog("  要求ホスト名 :%s", received_.name);
  MakeReply(buffer_, plan.code, ownUpperName_);
  Send(buffer_, sender.address, plan.port);
}

bool NameService::Send(const uint8_t* datagram, uint32_t address, uint16_t port) {
  if (!socket_.IsOpen()) return false;
  if (options_.redirect && !options_.redirect(&address, &port)) return false;
  return socket_.SendTo(datagram, kNameDatagramBytes, address, port) ==
         static_cast<long>(kNameDatagramBytes);
}

bool NameService::MayReplyTo(uint32_t address) const {
  if (IsNeverUnicast(address)) return false;
  for (uint32_t broadcast : subnetBroadcasts_) {
    if (address == broadcast) return false;
  }
  return true;
}

void NameService::RefreshSubnetBroadcasts() {
  subnetBroadcasts_ = LocalBroadcastAddresses(kMaxSubnetBroadcasts);
}

void NameService::HandOffFax(const char* upperName, const char* ip) {
  if (options_.faxHandOff) {
    options_.faxHandOff(upperName, ip);
  } else {
    faxQueue_.Request(upperName, ip);
  }
}

int NameService::Announce() {
  std::string hostName;
  std::vector<std::string> current;
  int error = 0;
  const HostAddressLookup lookup = LocalHostAddresses(&hostName, &current, &error);
  if (lookup == HostAddressLookup::kNoHostName) {
    TraceLog("  Error( %d )when getting local host name.", error);
  } else {
    TraceLog("  Host name is %s ", hostName.c_str());
    if (lookup == HostAddressLookup::kBadLookup) TraceLog("  Yow! Bad host lookup.");
    for (const std::string& address : current) TraceLog("  Address : %s", address.c_str());
  }
  // The file keeps ten; comparing more would find a change every time.
  if (current.size() > static_cast<size_t>(kSavedOwnAddresses)) current.resize(kSavedOwnAddresses);

  // A failed lookup counts as a change, but what we know is kept for the
  // next comparison.
  bool changed = lookup != HostAddressLookup::kOk;
  if (!changed) {
    const std::vector<std::string> stored = ReadOwnAddresses(table_.path());
    changed = stored.size() != current.size();
    for (size_t i = 0; !changed && i < stored.size(); ++i) {
      changed = std::find(current.begin(), current.end(), stored[i]) == current.end();
    }
    if (changed) WriteOwnAddresses(table_.path(), current);
  }
  const bool due = AnnouncementDue(table_.path());
  if (!changed && !due) return 1;
  if (due) ClearAnnouncementDue(table_.path());
  RefreshSubnetBroadcasts();

  uint8_t datagram[kNameDatagramBytes];
  MakeAnnouncement(datagram, kNameNotifyRes, ownUpperName_);
  for (const HostEntry& entry : table_.list().entries()) {
    uint32_t address = 0;
    if (!ParseDottedAddress(entry.ip, &address) || !MayReplyTo(address)) continue;
    if (Send(datagram, address, kNameServicePort)) TraceLog("  NameResolve Send to:%s", entry.ip);
  }
  return 0;
}

void NameService::Broadcast() {
  uint8_t datagram[kNameDatagramBytes];
  MakeAnnouncement(datagram, kFaxHandlerAnnounce, ownUpperName_);
  uint32_t address = kLimitedBroadcast;
  uint16_t port = kNameServicePort;
  if (options_.redirect && !options_.redirect(&address, &port)) return;
  bool sent = false;
  int fd = UdpOpenBroadcast();
  if (fd >= 0) {
    sent = UdpSendTo(fd, datagram, sizeof datagram, address, port) ==
           static_cast<long>(sizeof datagram);
    SockClose(fd);
  }
  TraceLog(sent ? "  NameResolve Send for FAX Rcv Handler"
                : "  error: NameResolve Send for FAX Rcv Handler");
}

}  // namespace

bool OpenNameService(EventLoop& loop, NameServiceOptions options) {
  CloseNameService();
  // The table is loaded and saved even when the socket fails: the printers
  // already known keep their names for the connections of this run.
  g_service = std::make_unique<NameService>(loop, std::move(options));
  {
    std::lock_guard<std::mutex> lock(g_loop_mutex);
    g_loop = &loop;
  }
  return g_service->Open();
}

void CloseNameService() {
  if (g_service == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(g_loop_mutex);
    g_loop = nullptr;
  }
  g_service->FinishWrites();
  g_service->Save();
  g_service.reset();
}

uint16_t NameServicePort() { return g_service == nullptr ? 0 : g_service->Port(); }

void RequestAnnounceToHosts() {
  std::lock_guard<std::mutex> lock(g_loop_mutex);
  if (g_loop == nullptr) return;
  g_loop->Post([] { AnnounceToHosts(); });
}

int AnnounceToHosts() { return g_service == nullptr ? 0 : g_service->Announce(); }

void BroadcastFaxHandler() {
  if (g_service != nullptr) g_service->Broadcast();
}

void SaveHostTable() {
  if (g_service != nullptr) g_service->Save();
}

void HandleNameDatagram(const uint8_t* data, size_t size, uint32_t senderAddress,
                        uint16_t senderPort) {
  if (g_service == nullptr) return;
  Ipv4Peer sender;
  sender.address = senderAddress;
  sender.port = senderPort;
  g_service->Deliver(data, size, sender);
}

bool LookupHostName(const char* dottedAddress, char* buffer, size_t size) {
  if (size == 0) return false;
  buffer[0] = '\0';
  if (g_service == nullptr) return false;
  const HostEntry* entry = g_service->table().list().FindByIp(dottedAddress);
  if (entry == nullptr) return false;
  std::strncpy(buffer, entry->name, size - 1);
  buffer[size - 1] = '\0';
  return true;
}

}  // namespace qb
