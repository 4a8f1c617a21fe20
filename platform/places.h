// Machine-wide places. QUILLBOX_ROOT (empty by default) is put in front of
// every machine-wide path so that tests and demos run side by side.
#pragma once

#include <string>

namespace qb {

// The root prefix R, without a trailing separator ("" for the real machine).
std::string RootPrefix();

// Local path separator.
constexpr char kPathSeparator = '/';

// The Windows directory of the original product: R/etc.
std::string WindowsDirectory();
// All-users application data: R/var/lib.
std::string CommonAppDataFolder();
// All-users documents: R/srv.
std::string CommonDocumentsFolder();
// The trace file R/tmp/qbxLog.log.
std::string TraceFilePath();
// R/run/quillbox, created (with parents) on first use: mode 2770, so that
// only this account and its group enter it and its entries keep the group.
std::string RunFolder();
// Creates the folder `path` (its parent must exist) with mode 2770; an
// existing folder keeps its mode.
void MakeGroupFolder(const std::string& path);

// Operating system generation as the system reports it: 2 (NT 6.x) on
// Linux, unless QUILLBOX_OS_GENERATION (0 to 3) says otherwise.
int SystemOsGeneration();

// Folder of the running executable, with a trailing separator.
std::string ExecutableFolder();

// Environment variable text; empty when unset.
std::string EnvironmentText(const char* name);

}  // namespace qb
