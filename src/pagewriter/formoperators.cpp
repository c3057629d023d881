// Deferred XObjects and graphics states of the page writer: at the place of
// an object only the operators that invoke a form or an ExtGState by name are
// written, and a pending record is queued that the flush after the content
// stream turns into the resource.
#include <algorithm>
#include <array>

#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

// ---- operators ---------------------------------------------------------------------

void PDFProof::DrawXObject(const std::string& name) {
  pdfoutfilter& out = Out();
  out << "q\n";
  PDFName::OutputName(out, name.c_str());
  out << " Do\nQ\n";
}

void PDFProof::WriteGStateName(const std::string& name) { WriteGState(name); }

void PDFProof::OutputTransparencyGState(TavDB::Object* /*object*/, std::uint16_t paint, bool save) {
  // Both flags stay clear: they concern maps written as soft-mask images.
  auto record = std::make_unique<PendingStreamTransparencyGraphicsState>(paint);
  MakeGStateName(*record);
  const std::string name = record->GetGStateName();
  // The state is entered under its graphics-state name.
  record->SetName(name);
  AddPendingStream(std::move(record));
  if (save) SaveGraphicsState();
  WriteGState(name);
}

void PDFProof::OutputTransparencyGroup(TavDB::Object* object, int mode) {
  if (object == nullptr) return;
  OutputTransparencyGroup(object, mode, object->paint());
}

void PDFProof::OutputTransparencyGroup(TavDB::Object* object, int /*mode*/, std::uint16_t paint) {
  if (object == nullptr) return;
  auto record = std::make_unique<PendingStreamTransparencyGroup>(object, paint, mPaintedArea.data());
  MakeTransparencyGroupNames(*record);
  const std::string name = record->GetName(), gstate = record->GetGStateName();
  AddPendingStream(std::move(record));
  SaveGraphicsState();
  WriteGState(gstate);
  pdfoutfilter& out = Out();
  PDFName::OutputName(out, name.c_str());
  out << " Do\n";
  RestoreGraphicsState();
  const TavDB::tv_box& b = object->bounds();
  mPaintedArea[0] = std::min(mPaintedArea[0], b.top);
  mPaintedArea[1] = std::min(mPaintedArea[1], b.left);
  mPaintedArea[2] = std::max(mPaintedArea[2], b.bottom);
  mPaintedArea[3] = std::max(mPaintedArea[3], b.right);
}

void PDFProof::OutputCadForm(TavDB::Object* object) {
  if (object == nullptr) return;
  auto record = std::make_unique<PendingStreamCADForm>(object);
  record->SetName(MakeCadFormName());
  const std::string name = record->GetName();
  AddPendingStream(std::move(record));
  DrawXObject(name);
}

void PDFProof::OutputOpiForm(TavDB::Object* list) {
  if (list == nullptr) return;
  auto record = std::make_unique<PendingStreamOpiForm>(list, true);
  record->SetName(MakeOpiFormName());
  const std::string name = record->GetName();
  AddPendingStream(std::move(record));
  SaveGraphicsState();
  // The form stands for the whole picture; the outline cuts it to what the
  // group shows. The outline's own paint plays no part in the clip.
  if (list->memberCount() > 0) {
    std::unique_ptr<TavDB::Object> outline = TavDB::objdupall(list->member(0));
    if (outline) {
      outline->setPaint(0, true);
      OutputShape(outline.get(), kModeClipOutline);
    }
  }
  DrawXObject(name);
  RestoreGraphicsState();
}

void PDFProof::OutputBarcodeForm(TavDB::Object* object) {
  if (object == nullptr) return;
  auto record = std::make_unique<PendingStreamBarcodeForm>(object);
  record->SetName(MakeBarcodeFormName());
  const std::string name = record->GetName();
  AddPendingStream(std::move(record));
  const TavDB::ObjectExtra* extra = object->extra();
  if (extra == nullptr || !extra->hasMatrix) {
    DrawXObject(name);
    return;
  }
  // The form holds the barcode turned back to its upright position; the
  // object's matrix turns it again about its origin. Job coordinates run
  // downwards, so the off-diagonal terms change sign on the page.
  const double* m = extra->matrix;
  double x = 0, y = 0;
  TransformPoint(extra->origin.v, extra->origin.h, x, y);
  pdfoutfilter& out = Out();
  out << "q\n";
  WriteMatrix(std::array<double, 6>{m[0], -m[1], -m[2], m[3], x - m[0] * x + m[2] * y,
                                    y + m[1] * x - m[3] * y});
  PDFName::OutputName(out, name.c_str());
  out << " Do\nQ\n";
}

}  // namespace TavPDF
