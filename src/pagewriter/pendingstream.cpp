#include "pagewriter/pendingstream.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <filesystem>

#include "platform/fonts/textcalc.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"

namespace TavPDF {

namespace {

std::array<PendingStreamWriter, kPendingKindCount>& writers() {
  static std::array<PendingStreamWriter, kPendingKindCount> table = [] {
    std::array<PendingStreamWriter, kPendingKindCount> defaults{};
    for (std::uint32_t kind = 1; kind < kPendingKindCount; ++kind) {
      defaults[kind] = DefaultPendingStreamWriter(kind);
    }
    return defaults;
  }();
  return table;
}

std::unique_ptr<TavDB::Object> copyOf(const TavDB::Object* object) {
  return object != nullptr ? TavDB::objdupall(object) : nullptr;
}

}  // namespace

const char* PendingStreamKindName(std::uint32_t kind) {
  switch (kind) {
    case kPendingPattern: return "a pattern fill";
    case kPendingForm: return "a placed one-up";
    case kPendingFileTiff: return "a placed pixel picture";
    case kPendingBufferTiff: return "a pixel image";
    case kPendingFilePdf: return "a placed PDF page";
    case kPendingTransparencyGroup: return "a transparency group";
    case kPendingOpiForm: return "an OPI form";
    case kPendingImageLinkForm: return "an image link";
    case kPendingFilePreview: return "a picture preview";
    case kPendingStationNumberForm: return "a station number";
    case kPendingCADForm: return "a CAD drawing";
    case kPendingTransparencyGState: return "a transparency graphics state";
    case kPendingBarcodeForm: return "a barcode";
    case kPendingMapOpacityMask: return "a map's opacity mask";
    default: return "an unknown deferred object";
  }
}

void SetPendingStreamWriter(std::uint32_t kind, PendingStreamWriter writer) {
  if (kind > 0 && kind < kPendingKindCount) writers()[kind] = writer;
}

PendingStreamWriter GetPendingStreamWriter(std::uint32_t kind) {
  return kind > 0 && kind < kPendingKindCount ? writers()[kind] : nullptr;
}

CachedStreamBufferTiff::~CachedStreamBufferTiff() {
  if (filePath.empty()) return;
  std::error_code ec;
  std::filesystem::remove(filePath, ec);
}

// ---- base record ---------------------------------------------------------------

PendingStream::PendingStream(std::uint32_t kind, const TavDB::Object* object)
    : mKind(kind), mObject(copyOf(object)) {}

PendingStream::PendingStream(std::uint32_t kind, const TavDB::Object* object, std::uint16_t paint)
    : mKind(kind), mPaint(paint), mObject(copyOf(object)) {}

PendingStream::PendingStream(const PendingStream& other)
    : mKind(other.mKind),
      mName(other.mName),
      mGStateName(other.mGStateName),
      mPaint(other.mPaint),
      mObject(copyOf(other.mObject.get())) {}

PendingStream::~PendingStream() = default;

void PendingStream::SetObject(std::unique_ptr<TavDB::Object> object) { mObject = std::move(object); }

void PendingStream::ReleaseObject() { mObject.reset(); }

// ---- kinds ---------------------------------------------------------------------

PendingStreamPattern::PendingStreamPattern(std::uint16_t paint, const std::int32_t cell[4])
    : PendingStream(kPendingPattern, paint) {
  for (int i = 0; i < 4; ++i) mCell[i] = cell[i];
}

PendingStreamFileTiff::PendingStreamFileTiff(std::unique_ptr<TavDB::Object> object)
    : PendingStream(kPendingFileTiff) {
  SetObject(std::move(object));
}

PendingStreamTransparencyGroup::PendingStreamTransparencyGroup(const TavDB::Object* object,
                                                               std::uint16_t paint,
                                                               const std::int32_t box[4])
    : PendingStreamTransparencyGraphicsState(paint) {
  SetObject(copyOf(object));
  SetKind(kPendingTransparencyGroup);
  for (int i = 0; i < 4; ++i) mBox[i] = box[i];
}

PendingStreamOpiForm::PendingStreamOpiForm(const TavDB::Object* object, bool noPaint)
    : PendingStream(kPendingOpiForm, object,
                    noPaint || object == nullptr ? std::uint16_t(0) : object->paint()),
      mNoPaint(noPaint ? 1 : 0) {}

PendingStreamStationNumberForm::PendingStreamStationNumberForm(jobstr* job, const TavDB::Object* text)
    : PendingStream(kPendingStationNumberForm, text) {
  TavDB::Object* copy = GetObject();
  if (copy == nullptr) return;
  TavricCore::textAdjustPaint(copy, [job](std::uint16_t paint) {
    return paintAdjustScreenForMode(job, kScreenModeLineArt, paint);
  });
  // The copy is no longer the job's station-number text: the form stands for it.
  if (copy->extra() != nullptr) copy->extraMut().stationNumber = false;
}

namespace {

// Applies the linear part (a b; c d) about the origin (v, h) to every point
// of the object and its members, in place: path points, and a text's start
// point, its letters' matrix and its bounds.
void transformPoints(TavDB::Object* object, const TavDB::tv_point& origin, double a, double b,
                     double c, double d) {
  // x runs with h, y with v; the matrix acts on (x, y).
  auto move = [&](std::int32_t& v, std::int32_t& h) {
    const double x = double(h) - origin.h;
    const double y = double(v) - origin.v;
    h = static_cast<std::int32_t>(std::lround(a * x + c * y + origin.h));
    v = static_cast<std::int32_t>(std::lround(b * x + d * y + origin.v));
  };
  for (TavDB::PathPoint& p : object->points()) move(p.v, p.h);
  for (const auto& member : object->members()) transformPoints(member.get(), origin, a, b, c, d);
  if (object->text() != nullptr) {
    TavDB::TextData& text = *object->textMut();
    move(text.start.v, text.start.h);
    // The letters are turned by the text's matrix and then by this one.
    const double* m = text.matrix;
    const double turned[4] = {a * m[0] + c * m[1], b * m[0] + d * m[1], a * m[2] + c * m[3],
                              b * m[2] + d * m[3]};
    std::copy(turned, turned + 4, text.matrix);
    const TavDB::tv_box box = object->bounds();
    std::int32_t vs[4] = {box.top, box.top, box.bottom, box.bottom};
    std::int32_t hs[4] = {box.left, box.right, box.left, box.right};
    TavDB::tv_box out{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int k = 0; k < 4; ++k) {
      move(vs[k], hs[k]);
      out = {std::min(out.top, vs[k]), std::min(out.left, hs[k]), std::max(out.bottom, vs[k]),
             std::max(out.right, hs[k])};
    }
    object->setBounds(out);
    return;
  }
  object->recalcBounds();
}

}  // namespace

PendingStreamBarcodeForm::PendingStreamBarcodeForm(const TavDB::Object* barcode)
    : PendingStream(kPendingBarcodeForm, barcode) {
  TavDB::Object* copy = GetObject();
  if (copy == nullptr || copy->extra() == nullptr) return;
  // The record keeps the creator's record; the copy is no longer a barcode
  // (the form's content is written as ordinary graphics).
  mCreator = copy->extra()->barcode;
  copy->extraMut().barcode.reset();
  copy->extraMut().barcodeEdited = false;
  if (!copy->extra()->hasMatrix) return;
  const double* m = copy->extra()->matrix;
  TavDB::tv_matrixtyp<double> matrix{m[0], m[1], m[2], m[3], 0, 0};
  TavDB::tv_matrixtyp<double> inverse;  // identity until inverted
  if (!TavDB::matinv(matrix, inverse)) return;  // singular: a plain copy, no rotation
  mRotation = std::atan2(std::round(m[1] * 65535.0), std::round(m[3] * 65535.0)) * 180.0 /
              3.14159265;
  transformPoints(copy, copy->extra()->origin, inverse.a, inverse.b, inverse.c, inverse.d);
  TavDB::ObjectExtra& extra = copy->extraMut();
  extra.matrix[0] = 1;
  extra.matrix[1] = 0;
  extra.matrix[2] = 0;
  extra.matrix[3] = 1;
}

}  // namespace TavPDF

// ---- the page writer's queue -------------------------------------------------------

#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace TavPDF {

void PDFProof::AddPendingStream(std::unique_ptr<PendingStream> record) {
  if (!record) return;
  // A record nobody can write would leave its resource name without an object.
  RequirePendingWriter(record->GetKind());
  mPendingStreams.push_back(std::shared_ptr<PendingStream>(std::move(record)));
}

void PDFProof::FlushPendingStreams() {
  if (mWritingPictureCache || mFlushSuppressed) return;
  // The pictures drawn since the last flush come first.
  mPictureCache.WriteCachedPictures(this, false);
  // Each round walks a snapshot taken off the queue: writers that open and
  // close streams of their own re-enter this flush, and records they queue
  // land in the (then empty) live queue, never in the list being walked. What
  // a writer queued without a stream of its own to flush it is taken by the
  // next round.
  while (!mPendingStreams.empty()) {
    std::vector<std::shared_ptr<PendingStream>> snapshot = std::move(mPendingStreams);
    mPendingStreams.clear();
    for (const std::shared_ptr<PendingStream>& record : snapshot) {
      const std::uint32_t kind = record->GetKind();
      if (kind == kPendingTaken || kind >= kPendingKindCount) continue;
      PendingStreamWriter writer = GetPendingStreamWriter(kind);
      if (writer == nullptr) RefuseUnsupported(PendingStreamKindName(kind), mJob, record->GetObject());
      const bool keepsKind = kind == kPendingForm || kind == kPendingFileTiff ||
                             kind == kPendingBufferTiff || kind == kPendingFilePdf ||
                             kind == kPendingFilePreview;
      if (!keepsKind) record->SetKind(kPendingTaken);
      // (Forms written for a record take writer numbers of their own as
      // their streams begin, see WriteFormStream.)
      const bool savedOpi = mInsideOpiForm;
      const bool savedCad = mInsideCadForm;
      const bool savedPaintMap = mPaintMapGroup;
      if (kind == kPendingOpiForm) mInsideOpiForm = true;
      if (kind == kPendingCADForm) mInsideCadForm = true;
      // A paint-map group's soft mask is drawn without image links.
      if (kind == kPendingTransparencyGroup) mPaintMapGroup = isPaimapGroup(record->GetObject());
      struct Restore {
        PDFProof* w;
        bool opi, cad, paintMap;
        ~Restore() {
          w->mInsideOpiForm = opi;
          w->mInsideCadForm = cad;
          w->mPaintMapGroup = paintMap;
        }
      } restore{this, savedOpi, savedCad, savedPaintMap};
      writer(*this, *record);
      EnsurePendingResources(*record, kind);
    }
  }
}

namespace {

bool isXObjectKind(std::uint32_t kind) {
  return kind != kPendingPattern && kind != kPendingTransparencyGState && kind != kPendingMapOpacityMask;
}

}  // namespace

void PDFProof::EnsurePendingResources(const PendingStream& record, std::uint32_t kind) {
  struct Want {
    const std::string& name;
    PDFDictionary* dictionary;
    int what;  // 0 form, 1 pattern, 2 graphics state
  };
  std::vector<Want> wanted;
  if (!record.GetName().empty()) {
    if (kind == kPendingPattern) {
      wanted.push_back({record.GetName(), mPatterns, 1});
    } else if (kind == kPendingTransparencyGState || kind == kPendingMapOpacityMask) {
      wanted.push_back({record.GetName(), mExtGStates, 2});
    } else if (isXObjectKind(kind)) {
      wanted.push_back({record.GetName(), mXObjects, 0});
    }
  }
  if (kind == kPendingTransparencyGroup && !record.GetGStateName().empty()) {
    wanted.push_back({record.GetGStateName(), mExtGStates, 2});
  }
  for (const Want& want : wanted) {
    if (want.dictionary == nullptr || want.dictionary->Get(want.name) != nullptr) continue;
    // The name is in the content already: an empty stand-in keeps the page
    // valid, and the user learns what is missing.
    TavGen::message(TavGen::kWarning, 1, "PDF/DEFERRED OBJECT NOT WRITTEN",
                    {{"__OBJECTKIND__", PendingStreamKindName(kind)}});
    if (want.what == 2) {
      auto* state = new PDFDictionary();
      state->Set("Type", new PDFName("ExtGState"));
      want.dictionary->Set(want.name, state);
      continue;
    }
    auto* dict = new PDFDictionary();
    auto* bbox = new PDFArray();
    for (int i = 0; i < 4; ++i) bbox->Add(new PDFInteger(i < 2 ? 0 : 1));
    dict->Set("BBox", bbox);
    dict->Set("Resources", new PDFDictionary());
    if (want.what == 1) {
      dict->Set("Type", new PDFName("Pattern"));
      dict->Set("PatternType", new PDFInteger(1));
      dict->Set("PaintType", new PDFInteger(1));
      dict->Set("TilingType", new PDFInteger(1));
      dict->Set("XStep", new PDFInteger(1));
      dict->Set("YStep", new PDFInteger(1));
    } else {
      dict->Set("Type", new PDFName("XObject"));
      dict->Set("Subtype", new PDFName("Form"));
    }
    pdfoutfilter* sink = mHandler->beginStream(dict);
    if (sink == nullptr) continue;
    PDFIndirectReference* ref = mHandler->endStream(sink, nullptr);
    if (ref != nullptr) want.dictionary->Set(want.name, ref);
  }
}

}  // namespace TavPDF
