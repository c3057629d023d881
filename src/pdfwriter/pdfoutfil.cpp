#include "pdfwriter/pdfoutfil.h"

#include <cstring>

#include "pdfwriter/pdfobjects.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace TavPDF {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

void ShowFilterError() {
  TavGen::ShowInfoMessage(TavGen::kError, 0,
                          TavCore::GetLocalizedUni16String("PDF/ERROR IN FILE FORMAT"));
}

// ---------------------------------------------------------------------------

pdfoutfilter::~pdfoutfilter() {
  // A filter owns the filter below it; the file at the bottom is the handler's.
  if (mDownstream != nullptr && mDownstream->mDownstream != nullptr) delete mDownstream;
}

pdfoutfil* pdfoutfilter::file() {
  pdfoutfilter* sink = this;
  while (sink->mDownstream != nullptr) sink = sink->mDownstream;
  return static_cast<pdfoutfil*>(sink);
}

// ---------------------------------------------------------------------------

pdfoutfil::pdfoutfil(TavSys::fil* file) : pdfoutfilter(nullptr), mFile(file), mText(file) {}

pdfoutfil::~pdfoutfil() = default;

void pdfoutfil::PutUns8Buffer(const std::uint8_t* bytes, int count) {
  if (count > 0) mFile->write(bytes, static_cast<std::size_t>(count));
}

int pdfoutfil::status() const {
  if (mFailure != 0) return mFailure;
  return mFile->error();
}

void pdfoutfil::setFailed(int code) {
  if (mFailure == 0) mFailure = code != 0 ? code : TavSys::kResultAbandoned;
}

// ---------------------------------------------------------------------------

void PDFAsciiHexOutputFilter::PutByte(std::uint8_t byte) {
  const char digits[2] = {kHexDigits[byte >> 4], kHexDigits[byte & 15]};
  mDownstream->PutBytes(digits, 2);
  if (++mLineCount == 520) {
    mDownstream->PutByte('\n');
    mLineCount = 0;
  }
}

bool PDFAsciiHexOutputFilter::Finish() {
  mDownstream->PutByte('>');
  return mDownstream->Finish();
}

// ---------------------------------------------------------------------------

void pdfascii85outtyp::output(char c) {
  mFilter->mDownstream->PutByte(static_cast<std::uint8_t>(c));
}

bool PDFAscii85OutputFilter::Finish() {
  mEncoder.finish();
  return mDownstream->Finish();
}

// ---------------------------------------------------------------------------

PDFFlateOutputFilter::PDFFlateOutputFilter(pdfoutfilter* downstream)
    : pdfoutfilter(downstream),
      mIn(new std::uint8_t[kBlockSize]),
      mOut(new std::uint8_t[kBlockSize]) {
  // zlib's own initialisation passes the version and state size it was built with.
  if (deflateInit(&mZ, kLevel) == Z_OK) {
    mInitialised = true;
  } else {
    Fail();
  }
}

PDFFlateOutputFilter::~PDFFlateOutputFilter() {
  if (mInitialised && !mEnded) deflateEnd(&mZ);
}

void PDFFlateOutputFilter::Fail() {
  if (!mFailed) ShowFilterError();
  mFailed = true;
  file()->setFailed(TavSys::kResultAbandoned);
}

void PDFFlateOutputFilter::DropBlock() {
  // The stream now lacks data: the file is not complete, though no message is
  // due (the export is being cancelled).
  mCount = 0;
  file()->setFailed(TavSys::kResultAbandoned);
}

void PDFFlateOutputFilter::Emit() {
  const std::size_t produced = kBlockSize - mZ.avail_out;
  if (produced > 0) mDownstream->PutBytes(mOut.get(), produced);
  mZ.next_out = mOut.get();
  mZ.avail_out = kBlockSize;
}

void PDFFlateOutputFilter::PutUns8Buffer(const std::uint8_t* bytes, int count) {
  while (count > 0) {
    const std::uint32_t room = kBlockSize - mCount;
    const std::uint32_t n = static_cast<std::uint32_t>(count) < room
                                ? static_cast<std::uint32_t>(count)
                                : room;
    std::memcpy(mIn.get() + mCount, bytes, n);
    mCount += n;
    bytes += n;
    count -= static_cast<int>(n);
    if (mCount == kBlockSize) CompressBlock();
  }
}

void PDFFlateOutputFilter::CompressBlock() {
  // A cancelled export drops the block at once; the stream is discarded anyway,
  // and Finish still ends it as a valid zlib stream.
  if (TavSys::Progress::isCanceled()) {
    DropBlock();
    return;
  }
  if (mFailed || !mInitialised || mEnded) {
    mCount = 0;
    return;
  }
  mZ.next_in = mIn.get();
  mZ.avail_in = mCount;
  mZ.next_out = mOut.get();
  mZ.avail_out = kBlockSize;
  // Until deflate leaves output space, the output buffer was too small: hand
  // the bytes on and go again. Z_BUF_ERROR means no progress was possible
  // (everything consumed and flushed already), which ends the loop too.
  for (;;) {
    const int rc = deflate(&mZ, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      Emit();
      Fail();
      mCount = 0;
      return;
    }
    const bool full = mZ.avail_out == 0;
    Emit();
    if (!full || rc == Z_BUF_ERROR) break;
  }
  // deflate takes the whole block when the output has room; keep any rest.
  const std::uint32_t rest = mZ.avail_in;
  if (rest > 0) std::memmove(mIn.get(), mZ.next_in, rest);
  mCount = rest;
}

bool PDFFlateOutputFilter::Finish() {
  if (mInitialised && !mEnded) {
    // The cancel state only drops whole blocks; what is buffered now is the
    // stream's tail and is compressed unless the export is cancelled.
    if (mCount > 0 && TavSys::Progress::isCanceled()) DropBlock();
    if (mFailed) mCount = 0;
    mZ.next_in = mIn.get();
    mZ.avail_in = mCount;
    for (;;) {
      mZ.next_out = mOut.get();
      mZ.avail_out = kBlockSize;
      const int rc = deflate(&mZ, Z_FINISH);
      Emit();
      if (rc == Z_STREAM_END) break;
      if (rc != Z_OK && rc != Z_BUF_ERROR) {
        Fail();
        break;
      }
      if (rc == Z_BUF_ERROR && mZ.avail_in == 0 && mZ.avail_out == kBlockSize) {
        // No progress possible and nothing produced: the state is broken.
        Fail();
        break;
      }
    }
    mCount = 0;
    mEnded = true;
    if (deflateEnd(&mZ) != Z_OK && !mFailed) Fail();
  }
  const bool downstreamOk = mDownstream->Finish();
  return !mFailed && mInitialised && downstreamOk;
}

// ---------------------------------------------------------------------------

pdfoutfilter* CreateOutputFilter(pdfoutfilter* downstream, PDFDictionaryValue* filter) {
  if (filter == nullptr) return downstream;
  const auto* name = dynamic_cast<const PDFName*>(filter);
  if (name != nullptr) {
    const char* text = name->GetName();
    if (TavSys::strcom(text, "ASCIIHexDecode") == 0) return new PDFAsciiHexOutputFilter(downstream);
    if (TavSys::strcom(text, "FlateDecode") == 0) return new PDFFlateOutputFilter(downstream);
    if (TavSys::strcom(text, "ASCII85Decode") == 0) return new PDFAscii85OutputFilter(downstream);
    if (TavSys::strcom(text, "DCTDecode") == 0 || TavSys::strcom(text, "CCITTFaxDecode") == 0) {
      return downstream;
    }
  }
  // The data would go out unencoded under a Filter entry that claims an
  // encoding: the file would be damaged.
  ShowFilterError();
  downstream->file()->setFailed(TavSys::kResultAbandoned);
  return downstream;
}

}  // namespace TavPDF
