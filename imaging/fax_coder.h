// Fax run-length coder: codes raw bilevel bitmap lines, one line per call,
// into ITU-T T.4 MH / MR or T.6 MMR and writes the code stream to a page
// file. The output is least-significant-bit first within each byte (TIFF
// FillOrder 2), ready to be copied unchanged into a TIFF strip.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/fax_coder_state.h"
#include "imaging/image_header.h"
#include "imaging/page_file.h"

namespace qb {

class FaxCoder {
 public:
  FaxCoder() = default;
  FaxCoder(const FaxCoder&) = delete;
  FaxCoder& operator=(const FaxCoder&) = delete;
  FaxCoder(FaxCoder&&) = default;
  FaxCoder& operator=(FaxCoder&&) = default;

  // Prepares the first page of a document from the page's layout
  // (resolution code, width, height, pixel packing, polarity): sizes the
  // two changing-element arrays and the 32768-byte out buffer once and
  // selects MMR. The page file is chosen apart (WriteInto). Returns false
  // and changes nothing when the width or height is 0; a coder never set
  // up refuses to code.
  bool SetUp(const PageLayout& page);
  // Prepares a further page of the same document: the same settings as
  // SetUp (MMR included), reusing and clearing the buffers. Does not test
  // width and height; the buffers grow if a later page is wider.
  void Reset(const PageLayout& page);

  // Selects the coding mode after SetUp or Reset.
  void SetCodingMode(int32_t mode) { state_.codingMode = mode; }
  int32_t CodingMode() const { return state_.codingMode; }
  // false: each out byte is bit-reversed (first code bit in bit 7), as a
  // PDF wants its strips.
  void SetLsbFirstOutput(bool lsbFirst) { state_.packedOutput = lsbFirst ? 1 : 0; }

  // true: every line is coded the long way, without the fast paths (the
  // output is the same byte for byte; tests compare the two).
  void SetPlainCoding(bool plain) { state_.plainCoding = plain; }

  // The page file the code goes to; it stays the caller's. Bytes flushed
  // while it is closed or after StopWriting are lost and count as a failed
  // write.
  void WriteInto(PageFile* file) { state_.output = file; }
  void StopWriting() { state_.output = nullptr; }
  bool WritesInto(const PageFile& file) const { return state_.output == &file; }

  // Codes the line of BytesPerLine() bytes at `line`. Returns 1, or -1 for
  // an unknown coding mode, a coder never set up or a failed write.
  int CodeLine(const uint8_t* line);
  // Codes `count` lines that lie one after the other at `lines` (what a
  // packet holds whole): the same bytes as that many CodeLine calls, for
  // one call. Returns as CodeLine.
  int CodeLines(const uint8_t* lines, size_t count);
  // Finishes the page: RTC (MH, MR) or EOFB (MMR), padding to a byte and
  // writing the out buffer. Returns 0, or -1 as CodeLine.
  int FinishPage();

  // Whole bytes of a line: only those come from the printer.
  int32_t BytesPerLine() const { return state_.bytesPerLine; }
  // Lines coded on the current page (16 bits, as the page height).
  uint16_t LinesCoded() const { return state_.totalLines; }
  uint32_t BytesWritten() const { return state_.bytesWritten; }
  bool WriteFailed() const { return state_.writeFailed != 0; }

 private:
  bool ReadyForCall();

  FaxCoderState state_;
};

}  // namespace qb
