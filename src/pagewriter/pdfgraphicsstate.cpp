#include "pagewriter/pdfgraphicsstate.h"

#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/colorspace.h"

PdfGraphicsState& PdfGraphicsState::Instance() {
  // Lives until the process ends; constructed in the reset state. Whatever
  // it learns later is forgotten when a stream ends: the output handler calls
  // the hook installed here from then on.
  static PdfGraphicsState& state = *[] {
    static PdfGraphicsState instance;
    TavPDF::SetStreamEndHook([] { PdfGraphicsState::Instance().Reset(); });
    return &instance;
  }();
  return state;
}

PdfGraphicsState::PdfGraphicsState() { Reset(); }

PdfGraphicsState::~PdfGraphicsState() = default;

void PdfGraphicsState::Reset() {
  mOverprintState = kOverprintUnknown;
  mFillKey = mStrokeKey = -1;
  mFillValue = mStrokeValue = -1;
  mFontNumber = -1;
  mTransferName = "Default";
  mStroke.reset();
  mStrokeSpace.reset();
  mFillSpace.reset();
  mScreen = kScreenUnknown;
}

void PdfGraphicsState::SetColorSpace(const ColorSpace* space, std::int64_t value, bool stroke) {
  TakeColorSpace(std::unique_ptr<ColorSpace>(space ? space->Clone() : nullptr), value, stroke);
}

void PdfGraphicsState::TakeColorSpace(std::unique_ptr<ColorSpace> space, std::int64_t value,
                                     bool stroke) {
  if (stroke) {
    mStrokeSpace = std::move(space);
    mStrokeSpaceValue = value;
  } else {
    mFillSpace = std::move(space);
    mFillSpaceValue = value;
  }
}

void PdfGraphicsState::SetTransferName(const std::string& name) {
  if (&name == &mTransferName) return;
  mTransferName = name;
}
