#include "storage/data_files.h"

#include <string>

#include "config/folders.h"
#include "platform/places.h"

namespace qb {

std::string SharedDataFilePath(const char* fileName) {
  int generation = GetOsGeneration();
  if (generation == 1 || generation == 2) return DataFolder() + "/" + fileName;
  return WindowsDirectory() + "/" + fileName;
}

std::FILE* OpenSharedDataFile(const char* fileName, const char* mode) {
  int generation = GetOsGeneration();
  if (generation == 1 || generation == 2) {
    return OpenDataFile("Tovira\\Quillbox", fileName, mode);
  }
  std::string path = WindowsDirectory() + "/" + fileName;
  return std::fopen(path.c_str(), mode);
}

}  // namespace qb
