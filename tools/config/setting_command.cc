// get [KEY] and set KEY VALUE [--restart].
#include <iostream>

#include "admin/receiver_state.h"
#include "admin/setting_edit.h"
#include "config/folders.h"
#include "platform/service_manager.h"
#include "tools/config/commands.h"
#include "tools/config/exit_codes.h"
#include "tools/config/output.h"

namespace qb::config_tool {
namespace {

const char* TypeName(SettingType type) {
  switch (type) {
    case SettingType::kInteger:
      return "integer";
    case SettingType::kFlag:
      return "flag";
    case SettingType::kText:
      return "text";
    case SettingType::kMarkedText:
      break;
  }
  return "text";
}

const char* EffectName(SettingTakesEffect effect) {
  return effect == SettingTakesEffect::kNextStart ? "next-start" : "at-once";
}

nlohmann::json ToJson(const SettingValue& value) {
  const Setting& setting = *value.setting;
  return {{"section", setting.section},
          {"key", setting.key},
          {"value", value.value},
          {"set", value.present},
          {"type", TypeName(setting.type)},
          {"range", SettingRangeText(setting)},
          {"default", setting.defaultValue},
          {"takes_effect", EffectName(setting.takesEffect)},
          {"description", setting.description}};
}

void PrintHuman(const SettingValue& value) {
  const Setting& setting = *value.setting;
  std::cout << "[" << setting.section << "] " << setting.key << " = " << value.value
            << (value.present ? "" : "  (default)") << "\n    " << TypeName(setting.type) << ", "
            << SettingRangeText(setting) << ", default \"" << setting.defaultValue << "\", "
            << (setting.takesEffect == SettingTakesEffect::kNextStart ? "read at start"
                                                                      : "read at each use")
            << "\n    " << setting.description << "\n";
}

// Restarts the receiver for a setting read at start, where a command can.
int Restart(const ReceiverState& state, bool json) {
  if (state.mode == ReceiverMode::kNormal) {
    return Refuse(Outcome::Refused(Refusal::kFailed,
                                   "a normal instance cannot be restarted from here",
                                   RestartAdvice(state)),
                  json);
  }
  if (RestartServiceUnit("quillbox") != 0) {
    return Refuse(Outcome::Refused(Refusal::kFailed, "systemctl restart quillbox failed",
                                   "run it as root: sudo systemctl restart quillbox"),
                  json);
  }
  return kExitOk;
}

}  // namespace

int RunGet(const Invocation& invocation) {
  if (invocation.words.size() > 2) return UsageError("get takes at most one key");
  const std::vector<SettingValue> values = ReadSettingValues(SettingsPath());
  if (invocation.words.size() == 2) {
    const Setting* wanted = FindSettingByName(invocation.words[1]);
    if (wanted == nullptr) {
      return Refuse(Outcome::Refused(Refusal::kInvalid, "no setting named " + invocation.words[1],
                                     "'quillbox-config get' lists every setting"),
                    invocation.json);
    }
    for (const SettingValue& value : values) {
      if (value.setting != wanted) continue;
      if (invocation.json) {
        PrintJson(ToJson(value));
      } else {
        PrintHuman(value);
      }
    }
    return kExitOk;
  }
  if (invocation.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const SettingValue& value : values) list.push_back(ToJson(value));
    PrintJson({{"file", SettingsPath()}, {"settings", list}});
  } else {
    std::cout << "Settings in " << SettingsPath() << ":\n";
    for (const SettingValue& value : values) PrintHuman(value);
  }
  return kExitOk;
}

int RunSet(const Invocation& invocation) {
  if (invocation.words.size() != 3) return UsageError("set takes a key and a value");
  const Setting* setting = nullptr;
  const Outcome outcome =
      ChangeSetting(SettingsPath(), invocation.words[1], invocation.words[2], &setting);
  if (!outcome.ok()) return Refuse(outcome, invocation.json);
  const bool atStart = setting->takesEffect == SettingTakesEffect::kNextStart;
  const ReceiverState state = FindReceiver();
  const bool restart = atStart && invocation.restart && state.mode != ReceiverMode::kNone;
  if (invocation.json) {
    nlohmann::json document = {{"ok", true},
                               {"section", setting->section},
                               {"key", setting->key},
                               {"value", invocation.words[2]},
                               {"takes_effect", EffectName(setting->takesEffect)},
                               {"receiver", ReceiverModeName(state.mode)}};
    if (atStart && !invocation.restart) document["restart"] = RestartAdvice(state);
    document["restarted"] = restart;
    PrintJson(document);
  } else {
    std::cout << "[" << setting->section << "] " << setting->key << " = " << invocation.words[2]
              << "\n";
    if (!atStart) {
      std::cout << "The receiver uses it from its next use of the setting.\n";
    } else if (state.mode == ReceiverMode::kNone) {
      std::cout << "No receiver runs: it counts from the next start.\n";
    } else if (!invocation.restart) {
      std::cout << "It counts from the receiver's next start: " << RestartAdvice(state) << "\n";
    }
  }
  if (restart) return Restart(state, invocation.json);
  if (atStart && invocation.restart && state.mode == ReceiverMode::kNone) return kExitNoReceiver;
  return kExitOk;
}

}  // namespace qb::config_tool
