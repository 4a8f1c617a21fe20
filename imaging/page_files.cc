#include "imaging/page_files.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "config/folders.h"
#include "imaging/image_header.h"
#include "imaging/tiff_layout.h"
#include "platform/trace.h"

namespace qb {
namespace {

std::string TempName(uint32_t tempJobNo, int pageIndex, const char* extension) {
  char name[64];
  std::snprintf(name, sizeof name, "rcvimg%u_%d.%s", tempJobNo, pageIndex, extension);
  return TempFolderPath() + name;
}

bool CanOpenForReading(Env& env, const std::string& path) {
  std::unique_ptr<ReadableFile> file;
  return env.OpenReadable(path, &file).ok();
}

bool CopyInto(const std::string& name, char* path, size_t pathSize) {
  if (name.size() + 1 > pathSize) return false;
  std::memcpy(path, name.c_str(), name.size() + 1);
  return true;
}

}  // namespace

std::string TempDatName(int pageIndex, uint32_t tempJobNo) {
  return TempName(tempJobNo, pageIndex, "dat");
}

std::string TempTifName(uint32_t tempJobNo, int pageIndex) {
  return TempName(tempJobNo, pageIndex, "tif");
}

bool TempPageCounter::MakeTempPageName(int pageIndex, char* path, size_t pathSize,
                                       uint32_t* tempJobNo, Env& env) {
  // A job's page files share its number once it has one. The current path
  // alone does not tell: a file sent whole on the same connection also
  // leaves one, and number 0 would then be shared by every such job.
  if (path[0] != '\0' && *tempJobNo != 0) {
    std::string name = TempDatName(pageIndex, *tempJobNo);
    env.Remove(name);
    return CopyInto(name, path, pathSize);
  }
  if (last_ > 999999) last_ = 0;
  ++last_;
  std::string name = TempDatName(pageIndex, last_);
  // Every number in use would take 100000 tries; give up rather than spin.
  for (int tries = 0; CanOpenForReading(env, name); ++tries) {
    if (tries > 200000) return false;
    if (last_ > 99999) last_ = 0;
    ++last_;
    name = TempDatName(pageIndex, last_);
  }
  *tempJobNo = last_;
  return CopyInto(name, path, pathSize);
}

bool WriteTiff(uint32_t tempJobNo, int firstPage, int codingMode, int fillFlag,
               const char* outputPath, int pageCount, Env& env) {
  if (codingMode < 1 || codingMode > 3) return false;
  std::unique_ptr<WritableFile> out;
  if (!env.NewWritableFile(outputPath, CreateMode::kTruncate, &out)) return false;
  const uint8_t fileHeader[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
  bool ok = out->Append(fileHeader, sizeof fileHeader).ok();
  std::vector<uint8_t> block(65536);
  uint32_t directoryOffset = 8;
  for (int written = 0; ok && written < pageCount; ++written) {
    const int pageIndex = firstPage + written;
    const std::string pagePath = TempDatName(pageIndex, tempJobNo);
    std::unique_ptr<ReadableFile> page;
    uint8_t header[kImageHeaderSize];
    size_t got = 0;
    if (!env.OpenReadable(pagePath, &page) || !page->ReadAt(0, header, sizeof header, &got) ||
        got != sizeof header) {
      TraceLog("  WriteTiff: cannot read %s", pagePath.c_str());
      ok = false;
      break;
    }
    const uint64_t fileSize = page->Size();
    const uint32_t dataSize =
        fileSize > kImageHeaderSize ? static_cast<uint32_t>(fileSize - kImageHeaderSize) : 0;
    const PageLayout layout = PageLayoutOfRecord(header);
    TiffPageInfo info;
    info.width = layout.width;
    info.height = layout.height;
    info.dpi = static_cast<uint32_t>(layout.Dpi());
    info.compression = codingMode == 3 ? 4 : 3;
    info.photometric = layout.polarity == 0 ? 0 : 1;
    info.fillOrder = fillFlag == 0 ? 1 : 2;
    info.t4t6Tag = codingMode == 3 ? 0x0125 : 0x0124;
    info.t4t6Options = codingMode == 2 ? 1 : 0;
    info.dataSize = dataSize;
    info.pageNumber = static_cast<uint16_t>(written);
    const bool more = written + 1 < pageCount;
    uint8_t directory[kTiffDirectoryBlockSize];
    const uint32_t nextOffset = BuildTiffDirectory(info, directoryOffset, more, directory);
    ok = out->Append(directory, sizeof directory).ok();
    uint64_t at = kImageHeaderSize;
    for (uint32_t left = dataSize; ok && left > 0;) {
      const size_t now = left < block.size() ? left : block.size();
      // A page file that shrank under us would leave a strip shorter than
      // its byte count; fail the document rather than write a broken TIFF.
      ok =
          page->ReadAt(at, block.data(), now, &got) && got == now && out->Append(block.data(), got);
      at += now;
      left -= static_cast<uint32_t>(now);
    }
    page.reset();
    env.Remove(pagePath);
    directoryOffset = nextOffset;
  }
  if (!out->Close()) ok = false;
  return ok;
}

void DeleteTempPages(uint32_t tempJobNo, int pageCount, Env& env) {
  for (int i = 0; i < pageCount; ++i) env.Remove(TempDatName(i, tempJobNo));
}

void SwapWordBytes(uint8_t* buffer, size_t length) {
  for (size_t i = 0; i + 1 < length; i += 2) {
    const uint8_t first = buffer[i];
    buffer[i] = buffer[i + 1];
    buffer[i + 1] = first;
  }
}

}  // namespace qb
