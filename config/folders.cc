#include "config/folders.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "config/settings.h"
#include "platform/files.h"
#include "platform/places.h"

namespace qb {
namespace {

constexpr char kCompanyFolder[] = "/Tovira/Quillbox";
constexpr char kSettingsName[] = "quern.ini";

std::string g_settings_path;
bool g_settings_located = false;
std::string g_temp_folder;
std::string g_conf_folder;
bool g_conf_from_settings = false;


void CopyCut(const std::string& text, char* buffer, size_t size) {
  if (size == 0) return;
  size_t length = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace

int GetOsGeneration() { return SystemOsGeneration(); }

std::string DataFolder() {
  switch (GetOsGeneration()) {
    case 1:
      return CommonDocumentsFolder() + kCompanyFolder;
    case 2:
      return CommonAppDataFolder() + kCompanyFolder;
    default:
      return WindowsDirectory();
  }
}

void LocateSettingsFile(Env& env) {
  int generation = GetOsGeneration();
  if (generation == 1 || generation == 2) {
    g_settings_path = DataFolder() + "/" + kSettingsName;
    g_settings_located = true;
    EnsureSettingsFile(env);
  } else {
    g_settings_path = WindowsDirectory() + "/" + kSettingsName;
    g_settings_located = true;
  }
}

const std::string& SettingsPath() {
  if (!g_settings_located) {
    int generation = GetOsGeneration();
    g_settings_path = (generation == 1 || generation == 2 ? DataFolder() : WindowsDirectory()) +
                      "/" + kSettingsName;
    g_settings_located = true;
  }
  return g_settings_path;
}

void EnsureSettingsFile(Env& env) {
  FileInfo info;
  if (env.Stat(SettingsPath(), &info)) return;
  // Created only when still missing: another process starting at the same
  // moment may have made it meanwhile.
  std::unique_ptr<WritableFile> created;
  if (!env.NewWritableFile(SettingsPath(), CreateMode::kNewOnly, &created)) return;
  std::string old;
  if (ReadWholeFile(env, WindowsDirectory() + "/" + kSettingsName, &old)) {
    created->Append(old.data(), old.size());
  }
  created->Close();
}

void InitTempFolder() { g_temp_folder = EnvironmentText("TMP"); }

char* TempFolderPath(char* buffer, size_t size) {
  CopyCut(TempFolderPath(), buffer, size);
  return buffer;
}

std::string TempFolderPath() { return g_temp_folder + "/"; }

char* GetProgramFolder(char* buffer, size_t size) {
  CopyCut(ExecutableFolder(), buffer, size);
  return buffer;
}

void InitConfFolder() {
  char conf[260];
  g_conf_from_settings = GetConf(conf, sizeof conf);
  g_conf_folder = g_conf_from_settings ? std::string(conf) : ExecutableFolder();
}

const std::string& ConfFolder() { return g_conf_folder; }

std::string ConfFolderNamedBy() { return g_conf_from_settings ? SettingsPath() : std::string(); }

// Named without making the run-time folder: quillbox-config reads the
// token as whoever runs it, and must not create that folder as its own.
std::string WebTokenPath() { return RootPrefix() + "/run/quillbox/web-token"; }

}  // namespace qb
