#pragma once
// The PDF file as a chain of byte sinks: the output file at the bottom, and at
// most one encoding filter above it for the data of a stream (ASCII hex,
// ASCII85 or Flate), chosen by the stream dictionary's "Filter" entry. Every
// writer inserts text and numbers into a pdfoutfilter without knowing whether
// and how the stream is encoded.
//
// Failures are sticky on the output file at the bottom (pdfoutfil::status): a
// failing filter, a write error of the kernel file, a file too large for its
// cross-reference table. The handler reports that status from endStream and
// finishFile, so that no damaged file passes for a good one.
#include <cstdint>
#include <memory>

#include <zlib.h>

#include "platform/ascii85.h"
#include "platform/genoutfil.h"
#include "platform/kernelfile.h"

namespace TavPDF {

class pdfoutfil;
class PDFDictionaryValue;

class pdfoutfilter : public genoutfil {
 public:
  // The downstream sink is the next one towards the file; a filter owns it
  // when it is itself a filter (the file at the bottom is never owned).
  explicit pdfoutfilter(pdfoutfilter* downstream) : mDownstream(downstream) {}
  ~pdfoutfilter() override;

  // Flushes and ends the encoding, then finishes the downstream sink. Returns
  // false when the stream could not be written completely (the failure is
  // also recorded on the file).
  virtual bool Finish() = 0;
  // Byte position; 0 for every filter (only the file knows its position).
  virtual std::uint64_t Tell() { return 0; }
  // Sets the byte position; does nothing for a filter.
  virtual void Seek(std::uint64_t) {}

  pdfoutfilter* downstream() const { return mDownstream; }
  // The output file at the bottom of the chain.
  pdfoutfil* file();

 protected:
  pdfoutfilter* mDownstream;  // null for the file itself
};

// The output file over an open kernel file (not owned; it stays open).
class pdfoutfil final : public pdfoutfilter {
 public:
  explicit pdfoutfil(TavSys::fil* file);
  ~pdfoutfil() override;

  // The byte goes straight into the kernel file (its buffered one-byte write).
  void PutByte(std::uint8_t byte) override { mFile->putByte(byte); }
  // Nothing to encode; true when nothing has failed so far.
  bool Finish() override { return status() == 0; }
  std::uint64_t Tell() override { return mFile->position(); }
  void Seek(std::uint64_t position) override { TavSys::filpos(mFile, position); }

  // The text route into the same kernel file: object headers, "stream",
  // "endstream", the cross-reference section and "%%EOF" go through it.
  noroutfil& text() { return mText; }
  TavSys::fil* kernelFile() const { return mFile; }

  // 0 while all is well; otherwise the first failure: a file error code
  // (TavSys::kFileErrorBase + errno) or TavSys::kResultAbandoned for a failure
  // already reported by a message.
  int status() const;
  // Records a failure (the first one is kept).
  void setFailed(int code);

 protected:
  void PutUns8Buffer(const std::uint8_t* bytes, int count) override;

 private:
  TavSys::fil* mFile;
  noroutfil mText;
  int mFailure = 0;
};

// Two upper-case hex digits per byte, a line feed after every 520 input bytes,
// ">" at the end.
class PDFAsciiHexOutputFilter : public pdfoutfilter {
 public:
  explicit PDFAsciiHexOutputFilter(pdfoutfilter* downstream) : pdfoutfilter(downstream) {}
  void PutByte(std::uint8_t byte) override;
  bool Finish() override;

 private:
  std::uint32_t mLineCount = 0;
};

class PDFAscii85OutputFilter;

// The ASCII85 encoder of a filter: its characters go to the filter's downstream.
class pdfascii85outtyp : public TavGen::Ascii85outBase {
 public:
  explicit pdfascii85outtyp(PDFAscii85OutputFilter* filter) : mFilter(filter) {}

 protected:
  void output(char c) override;

 private:
  PDFAscii85OutputFilter* mFilter;  // the filter that owns this encoder
};

class PDFAscii85OutputFilter : public pdfoutfilter {
 public:
  explicit PDFAscii85OutputFilter(pdfoutfilter* downstream)
      : pdfoutfilter(downstream), mEncoder(this) {}
  void PutByte(std::uint8_t byte) override { mEncoder.encode(byte); }
  bool Finish() override;

 private:
  friend class pdfascii85outtyp;
  pdfascii85outtyp mEncoder;
};

// zlib compression at level 8, handed the input in blocks of 8,192 bytes so
// that memory stays bounded whatever the stream length. No block is flushed:
// the compressed bytes do not depend on the block size.
// While the export is cancelled, buffered blocks are dropped; Finish still ends
// the zlib stream properly.
class PDFFlateOutputFilter : public pdfoutfilter {
 public:
  static constexpr std::uint32_t kBlockSize = 8192;
  static constexpr int kLevel = 8;

  explicit PDFFlateOutputFilter(pdfoutfilter* downstream);
  // Ends the zlib state when Finish did not.
  ~PDFFlateOutputFilter() override;

  void PutByte(std::uint8_t byte) override {
    mIn[mCount++] = byte;
    if (mCount == kBlockSize) CompressBlock();
  }
  bool Finish() override;

 protected:
  void PutUns8Buffer(const std::uint8_t* bytes, int count) override;

 private:
  void CompressBlock();
  // Shows the filter error message and records the failure on the file.
  void Fail();
  // Drops the buffered input of a cancelled export.
  void DropBlock();
  // Hands the produced output downstream and resets the output buffer.
  void Emit();

  z_stream mZ{};
  bool mInitialised = false;
  bool mEnded = false;
  bool mFailed = false;
  std::uint32_t mCount = 0;
  std::unique_ptr<std::uint8_t[]> mIn;
  std::unique_ptr<std::uint8_t[]> mOut;
};

// Shows "PDF/ERROR IN FILE FORMAT" (severity 3, volatility 0).
void ShowFilterError();

// The sink into which a stream's data are to be written, given the value of
// the stream dictionary's "Filter" entry (null when there is none): a new
// filter over the downstream sink for "ASCIIHexDecode", "FlateDecode" and
// "ASCII85Decode" (the caller deletes it after Finish); the downstream sink
// itself for no filter, "DCTDecode" and "CCITTFaxDecode" (the data arrive
// encoded). Any other value gives the filter error message, marks the file as
// failed (the data would not match the Filter entry) and returns the
// downstream sink.
pdfoutfilter* CreateOutputFilter(pdfoutfilter* downstream, PDFDictionaryValue* filter);

}  // namespace TavPDF
