#include "pictures/imagewriter.h"

#include <algorithm>
#include <cstring>

#include "pdfwriter/pdfouthan.h"
#include "platform/genoutfil.h"
#include "platform/kernel/colorspace.h"
#include "platform/system.h"

namespace TavPDF {

// ---- the image dictionary --------------------------------------------------------

PDFImageDic::PDFImageDic() = default;
PDFImageDic::~PDFImageDic() = default;

void PDFImageDic::SetDeferredColorSpace(ColorSpace* space) { mDeferredColorSpace.reset(space); }

void PDFImageDic::PrepareOutput(pdfouthan* handler) {
  if (!mDeferredColorSpace || handler == nullptr) return;
  if (PDFArray* array = mDeferredColorSpace->pdfGetColorSpace(handler, 0)) {
    PDFIndirectReference* ref = handler->makeIndirect(array);
    handler->writeObject(ref);
    Set("ColorSpace", ref);
    return;
  }
  Set("ColorSpace", new PDFName(mDeferredColorSpace->pdfGetName(0)));
}

// ---- JPEG ------------------------------------------------------------------------

PDFJpegCompressor::PDFJpegCompressor(int colourModel, std::int32_t height, std::int32_t width,
                                     std::int32_t resolutionNumerator, std::int32_t resolutionDenominator,
                                     int quality, genoutfil& output)
    : tv_jpeg_compressor(colourModel, height, width, resolutionNumerator, resolutionDenominator, quality),
      mOutput(output) {}

int PDFJpegCompressor::output_bytes(const std::uint8_t* bytes, std::size_t count) {
  mOutput.PutBytes(bytes, count);
  return 0;
}

pdfproofimghanjpg::pdfproofimghanjpg(std::unique_ptr<PDFJpegCompressor> compressor)
    : mCompressor(std::move(compressor)),
      mLine(std::size_t(mCompressor->width()) * std::size_t(mCompressor->bytesPerPixel())) {}

pdfproofimghanjpg::~pdfproofimghanjpg() { Finish(); }

int pdfproofimghanjpg::WriteRows(const std::uint8_t* row, int pixels, int planes) {
  const std::int64_t n = std::int64_t(pixels) * planes;
  if (n < 1 || mLine.empty()) return 0;
  std::size_t left = std::size_t(n);
  while (left > 0) {
    // A whole scan line handed in one piece goes to the compressor as it is.
    if (mFill == 0 && left >= mLine.size()) {
      if (!mCompressor->tv_compress_line(row)) return 1;
      row += mLine.size();
      left -= mLine.size();
      continue;
    }
    const std::size_t take = std::min(left, mLine.size() - mFill);
    std::memcpy(mLine.data() + mFill, row, take);
    mFill += take;
    row += take;
    left -= take;
    if (mFill == mLine.size()) {
      mFill = 0;
      if (!mCompressor->tv_compress_line(mLine.data())) return 1;
    }
  }
  return 0;
}

bool pdfproofimghanjpg::Finish() {
  if (mFinished) return true;
  mFinished = true;
  if (mAbandoned) return false;
  const std::int32_t missing = mCompressor->height() - mCompressor->linesWritten();
  const int result = mCompressor->finish_compression();
  if (result < 0) {
    TavSys::debug("pdfproofimghanjpg: the JPEG data could not be completed");
    return false;
  }
  mPaddedRows = std::max(missing, 0);
  return true;
}

// ---- plain and 1-bit rows ----------------------------------------------------------

pdfproofimghantif::pdfproofimghantif(genoutfil& output, std::uint64_t rowBytes, std::int32_t rows,
                                     std::uint8_t white)
    : mOutput(output), mTotal(rowBytes * std::uint64_t(std::max(rows, 0))), mRowBytes(rowBytes), mWhite(white) {}

pdfproofimghantif::~pdfproofimghantif() { Finish(); }

void pdfproofimghantif::Put(const std::uint8_t* bytes, std::uint64_t count) {
  const std::uint64_t room = mTotal - mWritten;
  if (count > room) count = room;
  if (count == 0) return;
  mOutput.PutBytes(bytes, std::size_t(count));
  mWritten += count;
}

int pdfproofimghantif::WriteRows(const std::uint8_t* row, int pixels, int planes) {
  const std::int64_t n = std::int64_t(pixels) * planes;
  if (n > 0) Put(row, std::uint64_t(n));
  return 0;
}

bool pdfproofimghantif::Finish() {
  if (mFinished) return true;
  mFinished = true;
  if (mAbandoned) return false;
  if (mWritten < mTotal) {
    mPaddedRows = std::int32_t(mRowBytes > 0 ? (mTotal - mWritten + mRowBytes - 1) / mRowBytes : 0);
    std::vector<std::uint8_t> white(std::size_t(std::min<std::uint64_t>(mTotal - mWritten, 65536)), mWhite);
    while (mWritten < mTotal) Put(white.data(), white.size());
  }
  return true;
}

int pdfproofimghan1bittif::WriteRows(const std::uint8_t* row, int pixels, int planes) {
  const std::int64_t n = std::int64_t(pixels) * planes;
  if (n < 1) return 0;
  mPacked.assign(std::size_t((n + 7) / 8), 0);
  for (std::int64_t i = 0; i < n; ++i) {
    if (row[i] != 0) mPacked[std::size_t(i / 8)] |= std::uint8_t(0x80 >> (i % 8));
  }
  Put(mPacked.data(), mPacked.size());
  return 0;
}

}  // namespace TavPDF
