#include "driver/placedpdf.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "driver/placedcontent.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"

namespace fs = std::filesystem;

namespace TavPDF {

namespace {

// Whether the resolver's error reporter met an error since it was made.
bool gResolverReportedError = false;

// Page keys that a Form XObject made from the page does not take over.
const std::set<std::string> kExcludedPageKeys = {
    "Parent", "Type",  "MediaBox", "Contents", "CropBox",  "BleedBox",      "TrimBox",
    "ArtBox", "BoxColorInfo", "Rotate", "Thumb", "B", "Dur", "Trans", "Annots", "AA",
    "MetaData", "StructParents", "ID", "PZ", "SeparationInfo"};

// Keys of the reference XObject that the Form XObject keeps.
constexpr std::array<const char*, 5> kKeptReferenceKeys = {"Type", "Subtype", "FormType", "Matrix", "PieceInfo"};

// A file name string of a PDF file: UTF-16 (big-endian, with its byte-order mark)
// or bytes taken as UTF-8.
std::string filePathText(const std::string& raw) {
  if (raw.size() < 2 || static_cast<unsigned char>(raw[0]) != 254 || static_cast<unsigned char>(raw[1]) != 255) {
    return raw;
  }
  std::u16string wide;
  for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
    wide.push_back(char16_t((static_cast<unsigned char>(raw[i]) << 8) | static_cast<unsigned char>(raw[i + 1])));
  }
  return TavSys::Uni16CharToUTF8(wide);
}

// The matrix that shows a page the way its Rotate turns it (clockwise quarter
// turns), with the turned box's lower left corner where the box's was.
std::array<double, 6> rotationMatrix(int quarters, const std::vector<double>& box) {
  const double x0 = box[0], y0 = box[1], w = box[2] - box[0], h = box[3] - box[1];
  switch (quarters) {
    case 1: return {0, -1, 1, 0, x0 - y0, y0 + w + x0};
    case 2: return {-1, 0, 0, -1, 2 * x0 + w, 2 * y0 + h};
    case 3: return {0, 1, -1, 0, x0 + h + y0, y0 - x0};
    default: return {1, 0, 0, 1, 0, 0};
  }
}

// first then second, as PDF concatenates matrices.
std::array<double, 6> concat(const std::array<double, 6>& m, const std::array<double, 6>& n) {
  return {m[0] * n[0] + m[1] * n[2],        m[0] * n[1] + m[1] * n[3],
          m[2] * n[0] + m[3] * n[2],        m[2] * n[1] + m[3] * n[3],
          m[4] * n[0] + m[5] * n[2] + n[4], m[4] * n[1] + m[5] * n[3] + n[5]};
}

GAArray numbers(const double* values, std::size_t count) {
  GAArray a = GAArray::New();
  for (std::size_t i = 0; i < count; ++i) a.Append(GAObject::Real(values[i]));
  return a;
}

}  // namespace

// ---- error sinks ----------------------------------------------------------------------

void NilErrorReporter::ReportError(const std::string& message) {
  ++mErrors;
  // The first problem of a file says what is wrong with it; a damaged file
  // may give many more.
  if (!mShown.insert(mFile).second) return;
  TavGen::message(TavGen::kError, 1, "PDF/CANNOT EMBED PLACED PDF",
                  {{"__FILENAME__", mFile}, {"__REASON__", message}});
}

OpiResolverErrorReporter::OpiResolverErrorReporter(OPIErrorReporter* sink) : mSink(sink) {
  gResolverReportedError = false;
}

void OpiResolverErrorReporter::Report(const std::string& message) {
  gResolverReportedError = true;
  if (mSink != nullptr) mSink->ReportError(message);
}

bool OpiResolverErrorReporter::ResolverReportedError() { return gResolverReportedError; }

// ---- joined content -------------------------------------------------------------------

long MultipleInStream::Read(unsigned char* buffer, long n) {
  long total = 0;
  while (total < n && mCurrent < mParts.size()) {
    const long got = mParts[mCurrent]->Read(buffer + total, n - total);
    if (got < 0) {
      ++mCurrent;
      continue;
    }
    total += got;
  }
  return total == 0 && n > 0 ? -1 : total;
}

std::unique_ptr<GInStream> MultipleInStream::Clone() const {
  std::vector<std::unique_ptr<GInStream>> parts;
  for (const auto& p : mParts) parts.push_back(p->Clone());
  return std::make_unique<MultipleInStream>(std::move(parts));
}

void MultipleInStream::Reset() {
  for (auto& p : mParts) p->Reset();
  mCurrent = 0;
}

// ---- the PDF 1.3 check ----------------------------------------------------------------

void PDF13CompabilityCheckVisitor::VisitExtGState(GADict& state) {
  const GAObject blend = state.Get("BM");
  std::string mode = blend.GetName();
  if (blend.IsArray()) mode = blend.GetArray().GetName(0);
  if (blend.IsValid() && mode != "Normal" && mode != "Compatible") mTransparency = true;
  const GAObject mask = state.Get("SMask");
  if (mask.IsValid() && mask.GetName() != "None") mTransparency = true;
  for (const char* alpha : {"CA", "ca"}) {
    const GAObject a = state.Get(alpha);
    if (a.IsNumber() && a.GetNumber() != 1.0) mTransparency = true;
  }
}

void PDF13CompabilityCheckVisitor::VisitGroup(GADict&) { mTransparency = true; }

void PDF13CompabilityCheckVisitor::VisitImage(GADict& image) {
  if (image.Get("SMask").IsStream()) mTransparency = true;
  if (image.Get("SMaskInData").GetNumber() != 0) mTransparency = true;
}

// ---- finding and converting references --------------------------------------------------

RefFinderVisitor::RefFinderVisitor(GADoc& output, fs::path folder, NilErrorReporter& errors, bool pdf13Check,
                                   bool overlap, bool isolateOneUp)
    : mOutput(output),
      mFolder(std::move(folder)),
      mErrors(errors),
      mPdf13Check(pdf13Check),
      mOverlap(overlap),
      mIsolateOneUp(isolateOneUp) {}

GADoc& RefFinderVisitor::OpenPlaced(const std::string& path) {
  auto found = mPlaced.find(path);
  if (found != mPlaced.end()) return *found->second;
  if (mFailed.count(path) != 0) throw TavSys::Error(TavSys::kResultAbandoned, "", "already refused");
  fs::path where = fs::u8path(path);
  // A relative name is taken from the written file's folder.
  if (where.is_relative()) where = mFolder / where;
  try {
    return *mPlaced.emplace(path, std::make_unique<GADoc>(where)).first->second;
  } catch (...) {
    mFailed.insert(path);
    throw;
  }
}

void RefFinderVisitor::VisitXObject(GADict& xobjects, const std::string& name, GAObject& xobject) {
  if (mPdf13Check && mTransparencyFound) return;
  if (TavSys::Progress::isCanceled()) return;
  if (!xobject.IsStream() || !xobject.GetDict().GetDict("Ref").IsValid()) return;
  if (xobject.IsIndirect() && mRefused.count(xobject.Handle().getObjGen()) != 0) return;
  GAStream stream;
  if (!convertReferenceXObject(*this, xobject, stream)) {
    if (xobject.IsIndirect()) mRefused.insert(xobject.Handle().getObjGen());
    return;
  }
  const GADict ref = xobject.GetDict().GetDict("Ref");
  PendingPut put;
  put.path = filePathText(ref.GetDict("F").Get("F").GetString());
  put.page = int(ref.Get("Page").GetNumber());
  put.name = name;
  put.dictionary = xobjects;
  put.stream = stream;
  mPuts.push_back(std::move(put));
}

void stripPrivateNameKeys(GADict resources) {
  std::set<QPDFObjGen> seen;
  std::vector<GADict> pending{std::move(resources)};
  while (!pending.empty()) {
    GADict r = std::move(pending.back());
    pending.pop_back();
    if (r.IsIndirect() && !seen.insert(r.Handle().getObjGen()).second) continue;
    GADict xobjects = r.GetDict("XObject");
    for (const std::string& key : xobjects.Keys()) {
      GAObject x = xobjects.Get(key);
      if (x.IsIndirect() && !seen.insert(x.Handle().getObjGen()).second) continue;
      GADict dict = x.GetDict();
      if (dict.Has("VornPNName")) dict.Remove("VornPNName");
      if (dict.GetDict("Resources").IsValid()) pending.push_back(dict.GetDict("Resources"));
    }
  }
}

bool convertReferenceXObject(RefFinderVisitor& visitor, const GAObject& reference, GAStream& result) {
  const GADict referenceDict = reference.GetDict();
  const GADict ref = referenceDict.GetDict("Ref");
  if (!ref.IsValid()) return false;
  const std::string path = filePathText(ref.GetDict("F").Get("F").GetString());
  const GAObject pageNumber = ref.Get("Page");
  NilErrorReporter& errors = visitor.GetErrors();
  errors.SetCurrentFile(fs::u8path(path).filename().string());
  if (path.empty() || !pageNumber.IsNumber()) {
    errors.ReportError("the reference names no file or no page");
    return false;
  }
  const int page = int(pageNumber.GetNumber());
  for (const PendingPut& put : visitor.GetPendingPuts()) {
    if (put.path == path && put.page == page) {
      result = put.stream;
      return true;
    }
  }

  try {
    GADoc& placed = visitor.OpenPlaced(path);
    GOPage placedPage = placed.GetPage(page);
    GADict pageDict = placedPage.GetGADict();

    // What the form will hold is what the check looks at.
    PDF13CompabilityCheckVisitor check;
    GOVWalk(pageDict, check, kExcludedPageKeys);
    const bool transparent = check.FoundTransparency();
    if (transparent) visitor.SetTransparencyFound();
    if (transparent && visitor.Pdf13Check()) return false;

    // The content streams, decoded and streamed through one after the other
    // into the new form's data (never held whole), without the hidden
    // optional content; what consumers refuse is mended or refused.
    const GAObject contents = pageDict.Get("Contents");
    std::vector<QPDFObjectHandle> parts;
    if (contents.IsStream()) parts.push_back(contents.Handle());
    for (int i = 0; contents.IsArray() && i < contents.GetArray().GetLength(); ++i) {
      parts.push_back(contents.GetArray().Get(i).Handle());
    }
    GADoc& output = visitor.GetOutput();
    const QPDFObjectHandle resources = pageDict.Get("Resources").Handle();
    PlacedContentReport report;
    GAStream stream(output, GADict::New(),
                    [&](Pipeline& sink) { report = FilterPlacedContent(placed, parts, resources, sink); });
    if (!report.flaw.empty()) throw TavSys::Error(TavSys::kResultAbandoned, "", report.flaw);
    // The forms the page draws are checked (and mended) before they are copied.
    CheckPlacedForms(placed, resources, report.drawn);

    // Every other page key, copied with what it refers to.
    GADict kept = GADict::New();
    for (const std::string& key : pageDict.Keys()) {
      if (kExcludedPageKeys.count(key) == 0) kept.Put(key, pageDict.Get(key));
    }
    GADict form = CloneInto(output, placed, kept).GetDict();
    if (form.GetDict("Resources").IsValid()) stripPrivateNameKeys(form.GetDict("Resources"));

    const std::vector<double> box = placedPage.GetPageBox(1);
    if (box.size() != 4) throw TavSys::Error(TavSys::kResultAbandoned, "", "the page has no usable page box");
    form.Put("BBox", numbers(box.data(), 4));

    if (transparent && visitor.Overlap()) {
      if (visitor.IsolateOneUp()) {
        GADict group = GADict::New();
        group.Put("S", GAObject::Name("Transparency"));
        group.Put("K", GAObject::Bool(false));
        group.Put("I", GAObject::Bool(true));
        form.Put("Group", group);
        TavGen::message(TavGen::kWarning, 1, "PDF/PDF TRANSPARENCIES IN ONEUP WERE ISOLATED");
      } else {
        TavGen::message(TavGen::kWarning, 1, "PDF/PDF TRANSPARENCIES IN ONEUP");
      }
    }

    for (const char* key : kKeptReferenceKeys) {
      if (referenceDict.Has(key)) form.Put(key, referenceDict.Get(key));
    }
    // A page that its file shows turned is placed as it is shown.
    const int quarters = placedPage.GetRotation();
    if (quarters != 0) {
      std::array<double, 6> m = {1, 0, 0, 1, 0, 0};
      const GAArray given = form.GetArray("Matrix");
      if (given.GetLength() == 6) {
        for (int i = 0; i < 6; ++i) m[std::size_t(i)] = given.Get(i).GetNumber();
      }
      const std::array<double, 6> turned = concat(rotationMatrix(quarters, box), m);
      form.Put("Matrix", numbers(turned.data(), 6));
    }
    GADict streamDict = stream.GetDict();
    for (const std::string& key : form.Keys()) {
      if (key != "Length" && key != "Filter" && key != "DecodeParms") streamDict.Put(key, form.Get(key));
    }
    result = stream;
    placed.ReportWarnings();
    return true;
  } catch (const TavSys::Error& e) {
    if (TavSys::Progress::isCanceled()) return false;
    if (e.detail() != "already refused") errors.ReportError(e.detail().empty() ? e.text() : e.detail());
  } catch (const std::exception& e) {
    errors.ReportError(e.what());
  }
  return false;
}

int resolvePlacedPdfReferences(const TavSys::FileSpec& file, bool pdf13Check, bool overlap, bool isolateOneUp) {
  if (!file.DoesExist()) {
    NilErrorReporter errors;
    errors.SetCurrentFile(file.GetFileNameUTF8());
    errors.ReportError("Input file is empty.");
    return -1;
  }
  return resolvePlacedPdfReferences(PassFile::AtPath(file.path()), pdf13Check, overlap, isolateOneUp);
}

int resolvePlacedPdfReferences(const PassFile& file, bool pdf13Check, bool overlap, bool isolateOneUp) {
  NilErrorReporter errors;
  OpiResolverErrorReporter reporter(&errors);
  GOErrorReporterScope scope(&reporter);
  errors.SetCurrentFile(file.path.filename().string());
  try {
    GADoc doc(file.path);
    RefFinderVisitor finder(doc, file.folder, errors, pdf13Check, overlap, isolateOneUp);
    GOVWalk(doc.GetTrailer(), finder);
    if (pdf13Check && finder.TransparencyFound()) return -2;
    // Stopped: nothing is saved, and the caller gives the file up.
    if (TavSys::Progress::isCanceled()) return -1;
    // A page that could not be embedded would leave its placement empty:
    // the file is not worth saving.
    if (errors.GetErrorCount() != 0) return -1;
    std::vector<PendingPut>& puts = finder.GetPendingPuts();
    for (PendingPut& put : puts) {
      if (put.dictionary.IsValid()) put.dictionary.Put(put.name, put.stream);
    }
    if (!puts.empty()) file.save(doc);
    return errors.GetErrorCount() != 0 ? -1 : 0;
  } catch (const TavSys::Error& e) {
    errors.ReportError(e.detail().empty() ? e.text() : e.detail());
  } catch (const std::exception& e) {
    errors.ReportError(e.what());
  }
  return -1;
}

// ---- hidden optional content ----------------------------------------------------------

std::string RemoveHiddenOCMDLayers(GADoc& doc, const GADict& page, const std::string& content) {
  const QPDFObjectHandle part = QPDFObjectHandle::newStream(&doc.Qpdf(), content);
  Pl_Buffer out("visible content");
  FilterPlacedContent(doc, {part}, page.Get("Resources").Handle(), out);
  std::unique_ptr<Buffer> buffer(out.getBuffer());
  return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

// ---- dot gain of placed files -----------------------------------------------------------

bool PlacedPdfDotgainMatches(PDFProof& writer, const TavSys::filref& file) {
  const pdfouthan* handler = writer.GetHandler();
  const jobstr* job = writer.GetJob();
  if (handler == nullptr || job == nullptr || file.empty()) return true;
  // Complaints about the file are the second pass's to make.
  GOErrorReporterScope quiet(nullptr);
  try {
    GADoc doc(fs::u8path(file.getFullPathAsUtf8()));
    if (doc.GetNumPages() == 0) return true;
    const GAArray separations = doc.GetPage(0).GetGADict().GetDict("QELInfo").GetArray("Separations");
    for (int i = 0; i < std::min(separations.GetLength(), 64); ++i) {
      const GADict entry = separations.GetDict(i);
      const GAObject transfer = entry.Get("TransferFunction");
      const std::string name = entry.GetName("Name");
      if (!transfer.IsStream() || name.empty()) continue;
      const int sep = TavricLib::FindSeparation(job, name);
      if (sep < 0 || sep >= kMaxSeparations || handler->mTransferFunctions[std::size_t(sep)] == nullptr) continue;
      const std::string samples = GAStream(transfer.Handle()).GetDecodedData();
      // A curve of fewer than 256 samples cannot be the export's.
      if (samples.size() < 256) return false;
      if (std::memcmp(samples.data(), handler->mDotGainSamples[std::size_t(sep)].data(), 256) != 0) return false;
    }
  } catch (const std::exception&) {
    return true;
  }
  return true;
}

}  // namespace TavPDF
