// Where the settings file and the other shared data files live, the
// process-wide temporary folder and the program folder.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/env.h"

namespace qb {

// 0 other, 1 NT 5.x, 2 NT 6.x, 3 old NT: selects every data path.
int GetOsGeneration();

// The data folder of the running generation (no trailing separator):
// generation 1 documents + /Tovira/Quillbox, 2 application data +
// /Tovira/Quillbox, 0 and 3 the Windows directory itself.
std::string DataFolder();

// Computes the settings-file path once (called at start-up before any
// setting is read) and, for generations 1 and 2, makes sure the file exists
// (through `env`).
void LocateSettingsFile(Env& env);
// The path computed by LocateSettingsFile (computed on first use if it was
// never called).
const std::string& SettingsPath();
// Creates the data-folder settings file when missing, carrying over the
// content of a settings file in the Windows directory. Generations 1 and 2.
void EnsureSettingsFile(Env& env);

// Sets the temporary folder from the environment variable TMP (unchanged;
// empty when unset).
void InitTempFolder();
// The temporary folder with a trailing separator, e.g. "/tmp/" (or "/" when
// TMP was empty); returns `buffer`.
char* TempFolderPath(char* buffer, size_t size);
std::string TempFolderPath();

// Folder of the program, with a trailing separator; returns `buffer`.
char* GetProgramFolder(char* buffer, size_t size);

// The CONF folder kept at start-up (the setting, or the program folder
// when the setting is absent). InitConfFolder reads it.
void InitConfFolder();
const std::string& ConfFolder();

// The local web page's token (R/run/quillbox/web-token, mode 0640): who
// can read it may use the page.
std::string WebTokenPath();
// The file whose text named the CONF folder: the settings file, or empty
// when it is the program's own folder.
std::string ConfFolderNamedBy();

}  // namespace qb
