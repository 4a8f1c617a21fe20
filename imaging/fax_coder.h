// Fax run-length coder: codes raw bilevel bitmap lines, one line per call,
// into ITU-T T.4 MH / MR or T.6 MMR and writes the code stream to the page
// file. The output is least-significant-bit first within each byte (TIFF
// FillOrder 2), ready to be copied unchanged into a TIFF strip.
#pragma once

#include <cstdint>
#include <cstdio>

#include "imaging/fax_coder_state.h"
#include "imaging/image_header.h"

namespace qb {

// Prepares `coder` for the first page of a document from the page's layout
// (resolution code, width, height, pixel packing, polarity):
// sizes the two changing-element arrays and the 32768-byte out buffer once,
// selects MMR, points `input` at `lineBuffer` and `output` at `pageFile`
// (which may still be null; the caller sets coder.output once the page file
// is open). Returns false, leaving the coder unusable, when the width or
// height is 0.
bool SetupCoder(FaxCoderState& coder, const PageLayout& page, const uint8_t* lineBuffer,
                std::FILE* pageFile);

// Prepares `coder` for a further page of the same document: the same
// settings as SetupCoder (MMR included; the caller selects MH afterwards if
// the page asks for it), reusing and clearing the buffers. Does not test
// width and height; the buffers grow if a later page is wider.
void ResetCoder(FaxCoderState& coder, const PageLayout& page, const uint8_t* lineBuffer,
                std::FILE* pageFile);

// Codes `linesPerCall` lines from coder.input, or, when coder.pageEnd is
// set, finishes the page: RTC (MH, MR) or EOFB (MMR), padding to a byte and
// writing the out buffer. Returns the number of lines coded (0 when the page
// was finished), or -1 for an unknown coding mode or a failed write.
int CodeLines(FaxCoderState& coder);

}  // namespace qb
