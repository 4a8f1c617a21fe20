// A thumbnail of a received document's first page: a fax or other TIFF,
// a JPEG or a PDF, shrunk to fit 160 x 220 pixels, as a PNG. Made by
// well-kept decoders (libtiff, libjpeg, poppler), reading the file row by
// row where they can, and refusing pages too large to decode in bounded
// memory.
#pragma once

#include <string>

#include "platform/env.h"

namespace qb {

constexpr int kThumbnailWidth = 160;
constexpr int kThumbnailHeight = 220;

struct ThumbnailResult {
  std::string png;  // empty when none could be made
  std::string why;  // then: what was wrong
  int pages = 0;    // pages of the document, when the decoder tells
};

ThumbnailResult MakeThumbnail(Env& env, const std::string& path);

}  // namespace qb
