#include "app/tray_menu.h"

#include <algorithm>

namespace qb {
namespace {

TrayMenuItem* Find(std::vector<TrayMenuItem>& items, uint32_t id) {
  auto found =
      std::find_if(items.begin(), items.end(), [id](const TrayMenuItem& i) { return i.id == id; });
  return found == items.end() ? nullptr : &*found;
}

void Delete(std::vector<TrayMenuItem>& items, uint32_t id) {
  std::erase_if(items, [id](const TrayMenuItem& item) { return item.id == id; });
}

void Gray(std::vector<TrayMenuItem>& items, uint32_t id, bool grayed) {
  if (TrayMenuItem* item = Find(items, id)) item->grayed = grayed;
}

}  // namespace

std::vector<TrayMenuItem> BuildTrayMenu(const TrayMenuInputs& in) {
  std::vector<TrayMenuItem> items;
  items.push_back({kMenuConfiguration, "Configuration...", false, true});
  if (in.desktopMode) {
    items.push_back({kMenuStart, "Start", false, false});
    items.push_back({kMenuStop, "Stop", false, false});
  }
  items.push_back({0, "-", false, false});
  items.push_back({kMenuClose, "Close", false, false});
  if (!in.desktopMode) return items;

  if (!in.serviceRunning) {
    Delete(items, kMenuStop);
    Gray(items, kMenuStart, in.menuDisabled);
  } else {
    Delete(items, kMenuStart);
    Gray(items, kMenuStop, in.menuDisabled);
    Gray(items, kMenuClose, in.menuDisabled);
  }
  // While the service receives, neither stopping it nor closing is offered;
  // otherwise "Stop" is (a deleted item stays deleted) and "Close" unless
  // the configuration program has disabled the menu.
  if (in.serviceJobs < 1) {
    Gray(items, kMenuStop, false);
    Gray(items, kMenuClose, in.menuDisabled);
  } else {
    Gray(items, kMenuClose, true);
    Gray(items, kMenuStop, true);
  }
  return items;
}

std::string DescribeTrayMenuItem(const TrayMenuItem& item) {
  const char* state = item.isDefault ? "default" : item.grayed ? "grayed" : "enabled";
  return std::to_string(item.id) + "," + item.text + "," + state;
}

}  // namespace qb
