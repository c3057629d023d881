// Forms and deferred resources of the page writer: the Form XObjects of CAD
// drawings, station numbers and barcodes with their private PieceInfo data,
// tiling patterns, transparency groups, transparency graphics states and
// their luminosity soft masks. Each is written after the content stream that
// names it (the pending flush), with the writer's resource dictionaries
// pointed at the form's own while its content is written.
#include <array>
#include <cmath>
#include <sstream>

#include "driver/visitors.h"
#include "pagewriter/barcodes.h"
#include "pagewriter/forms.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/gradation.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kObjContainer = TavDB::kObjLayer;

PDFArray* reals(std::initializer_list<double> values) {
  auto* a = new PDFArray();
  for (double v : values) a->Add(new PDFReal(v));
  return a;
}

PDFArray* names(std::initializer_list<const char*> values) {
  auto* a = new PDFArray();
  for (const char* v : values) a->Add(new PDFName(v));
  return a;
}

// The dictionary behind a resource entry that may be direct or a reference.
PDFDictionary* dictionaryOf(PDFDictionaryValue* value) {
  if (auto* d = dynamic_cast<PDFDictionary*>(value)) return d;
  if (auto* r = dynamic_cast<PDFIndirectReference*>(value)) {
    return dynamic_cast<PDFDictionary*>(r->GetObject());
  }
  return nullptr;
}

// "f#" and the number with six significant digits (the stream default).
std::string cadNumber(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return "f#" + text.str();
}

const char* const kBlendModes[16] = {"Normal",     "Multiply",   "Screen",    "Overlay",
                                     "SoftLight",  "HardLight",  "ColorDodge", "ColorBurn",
                                     "Darken",     "Lighten",    "Difference", "Exclusion",
                                     "Hue",        "Saturation", "Color",      "Luminosity"};

}  // namespace

const char* BlendModeName(int mode) {
  if (mode < 0 || mode > 15) {
    TavSys::debug("<BlendModeName> unknown blend mode " + std::to_string(mode) + ": Normal");
    return kBlendModes[0];
  }
  return kBlendModes[mode];
}

// ---- helpers every form writer shares ---------------------------------------------

TavDB::tv_box PDFProof::SetFormBBoxAndMatrix(PDFDictionary* form, TavDB::Object* object) {
  TavDB::tv_box box;
  if (object != nullptr) {
    VisitorGetBoundingBoxForPDFOutput visitor(object, mSearchFlags, 0, mSearchFlags, 0, mJob);
    box = visitor.GetBoundingBox();
  }
  if (box.isEmpty()) {
    TavSys::tv_rectangle page;
    getbox(mJob, kMediaBox, page);
    box = {std::int32_t(page.top), std::int32_t(page.left), std::int32_t(page.bottom),
           std::int32_t(page.right)};
  }
  const std::int32_t in[4] = {box.top, box.left, box.bottom, box.right};
  double out[4];
  TransformRect(in, out);
  form->Set("BBox", reals({out[1], out[2], out[3], out[0]}));
  form->Set("Matrix", reals({1, 0, 0, 1, 0, 0}));
  return box;
}

void AddFlateFilter(PDFDictionary* dictionary, bool compress) {
  if (compress) dictionary->Set("Filter", new PDFName("FlateDecode"));
}

void AddPatternColorSpace(PDFDictionary* colorSpaces) {
  if (colorSpaces != nullptr) colorSpaces->Set("CSPat", names({"Pattern", "DeviceCMYK"}));
}

PDFDictionary* PDFProof::GetPieceInfo(PDFDictionary* form, const char* owner) {
  PDFDictionary* pieceInfo = GetSubDictionary(form, "PieceInfo", true);
  PDFDictionary* entry = GetSubDictionary(pieceInfo, owner, true);
  return GetSubDictionary(entry, "Private", true);
}

// ---- PieceInfo ---------------------------------------------------------------------

void PDFProof::AddCadPieceInfo(PDFDictionary* form) {
  const TavricLib::XMPComposer* composer = mHandler->mXMPComposer;
  if (composer == nullptr) return;
  const XMPCadRegistration& reg = composer->GetXMPLib().GetCadReg();
  if (reg.fileName.empty()) return;
  PDFDictionary* priv = GetPieceInfo(form, "VornPNKelt");
  auto* param = new PDFDictionary();
  param->Set("atomic", new PDFInteger(1));
  param->Set("editable", new PDFInteger(10));
  priv->Set("param", param);
  priv->Set("class", new PDFString("cmba"));
  priv->Set("VornPNKeltONAM", new PDFString("Die Cut"));

  auto* params = new PDFDictionary();
  params->Set("angle", new PDFInteger(reg.angle));
  double x = reg.xOffset, y = reg.yOffset;
  const CADData* cad = mJob->GetCADData();
  if (cad != nullptr) {
    const double mmPerUnit = 25.4 / TavDB::getppi(mJob);
    // + 0.0: a box at 0 gives 0, not -0.
    x = -cad->GetBoundingBox().left * mmPerUnit + 0.0;
    y = -cad->GetBoundingBox().top * mmPerUnit + 0.0;
  }
  params->Set("xoffset", new PDFString(cadNumber(x)));
  params->Set("yoffset", new PDFString(cadNumber(y)));
  params->Set("FileName", new PDFString(reg.fileName));
  params->Set("istdict", new PDFInteger(1));
  if (cad != nullptr && cad->GetPrintableAreaCount() > 1) {
    params->Set("PrintablePart", new PDFString(std::to_string(cad->GetPrintableAreaID())));
  }
  if (cad != nullptr && cad->GetMirror()) params->Set("flipped", new PDFInteger(1));

  auto* cadXObject = new PDFDictionary();
  cadXObject->Set("Params", params);
  auto* placeHolder = new PDFDictionary();
  placeHolder->Set("NamedObject", new PDFString("Die Cut"));
  auto* annot = new PDFDictionary();
  annot->Set("CadXObject", cadXObject);
  annot->Set("Quadel_PlaceHolderObject", placeHolder);
  priv->Set("annot", annot);
}

void AddStationNumberPieceInfo(PDFDictionary* priv) {
  priv->Set("VornPNKeltONAM", new PDFString("StationNumber"));
  auto* placeHolder = new PDFDictionary();
  placeHolder->Set("NamedObject", new PDFString("StationNumber"));
  auto* annot = new PDFDictionary();
  annot->Set("Quadel_PlaceHolderObject", placeHolder);
  priv->Set("annot", annot);
}

void PDFProof::AddBarcodePieceInfo(PDFDictionary* form, const PendingStreamBarcodeForm& record) {
  PDFDictionary* annot = GetSubDictionary(GetPieceInfo(form, "VornPNKelt"), "annot", true);
  auto* barcode = new PDFDictionary();
  barcode->Set("name", new PDFString("Barcode"));
  auto* options = new PDFDictionary();
  // The record holds the creator; its copy of the group has none any more.
  if (const barCreator* creator = record.GetCreator())
    writeBarcodeParameters(mJob, record.GetObject(), *creator, record.GetRotation(), options);
  barcode->Set("options", options);
  annot->Set("bar code", barcode);
}

void PDFProof::AddOneUpPieceInfo(PDFDictionary* form) {
  if (mSettings.NormalizedOutput == 0) return;
  GetPieceInfo(form, "VornPNPStp")
      ->Set("OneUp", new PDFBool(mSettings.ScreenRegistration.GetValue() != 0));
}

// ---- writing a form's content ----------------------------------------------------

PDFDictionary* PDFProof::MakeFormExtGStates() {
  PDFDictionary* states = AddOverprintStates();
  // The colour spaces select the inks' transfer states in forms as well.
  if (mSettings.EnableDotgain != 0 && mSettings.NormalizedOutput == 0) AddTransferFunctionStates(states);
  return states;
}

FormResources PDFProof::MakeFormResources() {
  FormResources r;
  r.resources = new PDFDictionary();
  r.extGStates = MakeFormExtGStates();
  r.xobjects = new PDFDictionary();
  r.patterns = new PDFDictionary();
  r.resources->Set("ExtGState", r.extGStates);
  r.resources->Set("XObject", r.xobjects);
  r.resources->Set("Pattern", r.patterns);
  // The form shares the page's colour spaces: an indirect copy of the page's
  // ColorSpace dictionary, written when the form's colour spaces are known.
  if (mResources != nullptr) r.colorSpaces = dictionaryOf(mResources->Get("ColorSpace"));
  if (r.colorSpaces != nullptr) {
    r.colorSpacesRef = mHandler->makeIndirect(r.colorSpaces);
    r.resources->Set("ColorSpace", r.colorSpacesRef);
  }
  return r;
}

std::int32_t PDFProof::TakeWriterNumber() {
  if (mWriterCounter != nullptr) return (*mWriterCounter)++;
  if (mOwnWriterCount <= mWriterNumber) mOwnWriterCount = mWriterNumber + 1;
  return mOwnWriterCount++;
}

PDFIndirectReference* PDFProof::WriteFormStream(PDFDictionary* form, FormResources& r,
                                                const std::function<void()>& content,
                                                const std::array<std::int32_t, 4>* paintedArea,
                                                bool ownIdentity) {
  PDFIndirectReference* resourcesRef = mHandler->makeIndirect(r.resources);
  form->Set("Resources", resourcesRef);

  // The writer's state of the enclosing stream, back on every way out.
  struct Saved {
    PDFProof* w;
    pdfoutfilter* content;
    PDFDictionary *resources, *patterns, *xobjects, *extGStates;
    std::set<std::int32_t> usedScreens;
    std::array<std::int32_t, 4> paintedArea;
    std::int32_t writerNumber;
    NameCounters counters;
    std::vector<std::uint32_t> fonts;
    ~Saved() {
      w->mContent = content;
      w->mResources = resources;
      w->mPatterns = patterns;
      w->mXObjects = xobjects;
      w->mExtGStates = extGStates;
      w->mUsedScreens = std::move(usedScreens);
      w->mPaintedArea = paintedArea;
      w->mWriterNumber = writerNumber;
      w->mNameCounters = counters;
      w->mFonts = std::move(fonts);
      w->mPendingFill.reset();
      w->mPendingStroke.reset();
    }
  } saved{this, mContent, mResources, mPatterns, mXObjects, mExtGStates, std::move(mUsedScreens),
          mPaintedArea, mWriterNumber, mNameCounters, {}};
  mUsedScreens.clear();
  if (ownIdentity) {
    saved.fonts = std::move(mFonts);
    mFonts.clear();
    mWriterNumber = TakeWriterNumber();
    mNameCounters = NameCounters{};
  } else {
    saved.fonts = mFonts;
  }
  mResources = r.resources;
  mPatterns = r.patterns;
  mXObjects = r.xobjects;
  mExtGStates = r.extGStates;
  if (paintedArea != nullptr) mPaintedArea = *paintedArea;
  mPendingFill.reset();
  mPendingStroke.reset();
  // The form starts in the default graphics state.
  PdfGraphicsState::Instance().Reset();

  mContent = mHandler->beginStream(form);
  if (mContent == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "", "PDFProof: a form was begun inside a stream");
  }
  content();
  pdfoutfilter* sink = mContent;
  mContent = nullptr;
  // The form's own pending records are written as the stream ends, while its
  // dictionaries are the writer's.
  PDFIndirectReference* ref = mHandler->endStream(sink, this);
  WritePageResources(false);

  if (r.colorSpaces != nullptr) {
    if (mPending != nullptr) mPending->writePending(mHandler, r.colorSpaces, r.resources);
    if (r.colorSpacesRef != nullptr) mHandler->writeObject(r.colorSpacesRef);
  } else if (mPending != nullptr) {
    mPending->writePending(mHandler, nullptr, r.resources);
  }
  mHandler->writeObject(resourcesRef);
  return ref;
}

// ---- page-object forms: CAD, station number, barcode -----------------------------

void PDFProof::WriteFormXObject(PendingStream& record, std::uint32_t kind) {
  TavDB::Object* object = record.GetObject();
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  form->Set("FormType", new PDFInteger(1));
  FormResources r = MakeFormResources();
  SetFormBBoxAndMatrix(form, object);
  AddFlateFilter(form, mSettings.CompressPages != 0);
  if (kind == kPendingCADForm) {
    AddCadPieceInfo(form);
  } else if (kind == kPendingStationNumberForm) {
    AddStationNumberPieceInfo(GetPieceInfo(form, "VornPNKelt"));
  } else if (kind == kPendingBarcodeForm) {
    AddBarcodePieceInfo(form, static_cast<const PendingStreamBarcodeForm&>(record));
  }
  PDFDictionary* outerXObjects = mXObjects;
  PDFIndirectReference* ref = WriteFormStream(form, r, [&] {
    if (object == nullptr) return;
    const bool keep = mKeepInvisible;
    const bool forced = mForcedOutput;
    struct Restore {
      PDFProof* w;
      bool keep, forced;
      ~Restore() {
        w->mKeepInvisible = keep;
        w->mForcedOutput = forced;
      }
    } restore{this, keep, forced};
    // CAD objects and station numbers are written even where they paint
    // nothing: the workflow finds them in the form.
    if (kind != kPendingBarcodeForm) mForcedOutput = true;
    if (kind == kPendingBarcodeForm) {
      OutputObject(object, true, false);
    } else if (kind == kPendingCADForm) {
      mKeepInvisible = true;
      PreprocessCADObject preprocess(mJob, kScreenModeLineArt);
      TavDB::AcceptVisitor(object, preprocess);
      if ((object->flags() & kObjContainer) != 0) {
        for (const auto& child : object->members()) OutputObject(child.get(), false, false);
      } else {
        OutputObject(object, false, false);
      }
    } else {
      mKeepInvisible = true;
      OutputText(object);
    }
  }, nullptr);
  if (ref != nullptr && outerXObjects != nullptr) outerXObjects->Set(record.GetName(), ref);
  record.ReleaseObject();
}

// ---- tiling patterns --------------------------------------------------------------

void PDFProof::WriteTilingPattern(PendingStreamPattern& record) {
  const Paint* paint = paipoi(mJob, record.GetPaint());
  const PatternRec* pattern = paint != nullptr ? patpoi(mJob, paint->pattern) : nullptr;
  std::int32_t words[6];
  if (pattern == nullptr || !patternCornerWords(mJob, paint->pattern, words)) return;
  const std::int32_t* cell = record.GetCell();
  const double ppi = TavDB::getppi();
  const double unit = scale() * 72.0 / ppi;

  auto* dict = new PDFDictionary();
  dict->Set("Type", new PDFName("Pattern"));
  dict->Set("PatternType", new PDFInteger(1));
  dict->Set("PaintType", new PDFInteger(1));
  dict->Set("TilingType", new PDFInteger(1));
  dict->Set("XStep", new PDFReal((double(cell[3]) - cell[1]) * unit));
  dict->Set("YStep", new PDFReal((double(cell[2]) - cell[0]) * unit));
  double box[4];
  TransformRect(cell, box);
  const double bl = box[1], bb = box[2], br = box[3], bt = box[0];
  dict->Set("BBox", reals({bl, bb, br, bt}));

  // The cell's top left corner lands on the pattern's origin; its edges run
  // along the placement's width and height directions.
  TavDB::tv_matrixtyp<double> m;
  m.a = (double(words[3]) - words[1]) / 10000.0;   // the width step's h
  m.b = (double(words[2]) - words[0]) / -10000.0;  // and v, upwards
  m.c = (double(words[5]) - words[1]) / -10000.0;  // the height step, against the cell's y
  m.d = (double(words[4]) - words[0]) / 10000.0;
  double x0 = 0, y0 = 0;
  TransformPoint(words[0], words[1], x0, y0);
  m.e = x0 - bl * m.a - bt * m.c;
  m.f = y0 - bl * m.b - bt * m.d;
  // Pattern space is the page's default space: the page's own matrix (its
  // distortion) follows, except inside forms whose space is already placed.
  TavDB::tv_matrixtyp<double> page;
  if (!mNestedWriter && mSoftMaskDepth == 0 && mWriterNumber == 0) page = mHandler->mBaseMatrix;
  page.Concat(m);
  dict->Set("Matrix", reals({page.a, page.b, page.c, page.d, page.e, page.f}));
  AddFlateFilter(dict, mSettings.CompressPages != 0);

  FormResources r = MakeFormResources();
  r.resources->Set("ProcSet", names({"PDF", "ImageC"}));
  const std::array<std::int32_t, 4> area{cell[0], cell[1], cell[2], cell[3]};
  PDFDictionary* outerPatterns = mPatterns;
  PDFIndirectReference* ref = WriteFormStream(dict, r, [&] {
    const bool shared = mSharedHalftoneMode;
    struct Restore {
      PDFProof* w;
      bool shared;
      ~Restore() { w->mSharedHalftoneMode = shared; }
    } restore{this, shared};
    if (!shared) SelectScreening(record.GetPaint());
    if (shared && mSharedHalftone != nullptr) WriteGState("Scr_pattern");
    mSharedHalftoneMode = true;
    OutputGroup(pattern->objects.get(), false, -1, false);
    if (shared && mSharedHalftone != nullptr) {
      auto* state = new PDFDictionary();
      state->Set("HT", mSharedHalftone);
      r.extGStates->Set("Scr_pattern", state);
    }
  }, &area);
  if (ref != nullptr && outerPatterns != nullptr) outerPatterns->Set(record.GetName(), ref);
}

// ---- transparency ------------------------------------------------------------------

PDFDictionary* PDFProof::WriteSoftMaskGroup(PendingStreamTransparencyGraphicsState& record,
                                            bool suppressImageLinks) {
  const Paint* paint = paipoi(mJob, record.GetPaint());
  const PatternRec* mask = paint != nullptr ? patpoi(mJob, paint->transparency.softMask) : nullptr;
  if (mask == nullptr || !mask->objects) return nullptr;

  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  auto* group = new PDFDictionary();
  group->Set("S", new PDFName("Transparency"));
  group->Set("I", new PDFBool(true));
  group->Set("CS", new PDFName("DeviceCMYK"));
  form->Set("Group", group);
  SetFormBBoxAndMatrix(form, mask->objects.get());
  AddFlateFilter(form, mSettings.CompressPages != 0);
  FormResources r = MakeFormResources();
  r.resources->Set("ProcSet", names({"PDF", "ImageC"}));

  PDFIndirectReference* ref = WriteFormStream(form, r, [&] {
    // The mask is the luminosity of every ink: all separations are output
    // while it is written, invisible objects stay invisible.
    struct Restore {
      PDFProof* w;
      bool keep, shared, suppress;
      std::array<bool, kMaxSeparations> enabled;
      ~Restore() {
        w->mKeepInvisible = keep;
        w->mSharedHalftoneMode = shared;
        w->mImageLinksSuppressed = suppress;
        --w->mSoftMaskDepth;
        for (int s = 0; s < kMaxSeparations; ++s) {
          if (enabled[s]) {
            sepEnable(w->mJob, s);
          } else {
            sepDisable(w->mJob, s);
          }
        }
      }
    } restore{this, mKeepInvisible, mSharedHalftoneMode, mImageLinksSuppressed, {}};
    for (int s = 0; s < kMaxSeparations; ++s) restore.enabled[s] = sepIsEnabled(mJob, s);
    sepEnableAll(mJob);
    mKeepInvisible = false;
    mSharedHalftoneMode = true;
    mImageLinksSuppressed = suppressImageLinks;
    ++mSoftMaskDepth;
    TavDB::Object* objects = mask->objects.get();
    if ((objects->flags() & TavDB::kObjGroup) != 0) {
      OutputGroup(objects, false, -1, false);
    } else {
      OutputObject(objects, false, false);
    }
  }, nullptr);
  if (ref == nullptr) return nullptr;

  auto* softMask = new PDFDictionary();
  softMask->Set("Type", new PDFName("Mask"));
  softMask->Set("S", new PDFName("Luminosity"));
  softMask->Set("G", ref);
  const bool luminosity = (mask->maskFlags & 2) != 0, inverted = (mask->maskFlags & 4) != 0;
  auto* backdrop = new PDFArray();
  for (int v : {0, 0, 0, luminosity != inverted ? 1 : 0}) backdrop->Add(new PDFInteger(v));
  softMask->Set("BC", backdrop);
  if (inverted) {
    auto* transfer = new PDFDictionary();
    transfer->Set("FunctionType", new PDFInteger(2));
    transfer->Set("N", new PDFInteger(1));
    auto* unit = new PDFArray();
    unit->Add(new PDFInteger(0));
    unit->Add(new PDFInteger(1));
    transfer->Set("Domain", unit);
    transfer->Set("Range", unit);
    auto* c0 = new PDFArray();
    c0->Add(new PDFInteger(1));
    auto* c1 = new PDFArray();
    c1->Add(new PDFInteger(0));
    transfer->Set("C0", c0);
    transfer->Set("C1", c1);
    softMask->Set("TR", transfer);
  }
  return softMask;
}

void PDFProof::WriteTransparencyGState(PendingStreamTransparencyGraphicsState& record) {
  const Paint* paint = paipoi(mJob, record.GetPaint());
  if (paint == nullptr) return;
  const PaintTransparency& t = paint->transparency;
  auto* state = new PDFDictionary();
  state->Set("Type", new PDFName("ExtGState"));
  const double alpha = t.opacity / 25600.0;
  state->Set("CA", new PDFReal(alpha));
  state->Set("ca", new PDFReal(alpha));
  state->Set("BM", new PDFName(BlendModeName(t.blendMode)));
  if (paintHasNonseparableBlendmode(mJob, record.GetPaint())) mNonSeparableBlend = true;
  if (t.secondOpacity != kSecondOpacityNone) {
    const bool suppress = mSettings.LinkType == 2 && (record.mFlag1 != 0 || mPaintMapGroup) &&
                          record.mFlag2 == 0;
    PDFDictionary* softMask = nullptr;
    if (suppress) {
      softMask = WriteSoftMaskGroup(record, true);
    } else if (record.mFlag1 == 0) {
      softMask = WriteSoftMaskGroup(record, false);
    }
    if (softMask != nullptr) state->Set("SMask", softMask);
  }
  state->Set("AIS", new PDFBool((t.flags & 1) != 0));
  PDFIndirectReference* ref = mHandler->makeIndirect(state);
  if (mExtGStates != nullptr) mExtGStates->Set(record.GetGStateName(), ref);
  mHandler->writeObject(ref);
}

void PDFProof::WriteTransparencyGroup(PendingStreamTransparencyGroup& record) {
  TavDB::Object* object = record.GetObject();
  if (object == nullptr) return;
  const Paint* paint = paipoi(mJob, record.GetPaint());
  const bool isGroup = (object->flags() & TavDB::kObjGroup) != 0;
  const std::uint32_t flags = paint != nullptr ? paint->transparency.flags : 0;
  const bool knockout = isGroup && (flags & 4) != 0;

  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  auto* group = new PDFDictionary();
  group->Set("S", new PDFName("Transparency"));
  if (isGroup && (flags & 2) != 0) group->Set("I", new PDFBool(true));
  if (knockout) group->Set("K", new PDFBool(true));
  form->Set("Group", group);
  SetFormBBoxAndMatrix(form, object);
  AddFlateFilter(form, mSettings.CompressPages != 0);
  FormResources r = MakeFormResources();
  r.resources->Set("ProcSet", names({"PDF", "ImageC"}));

  // The group's transparency is applied where the group is drawn; inside it
  // the object is opaque.
  const std::uint16_t opaque = paintAdjustTransparency(mJob, record.GetPaint(), 0);
  object->setPaint(opaque, true);
  // A text's paints lie in its runs.
  if (object->text() != nullptr) {
    for (TavDB::TextRun& run : object->textMut()->runs) run.paint = paintAdjustTransparency(mJob, run.paint, 0);
  }
  const std::array<std::int32_t, 4> area{record.GetBox()[0], record.GetBox()[1],
                                         record.GetBox()[2], record.GetBox()[3]};
  PDFDictionary* outerXObjects = mXObjects;
  PDFIndirectReference* ref = WriteFormStream(form, r, [&] {
    struct Restore {
      PDFProof* w;
      bool writing, knockout;
      const TavDB::Object* text;
      ~Restore() {
        w->mWritingTransparencyGroup = writing;
        w->mGroupKnockout = knockout;
        w->mTextGroupObject = text;
        --w->mTransparencyNesting;
      }
    } restore{this, mWritingTransparencyGroup, mGroupKnockout, mTextGroupObject};
    mWritingTransparencyGroup = true;
    mTextGroupObject = object->text() != nullptr ? object : nullptr;
    ++mTransparencyNesting;
    if (knockout) mGroupKnockout = true;
    OutputObject(object, false, false);
  }, &area);
  if (ref != nullptr && outerXObjects != nullptr) outerXObjects->Set(record.GetName(), ref);
  record.ReleaseObject();
  WriteTransparencyGState(record);
}

// ---- the writers of the pending flush ----------------------------------------------

namespace {

void writePattern(PDFProof& w, PendingStream& r) {
  w.WriteTilingPattern(static_cast<PendingStreamPattern&>(r));
}
void writeGroup(PDFProof& w, PendingStream& r) {
  w.WriteTransparencyGroup(static_cast<PendingStreamTransparencyGroup&>(r));
}
void writeGState(PDFProof& w, PendingStream& r) {
  w.WriteTransparencyGState(static_cast<PendingStreamTransparencyGraphicsState&>(r));
}
void writeCadForm(PDFProof& w, PendingStream& r) { w.WriteFormXObject(r, kPendingCADForm); }
void writeStationNumberForm(PDFProof& w, PendingStream& r) {
  w.WriteFormXObject(r, kPendingStationNumberForm);
}
void writeBarcodeForm(PDFProof& w, PendingStream& r) { w.WriteFormXObject(r, kPendingBarcodeForm); }
void writeOneUp(PDFProof& w, PendingStream& r) { w.WriteOneUpForm(r); }
void writePlacedPdf(PDFProof& w, PendingStream& r) { w.BuildPlacedPdfFormXObject(r); }
void writeOpiForm(PDFProof& w, PendingStream& r) { w.WriteOpiForm(static_cast<PendingStreamOpiForm&>(r)); }
void writeImageLinkForm(PDFProof& w, PendingStream& r) { w.WriteImageLinkForm(r); }

}  // namespace

PendingStreamWriter DefaultPendingStreamWriter(std::uint32_t kind) {
  switch (kind) {
    case kPendingPattern: return writePattern;
    case kPendingTransparencyGroup: return writeGroup;
    case kPendingTransparencyGState: return writeGState;
    case kPendingCADForm: return writeCadForm;
    case kPendingStationNumberForm: return writeStationNumberForm;
    case kPendingBarcodeForm: return writeBarcodeForm;
    case kPendingForm: return writeOneUp;
    case kPendingFilePdf: return writePlacedPdf;
    case kPendingOpiForm: return writeOpiForm;
    case kPendingImageLinkForm: return writeImageLinkForm;
    default: return nullptr;
  }
}

}  // namespace TavPDF
