#include "storage/data_files.h"

#include <string>

#include "config/folders.h"
#include "platform/places.h"
#include "storage/text_lines.h"

namespace qb {

std::string SharedDataFilePath(const char* fileName) {
  int generation = GetOsGeneration();
  if (generation == 1 || generation == 2) return DataFolder() + "/" + fileName;
  return WindowsDirectory() + "/" + fileName;
}

bool ReadSharedDataLines(Env& env, const char* fileName, size_t bufferSize,
                         std::vector<std::string>* lines) {
  const std::string path = SharedDataFilePath(fileName);
  if (ReadTextLines(env, path, bufferSize, lines)) return true;
  const int generation = GetOsGeneration();
  std::unique_ptr<WritableFile> created;
  if ((generation == 1 || generation == 2) &&
      env.NewWritableFile(path, CreateMode::kNewOnly, &created)) {
    created->Close();
  }
  return false;
}

}  // namespace qb
