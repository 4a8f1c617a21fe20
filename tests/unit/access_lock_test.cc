#include "scanproto/access_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/fault_env.h"
#include "platform/files.h"
#include "scanproto/peer_class.h"

namespace qb {
namespace {

class AccessLockTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearLockedClients(); }
  void TearDown() override { ClearLockedClients(); }
  void LockClient(const char* ip) { qb::LockClient(ip, now_); }
  bool IsLocked(const char* ip) { return qb::IsLocked(ip, now_); }
  int64_t now_ = 1700000000;
};

TEST_F(AccessLockTest, LockLastsUntilItIs300SecondsOldAndLockingAgainDoesNotExtend) {
  LockClient("10.0.0.7");
  EXPECT_TRUE(IsLocked("10.0.0.7"));
  EXPECT_FALSE(IsLocked("10.0.0.8"));
  now_ += 200;
  LockClient("10.0.0.7");
  EXPECT_EQ(LockedClientCount(), 1u);
  now_ += 99;
  EXPECT_TRUE(IsLocked("10.0.0.7"));
  now_ += 1;
  EXPECT_FALSE(IsLocked("10.0.0.7"));
}

TEST_F(AccessLockTest, ListIsCappedByDroppingTheOldest) {
  // 3001 distinct addresses, each locked a second apart so all are fresh.
  for (int i = 0; i <= 3000; ++i) {
    std::string ip = "10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256);
    LockClient(ip.c_str());
  }
  EXPECT_EQ(LockedClientCount(), 3001u);  // the cap is applied at the next check
  EXPECT_FALSE(IsLocked("10.1.0.0"));
  EXPECT_EQ(LockedClientCount(), 3000u);
  EXPECT_TRUE(IsLocked("10.1.0.1"));
}

// Loopback and unroutable peers are known at once, with or without
// waiting, and none goes to the resolver.
TEST(PeerClass, LoopbackAndUnroutablePeersAreKnownAtOnce) {
  NeighbourResolver resolver;
  for (auto [ip, expected] :
       {std::pair{"127.0.0.1", kClassOther}, std::pair{"127.0.0.2", kClassUndetermined},
        std::pair{"not an address", kClassOther}}) {
    EXPECT_EQ(ClassifyPeer(ip), expected) << ip;
    int peerClass = 0;
    EXPECT_TRUE(ClassifyPeerOrResolve(Env::Default(), resolver, ip, &peerClass, [](int) {
      FAIL();
    })) << ip;
    EXPECT_EQ(peerClass, expected) << ip;
  }
}

// Printers on a real link: a network namespace joined to this one by a veth
// pair, whose far end carries the hardware address under test. CTest runs the
// cases as parallel processes in the same host namespace, so each case takes
// its own subnets: the same address on two links would make the route fail.
class PeerClassOnLink : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
  }
  // Builds the link on 10.213.octet.0/24 with 10.213.(octet+1).0/24 behind it.
  void Join(int octet) {
    link_ = "10.213." + std::to_string(octet) + ".";
    remote_ = "10.213." + std::to_string(octet + 1) + ".";
    suffix_ = std::to_string(CurrentProcessId() % 100000);
    ns_ = "qbns" + suffix_;
    near_ = "qbva" + suffix_;
    far_ = "qbvb" + suffix_;
    if (!Run("ip netns add " + ns_)) {
      skipped_ = true;  // no namespaces here (a container without the right)
      return;
    }
    created_ = true;
    ASSERT_TRUE(Run("ip link add " + near_ + " type veth peer name " + far_));
    ASSERT_TRUE(Run("ip link set " + far_ + " netns " + ns_));
    ASSERT_TRUE(Run("ip addr add " + link_ + "1/24 dev " + near_));
    ASSERT_TRUE(Run("ip link set " + near_ + " up"));
    ASSERT_TRUE(InNs("ip addr add " + link_ + "2/24 dev " + far_));
    ASSERT_TRUE(InNs("ip link set " + far_ + " up"));
    ASSERT_TRUE(Run("ip route add " + remote_ + "0/24 via " + link_ + "2"));
  }
  void TearDown() override {
    if (!created_) return;
    Run("ip link del " + near_);
    Run("ip netns del " + ns_);
  }
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  bool InNs(const std::string& command) { return Run("ip netns exec " + ns_ + " " + command); }
  void SetFarAddress(const std::string& mac) {
    ASSERT_TRUE(InNs("ip link set " + far_ + " address " + mac));
    Run("ip neigh flush dev " + near_);
  }

  bool skipped_ = false;
  std::string link_, remote_;  // "10.213.N." prefixes: the veth link, a network behind it
  std::string suffix_, ns_, near_, far_;
  bool created_ = false;
};

TEST_F(PeerClassOnLink, VendorPrefixesDecideTheClass) {
  ASSERT_NO_FATAL_FAILURE(Join(77));
  if (skipped_) GTEST_SKIP() << "network namespaces are not allowed here";
  const std::string printer = link_ + "2";
  SetFarAddress("02:51:42:00:00:01");  // group A
  EXPECT_EQ(ClassifyPeer(printer.c_str()), kClassGroupA);
  SetFarAddress("0a:51:44:00:00:01");  // group B
  EXPECT_EQ(ClassifyPeer(printer.c_str()), kClassGroupB);
  SetFarAddress("02:00:00:12:34:56");  // someone else
  EXPECT_EQ(ClassifyPeer(printer.c_str()), kClassOther);
}

TEST_F(PeerClassOnLink, OffLinkAndSilentPeersAreUndetermined) {
  ASSERT_NO_FATAL_FAILURE(Join(79));
  if (skipped_) GTEST_SKIP() << "network namespaces are not allowed here";
  EXPECT_EQ(ClassifyPeer((remote_ + "5").c_str()), kClassUndetermined);  // behind a gateway
  EXPECT_EQ(ClassifyPeer((link_ + "99").c_str()), kClassUndetermined);  // on the link, nobody there
}

// The forms that never wait, against the same link.
class PeerClassWithoutWaiting : public PeerClassOnLink {
 protected:
  using Ms = std::chrono::milliseconds;
  void SetUp() override {
    PeerClassOnLink::SetUp();
    ClearPeerClassCache();
  }
  void TearDown() override {
    ClearPeerClassCache();
    PeerClassOnLink::TearDown();
  }
  static int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
  }
  // Starts a classification that must go to the resolver; the future gives
  // the class and whether it came on another thread.
  std::future<std::pair<int, bool>> Start(NeighbourResolver& resolver, const std::string& ip) {
    auto result = std::make_shared<std::promise<std::pair<int, bool>>>();
    auto caller = std::this_thread::get_id();
    int peerClass = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ClassifyPeerOrResolve(env_, resolver, ip.c_str(), &peerClass, [=](int resolved) {
      result->set_value({resolved, std::this_thread::get_id() != caller});
    }));
    EXPECT_LT(MsSince(start), 600);  // not the second a resolution takes
    return result->get_future();
  }

  FaultEnv env_;
};

TEST_F(PeerClassWithoutWaiting, ASilentNeighbourIsResolvedOnTheWorkerOnceAndKeptForAWhile) {
  ASSERT_NO_FATAL_FAILURE(Join(81));
  if (skipped_) GTEST_SKIP() << "network namespaces are not allowed here";
  const std::string silent = link_ + "99";
  int peerClass = 0;
  EXPECT_FALSE(ClassifyPeerIfKnown(env_, silent.c_str(), &peerClass));
  NeighbourResolver resolver;
  auto start = std::chrono::steady_clock::now();
  auto first = Start(resolver, silent);
  auto second = Start(resolver, silent);  // shares the resolution under way
  ASSERT_EQ(first.wait_for(Ms(3000)), std::future_status::ready);
  ASSERT_EQ(second.wait_for(Ms(3000)), std::future_status::ready);
  EXPECT_LT(MsSince(start), 1950);  // one second-long wait, not two
  EXPECT_EQ(first.get(), std::make_pair(kClassUndetermined, true));
  EXPECT_EQ(second.get().first, kClassUndetermined);

  EXPECT_TRUE(ClassifyPeerIfKnown(env_, silent.c_str(), &peerClass));
  EXPECT_EQ(peerClass, kClassUndetermined);
  env_.AdvanceMs(kPeerClassCacheMs);
  EXPECT_FALSE(ClassifyPeerIfKnown(env_, silent.c_str(), &peerClass));
}

// A resolved address is classed by the resolution's prefix list, as
// ClassifyPeer classes it when the table had no entry: the third group-A
// prefix counts only from the table.
TEST_F(PeerClassWithoutWaiting, AResolvedPrinterGetsTheClassOfTheWaitingLookup) {
  ASSERT_NO_FATAL_FAILURE(Join(83));
  if (skipped_) GTEST_SKIP() << "network namespaces are not allowed here";
  const std::string printer = link_ + "2";
  NeighbourResolver resolver;
  SetFarAddress("02:51:42:00:00:01");
  auto groupA = Start(resolver, printer);
  ASSERT_EQ(groupA.wait_for(Ms(3000)), std::future_status::ready);
  EXPECT_EQ(groupA.get().first, kClassGroupA);

  SetFarAddress("02:51:44:00:00:01");
  ClearPeerClassCache();
  auto tableOnly = Start(resolver, printer);
  ASSERT_EQ(tableOnly.wait_for(Ms(3000)), std::future_status::ready);
  EXPECT_EQ(tableOnly.get().first, kClassOther);
  // Now the table has the entry: answered at once, without the resolver.
  ClearPeerClassCache();
  int peerClass = 0;
  EXPECT_TRUE(ClassifyPeerIfKnown(env_, printer.c_str(), &peerClass));
  EXPECT_EQ(peerClass, kClassGroupA);
}

TEST_F(PeerClassWithoutWaiting, AStoppedResolverEndsAtOnceAndCallsNobody) {
  ASSERT_NO_FATAL_FAILURE(Join(85));
  if (skipped_) GTEST_SKIP() << "network namespaces are not allowed here";
  auto resolver = std::make_unique<NeighbourResolver>();
  std::atomic<bool> called{false};
  int peerClass = 0;
  EXPECT_FALSE(ClassifyPeerOrResolve(env_, *resolver, (link_ + "99").c_str(), &peerClass,
                                     [&](int) { called = true; }));
  std::this_thread::sleep_for(Ms(50));  // the resolution is under way
  auto start = std::chrono::steady_clock::now();
  resolver.reset();
  EXPECT_LT(MsSince(start), 800);  // not the rest of the second-long wait
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace qb
