#include "app/tray_menu.h"

#include <gtest/gtest.h>

#include "app/tray.h"

namespace qb {
namespace {

// The menu as "id:state" words, separators as "-".
std::string Shape(const TrayMenuInputs& inputs) {
  std::string shape;
  for (const TrayMenuItem& item : BuildTrayMenu(inputs)) {
    if (!shape.empty()) shape += ' ';
    if (item.id == 0) {
      shape += '-';
      continue;
    }
    shape += std::to_string(item.id) + (item.isDefault ? ":default" : item.grayed ? ":gray" : "");
  }
  return shape;
}

TEST(TrayMenu, NormalAndServiceModesOfferConfigurationAndClose) {
  TrayMenuInputs inputs;
  EXPECT_EQ(Shape(inputs), "40006:default - 40004");
  // The desktop-only rules never touch the plain menu.
  inputs.menuDisabled = true;
  inputs.serviceJobs = 3;
  EXPECT_EQ(Shape(inputs), "40006:default - 40004");
}

TEST(TrayMenu, DesktopModeFollowsTheServiceAndItsJobs) {
  TrayMenuInputs in;
  in.desktopMode = true;
  // Stopped service: "Start" only, grayed while the configuration program
  // has disabled the menu, which also grays "Close".
  EXPECT_EQ(Shape(in), "40006:default 40007 - 40004");
  in.menuDisabled = true;
  EXPECT_EQ(Shape(in), "40006:default 40007:gray - 40004:gray");
  // Running and idle: "Stop" is offered even with the menu disabled;
  // "Close" is not.
  in.serviceRunning = true;
  EXPECT_EQ(Shape(in), "40006:default 40008 - 40004:gray");
  in.menuDisabled = false;
  EXPECT_EQ(Shape(in), "40006:default 40008 - 40004");
  // Receiving: neither stopping nor closing.
  in.serviceJobs = 1;
  EXPECT_EQ(Shape(in), "40006:default 40008:gray - 40004:gray");
  // A stopped service that still reports jobs grays "Close"; "Stop" stays deleted.
  in.serviceRunning = false;
  EXPECT_EQ(Shape(in), "40006:default 40007 - 40004:gray");
}

TEST(TrayMenu, ItemsAndPicturesAreDescribedForTheTrayFile) {
  const auto items = BuildTrayMenu({});
  EXPECT_EQ(DescribeTrayMenuItem(items[0]), "40006,Configuration...,default");
  EXPECT_EQ(DescribeTrayMenuItem(items[1]), "0,-,enabled");
  EXPECT_EQ(TrayPictureName(1, false), "SICON");
  EXPECT_EQ(TrayPictureName(2, true), "SICON_YELOW-STOP");
  EXPECT_EQ(TrayPictureName(3, false), "SICON_RED");
  EXPECT_EQ(TrayPictureName(0, true), "");
  EXPECT_EQ(TrayPictureName(4, false), "");
}

}  // namespace
}  // namespace qb
