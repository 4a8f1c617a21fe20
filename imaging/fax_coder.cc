#include "imaging/fax_coder.h"

#include <algorithm>

#include "imaging/fax_coder_steps.h"
#include "imaging/fax_tables.h"
#include "imaging/image_header.h"

namespace qb {
namespace {

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

void FlushOutBuffer(FaxCoderState& c) {
  if (c.outFill == 0) return;
  if (c.packedOutput == 0) {
    for (uint32_t i = 0; i < c.outFill; ++i) c.outBuffer[i] = ReverseBits(c.outBuffer[i]);
  }
  size_t written = 0;
  if (c.output != nullptr) written = c.output->Write(c.outBuffer.data(), c.outFill);
  if (written != c.outFill) c.writeFailed = 1;
  c.bytesWritten += static_cast<uint32_t>(written);
  c.outFill = 0;
}

RunTable::RunTable() {
  for (int black = 0; black < 2; ++black) {
    for (uint32_t run = 0; run <= kTableRunMax; ++run) {
      FaxCode makeUp{0, 0};
      if (run >= 1792) {
        makeUp = kExtendedMakeUp[run / 64 - 28];
      } else if (run >= 64) {
        makeUp = black ? kBlackMakeUp[run / 64 - 1] : kWhiteMakeUp[run / 64 - 1];
      }
      const FaxCode end = black ? kBlackTerminating[run % 64] : kWhiteTerminating[run % 64];
      const uint32_t length = makeUp.length + end.length;
      entry[black][run] =
          (makeUp.bits | static_cast<uint32_t>(end.bits) << makeUp.length) | length << kLengthShift;
    }
  }
}

const RunTable& Runs() {
  static const RunTable table;
  return table;
}

namespace {

// Fills every field from the page layout, keeping the buffers. The page
// file stays as it is: the caller points the coder at it.
void LoadFromLayout(FaxCoderState& c, const PageLayout& page) {
  c.width = page.width;
  c.height = page.height;
  c.bytesPerLine = c.width / 8;
  c.k = 0;
  c.minimumBits = 0;
  c.codingMode = kFaxModeMMR;
  c.eolAlign = 0;
  c.lsbFirstInput = (page.pixelPacking & 1) == 0 ? 1 : 0;
  c.packedOutput = 1;
  c.whiteValue = page.polarity == 0 ? 1 : 0;
  c.resolution = page.Dpi();
  c.referenceCount = c.codingCount = 0;
  c.lineInGroup = 0;
  c.outFill = 0;
  c.bitBuffer = 0;
  c.bitCount = 0;
  c.bitsCoded = 0;
  c.bytesWritten = 0;
  c.totalLines = 0;
  c.writeFailed = 0;
  // Room for a change at every pixel plus the three sentinels; grows only
  // when a page is wider than any before it on this job.
  const size_t entries = static_cast<size_t>(c.width) + kFaxChangesSlack;
  if (c.codingChanges.size() < entries) c.codingChanges.resize(entries);
  if (c.referenceChanges.size() < entries) c.referenceChanges.resize(entries);
  std::fill(c.codingChanges.begin(), c.codingChanges.end(), 0);
  std::fill(c.referenceChanges.begin(), c.referenceChanges.end(), 0);
  if (c.outBuffer.size() != kFaxOutBufferSize + kFaxOutBufferSlack) {
    c.outBuffer.assign(kFaxOutBufferSize + kFaxOutBufferSlack, 0);
  }
  // Before the first line: a white line, none of whose changes are known.
  c.previousLine.assign(static_cast<size_t>(c.bytesPerLine), c.whiteValue == 1 ? 0x00 : 0xFF);
  c.previousCount = 0;
  c.previousInReference = true;
  c.previousKnown = true;
  c.referenceChanges[0] = c.referenceChanges[1] = c.referenceChanges[2] =
      static_cast<uint16_t>(c.width);
}

}  // namespace

bool FaxCoder::SetUp(const PageLayout& page) {
  if (page.width == 0 || page.height == 0) return false;
  LoadFromLayout(state_, page);
  return true;
}

void FaxCoder::Reset(const PageLayout& page) { LoadFromLayout(state_, page); }

// Settles the mode's parameters; false for an unknown mode or a coder never
// set up.
bool FaxCoder::ReadyForCall() {
  FaxCoderState& c = state_;
  switch (c.codingMode) {
    case kFaxModeMH:
      c.k = 1;
      break;
    case kFaxModeMR:
      break;
    case kFaxModeMMR:
      c.k = 0;
      c.eolAlign = 0;
      c.minimumBits = 0;
      break;
    default:
      return false;
  }
  return c.outBuffer.size() == kFaxOutBufferSize + kFaxOutBufferSlack &&
         c.codingChanges.size() >= size_t(c.width) + kFaxChangesSlack &&
         c.referenceChanges.size() >= size_t(c.width) + kFaxChangesSlack;
}

int FaxCoder::CodeLine(const uint8_t* line) { return CodeLines(line, 1); }

int FaxCoder::CodeLines(const uint8_t* lines, size_t count) {
  if (!ReadyForCall() || lines == nullptr) return -1;
  if (state_.plainCoding) {
    const size_t stride = static_cast<size_t>(state_.bytesPerLine);
    for (size_t i = 0; i < count; ++i) CodeLinePlain(state_, lines + i * stride);
  } else {
    CodeLinesFast(state_, lines, count);
  }
  return state_.writeFailed ? -1 : 1;
}

int FaxCoder::FinishPage() {
  if (!ReadyForCall()) return -1;
  CodePageEnd(state_);
  FlushOutBuffer(state_);
  return state_.writeFailed ? -1 : 0;
}

}  // namespace qb
