// Throughput of the scan connection path: 24576-byte packets through one
// job connection on loopback into a handler that drops them, against raw
// loopback TCP moving the same bytes. Prints both and their ratio.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/folders.h"
#include "platform/event_loop.h"
#include "platform/fault_env.h"
#include "platform/net.h"
#include "scanproto/scan_server.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr size_t kBody = 24576;
constexpr size_t kPacketsPerRound = 4096;  // 96 MiB a round

double g_scan_rate = 0;
double g_raw_rate = 0;
double g_raw_64k_rate = 0;

std::string MakePackets() {
  // Code 0 is not a message: the dispatcher drops such packets unanswered.
  std::string packet(kBody + 2, '\0');
  packet[0] = static_cast<char>(kBody >> 8);
  packet[1] = static_cast<char>(kBody & 0xFF);
  std::string all;
  for (int i = 0; i < 64; ++i) all += packet;
  return all;
}

void SendAll(int fd, const std::string& block, size_t rounds) {
  for (size_t i = 0; i < rounds; ++i) {
    size_t sent = 0;
    while (sent < block.size()) {
      long put = qb::SockSend(fd, block.data() + sent, block.size() - sent);
      if (put <= 0) return;
      sent += static_cast<size_t>(put);
    }
  }
}

void BM_ScanConnection(benchmark::State& state) {
  std::string block = MakePackets();
  size_t blocks = kPacketsPerRound / 64;
  for (auto _ : state) {
    std::atomic<uint16_t> port{0};
    std::atomic<bool> ready{false};
    std::thread server([&] {
      qb::FaultEnv env(false);  // real clock and sockets; a disk that is never full
      env.SetFreeBytes(uint64_t{1} << 40);
      qb::EventLoop own(env);
      qb::ReceiverEvents hooks;
      // Ends the loop when the benchmark connection has been closed and
      // freed, which happens only after every byte before the close was read.
      hooks.connectionClosed = [&own] { own.Quit(0); };
      qb::ScanServer scanServer(own, env, std::move(hooks), qb::DocumentWorkRunner{});
      if (!scanServer.Start(true, qb::ListenPorts{0, 0})) {
        std::fprintf(stderr, "the scan server did not start\n");
        std::exit(1);
      }
      port = scanServer.BoundPort(qb::kJobPort);
      ready = true;
      own.Run();
      scanServer.Stop();
    });
    while (!ready) std::this_thread::yield();
    int fd = qb::TcpConnect(kLoopback, port);
    char greeting[4];
    qb::SockRecv(fd, greeting, 4);
    SendAll(fd, block, blocks);
    qb::SockClose(fd);
    server.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blocks * block.size()));
}

// range(0): receive buffer of the sink, 0 for the kernel's default
// (auto-tuned); the receiver itself sets 65536 on every connection.
void BM_RawLoopback(benchmark::State& state) {
  int receiveBuffer = static_cast<int>(state.range(0));
  std::string block = MakePackets();
  size_t blocks = kPacketsPerRound / 64;
  for (auto _ : state) {
    int listener = qb::TcpListen(0, 1);
    qb::SetBlocking(listener, true);
    uint16_t port = qb::LocalPort(listener);
    if (receiveBuffer > 0) qb::SetReceiveBufferSize(listener, receiveBuffer);
    std::thread sink([listener] {
      int fd = qb::TcpAccept(listener, nullptr);
      qb::SetBlocking(fd, true);
      std::vector<char> buffer(25600);
      while (qb::SockRecv(fd, buffer.data(), buffer.size()) > 0) {
      }
      qb::SockClose(fd);
    });
    int fd = qb::TcpConnect(kLoopback, port);
    SendAll(fd, block, blocks);
    qb::SockClose(fd);
    sink.join();
    qb::SockClose(listener);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blocks * block.size()));
}

// Keeps the measured rates for the ratio printed at the end.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto found = run.counters.find("bytes_per_second");
      if (found == run.counters.end()) continue;
      double rate = found->second.value;
      if (run.benchmark_name().find("ScanConnection") != std::string::npos) g_scan_rate = rate;
      if (run.benchmark_name().find("RawLoopback/0") != std::string::npos) g_raw_rate = rate;
      if (run.benchmark_name().find("RawLoopback/65536") != std::string::npos) {
        g_raw_64k_rate = rate;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(BM_ScanConnection)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RawLoopback)
    ->Arg(0)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

int main(int argc, char** argv) {
  ::setenv("QUILLBOX_ROOT", "/nonexistent-quillbox-bench", 1);
  qb::LocateSettingsFile(qb::Env::Default());
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (g_raw_rate > 0 && g_raw_64k_rate > 0) {
    std::printf("scan connection: %.0f MB/s\n", g_scan_rate / 1e6);
    std::printf("raw loopback, default buffers: %.0f MB/s, ratio %.2f\n", g_raw_rate / 1e6,
                g_scan_rate / g_raw_rate);
    std::printf("raw loopback, 64 KiB receive buffer as the receiver sets: %.0f MB/s, ratio %.2f\n",
                g_raw_64k_rate / 1e6, g_scan_rate / g_raw_64k_rate);
  }
  return 0;
}
