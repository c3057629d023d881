// Image XObjects of cached pictures: the split of a picture's inks into base
// images, the images, masks, RGB alternates, group and OPI wrapping forms
// written for them, and their placement in the page content.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "pagewriter/forms.h"
#include "pagewriter/pdfproof.h"
#include "pictures/imagewriter.h"
#include "pictures/opi.h"
#include "pictures/picturecache.h"
#include "platform/kernel/colorspace.h"
#include "platform/messages.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// The RGB alternate holds at most this many pixels.
constexpr double kMaxAlternatePixels = 1048576;

const PDFSettings& settingsOf(const CachedImage& picture) { return picture.writer->GetSettings(); }

bool dotgainTransfers(const PDFSettings& s) { return s.EnableDotgain != 0 && s.NormalizedOutput == 0; }

PixelRect wholePicture(const CachedImage& picture) { return {0, 0, picture.Lines(), picture.PixelsPerLine()}; }

std::int32_t clampedInt(double v) { return std::int32_t(std::clamp(std::round(v), 1.0, 2.0e9)); }

// The combined ink of several planes as one plane: 1 - Π(1 - t).
class InkCoverageStream : public TavSys::ImageStream {
 public:
  explicit InkCoverageStream(std::unique_ptr<TavSys::ImageStream> source) : mSource(std::move(source)) {
    mIn.resize(mSource->RowBytes());
  }
  std::int32_t GetWidth() const override { return mSource->GetWidth(); }
  std::int32_t GetHeight() const override { return mSource->GetHeight(); }
  int GetPlanes() const override { return 1; }
  bool GetLine(std::uint8_t* row) override {
    if (!mSource->GetLine(mIn.data())) return false;
    const std::size_t planes = std::size_t(mSource->GetPlanes());
    for (std::int32_t x = 0; x < GetWidth(); ++x) {
      double light = 1;
      for (std::size_t p = 0; p < planes; ++p) light *= 1 - mIn[std::size_t(x) * planes + p] / 255.0;
      row[x] = std::uint8_t(std::lround((1 - light) * 255));
    }
    return true;
  }

 private:
  std::unique_ptr<TavSys::ImageStream> mSource;
  std::vector<std::uint8_t> mIn;
};

// The clip and downsampler of a base image over a stream of the picture's
// pixels. A stream of another size (a soft-mask picture) takes the
// rectangle scaled to its own size and downsamples by the same factor.
std::unique_ptr<TavSys::ImageStream> clipAndDownsample(std::unique_ptr<TavSys::ImageStream> stream,
                                                       const CachedImage& picture, const CachedBaseImage& base,
                                                       bool downsample) {
  const std::int32_t lines = picture.Lines(), pixels = picture.PixelsPerLine();
  const std::int32_t h = stream->GetHeight(), w = stream->GetWidth();
  const bool sameSize = h == lines && w == pixels;
  if (base.partial && lines > 0 && pixels > 0) {
    PixelRect r = base.rect;
    if (!sameSize) {
      r = {std::int32_t(std::floor(double(r[0]) * h / lines)), std::int32_t(std::floor(double(r[1]) * w / pixels)),
           std::int32_t(std::ceil(double(r[2]) * h / lines)), std::int32_t(std::ceil(double(r[3]) * w / pixels))};
    }
    stream = std::make_unique<TavSys::ClipStream>(std::move(stream), r[0], r[1], r[2], r[3]);
  }
  if (downsample && base.downsampled) {
    const TavSys::TavImageDownsamplerFactors factors =
        sameSize ? *base.factors
                 : TavSys::TavImageDownsamplerFactors(stream->GetWidth(), stream->GetHeight(), picture.factor,
                                                      picture.factor);
    stream = std::make_unique<TavSys::TavImageDownsamplerStream>(std::move(stream), factors,
                                                                 settingsOf(picture).UseAveraging != 0);
  }
  return stream;
}

bool oneBitTest(const CachedImage& picture, const CachedBaseImage& base, const TavricLib::MappedPictureStream& stream) {
  if (!stream.IsOneBit() || !mapCanOuputAsOneBit(picture.writer->GetJob(), base.map)) return false;
  // Downsampled one-bit images stay one bit only when the downsampler picks
  // samples; otherwise they are written as 8-bit images of the same size
  // (their placement is made for the downsampled size).
  if (base.downsampled) {
    return settingsOf(picture).DownsamplingFor1BitImages != 0 && !picture.writer->UseDownsamplerSmoothing();
  }
  return true;
}

void showOnce(PDFProof& writer, int severity, const char* key) {
  if (writer.GetHandler()->firstReport(key)) {
    TavGen::ShowInfoMessage(severity, 1, TavCore::GetLocalizedUni16String(key));
  }
}

// A form that draws nothing, standing in under a name whose image could not
// be made.
PDFIndirectReference* writeEmptyForm(PDFProof& writer) {
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  auto* box = new PDFArray();
  for (int v : {0, 0, 1, 1}) box->Add(new PDFInteger(v));
  form->Set("BBox", box);
  pdfouthan& handler = *writer.GetHandler();
  pdfoutfilter* sink = handler.beginStream(form);
  return sink != nullptr ? handler.endStream(sink) : nullptr;
}

// "/TR_<separation> gs" for an image of one separation, "/TR_CMYK gs" otherwise.
// On a page of separated output everything prints on the page's plate: its
// ink's function applies, whatever inks the image was made from (and the
// page's resources hold that one only).
void writeTransferState(PDFProof& writer, genoutfil& out, const std::vector<int>& separations) {
  jobstr* job = writer.GetJob();
  if (writer.GetSettings().SeparatedOutput != 0 && !writer.IsSoftMaskRemap()) {
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int plate = sepsoruse(job, slot, false);
      if (plate < 0) continue;
      out << "/TR_" << std::to_string(plate) << " gs\n";
      return;
    }
  }
  if (separations.size() < 2) {
    out << "/TR_" << std::to_string(separations.empty() ? 0 : separations.front()) << " gs\n";
  } else {
    out << "/TR_CMYK gs\n";
  }
}

void addBaseImage(CachedSubImage& sub, const CachedImage& picture, std::vector<int> separations,
                  std::uint16_t opacity) {
  if (settingsOf(picture).LinkType == 2 && picture.imageLinkPossible) {
    // A linked map's image holds the inks of its channels; its flat inks
    // are filled beside the link (mapGetFlatPart).
    jobstr* job = picture.writer->GetJob();
    std::erase_if(separations, [&](int s) { return TavricLib::GetMapInk(job, int(picture.map), s).file < 0; });
    if (separations.empty()) return;
  }
  auto base = std::make_shared<CachedBaseImage>();
  base->separations = std::move(separations);
  base->map = int(picture.map);
  base->rect = sub.rect;
  base->opacity = opacity;
  base->downsampled = picture.factor > 1.0;
  if (base->downsampled) {
    base->factors = std::make_unique<TavSys::TavImageDownsamplerFactors>(
        sub.rect[3] - sub.rect[1], sub.rect[2] - sub.rect[0], picture.factor, picture.factor);
  }
  base->partial = sub.rect != wholePicture(picture);
  sub.baseImages.push_back(std::move(base));
}

PDFIndirectReference* WriteImageStream(PDFProof& writer, std::unique_ptr<TavSys::ImageStream> stream,
                                       std::int32_t numerator,
                                       std::int32_t denominator, const std::string& name, PDFDictionaryValue* mask,
                                       int model, ColorSpace* space, PDFDictionaryValue* alternates, bool oneBit,
                                       bool decode, int quality, const std::string& fileName);

PDFIndirectReference* WriteMaskedImage(CachedSubImage& sub, CachedImage& picture, const std::string& name,
                                       const CachedBaseImage& base) {
  PDFProof& writer = *picture.writer;
  jobstr* job = writer.GetJob();
  const int quality = writer.GetImageCompression(picture.imageLinkPossible);
  if (maphasopa(job, int(picture.map))) {
    if (auto it = sub.masks.find(base.opacity); it != sub.masks.end()) return it->second;
    auto opacity = std::make_unique<TavricLib::OpacityPictureStream>(job, int(picture.map), base.opacity);
    const std::int32_t numerator = clampedInt(opacity->GetResNumerator() * 100.0 / picture.factor);
    const std::int32_t denominator = clampedInt(opacity->GetResDenumerator() * 100.0);
    std::unique_ptr<TavSys::ImageStream> stream = clipAndDownsample(std::move(opacity), picture, base, true);
    const PictureMap* m = mappoi(job, int(picture.map));
    PDFIndirectReference* ref =
        WriteImageStream(writer, std::move(stream), numerator, denominator, name + "_Mask", nullptr, 1, nullptr, nullptr,
                         false, false, quality, m->files[std::size_t(m->opacityFile)].getNameAsUtf8());
    sub.masks[base.opacity] = ref;
    return ref;
  }
  if (!picture.softMaskPossible) return nullptr;
  if (writer.GetSettings().LinkType == 2 && !picture.backgroundSoftMask) return nullptr;
  const TavDB::Object* first = paintGetFirstSoftmaskObjectFromRef(job, int(picture.softMask));
  const Paint* maskPaint = first != nullptr ? paipoi(job, first->paint()) : nullptr;
  if (maskPaint == nullptr || maskPaint->type != kPaintMap || mappoi(job, maskPaint->map) == nullptr) return nullptr;
  SeparationRemap used{};
  VisitorSearchUsedSeparations(job, patpoi(job, int(picture.softMask))->objects.get(), 0x20000, used);
  const TavricLib::MappedPicture maskPicture(job, maskPaint->map, picture.factor);
  // A luminosity mask: the mask picture's inks darken it.
  std::unique_ptr<TavSys::ImageStream> stream = std::make_unique<InkCoverageStream>(
      std::make_unique<TavricLib::MappedPictureStream>(job, maskPaint->map,
                                                       maskPicture.GetSeparations(false, false, &used), false));
  stream = clipAndDownsample(std::move(stream), picture, base, true);
  std::int32_t numerator = 72, denominator = 1;
  mapres(job, maskPaint->map, numerator, denominator);
  const bool inverted = (maskGetFlags(job, int(picture.softMask)) & 4U) != 0;
  return WriteImageStream(writer, std::move(stream), clampedInt(numerator * 100.0 / picture.factor),
                          clampedInt(denominator * 100.0), name + "_Mask", nullptr, 1, nullptr, nullptr, false,
                          !inverted, quality, mapGetFirstImageRef(job, maskPaint->map)->getNameAsUtf8());
}

PDFArray* WriteRGBAlternateImage(CachedImage& picture, const CachedBaseImage& base) {
  PDFProof& writer = *picture.writer;
  if (writer.GetSettings().ImageAlternate == 0) return nullptr;
  jobstr* job = writer.GetJob();
  std::int32_t numerator = 72, denominator = 1;
  mapres(job, int(picture.map), numerator, denominator);
  double f = double(numerator) / denominator / 72.0;
  // A picture without resolution gets no alternate (the loop below would not end).
  if (!(f > 0) || !std::isfinite(f)) return nullptr;
  const double pixels = double(picture.Lines()) * double(picture.PixelsPerLine());
  while (pixels / f > kMaxAlternatePixels) f *= 2;
  TavSys::TavImageInfo info;
  info.resolution = double(numerator) / denominator / f;
  for (int sep : base.separations) {
    TavSys::TavImageInfo::Channel channel;
    std::string name;
    writer.GetHandler()->getSeparationName(name, job, sep);
    channel.name = TavGen::ConvertUTF8ToUTF16String(name);
    std::uint8_t rgb[3] = {255, 255, 255};
    sepgetrgb(job, sep, rgb[0], rgb[1], rgb[2]);
    for (int k = 0; k < 3; ++k) channel.rgb[k] = rgb[k] / 255.0;
    channel.opacity = separationIsOpaque(job, sep) ? 1.0 : 0.0;
    info.channels.push_back(channel);
  }
  // The alternate stands in for the image in the same unit square: it has
  // the image's pixels, its downsampling and its one-pixel bleed, and is
  // made smaller from there.
  std::unique_ptr<TavSys::ImageStream> stream =
      std::make_unique<TavricLib::MappedPictureStream>(job, int(picture.map), base.separations, false);
  stream = clipAndDownsample(std::move(stream), picture, base, true);
  stream = std::make_unique<TavSys::BleedStream>(std::move(stream), 1);
  const double further = base.downsampled ? f / picture.factor : f;
  if (f > 2.0 && further > 1.0) {
    const TavSys::TavImageDownsamplerFactors factors(stream->GetWidth(), stream->GetHeight(), further, further);
    stream = std::make_unique<TavSys::TavImageDownsamplerStream>(std::move(stream), factors, true);
  }
  TavSys::TavImageStreamSepsToRGBConverter rgb(std::move(stream), std::move(info));
  auto* dictionary = new PDFDictionary();
  dictionary->Set("Type", new PDFName("XObject"));
  dictionary->Set("Subtype", new PDFName("Image"));
  dictionary->Set("ColorSpace", new PDFName("DeviceRGB"));
  dictionary->Set("BitsPerComponent", new PDFInteger(8));
  dictionary->Set("Width", new PDFInteger(rgb.GetWidth()));
  dictionary->Set("Height", new PDFInteger(rgb.GetHeight()));
  dictionary->Set("Filter", new PDFName("FlateDecode"));
  pdfouthan& handler = *writer.GetHandler();
  pdfoutfilter* sink = handler.beginStream(dictionary);
  if (sink == nullptr) return nullptr;
  std::vector<std::uint8_t> row(rgb.RowBytes());
  std::int32_t written = 0;
  try {
    for (; written < rgb.GetHeight() && !TavSys::Progress::isCanceled() && rgb.GetLine(row.data()); ++written) {
      sink->PutBytes(row.data(), row.size());
    }
  } catch (const TavSys::Error& e) {
    TavSys::debug("WriteRGBAlternateImage: " + e.detail());
  }
  // The stream holds what its dictionary declares, whatever stopped the rows.
  std::fill(row.begin(), row.end(), 0xFF);
  for (; written < rgb.GetHeight(); ++written) sink->PutBytes(row.data(), row.size());
  PDFIndirectReference* ref = handler.endStream(sink);
  if (ref == nullptr) return nullptr;
  auto* entry = new PDFDictionary();
  entry->Set("Image", ref);
  entry->Set("DefaultForPrinting", new PDFBool(false));
  auto* alternates = new PDFArray();
  alternates->Add(entry);
  return alternates;
}

PDFIndirectReference* WriteBaseImage(CachedSubImage&, CachedImage& picture, const std::string& name,
                                     const CachedBaseImage& base, PDFDictionaryValue* mask, bool tryOneBit) {
  PDFProof& writer = *picture.writer;
  jobstr* job = writer.GetJob();
  const PDFSettings& s = writer.GetSettings();
  const bool decode = s.SeparatedOutput != 0 && !writer.IsSoftMaskRemap();
  std::vector<int> separations = base.separations;
  std::unique_ptr<ColorSpace> space;
  const int model = writer.GetPictureColorSpace(separations, space, picture.hasOverprint);
  // The planes follow the components of the space the image is written in.
  std::vector<int> planes = separations;
  if (space && model == 8) planes = ImageComponentSeparations(job, *space);
  const bool stripFlat = picture.imageLinkPossible && s.LinkType == 2;
  const int quality = writer.GetImageCompression(picture.imageLinkPossible);
  auto pixels = std::make_unique<TavricLib::MappedPictureStream>(job, base.map, planes, stripFlat);
  const bool oneBit = tryOneBit && quality < 2 && oneBitTest(picture, base, *pixels);
  std::unique_ptr<TavSys::ImageStream> stream = clipAndDownsample(std::move(pixels), picture, base, true);
  std::int32_t numerator = 72, denominator = 1;
  mapres(job, base.map, numerator, denominator);
  PDFArray* alternates = WriteRGBAlternateImage(picture, base);
  return WriteImageStream(writer, std::move(stream), clampedInt(numerator * 100.0 / picture.factor),
                          clampedInt(denominator * 100.0), name, mask, model, space.get(), alternates, oneBit,
                          decode, quality, mapGetFirstImageRef(job, base.map)->getNameAsUtf8());
}

PDFIndirectReference* WriteImageStream(PDFProof& writer, std::unique_ptr<TavSys::ImageStream> source,
                                       std::int32_t numerator,
                                       std::int32_t denominator, const std::string& name, PDFDictionaryValue* mask,
                                       int model, ColorSpace* space, PDFDictionaryValue* alternates, bool oneBit,
                                       bool decode, int quality, const std::string& fileName) {
  // Inside an OPI form without embedded images the image is a placeholder
  // of one mid-gray pixel.
  const bool placeholder = writer.IsInsideOpiForm() && writer.GetSettings().EmbedImages == 0;
  const int planes = source->GetPlanes();
  std::unique_ptr<TavSys::BleedStream> chain;
  std::int32_t width = 1, height = 1;
  if (!placeholder) {
    chain = std::make_unique<TavSys::BleedStream>(std::move(source), 1);
    width = chain->GetWidth();
    height = chain->GetHeight();
  }
  PDFImageDic* dictionary = nullptr;
  proofimghan* handler = writer.outimabeg(numerator, denominator, height, width, model, quality, name, mask, decode,
                                          dictionary, 1, space, alternates, oneBit && !placeholder);
  if (handler == nullptr) return writer.EndImageStream(nullptr);
  handler->Begin();
  std::vector<std::uint8_t> row(std::size_t(width) * std::size_t(planes), 128);
  std::optional<TavSys::Error> failure;
  if (placeholder) {
    handler->WriteRows(row.data(), 1, planes);
  } else {
    try {
      while (chain->GetLine(row.data())) {
        handler->WriteRows(row.data(), width, planes);
        if (TavSys::Progress::isCanceled()) break;
      }
    } catch (const TavSys::Error& e) {
      // The file that failed names itself (a map reads several).
      failure = e;
    }
  }
  if (auto* own = dynamic_cast<pdfproofimghan*>(handler)) {
    if (failure) own->Abandon();
    own->Finish();
  }
  delete handler;
  int status = 0;
  PDFIndirectReference* ref = writer.EndImageStream(&status);
  // A file that cannot be read to its end: the image is closed, and the
  // file that would hold it with rows missing is given up.
  if (failure) {
    if (failure->key().empty()) throw TavSys::PictureUnreadable(fileName, failure->detail());
    throw *failure;
  }
  if (status != 0) throw TavSys::Error(status, "PDF/COULD NOT ADD IMAGE", name);
  return ref;
}

PDFIndirectReference* WriteSubImageGroupForm(CachedSubImage& sub, CachedImage& picture,
                                             const std::vector<std::pair<std::string, PDFIndirectReference*>>& pairs) {
  PDFProof& writer = *picture.writer;
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  auto* box = new PDFArray();
  for (int v : {0, 0, 1, 1}) box->Add(new PDFInteger(v));
  form->Set("BBox", box);
  auto* resources = new PDFDictionary();
  resources->Set("ExtGState", writer.AddOverprintStates());
  auto* xobjects = new PDFDictionary();
  for (const auto& [name, ref] : pairs) xobjects->Set(name, ref);
  resources->Set("XObject", xobjects);
  form->Set("Resources", resources);
  if (picture.groupFlag || picture.transparent) {
    auto* group = new PDFDictionary();
    group->Set("S", new PDFName("Transparency"));
    form->Set("Group", group);
  }
  pdfouthan& handler = *writer.GetHandler();
  pdfoutfilter* sink = handler.beginStream(form);
  if (sink == nullptr) return nullptr;
  // The images overprint one another. A picture that knocks out what lies
  // below draws its first image without overprint, so that it still does.
  *sink << (picture.hasOverprint ? "/op1 gs\n" : "/op0 gs\n");
  const bool transfers = dotgainTransfers(writer.GetSettings());
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    if (k == 1 && !picture.hasOverprint) *sink << "/op1 gs\n";
    if (transfers) writeTransferState(writer, *sink, sub.baseImages[k]->separations);
    PDFName::OutputName(*sink, pairs[k].first.c_str());
    *sink << " Do\n";
  }
  return handler.endStream(sink);
}

// Writes the image(s) of a sub-image; a picture that cannot be read stands
// in as an empty form (with a message), never as an undefined name.
void WriteSubImage(CachedSubImage& sub, CachedImage& picture) {
  PDFProof& writer = *picture.writer;
  jobstr* job = writer.GetJob();
  const PDFSettings& s = writer.GetSettings();
  try {
    if (sub.baseImages.size() == 1) {
      const CachedBaseImage& base = *sub.baseImages.front();
      PDFIndirectReference* mask = WriteMaskedImage(sub, picture, sub.name, base);
      sub.reference = WriteBaseImage(sub, picture, sub.name, base, mask, true);
    } else if (sub.baseImages.size() > 1) {
      TavSys::Progress progress(double(sub.baseImages.size()));
      bool oneBit = writer.GetImageCompression(picture.imageLinkPossible) < 2;
      for (const auto& base : sub.baseImages) {
        if (!oneBit) break;
        TavricLib::MappedPictureStream probe(job, base->map, base->separations, false);
        oneBit = oneBitTest(picture, *base, probe);
      }
      std::vector<std::pair<std::string, PDFIndirectReference*>> pairs;
      for (std::size_t k = 0; k < sub.baseImages.size(); ++k) {
        const CachedBaseImage& base = *sub.baseImages[k];
        const std::string name = "SubImage" + std::to_string(k);
        PDFIndirectReference* mask =
            maphasopa(job, int(picture.map)) ? WriteMaskedImage(sub, picture, sub.name + "_" + name, base) : nullptr;
        pairs.emplace_back(name, WriteBaseImage(sub, picture, name, base, mask, oneBit));
        progress.step();
      }
      sub.reference = WriteSubImageGroupForm(sub, picture, pairs);
      if (s.Flavour == kFlavourViewing) showOnce(writer, TavGen::kInfo, "PDF/OVERPRINTS ADDED");
    }
  } catch (const TavSys::Error& e) {
    // The map cannot be written: the export stops with the file named.
    TavSys::debug("WriteSubImage " + sub.name + ": " + e.detail());
    if (e.key().empty()) throw TavSys::Error(e.code(), "PDF/COULD NOT ADD IMAGE", e.detail());
    const TavSys::filref* file = mapGetFirstImageRef(job, int(picture.map));
    bool named = false;
    for (const auto& [placeholder, value] : e.placeholders()) named = named || placeholder == "__FILENAME__";
    if (named || file == nullptr) throw;
    TavSys::Error withName = e;
    throw withName.with("__FILENAME__", file->getNameAsUtf8());
  }
  if (sub.reference == nullptr && !sub.baseImages.empty()) sub.reference = writeEmptyForm(writer);
  if (s.EmbedImages == 0) showOnce(writer, TavGen::kWarning, "PDF/IMAGES EMBEDDED NO OPI CREATED");
}

// The corners of a sub-image's placement as four reals in points (the
// smaller and larger of each axis).
PDFArray* ComputeSubImageBBox(const CachedImage& picture, const CachedSubImage& sub, std::uint16_t paint) {
  const std::array<std::int32_t, 6> c = ComputeSubImagePlacement(picture, sub, paint);
  double xs[4], ys[4];
  picture.writer->TransformPoint(c[0], c[1], xs[0], ys[0]);
  picture.writer->TransformPoint(c[2], c[3], xs[1], ys[1]);
  picture.writer->TransformPoint(c[4], c[5], xs[2], ys[2]);
  xs[3] = xs[1] + xs[2] - xs[0];
  ys[3] = ys[1] + ys[2] - ys[0];
  auto* box = new PDFArray();
  box->Add(new PDFReal(*std::min_element(xs, xs + 4)));
  box->Add(new PDFReal(*std::min_element(ys, ys + 4)));
  box->Add(new PDFReal(*std::max_element(xs, xs + 4)));
  box->Add(new PDFReal(*std::max_element(ys, ys + 4)));
  return box;
}

void WriteOpiWrapperForm(CachedImage& picture, CachedImage::OPIDict& opi) {
  PDFProof& writer = *picture.writer;
  CachedSubImage& sub = picture.subImages[opi.subImage];
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  form->Set("BBox", ComputeSubImageBBox(picture, sub, opi.paint));
  AddFlateFilter(form, writer.GetSettings().CompressPages != 0);
  PDFDictionaryValue* dictionary = WriteMappedImageOpiDictionary(writer, opi.paint, opi.opiMapStatus);
  if (dictionary != nullptr) form->Set("OPI", dictionary);
  // Without an OPI dictionary nothing would replace the picture: the form
  // then shows the image itself.
  const bool embed = writer.GetSettings().EmbedImages != 0 || dictionary == nullptr;
  if (embed && sub.reference == nullptr) WriteSubImage(sub, picture);
  const bool draw = embed && sub.reference != nullptr;
  if (draw) {
    auto* resources = new PDFDictionary();
    resources->Set("ExtGState", writer.AddOverprintStates());
    auto* xobjects = new PDFDictionary();
    xobjects->Set(sub.name, sub.reference);
    resources->Set("XObject", xobjects);
    form->Set("Resources", resources);
  }
  pdfouthan& handler = *writer.GetHandler();
  pdfoutfilter* sink = handler.beginStream(form);
  if (sink == nullptr) return;
  if (draw) {
    *sink << "q\n";
    writer.WritePictureMatrix(*sink, ComputeSubImagePlacement(picture, sub, opi.paint));
    PDFName::OutputName(*sink, sub.name.c_str());
    *sink << " Do\nQ\n";
  }
  opi.form = handler.endStream(sink);
}

void DrawSubImage(CachedImage& picture, std::size_t index, const TavDB::Object* object) {
  PDFProof& writer = *picture.writer;
  const CachedSubImage& sub = picture.subImages[index];
  if (sub.baseImages.empty()) return;
  const PDFSettings& s = writer.GetSettings();
  genoutfil& out = writer.GetOutputStream();
  if (!picture.opiMappable || s.LinkType != 1) {
    writer.SetOverprint(picture.hasOverprint);
    // Inside an image link's form the map lies in its own pixels.
    if (writer.IsInsideImageLinkForm()) {
      WriteLinkSubImageMatrix(out, picture, sub);
    } else {
      writer.WritePictureMatrix(out, ComputeSubImagePlacement(picture, sub, object->paint()));
    }
    PDFName::OutputName(out, sub.name.c_str());
  } else {
    writer.SetOverprint(picture.hasOverprint);
    auto opi = std::make_shared<CachedImage::OPIDict>();
    opi->subImage = index;
    opi->rect = sub.rect;
    opi->paint = object->paint();
    opi->name = "OPI_" + std::to_string(picture.opiForms.size()) + "_" + sub.name;
    opi->opiMapStatus = picture.opiMapStatus;
    picture.opiForms.push_back(opi);
    PDFName::OutputName(out, opi->name.c_str());
  }
  out << " Do\n";
}

}  // namespace

// ---- names, numbering and the split ----------------------------------------------------

std::string SubImageName(const CachedImage& picture, std::size_t k) {
  return "Image_" + std::to_string(picture.map) + "_" + std::to_string(picture.number) + "_" + std::to_string(k);
}

void NumberCachedImage(CachedImage& picture, std::int32_t number) {
  picture.number = number;
  const PixelRect whole = wholePicture(picture);
  std::vector<CachedSubImage>& subs = picture.subImages;
  bool wholeOnly = settingsOf(picture).ImageClipping == 0;
  if (!wholeOnly) {
    // Rectangles covering most of the picture are not worth their seams.
    std::int64_t area = 0;
    for (const CachedSubImage& sub : subs) {
      area += std::int64_t(sub.rect[2] - sub.rect[0]) * std::int64_t(sub.rect[3] - sub.rect[1]);
    }
    wholeOnly = double(area) > 0.9 * double(std::int64_t(whole[2]) * std::int64_t(whole[3]));
  }
  if (wholeOnly) {
    subs.clear();
    CachedSubImage sub;
    sub.rect = whole;
    subs.push_back(std::move(sub));
  }
  for (std::size_t k = 0; k < subs.size(); ++k) SplitSubImage(subs[k], picture, k);
}

CachedSubImage& FindOrAddSubImage(CachedImage& picture, const PixelRect& rect) {
  for (CachedSubImage& sub : picture.subImages)
    if (RectInside(rect, sub.rect)) return sub;
  CachedSubImage sub;
  sub.rect = rect;
  picture.subImages.push_back(std::move(sub));
  SplitSubImage(picture.subImages.back(), picture, picture.subImages.size() - 1);
  return picture.subImages.back();
}

void SplitSeparationsIntoImages(CachedSubImage& sub, CachedImage& picture, const std::vector<int>& list,
                                std::uint16_t opacity) {
  PDFProof& writer = *picture.writer;
  jobstr* job = writer.GetJob();
  // Under dot gain every separation needs its own transfer function.
  const std::size_t limit = dotgainTransfers(settingsOf(picture)) ? 1 : std::size_t(writer.GetMaxColorants());
  std::vector<int> rest = list;
  if (TavricLib::HasAllCmykComponents(job, list)) {
    const std::vector<int> cmyk = TavricLib::GetSortedCmyk(job);
    addBaseImage(sub, picture, cmyk, opacity);
    rest = TavricLib::SubstractSeparationLists(list, cmyk);
  }
  while (rest.size() > limit) {
    addBaseImage(sub, picture, std::vector<int>(rest.begin(), rest.begin() + std::ptrdiff_t(limit)), opacity);
    rest.erase(rest.begin(), rest.begin() + std::ptrdiff_t(limit));
  }
  if (!rest.empty()) addBaseImage(sub, picture, rest, opacity);
}

void SplitSubImage(CachedSubImage& sub, CachedImage& picture, std::size_t k) {
  PDFProof& writer = *picture.writer;
  jobstr* job = writer.GetJob();
  const PDFSettings& s = settingsOf(picture);
  sub.name = SubImageName(picture, k);
  sub.baseImages.clear();
  const TavricLib::MappedPicture mapped(job, int(picture.map), picture.factor);
  const SeparationRemap* remap = picture.RemapArray();
  const bool notRemapped = !picture.remapEngaged;
  const bool mayCombine = s.Flavour == kFlavourViewing ? true
                          : dotgainTransfers(s)        ? false
                                                       : !picture.hasOverprint;
  const std::size_t maxColorants = std::size_t(writer.GetMaxColorants());
  const bool hasOpacity = maphasopa(job, int(picture.map));

  if (picture.outputAsCmyk && !(notRemapped && picture.hasOverprint)) {
    std::uint16_t opacity = kOpacityFull;
    if (hasOpacity) {
      const auto groups = mapped.GetSeparationListByEqualOpacity(notRemapped, remap);
      if (!groups.empty()) opacity = groups.begin()->first;
    }
    addBaseImage(sub, picture, TavricLib::GetSortedCmyk(job), opacity);
    return;
  }
  if (hasOpacity) {
    auto groups = mapped.GetSeparationListByEqualOpacity(notRemapped, remap);
    if (mayCombine && groups.size() == 1 && groups.begin()->second.size() <= maxColorants) {
      addBaseImage(sub, picture, groups.begin()->second, groups.begin()->first);
      return;
    }
    groups = mapped.GetSeparationListByEqualOpacity(true, remap);
    if (groups.empty()) groups = mapped.GetSeparationListByEqualOpacity(true, nullptr);
    if (groups.empty() && mapped.FirstUsedSeparation() >= 0) groups[kOpacityFull].push_back(mapped.FirstUsedSeparation());
    for (const auto& [opacity, list] : groups) SplitSeparationsIntoImages(sub, picture, list, opacity);
    return;
  }
  const bool invisible = TavricLib::MappedPaintIsInvisible(job, int(picture.map), true);
  std::vector<int> list = mapped.GetSeparations(notRemapped && picture.hasOverprint, true, remap);
  if (mayCombine && !invisible && !list.empty() && list.size() <= maxColorants) {
    addBaseImage(sub, picture, list, kOpacityFull);
    return;
  }
  list = invisible ? std::vector<int>() : mapped.GetSeparations(notRemapped && !mayCombine, true, remap);
  if (!list.empty()) {
    SplitSeparationsIntoImages(sub, picture, list, kOpacityFull);
    return;
  }
  // Nothing of the map lies on the separations written (a knocking-out map
  // on a plate it does not paint): an empty image of the first one in use
  // knocks it out; failing that, one separation the map paints.
  list = mapped.GetSeparations(false, true, remap);
  if (list.empty()) list = mapped.GetSeparations(true, false, nullptr);
  if (list.empty() && mapped.FirstUsedSeparation() >= 0) list.push_back(mapped.FirstUsedSeparation());
  if (!list.empty()) SplitSeparationsIntoImages(sub, picture, {list.front()}, kOpacityFull);
}

// ---- placement -------------------------------------------------------------------------

namespace {

// The bleed around a sub-image in map pixels: one pixel of the image as
// written (after downsampling).
double subImageMargin(const CachedSubImage& sub) {
  const PixelRect& r = sub.rect;
  std::int32_t imageWidth = r[3] - r[1], imageHeight = r[2] - r[0];
  if (!sub.baseImages.empty() && sub.baseImages.front()->factors) {
    imageWidth = sub.baseImages.front()->factors->outWidth;
    imageHeight = sub.baseImages.front()->factors->outHeight;
  }
  return std::max(imageWidth, imageHeight) > 0
             ? double(std::max(r[3] - r[1], r[2] - r[0])) / std::max(imageWidth, imageHeight)
             : 1.0;
}

}  // namespace

void WriteLinkSubImageMatrix(genoutfil& out, const CachedImage& picture, const CachedSubImage& sub) {
  const PictureMap* map = mappoi(picture.writer->GetJob(), int(picture.map));
  const PixelRect& r = sub.rect;
  const double m = subImageMargin(sub);
  const double height = map != nullptr ? map->height : 0;
  out << (double(r[3]) - r[1] + 2 * m) << 0.0 << 0.0 << (double(r[2]) - r[0] + 2 * m) << (r[1] - m)
      << (height - r[2] - m) << "cm\n";
}

std::array<std::int32_t, 6> ComputeSubImagePlacement(const CachedImage& picture, const CachedSubImage& sub,
                                                     std::uint16_t paintIndex) {
  jobstr* job = picture.writer->GetJob();
  const PictureMap* map = mappoi(job, int(picture.map));
  const Paint* paint = paipoi(job, paintIndex);
  std::array<std::int32_t, 6> corners{};
  if (map == nullptr || paint == nullptr) return corners;
  const PixelRect& r = sub.rect;
  const double m = subImageMargin(sub);
  // Pixel (x, y) lies at origin + x W + y H.
  const TavDB::tv_point o = paint->placeOrigin;
  const double wv = (double(paint->placeWidthCorner.v) - o.v) / map->width;
  const double wh = (double(paint->placeWidthCorner.h) - o.h) / map->width;
  const double hv = (double(paint->placeHeightCorner.v) - o.v) / map->height;
  const double hh = (double(paint->placeHeightCorner.h) - o.h) / map->height;
  auto at = [&](double x, double y, std::int32_t* out) {
    out[0] = std::int32_t(std::clamp(std::round(o.v + x * wv + y * hv), -2.0e9, 2.0e9));
    out[1] = std::int32_t(std::clamp(std::round(o.h + x * wh + y * hh), -2.0e9, 2.0e9));
  };
  at(r[1] - m, r[0] - m, &corners[0]);
  at(r[3] + m, r[0] - m, &corners[2]);
  at(r[1] - m, r[2] + m, &corners[4]);
  return corners;
}

// ---- writing ---------------------------------------------------------------------------

void WriteCachedPicture(CachedImage& picture, PDFDictionary* xobjects) {
  const PDFSettings& s = settingsOf(picture);
  const bool opi = s.LinkType == 1 && picture.opiMappable;
  const bool link = s.LinkType == 2 && picture.imageLinkPossible;
  // The content draws the image by name unless an OPI form or an image link
  // stands for it: then it is written whatever EmbedImages says.
  if (s.EmbedImages != 0 || !(opi || link)) {
    std::optional<TavricLib::SeparationResetter> reset;
    if (picture.remapEngaged) reset.emplace(picture.writer->GetJob());
    for (CachedSubImage& sub : picture.subImages) {
      if (sub.reference == nullptr && !sub.baseImages.empty()) WriteSubImage(sub, picture);
      if (TavSys::Progress::isCanceled()) return;
    }
  }
  if (xobjects == nullptr) return;
  if (!opi) {
    for (const CachedSubImage& sub : picture.subImages)
      if (sub.reference != nullptr) xobjects->Set(sub.name, sub.reference);
    return;
  }
  for (const std::shared_ptr<CachedImage::OPIDict>& form : picture.opiForms) {
    if (form->form == nullptr) WriteOpiWrapperForm(picture, *form);
    if (form->form != nullptr) xobjects->Set(form->name, form->form);
  }
}

void MappedPictureCache::WriteCachedPictures(PDFProof* writer, bool force) {
  if (mCache.empty()) return;
  const bool saved = writer->IsWritingPictureCache();
  writer->SetWritingPictureCache(true);
  struct Restore {
    PDFProof* w;
    bool on;
    ~Restore() { w->SetWritingPictureCache(on); }
  } restore{writer, saved};
  for (auto& [key, picture] : mCache) {
    if (picture->needsWriting || (force && picture->drawn)) {
      picture->needsWriting = false;
      WriteCachedPicture(*picture, writer->GetXObjectDictionary());
    }
    if (TavSys::Progress::isCanceled()) {
      writer->SetCancelled();
      break;
    }
  }
}

// ---- drawing ---------------------------------------------------------------------------

void MappedPictureCache::DrawMappedPicture(PDFProof* writer, TavDB::Object* object) {
  if (object == nullptr) return;
  jobstr* job = writer->GetJob();
  const Paint* paint = paipoi(job, object->paint());
  if (paint == nullptr || paint->type != kPaintMap) return;
  if (!PictureFilesExist(job, object->paint())) {
    // Files that went missing after the job was read: the export stops,
    // naming the first that is gone.
    const TavSys::filref* file = MissingPictureFile(job, object->paint());
    if (file == nullptr) file = mapGetFirstImageRef(job, paint->map);
    throw TavSys::PictureFileMissing(file != nullptr ? file->getNameAsUtf8() : std::string());
  }
  if (TavricLib::MappedPaintIsInvisible(job, paint->map, true)) return;
  BuildPictureCache(writer);
  try {
    CachedImage* picture = FindCachedImage(*this, writer, object);
    MarkPictureUsed(*this, writer, object);
    const PixelRect rect = ComputeVisiblePixelRect(job, object);
    if (RectIsEmpty(rect)) return;
    CachedSubImage& sub = FindOrAddSubImage(*picture, rect);
    const std::size_t index = std::size_t(&sub - picture->subImages.data());
    // A sub-image of one image selects its transfer function here; the
    // group form of several selects one per image.
    if (dotgainTransfers(writer->GetSettings()) && sub.baseImages.size() == 1) {
      writeTransferState(*writer, writer->GetOutputStream(), sub.baseImages.front()->separations);
    }
    DrawSubImage(*picture, index, object);
  } catch (const PDFImageException&) {
    // A use the cache never gathered cannot be drawn: nothing is left out silently.
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/COULD NOT ADD IMAGE", "a map use the picture cache lacks");
  }
}

// ---- the page writer's side ---------------------------------------------------------------

void PDFProof::OutputMap(TavDB::Object* object) { mPictureCache.DrawMappedPicture(this, object); }

bool PDFProof::ImageLinkPossible(std::uint16_t paint) const {
  return paintVornImageLinkPossible(mJob, paint, mOneUpLink, mSettings.IncludePrivateData != 0);
}

int PDFProof::GetPictureColorSpace(std::vector<int>& separations, std::unique_ptr<ColorSpace>& space,
                                   bool overprinting) {
  space.reset();
  if (separations.empty()) return 1;
  if (mSettings.SeparatedOutput != 0 && mSoftMaskDepth == 0) {
    space = std::make_unique<PDFCsDeviceGray>(mJob, separations.front(), false);
    return 1;
  }
  if (TavricLib::IsSingleSeparation(separations)) {
    space = std::make_unique<CsSeparation>(mJob, separations.front(), mSoftMaskDepth != 0);
    return 0;
  }
  if (TavricLib::IsCmyk(mJob, separations)) {
    separations = TavricLib::GetSortedCmyk(mJob);
    return 5;
  }
  CsDeviceN::Options options;
  options.maxColorants = int(GetMaxColorants());
  options.noTransfer = mSoftMaskDepth != 0;
  auto deviceN = std::make_unique<PDFCsDeviceN>(mJob, -1, options, mSoftMaskDepth != 0 ? nullptr : mSepData);
  deviceN->NameProcessInksAsColorants(overprinting);
  for (int sep : separations) deviceN->SetSeparationUse(sep, true);
  space = std::move(deviceN);
  return 8;
}

void PDFProof::WritePictureMatrix(genoutfil& out, const std::array<std::int32_t, 6>& c) {
  double x0, y0, x1, y1, x2, y2;
  TransformPoint(c[0], c[1], x0, y0);
  TransformPoint(c[2], c[3], x1, y1);
  TransformPoint(c[4], c[5], x2, y2);
  out << (x1 - x0) << (y1 - y0) << (x0 - x2) << (y0 - y2) << x2 << y2 << "cm\n";
}

PDFIndirectReference* PDFProof::EndImageStream(int* status) {
  if (mImageSink == nullptr) return nullptr;
  PDFIndirectReference* ref = mHandler->endStream(mImageSink, this, status);
  mImageSink = nullptr;
  return ref;
}

}  // namespace TavPDF
