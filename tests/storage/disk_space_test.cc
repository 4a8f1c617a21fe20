#include "storage/disk_space.h"

#include <gtest/gtest.h>

#include "tests/storage/storage_fixture.h"

namespace qb {
namespace {

using testing::StorageTest;

constexpr uint64_t kGB = 1000ull * 1000 * 1000;

TEST(DiskRules, PercentagesAndStates) {
  int percent = FreePercentOf(30 * kGB, 100 * kGB);
  EXPECT_EQ(percent, 30);
  EXPECT_EQ(FreePercentOf(1, 3), 33);  // truncated
  EXPECT_EQ(FreePercentOf(5, 0), kUnknownFreePercent);
  uint32_t plenty = SaturateFreeBytes(30 * kGB);
  EXPECT_EQ(ClassifyDiskState(plenty, percent, 80), DiskState::kNormal);
  EXPECT_EQ(ClassifyDiskState(plenty, percent, 70), DiskState::kWarning);
  EXPECT_EQ(ClassifyDiskState(9000000, 90, 80), DiskState::kFull);
  EXPECT_EQ(ClassifyDiskState(kDiskFullLimit, 90, 80), DiskState::kNormal);
  EXPECT_EQ(EstimateDiskStateByPercent(0, 80), DiskState::kFull);
  EXPECT_EQ(EstimateDiskStateByPercent(20, 80), DiskState::kWarning);
}

TEST(DiskRules, FreeBytesSaturate) {
  EXPECT_EQ(SaturateFreeBytes(6 * kGB), 4294967295u);
  EXPECT_EQ(SaturateFreeBytes(4294967295ull), 4294967295u);
}

class DiskMeasurementTest : public StorageTest {};

TEST_F(DiskMeasurementTest, MissingFolderIsMeasuredOnItsParent) {
  std::string existing = root_.string();
  std::string missing = (root_ / "not/yet/there").string();
  EXPECT_EQ(GetFreeBytes(missing, Env::Default()) > 0, GetFreeBytes(existing, Env::Default()) > 0);
  int parent = GetFreePercent(existing, Env::Default());
  int child = GetFreePercent(missing, Env::Default());
  EXPECT_LE(std::abs(parent - child), 1);  // other processes may write between
}

// An image header before any parameter request has no folder yet: the
// working directory's volume stands in, as the current drive would.
TEST_F(DiskMeasurementTest, EmptyPathMeasuresTheWorkingDirectorysVolume) {
  EXPECT_EQ(GetFreeBytes("", Env::Default()) > 0, GetFreeBytes(".", Env::Default()) > 0);
  EXPECT_GT(GetFreeBytes("", Env::Default()), 0u);
}

TEST_F(DiskMeasurementTest, UnqueryablePathCountsAsFullAndEightyPercent) {
  EXPECT_EQ(GetFreeBytes("no-such-relative-folder", Env::Default()), 0u);
  EXPECT_EQ(GetFreePercent("no-such-relative-folder", Env::Default()), 80);
  EXPECT_EQ(EvaluateDiskState("no-such-relative-folder", Env::Default()), DiskState::kFull);
}

TEST_F(DiskMeasurementTest, StateFollowsTheHddSetting) {
  if (GetFreeBytes(root_.string(), Env::Default()) < kDiskFullLimit)
    GTEST_SKIP() << "test disk is full";
  WriteSetting("MANAGEMENT", "HDD", "0");
  EXPECT_EQ(EvaluateDiskState(root_.string(), Env::Default()), DiskState::kWarning);
  WriteSetting("MANAGEMENT", "HDD", "101");
  EXPECT_EQ(EvaluateDiskState(root_.string(), Env::Default()), DiskState::kNormal);
}

}  // namespace
}  // namespace qb
