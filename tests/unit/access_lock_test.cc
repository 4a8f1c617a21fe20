#include "scanproto/access_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/files.h"

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

TEST_F(AccessLockTest, LockLastsUntilItIs300SecondsOld) {
  LockClient("10.0.0.7");
  EXPECT_TRUE(IsLocked("10.0.0.7"));
  EXPECT_FALSE(IsLocked("10.0.0.8"));
  now_ += 299;
  EXPECT_TRUE(IsLocked("10.0.0.7"));
  now_ += 1;
  EXPECT_FALSE(IsLocked("10.0.0.7"));
}

TEST_F(AccessLockTest, LockingAgainDoesNotExtend) {
  LockClient("10.0.0.7");
  now_ += 200;
  LockClient("10.0.0.7");
  EXPECT_EQ(LockedClientCount(), 1u);
  now_ += 100;
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

TEST(PeerClass, LoopbackAndUnroutablePeers) {
  EXPECT_EQ(ClassifyPeer("127.0.0.1"), kClassOther);
  EXPECT_EQ(ClassifyPeer("127.0.0.2"), kClassUndetermined);  // no address resolution possible
  EXPECT_EQ(ClassifyPeer("not an address"), kClassOther);
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

}  // namespace
}  // namespace qb
