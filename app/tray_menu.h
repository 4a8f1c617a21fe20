// The tray icon's context menu as a model: which commands it offers in each
// mode and which of them are grayed. Drawing it is the desktop's business;
// the model is what the program decides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb {

constexpr uint32_t kMenuConfiguration = 40006;
constexpr uint32_t kMenuStart = 40007;
constexpr uint32_t kMenuStop = 40008;
constexpr uint32_t kMenuClose = 40004;

struct TrayMenuItem {
  uint32_t id = 0;  // 0: a separator
  std::string text;
  bool grayed = false;
  bool isDefault = false;
};

struct TrayMenuInputs {
  bool desktopMode = false;
  bool serviceRunning = false;  // asked only in desktop mode
  bool menuDisabled = false;    // set by the configuration program
  int serviceJobs = 0;          // documents the service instance is receiving
};

std::vector<TrayMenuItem> BuildTrayMenu(const TrayMenuInputs& inputs);

// One line per item, "id,text,state" with state "default", "grayed" or
// "enabled" (separators "0,-,enabled"), for the tray file.
std::string DescribeTrayMenuItem(const TrayMenuItem& item);

}  // namespace qb
