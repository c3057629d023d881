// Forms that stand for pictures someone else puts in later. Under image
// links a picture or map becomes a form of its own, in the picture's own
// space, carrying the workflow's private data (the linked file and the inks
// its channels feed); the workflow replaces the form's content by the file.
// Under OPI links a placed EPS, TIFF or PDF file becomes a form carrying an
// OPI 1.3 dictionary for the OPI server. Both are drawn where the picture
// stands and written after the content stream that names them; their
// content is the picture itself only when images are embedded.
#include <algorithm>
#include <array>
#include <vector>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "colour/halftone.h"
#include "pagewriter/forms.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/job.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/kernel/placedfiles.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

PDFArray* realArray(std::initializer_list<double> values) {
  auto* a = new PDFArray();
  for (double v : values) a->Add(new PDFReal(v));
  return a;
}

}  // namespace

// ---- drawing ---------------------------------------------------------------------------

bool PDFProof::ImageLinkFormSize(std::uint16_t paintIndex, double& width, double& height) {
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr) return false;
  if (paint->type == kPaintMap) {
    const PictureMap* m = mappoi(mJob, paint->map);
    if (m == nullptr || m->width <= 0 || m->height <= 0) return false;
    width = m->width;
    height = m->height;
    return true;
  }
  return paint->type == kPaintPicture && PicturePreviewSize(*this, paintIndex, width, height);
}

void PDFProof::DrawImageLinkForm(const std::string& name, TavDB::Object* object) {
  const Paint* paint = object != nullptr ? paipoi(mJob, object->paint()) : nullptr;
  double width = 0, height = 0;
  if (paint == nullptr || !ImageLinkFormSize(object->paint(), width, height)) return;
  const TavDB::tv_matrixtyp<double> m = PlacementMatrix(*paint, width, height);
  SaveGraphicsState();
  SetOverprint(paint->type == kPaintMap && (TavricLib::MappedPicture(mJob, paint->map).HasOverprint() ||
                                            mOneUpLink || mapHasFlatParts(mJob, paint->map)));
  // The placement starts at the picture's top left corner; the form's space
  // runs upwards from its lower left one.
  WriteMatrix(TavDB::tv_matrixtyp<double>{m.a, m.b, m.c, m.d, m.e - height * m.c, m.f - height * m.d});
  PDFName::OutputName(Out(), name.c_str());
  Out() << " Do\n";
  RestoreGraphicsState();
}

void PDFProof::OutputMapFlatPart(TavDB::Object* object, int flatPaint) {
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint == nullptr) return;
  std::unique_ptr<TavDB::Object> copy = TavDB::objdupall(object);
  copy->setPaint(paintAdjustScreen(mJob, flatPaint, paint->screen), true);
  // A map with an opacity channel paints its flat inks as far as it is
  // opaque, as its image does without a link: the fill goes under a soft
  // mask made of that channel.
  const bool masked = paint->type == kPaintMap && maphasopa(mJob, paint->map);
  if (!masked) {
    OutputFlatFill(copy.get());
    return;
  }
  const auto key = std::make_pair(static_cast<const PDFDictionary*>(mExtGStates), object->paint());
  auto found = mMapOpacityMasks.find(key);
  if (found == mMapOpacityMasks.end()) {
    auto record = std::make_unique<PendingStream>(kPendingMapOpacityMask, object->paint());
    MakeGStateName(*record);
    record->SetName(record->GetGStateName());
    found = mMapOpacityMasks.emplace(key, record->GetName()).first;
    AddPendingStream(std::move(record));
  }
  SaveGraphicsState();
  PDFName::OutputName(Out(), found->second.c_str());
  Out() << " gs\n";
  OutputFlatFill(copy.get());
  RestoreGraphicsState();
}

namespace {

void writeMapOpacityMask(PDFProof& writer, PendingStream& record) { writer.WriteMapOpacityMask(record); }

const bool gMapOpacityMaskWriterInstalled = [] {
  SetPendingStreamWriter(kPendingMapOpacityMask, writeMapOpacityMask);
  return true;
}();

}  // namespace

void PDFProof::WriteMapOpacityMask(PendingStream& record) {
  const Paint* paint = paipoi(mJob, record.GetPaint());
  const PictureMap* map = paint != nullptr && paint->type == kPaintMap ? mappoi(mJob, paint->map) : nullptr;
  if (map == nullptr || mExtGStates == nullptr) return;
  PDFIndirectReference* group = nullptr;
  try {
    group = WriteMapOpacityGroup(*paint);
  } catch (const TavSys::Error& e) {
    // Said; the flat inks are then painted as if the map were opaque.
    TavGen::message(TavGen::kBatchError, 1, e.key().empty() ? "PDF/UNSUPPORTED PICTURE TYPE" : e.key(),
                    e.placeholders());
  }
  auto* state = new PDFDictionary();
  state->Set("Type", new PDFName("ExtGState"));
  if (group != nullptr) {
    auto* mask = new PDFDictionary();
    mask->Set("Type", new PDFName("Mask"));
    mask->Set("S", new PDFName("Luminosity"));
    mask->Set("G", group);
    state->Set("SMask", mask);
  }
  PDFIndirectReference* ref = mHandler->makeIndirect(state);
  mExtGStates->Set(record.GetName(), ref);
  mHandler->writeObject(ref);
}

PDFIndirectReference* PDFProof::WriteMapOpacityGroup(const Paint& paint) {
  // The opacity channel as a gray image (white is opaque) ...
  TavricLib::OpacityPictureStream opacity(mJob, paint.map, kOpacityFull);
  auto* image = new PDFDictionary();
  image->Set("Type", new PDFName("XObject"));
  image->Set("Subtype", new PDFName("Image"));
  image->Set("Width", new PDFInteger(opacity.GetWidth()));
  image->Set("Height", new PDFInteger(opacity.GetHeight()));
  image->Set("ColorSpace", new PDFName("DeviceGray"));
  image->Set("BitsPerComponent", new PDFInteger(8));
  image->Set("Filter", new PDFName("FlateDecode"));
  pdfoutfilter* sink = mHandler->beginStream(image);
  if (sink == nullptr) return nullptr;
  std::vector<std::uint8_t> row(opacity.RowBytes());
  std::int32_t rows = 0;
  try {
    for (; rows < opacity.GetHeight() && opacity.GetLine(row.data()); ++rows) sink->PutBytes(row.data(), row.size());
  } catch (const TavSys::Error& e) {
    TavGen::message(TavGen::kBatchError, 1, e.key().empty() ? "PDF/UNSUPPORTED PICTURE TYPE" : e.key(),
                    e.placeholders());
  }
  // The stream holds what its dictionary declares; rows that could not be read are opaque.
  std::fill(row.begin(), row.end(), 0xFF);
  for (; rows < opacity.GetHeight(); ++rows) sink->PutBytes(row.data(), row.size());
  PDFIndirectReference* imageRef = mHandler->endStream(sink);
  if (imageRef == nullptr) return nullptr;

  // ... drawn where the map lies, as the luminosity of a group.
  const double w = opacity.GetWidth(), h = opacity.GetHeight();
  const TavDB::tv_matrixtyp<double> m = PlacementMatrix(paint, w, h);
  const std::array<double, 6> unit{w * m.a, w * m.b, h * m.c, h * m.d, m.e - h * m.c, m.f - h * m.d};
  std::array<double, 4> xs{}, ys{};
  for (std::size_t k = 0; k < 4; ++k) {
    const double u = double(k & 1), v = double(k >> 1);
    xs[k] = unit[0] * u + unit[2] * v + unit[4];
    ys[k] = unit[1] * u + unit[3] * v + unit[5];
  }
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  form->Set("BBox", realArray({*std::min_element(xs.begin(), xs.end()), *std::min_element(ys.begin(), ys.end()),
                               *std::max_element(xs.begin(), xs.end()), *std::max_element(ys.begin(), ys.end())}));
  auto* group = new PDFDictionary();
  group->Set("S", new PDFName("Transparency"));
  group->Set("CS", new PDFName("DeviceGray"));
  form->Set("Group", group);
  auto* xobjects = new PDFDictionary();
  xobjects->Set("Opacity", imageRef);
  auto* resources = new PDFDictionary();
  resources->Set("XObject", xobjects);
  form->Set("Resources", resources);
  AddFlateFilter(form, mSettings.CompressPages != 0);
  pdfoutfilter* content = mHandler->beginStream(form);
  if (content == nullptr) return nullptr;
  *content << "q\n";
  for (double v : unit) *content << v;
  *content << "cm\n/Opacity Do\nQ\n";
  return mHandler->endStream(content);
}

// ---- private data of an image link ---------------------------------------------------

void PDFProof::AddImageLinkPieceInfo(PDFDictionary* form, const TavDB::Object* object) {
  const std::uint16_t paintIndex = object->paint();
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr) return;
  const bool isMap = paint->type == kPaintMap;
  const TavSys::filref* file = isMap ? mapGetFirstImageRef(mJob, paint->map) : picfilref(mJob, paint->picture);
  PDFDictionary* priv = GetPieceInfo(form, "VornPNPDFO");
  priv->Set("Type", new PDFName("Ref"));
  auto* fileSpec = new PDFDictionary();
  fileSpec->Set("Type", new PDFName("Filespec"));
  std::string path = file != nullptr ? file->getFullPathAsUtf8() : std::string();
  if (mHandler->mXMPComposer != nullptr && !path.empty()) path = mHandler->mXMPComposer->MakePicturePath(path);
  fileSpec->Set("F", new PDFString(path));
  priv->Set("F", fileSpec);

  // The screen the inks are printed with, once for every entry.
  PDFDictionaryValue* halftone = nullptr;
  if (mSharedHalftoneMode) {
    halftone = mSharedHalftone;
  } else {
    PDFDictionary* built = nullptr;
    if (paint->screen != kNoScreen && mSettings.IncludeScreening != 0) {
      built = BuildSeparationHalftone(mHandler, this, mJob, paint->screen, mSettings,
                                      &mHandler->mScreenAngleMessageShown);
    }
    if (built == nullptr && (paint->screen != kNoScreen || mSettings.UseDefaultScreen != 0)) {
      built = BuildDefaultHalftone(mHandler, mJob, mSettings);
    }
    if (built != nullptr) {
      PDFIndirectReference* ref = mHandler->makeIndirect(built);
      mHandler->writeObject(ref);
      halftone = ref;
    }
  }
  auto indirectSpace = [&](const ColorSpace& space) -> PDFDictionaryValue* {
    PDFArray* array = space.pdfGetColorSpace(mHandler, 0);
    if (array == nullptr) return nullptr;
    PDFIndirectReference* ref = mHandler->makeIndirect(array);
    mPending->addIndirect(ref);
    return ref;
  };
  auto* colors = new PDFArray();
  auto addEntry = [&](PDFDictionaryValue* space, const std::vector<double>& tints) {
    auto* entry = new PDFArray();
    if (space != nullptr) entry->Add(space);
    if (tints.empty()) entry->Add(new PDFInteger(1));
    for (double t : tints) entry->Add(new PDFReal(t));
    if (halftone != nullptr) entry->Add(halftone);
    colors->Add(entry);
  };
  if (isMap) {
    const PictureMap* m = mappoi(mJob, paint->map);
    // The file's channels and the inks each feeds, in channel order.
    std::map<int, std::vector<int>> inks;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      if (sepsoruse(mJob, slot) < 0) continue;
      for (const MapChannel& c : m->channels)
        if (c.file == 0 && c.separation == slot) inks[c.channel].push_back(slot);
    }
    const std::size_t channels = file != nullptr ? mapGetChannelNames(*file).size() : 0;
    for (int channel = 0; channel < int(channels); ++channel) {
      const auto found = inks.find(channel);
      if (found == inks.end()) {
        // An opacity channel feeds no ink: it is told by Alpha.
        if (m->opacityFile == 0 && m->opacityChannel == channel) continue;
        addEntry(nullptr, {});
        continue;
      }
      const std::vector<int>& slots = found->second;
      std::unique_ptr<ColorSpace> space;
      if (slots.size() == 1) {
        space = std::make_unique<CsSeparation>(mJob, slots.front(), false);
      } else {
        CsDeviceN::Options options;
        options.maxColorants = int(GetMaxColorants());
        auto deviceN = std::make_unique<PDFCsDeviceN>(mJob, -1, options, mSepData);
        for (int slot : slots) deviceN->SetSeparationUse(slot, true);
        space = std::move(deviceN);
      }
      // The map's colour at the channel's full value: an untouched ink prints
      // the channel as it is.
      const std::uint8_t* colour = colsep(mJob, m->colour1);
      std::vector<double> tints;
      for (int slot : slots) {
        const std::uint8_t pct = colour != nullptr ? colour[slot] : kPercentUntouched;
        tints.push_back(pct == kPercentUntouched ? 1.0 : pct / 100.0);
      }
      addEntry(indirectSpace(*space), tints);
    }
  } else {
    // A pixel picture prints on the process inks: a gray or bitmap one on black.
    const bool colour = getPictureColorSpace(mJob, paint->picture) >= 2;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int process = sepsoruse(mJob, slot) >= 0 ? sepiscmyk(mJob, slot) : -1;
      if (process < 0 || (!colour && process != 3)) continue;
      const CsSeparation space(mJob, slot, false);
      addEntry(indirectSpace(space), {});
    }
  }
  priv->Set("Colors", colors);
  int channelType = kMapChannelNone;
  const bool alpha = CanOutputAsSoftmaskImage(mJob, object, paintIndex, &channelType) &&
                     softmaskHasCompatibleAlphaChannel(mJob, paintIndex) &&
                     mapChannelTypeIsTransparentBackground(channelType);
  priv->Set("Alpha", new PDFBool(alpha));
}

// ---- the writers of the pending flush ----------------------------------------------

void PDFProof::WriteImageLinkForm(PendingStream& record) {
  TavDB::Object* object = record.GetObject();
  double width = 0, height = 0;
  if (object == nullptr || !ImageLinkFormSize(object->paint(), width, height)) return;
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  form->Set("BBox", realArray({0, 0, width, height}));
  form->Set("Matrix", realArray({1, 0, 0, 1, 0, 0}));
  AddFlateFilter(form, mSettings.CompressPages != 0);
  AddImageLinkPieceInfo(form, object);
  FormResources r = MakeFormResources();
  PDFDictionary* outerXObjects = mXObjects;
  PDFIndirectReference* ref = WriteFormStream(form, r, [&] {
    if (mSettings.EmbedImages == 0) return;
    struct Restore {
      PDFProof* w;
      bool inside;
      ~Restore() { w->mInsideImageLinkForm = inside; }
    } restore{this, mInsideImageLinkForm};
    mInsideImageLinkForm = true;
    genproof::OutputFillContent(object);
  }, nullptr);
  if (ref != nullptr && outerXObjects != nullptr) outerXObjects->Set(record.GetName(), ref);
  record.ReleaseObject();
}

void PDFProof::WriteOpiForm(PendingStreamOpiForm& record) {
  TavDB::Object* object = record.GetObject();
  if (object == nullptr) return;
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  form->Set("FormType", new PDFInteger(1));
  SetFormBBoxAndMatrix(form, object);
  AddFlateFilter(form, mSettings.CompressPages != 0);
  PDFDictionaryValue* opi =
      record.GetNoPaint() ? WriteObjectListOpiDictionary(object) : WriteOpiDictionary(record.GetPaint());
  if (opi != nullptr) form->Set("OPI", opi);
  FormResources r = MakeFormResources();
  auto* procSet = new PDFArray();
  procSet->Add(new PDFName("PDF"));
  procSet->Add(new PDFName("ImageC"));
  r.resources->Set("ProcSet", procSet);
  // Without embedded images the OPI server puts the picture in: a pixel
  // picture leaves a one-pixel stand-in (written by its image writer), other
  // files an empty form. A form the server cannot resolve shows the picture.
  const Paint* paint = paipoi(mJob, record.GetPaint());
  const bool pixels = paint != nullptr && paint->type == kPaintPicture && !picisvectorformat(mJob, paint->picture);
  const bool content = mSettings.EmbedImages != 0 || opi == nullptr || pixels;
  PDFDictionary* outerXObjects = mXObjects;
  PDFIndirectReference* ref = WriteFormStream(form, r, [&] {
    if (content) OutputObject(object, false, false);
  }, nullptr);
  if (ref != nullptr && outerXObjects != nullptr) outerXObjects->Set(record.GetName(), ref);
  record.ReleaseObject();
}

}  // namespace TavPDF
