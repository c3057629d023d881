#include "pdfwriter/pdfouthan.h"

#include "pdfwriter/pdfpending.h"
#include "pdfwriter/xmpdata.h"

#include <charconv>
#include <cstring>
#include <string>

#include "platform/kernel/job.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

std::uint32_t VersionCodeForCompatibility(int pdfCompatibility) {
  switch (pdfCompatibility) {
    case 0: return kPdf14;
    case 2: return kPdf15;
    default: return kPdf13;
  }
}

std::pair<std::string, std::string> MakeDocumentID(const std::string& text,
                                                   std::int64_t seconds) {
  auto fold = [](const std::string& bytes) {
    std::uint8_t folded[16] = {};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      folded[i % 16] ^= static_cast<std::uint8_t>(bytes[i]);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(32);
    for (const std::uint8_t b : folded) {
      hex.push_back(kDigits[b >> 4]);
      hex.push_back(kDigits[b & 15]);
    }
    return hex;
  };
  std::string withTime = text;
  withTime.push_back(static_cast<char>(static_cast<std::uint8_t>(seconds & 0xFF)));
  return {fold(text), fold(withTime)};
}

pdfouthan::pdfouthan(TavSys::fil* file, std::uint32_t versionCode)
    : mTrailer(std::make_unique<PDFTrailer>()),
      mFile(std::make_unique<pdfoutfil>(file)),
      mVersionCode(versionCode == kPdf14 || versionCode == kPdf15 ? versionCode : kPdf13) {}

pdfouthan::~pdfouthan() {
  // A stream left open (its writer gave up with an exception) still has its
  // filter, which belongs here until endStream.
  if (mOpenSink != nullptr && mOpenSink != mFile.get()) delete mOpenSink;
  for (auto& [key, object] : mFormCache) delete object;
  DeletePendingLists(*this);
  DeleteXMPComposer(*this);
  mFormCache.clear();
  // The PDF objects stay with the registry; the table frees only its entries.
}

void pdfouthan::writeHeader() {
  noroutfil& out = mFile->text();
  switch (mVersionCode) {
    case kPdf14: out << "%PDF-1.4\n"; break;
    case kPdf15: out << "%PDF-1.5\n"; break;
    default: out << "%PDF-1.3\n"; break;
  }
  // A comment of bytes above 0x7F marks the file as binary for transfer tools.
  out << "%\xE2\xE3\xCF\xD3";
}

PDFIndirectReference* pdfouthan::makeIndirect(PDFDictionaryValue* object) {
  if (!mXrefTable) mXrefTable = std::make_unique<PdfXrefTable>();
  return NewIndirectReference(mXrefTable.get(), object);
}

void pdfouthan::writeObjectHeader(PDFIndirectReference* reference) {
  // "\n", then the number and 0 each with its blank, and "obj\n", formatted
  // straight into the kernel file.
  TavSys::fil* file = mFile->kernelFile();
  const std::uint64_t offset = file->position() + 1;
  if (offset > kMaxXrefOffset && mFile->status() == 0) {
    TavGen::message(TavGen::kError, 1, "PDF/FILE TOO LARGE");
    mFile->setFailed(TavSys::kResultAbandoned);
  }
  if (PdfXrefEntry* entry = reference->GetEntry(); entry != nullptr && reference->GetTable()) {
    reference->GetTable()->RecordOffset(entry, offset);
  } else {
    SetObjectOffset(mXrefTable.get(), reference, offset);
  }
  char* const header = reinterpret_cast<char*>(file->reserve(32));
  header[0] = '\n';
  char* end = std::to_chars(header + 1, header + 32, reference->GetObjectNumber()).ptr;
  std::memcpy(end, " 0 obj\n", 7);
  file->commit(static_cast<std::size_t>(end + 7 - header));
}

void pdfouthan::writeObject(PDFIndirectReference* reference) {
  if (reference == nullptr) return;
  writeObjectHeader(reference);
  if (PDFDictionaryValue* object = reference->GetObject()) {
    object->Output(mFile->text());
  } else {
    TavSys::debugstring("<pdfouthan::writeObject> reference without an object");
    mFile->text() << "null";
  }
  TavSys::fil* file = mFile->kernelFile();
  std::memcpy(file->reserve(7), "\nendobj", 7);
  file->commit(7);
}

pdfoutfilter* pdfouthan::beginStream(PDFDictionary* dictionary, bool encoded) {
  if (mOpenStream != nullptr) {
    TavSys::debugstring("Nested Streams !");
    return nullptr;
  }
  auto* stream = new PDFStream(mFile.get(), dictionary);
  PDFDictionary* streamDictionary = stream->GetDictionary();
  // The dictionary may write objects of its own first (an image's colour
  // space with its tint-function streams): before this stream is open.
  streamDictionary->PrepareOutput(this);
  // The length is known only after the data: an indirect integer written
  // right behind the stream.
  mOpenLengthRef = makeIndirect(new PDFInteger(0));
  streamDictionary->Set("Length", mOpenLengthRef);
  mOpenStreamRef = makeIndirect(stream);
  mOpenStream = stream;

  writeObjectHeader(mOpenStreamRef);
  noroutfil& out = mFile->text();
  streamDictionary->Output(out);
  out << "\r\n" << "stream" << "\r\n";
  stream->SetStart();
  mOpenSink = encoded ? mFile.get() : CreateOutputFilter(mFile.get(), streamDictionary->Get("Filter"));
  return mOpenSink;
}

namespace {
StreamEndHook gStreamEndHook = nullptr;
}  // namespace

void SetStreamEndHook(StreamEndHook hook) { gStreamEndHook = hook; }

PDFIndirectReference* pdfouthan::endStream(pdfoutfilter* sink, PendingStreamFlusher* writer,
                                          int* status) {
  if (sink == nullptr || mOpenStream == nullptr) {
    // A caller that got null from a nested beginStream, or closes twice.
    TavSys::debugstring(sink == nullptr ? "<pdfouthan::endStream> no sink"
                                        : "<pdfouthan::endStream> no open stream");
    if (status != nullptr) *status = TavSys::kResultAbandoned;
    return nullptr;
  }
  // Nothing of a closed stream's graphics state carries over.
  if (gStreamEndHook != nullptr) gStreamEndHook();
  const bool finished = sink->Finish();

  PDFStream* stream = mOpenStream;
  PDFIndirectReference* reference = mOpenStreamRef;
  PDFIndirectReference* lengthRef = mOpenLengthRef;
  mOpenStream = nullptr;
  mOpenStreamRef = nullptr;
  mOpenLengthRef = nullptr;
  mOpenSink = nullptr;
  // The sink is done with; freed before the deferred writers run, which may
  // give up by throwing.
  if (sink != mFile.get()) delete sink;

  const std::uint64_t length = stream->SetEnd();
  lengthRef->SetValue(static_cast<std::int64_t>(length));
  mFile->text() << "\r\n" << "endstream" << "\nendobj";
  writeObject(lengthRef);

  int result = 0;
  if (!finished || mFile->status() != 0) {
    result = mFile->status() != 0 ? mFile->status() : TavSys::kResultAbandoned;
    mFile->setFailed(result);
  }
  if (writer != nullptr) writer->FlushPendingStreams();
  if (status != nullptr) *status = result;
  return reference;
}

int pdfouthan::status() const { return mFile->status(); }

int pdfouthan::finishFile() {
  noroutfil& out = mFile->text();
  if (!mXrefTable) {
    // Nothing was numbered: there is no document to address.
    TavSys::debugstring("<pdfouthan::finishFile> no indirect objects");
    mFile->setFailed(TavSys::kResultAbandoned);
  } else {
    const std::int64_t xref = WriteXrefTable(mXrefTable.get(), mFile.get());
    if (xref >= 0) {
      mTrailer->SetSize(static_cast<std::int64_t>(mXrefTable->GetEntryCount()) + 1);
      mTrailer->WriteTrailer(mFile.get(), static_cast<std::uint64_t>(xref));
    } else if (xref == kXrefUnwrittenObject) {
      TavSys::debugstring("<pdfouthan::finishFile> an object made indirect was never written");
      mFile->setFailed(TavSys::kResultAbandoned);
    } else {
      if (mFile->status() == 0) TavGen::message(TavGen::kError, 1, "PDF/FILE TOO LARGE");
      mFile->setFailed(TavSys::kResultAbandoned);
    }
  }
  out << "\n%%EOF\n";
  mFile->kernelFile()->flush();
  return mFile->status();
}

void pdfouthan::setDocumentID(const std::string& rootPathUtf8) {
  const auto [first, second] = MakeDocumentID(rootPathUtf8, TavSys::time64());
  mTrailer->SetID(new PDFString(first.c_str()), new PDFString(second.c_str()));
}

void pdfouthan::addNamedHalftone(const std::string& screenName,
                                 PDFIndirectReference* halftone) {
  mNamedHalftones.emplace_back(screenName, halftone);
}

void pdfouthan::getCMYKSeparationName(std::string& name, jobstr* job, int separation) const {
  name = sepnamcmykpoiUTF8(job, separation);
  // In normalized output the file names the ink as its XMP data do.
  if (mXMPComposer != nullptr) mXMPComposer->MatchXMPInkName(separation, name);
}

void pdfouthan::getSeparationName(std::string& name, jobstr* job, int separation) const {
  if (mSettings != nullptr && mSettings->ProcessCMYKFlags != 0) {
    getCMYKSeparationName(name, job, separation);
    return;
  }
  name = GetSeparationName(job, separation);
  if (mXMPComposer != nullptr) mXMPComposer->MatchXMPInkName(separation, name);
}

std::shared_ptr<seppdftyp> pdfouthan::getSeparationDisabler() {
  if (mSettings == nullptr || mSettings->UseSeparationDisabler == 0 || mJob == nullptr) return {};
  if (!mSeparationDisabler) mSeparationDisabler = std::make_shared<seppdftyp>(mJob);
  return mSeparationDisabler;
}

int pdfouthan::getOutputFileSpec(TavSys::FileSpec& spec) const {
  spec = mOutputFileSpec;
  return spec.IsValid() ? 0 : 1;
}

std::unique_ptr<pdfouthan> createPdfOutHandler(
    jobstr* job, TavDB::Object* spatialTree, const TavSys::tv_rectangle* mediaBox,
    TavSys::fil* file, const PDFSettings* settings, int pdfCompatibility,
    const TavSys::tv_rectangle* trimBox, const std::array<std::int32_t, 4>& processSeparations,
    std::uint64_t screenValue, std::uint32_t screenNumber, const TavSys::FileSpec& outputFile,
    XMPInkCallback inkCallback, bool writerFlag, std::vector<TavSys::FileSpec>* producedFiles) {
  auto handler =
      std::make_unique<pdfouthan>(file, VersionCodeForCompatibility(pdfCompatibility));
  handler->mJob = job;
  handler->mSpatialTree = spatialTree;
  if (mediaBox != nullptr) {
    handler->mHasMediaBox = true;
    handler->mMediaBox = *mediaBox;
  }
  if (trimBox != nullptr) {
    handler->mHasTrimBox = true;
    handler->mTrimBox = *trimBox;
  }
  handler->mSettings = settings;
  handler->mProcessSeparations = processSeparations;
  handler->mScreenValue = screenValue;
  handler->mScreenNumber = screenNumber;
  handler->mOutputFileSpec = outputFile;
  // Kept for the XMP composer of normalized output, which is attached by the
  // part that writes the document's XMP data.
  handler->mInkCallback = std::move(inkCallback);
  handler->mWriterFlag = writerFlag;
  handler->mProducedFiles = producedFiles;
  // Normalized output: the composer of the document's XMP data takes the
  // ink callback; otherwise the callback is released here.
  AttachXMPComposer(*handler);
  return handler;
}

}  // namespace TavPDF
