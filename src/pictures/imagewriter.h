#pragma once
// Image XObjects: the image dictionary whose colour space is written with it,
// the JPEG compressor writing into a PDF stream, and the row handlers that
// the page writer's outimabeg hands to the pixel path.
#include <cstdint>
#include <memory>
#include <vector>

#include "pagewriter/proofimghan.h"
#include "pdfwriter/pdfobjects.h"
#include "platform/jpegcompressor.h"

class ColorSpace;
class genoutfil;

namespace TavPDF {

class pdfouthan;

// An image dictionary whose colour space is decided when it is written: the
// deferred colour space's object (made indirect and written at once) or name
// goes under ColorSpace just before the dictionary is output.
class PDFImageDic : public PDFDictionary {
 public:
  PDFImageDic();
  ~PDFImageDic() override;
  // Takes ownership; replaces (and deletes) an earlier one.
  void SetDeferredColorSpace(ColorSpace* space);
  ColorSpace* GetDeferredColorSpace() const { return mDeferredColorSpace.get(); }
  void PrepareOutput(pdfouthan* handler) override;

 private:
  std::unique_ptr<ColorSpace> mDeferredColorSpace;
};

// JPEG data straight into the output the image's stream goes to.
class PDFJpegCompressor : public tv_jpeg_compressor {
 public:
  PDFJpegCompressor(int colourModel, std::int32_t height, std::int32_t width, std::int32_t resolutionNumerator,
                    std::int32_t resolutionDenominator, int quality, genoutfil& output);
  int output_bytes(const std::uint8_t* bytes, std::size_t count) override;

 private:
  genoutfil& mOutput;
};

// The page writer's row handlers. Finish completes the image data: rows that
// never came are written white, so the stream always holds what the
// dictionary declares. It returns false when the data could not be written.
class pdfproofimghan : public proofimghan {
 public:
  virtual bool Finish() = 0;
  // Rows the handler had to make up.
  std::int32_t PaddedRows() const { return mPaddedRows; }
  // The rows still lacking will not come and the image is given up: Finish
  // makes none up (the stream is then shorter than declared) and reports
  // the image incomplete.
  void Abandon() { mAbandoned = true; }
  bool Abandoned() const { return mAbandoned; }

 protected:
  std::int32_t mPaddedRows = 0;
  bool mAbandoned = false;
};

// Scan lines into a JPEG compressor; rows may come in pieces.
class pdfproofimghanjpg : public pdfproofimghan {
 public:
  explicit pdfproofimghanjpg(std::unique_ptr<PDFJpegCompressor> compressor);
  ~pdfproofimghanjpg() override;
  int WriteRows(const std::uint8_t* row, int pixels, int planes) override;
  bool Finish() override;

 private:
  std::unique_ptr<PDFJpegCompressor> mCompressor;
  std::vector<std::uint8_t> mLine;
  std::size_t mFill = 0;
  bool mFinished = false;
};

// Bytes unchanged into the output.
class pdfproofimghantif : public pdfproofimghan {
 public:
  // rowBytes and rows: the data the dictionary declares; white: the byte
  // value of an unpainted sample (as written).
  pdfproofimghantif(genoutfil& output, std::uint64_t rowBytes, std::int32_t rows, std::uint8_t white);
  ~pdfproofimghantif() override;
  int WriteRows(const std::uint8_t* row, int pixels, int planes) override;
  bool Finish() override;
  std::uint64_t DeclaredBytes() const { return mTotal; }
  std::uint8_t WhiteByte() const { return mWhite; }

 protected:
  // Writes what fits into the declared data; the rest is dropped.
  void Put(const std::uint8_t* bytes, std::uint64_t count);

  genoutfil& mOutput;
  std::uint64_t mTotal;
  std::uint64_t mWritten = 0;
  std::uint64_t mRowBytes;
  std::uint8_t mWhite;
  bool mFinished = false;
};

// One bit per sample, most significant bit first, each row starting on a byte.
class pdfproofimghan1bittif : public pdfproofimghantif {
 public:
  using pdfproofimghantif::pdfproofimghantif;
  int WriteRows(const std::uint8_t* row, int pixels, int planes) override;

 private:
  std::vector<std::uint8_t> mPacked;
};

}  // namespace TavPDF
