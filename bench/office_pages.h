// Office-like A4 pages for the coder benchmarks (letterhead, paragraphs of
// rendered text, a ruled table, a signature, white margins), made once by
// bench/make_office_pages.py with Pillow and Debian's DejaVu fonts into a
// temporary folder, and read back as bitmaps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qb::bench {

struct Bitmap {
  std::string name;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;  // MSB first, 1 = black, width / 8 bytes per line
  int Stride() const { return width / 8; }
};

// Reads a binary PBM (P4) of a width that is a whole number of bytes.
inline bool ReadPbm(const std::string& path, Bitmap* page) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  in >> magic >> page->width >> page->height;
  in.get();  // the single white-space byte before the bits
  if (!in || magic != "P4" || page->width % 8 != 0 || page->height <= 0) return false;
  page->bits.resize(static_cast<size_t>(page->Stride()) * page->height);
  in.read(reinterpret_cast<char*>(page->bits.data()), static_cast<std::streamsize>(page->bits.size()));
  return static_cast<size_t>(in.gcount()) == page->bits.size();
}

// The office pages at `dpi` (200 or 600): "letter" and "table". Empty when
// they cannot be made (no Pillow or fonts): the caller says so.
inline std::vector<Bitmap> OfficePages(int dpi) {
  static const std::filesystem::path folder =
      std::filesystem::path("/tmp/qb_bench_office_pages");  // not TMP: the benchmarks move it
  std::vector<Bitmap> pages;
  for (const char* kind : {"letter", "table"}) {
    const std::string path = (folder / (std::string(kind) + "-" + std::to_string(dpi) + ".pbm")).string();
    if (!std::filesystem::exists(path)) {
      // Debian's interpreter has Pillow (python3-pil); another first on PATH may not.
      const char* python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
      const std::string command = std::string(python) + " " + QB_OFFICE_PAGES_SCRIPT + " " + folder.string();
      if (std::system(command.c_str()) != 0) return {};
    }
    Bitmap page;
    page.name = std::string(kind) + " " + std::to_string(dpi);
    if (!ReadPbm(path, &page)) return {};
    pages.push_back(std::move(page));
  }
  return pages;
}

}  // namespace qb::bench
