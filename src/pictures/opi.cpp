#include "pictures/opi.h"

#include <cmath>
#include <filesystem>
#include <memory>

#include "colour/devicen.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfpending.h"
#include "platform/files.h"
#include "platform/kernel/job.h"
#include "platform/kernel/placedfiles.h"
#include "platform/kernel/tavdb.h"
#include "tavpdf/PDFSettings.h"

namespace fs = std::filesystem;

namespace TavPDF {

namespace {

constexpr std::uint16_t kTintUndefinedValue = 65280;

// A picture's or map's own size in points and its crop rectangle in the
// OPI way (left, top, right, bottom, top down from the picture's top).
struct OpiSize {
  double width = 0, height = 0;
  double crop[4] = {0, 0, 0, 0};
};

OpiSize pictureSize(const jobstr* job, int picture) {
  OpiSize s;
  const Picture* p = picpoi(job, picture);
  if (p == nullptr) return s;
  const double ppi = TavDB::getppi(job);
  // Pixels cover 72 / resolution points; vector pictures are in job units.
  const double perUnit = p->vector ? 72.0 / ppi : 72.0 / (p->resolution > 0 ? p->resolution : 72.0);
  s.width = p->width * perUnit;
  s.height = p->height * perUnit;
  const std::array<std::int32_t, 4> box = picboxdefault(job, picture, 0, 1.0);  // top, bottom, left, right
  if (box[2] < box[3] && box[0] < box[1]) {
    const double k = 72.0 / ppi;
    s.crop[0] = box[2] * k;
    s.crop[1] = box[0] * k;
    s.crop[2] = box[3] * k;
    s.crop[3] = box[1] * k;
  } else {
    s.crop[2] = s.width;
    s.crop[3] = s.height;
  }
  return s;
}

OpiSize mapSize(const jobstr* job, const PictureMap& m) {
  OpiSize s;
  const double perPixel = m.scale * 72.0 / (m.resolution > 0 ? m.resolution : TavDB::getppi(job));
  s.width = m.width * perPixel;
  s.height = m.height * perPixel;
  s.crop[2] = s.width;
  s.crop[3] = s.height;
  return s;
}

PDFArray* integers(std::initializer_list<double> values) {
  auto* a = new PDFArray();
  for (double v : values) a->Add(new PDFInteger(std::int64_t(v)));
  return a;
}

// "qel-pdf:" + the file's URL relative to the output file + "," + its
// absolute URL; both absolute when the output file is not known.
std::string opiId(const PDFProof& writer, const fs::path& file) {
  const std::string absolute = TavSys::FileSpec(file).ToFileURL();
  std::string relative = absolute;
  TavSys::FileSpec output;
  if (writer.GetHandler() != nullptr && writer.GetHandler()->getOutputFileSpec(output) == 0) {
    // An output file named relative to the working folder lies there.
    std::error_code ec;
    const fs::path from = fs::absolute(output.path(), ec).lexically_normal().parent_path();
    const fs::path rel = file.lexically_normal().lexically_relative(from);
    if (!rel.empty() && from.is_absolute() && file.is_absolute()) relative = TavSys::PercentEncode(rel.generic_string());
  }
  return "qel-pdf:" + relative + "," + absolute;
}

// The OPI 1.3 dictionary of a picture file placed by a paint: Type,
// Version, F, the mapping extension when given, ID, Size, CropRect and the
// four corners of the placement on the page.
PDFDictionary* opi13(PDFProof& writer, const TavSys::filref& file, const OpiSize& size, const Paint& paint,
                     PDFDictionaryValue* mapping) {
  auto* d = new PDFDictionary();
  d->Set("Type", new PDFName("OPI"));
  d->Set("Version", new PDFReal(1.3));
  const std::string path = file.getFullPathAsUtf8();
  d->Set("F", new PDFString(path));
  if (mapping != nullptr) d->Set("inpd:ImageMapping", mapping);
  d->Set("ID", new PDFString(opiId(writer, fs::u8path(path))));
  d->Set("Size", integers({std::ceil(size.width), std::ceil(size.height)}));
  d->Set("CropRect", integers({std::floor(size.crop[0]), std::floor(size.crop[1]), std::ceil(size.crop[2]),
                               std::ceil(size.crop[3])}));
  // Lower left (the end of the first column), upper left (the first
  // pixel), upper right (the end of the first row), lower right.
  const TavDB::tv_point o = paint.placeOrigin, w = paint.placeWidthCorner, h = paint.placeHeightCorner;
  const std::int64_t farV = std::int64_t(w.v) + h.v - o.v, farH = std::int64_t(w.h) + h.h - o.h;
  auto* position = new PDFArray();
  for (auto [v, hz] : {std::pair<std::int64_t, std::int64_t>{h.v, h.h}, {o.v, o.h}, {w.v, w.h}, {farV, farH}}) {
    double x = 0, y = 0;
    writer.TransformPoint(std::int32_t(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)),
                          std::int32_t(std::clamp<std::int64_t>(hz, INT32_MIN, INT32_MAX)), x, y);
    position->Add(new PDFReal(x));
    position->Add(new PDFReal(y));
  }
  d->Set("Position", position);
  return d;
}

PDFDictionary* outer(PDFDictionary* inner) {
  auto* d = new PDFDictionary();
  d->Set("1.3", inner);
  return d;
}

// The map's channel (index into its channels) that feeds a slot, or -1.
int channelFor(const PictureMap& m, int slot) {
  for (std::size_t i = 0; i < m.channels.size(); ++i) {
    if (m.channels[i].separation == slot) return int(i);
  }
  return -1;
}

}  // namespace

PDFDictionaryValue* PDFProof::WriteOpiDictionary(std::uint16_t paintIndex) {
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr || paint->type != kPaintPicture) return nullptr;
  const std::string& type = picgetinfo(mJob, paint->picture);
  const TavSys::filref* file = picfilref(mJob, paint->picture);
  if ((type != "EPS" && type != "TIFF" && type != "PDF") || file == nullptr || file->empty()) return nullptr;
  return outer(opi13(*this, *file, pictureSize(mJob, paint->picture), *paint, nullptr));
}

PDFDictionary* PDFProof::MakeChannelsDictionary(int mapIndex, std::map<int, std::string>* channels) {
  auto* d = new PDFDictionary();
  const PictureMap* m = mappoi(mJob, mapIndex);
  if (m == nullptr) return d;
  std::map<int, std::vector<std::string>> names;  // by file, read once
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    if (sepsoruse(mJob, slot) < 0) continue;
    const int c = channelFor(*m, slot);
    if (c < 0) continue;
    const MapChannel& channel = m->channels[std::size_t(c)];
    auto found = names.find(channel.file);
    if (found == names.end()) {
      const TavSys::filref* file = mapfilref(mJob, mapIndex, channel.file);
      found = names.emplace(channel.file, file ? mapGetChannelNames(*file) : std::vector<std::string>())
                  .first;
    }
    if (channel.channel < 0 || std::size_t(channel.channel) >= found->second.size()) break;
    std::string ink;
    mHandler->getSeparationName(ink, mJob, slot);
    if (channels != nullptr) {
      (*channels)[channel.channel] = ink;
    } else {
      d->Set(ink, new PDFName(found->second[std::size_t(channel.channel)]));
    }
  }
  return d;
}

PDFDictionaryValue* WriteMappedImageOpiDictionary(PDFProof& writer, std::uint16_t paintIndex, int opiMapStatus) {
  jobstr* job = writer.GetJob();
  const Paint* paint = paipoi(job, paintIndex);
  const PictureMap* m = paint != nullptr && paint->type == kPaintMap ? mappoi(job, paint->map) : nullptr;
  if (m == nullptr || m->noOpi) return nullptr;

  // One file must feed every ink the map prints; a map printing one ink
  // tells its colour, and a map leaving the other inks undefined overprints.
  const std::array<std::uint16_t, kMaxSeparations> tints = colsep16(job, m->colour1);
  int file = -1, single = -1;
  bool oneSeparation = true, overprint = false;
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = sepsoruse(job, slot);
    if (sep < 0) continue;
    const int c = channelFor(*m, sep);
    if (c < 0) {
      overprint = tints[std::size_t(sep)] == kTintUndefinedValue;
      continue;
    }
    if (file < 0) {
      file = m->channels[std::size_t(c)].file;
      single = sep;
    } else {
      if (m->channels[std::size_t(c)].file != file) return nullptr;
      oneSeparation = false;
    }
  }
  const TavSys::filref* fileRef = file >= 0 ? mapfilref(job, paint->map, file) : nullptr;
  if (fileRef == nullptr || fileRef->empty()) return nullptr;

  auto* mapping = new PDFDictionary();
  static const char* const kTypes[] = {"QEL", "AICS2", "AICS3", "Mapped"};
  mapping->Set("Type", new PDFName(kTypes[opiMapStatus >= 0 && opiMapStatus <= 3 ? opiMapStatus : 0]));
  if (opiMapStatus == 3) {
    std::array<std::uint16_t, kMaxSeparations> used{};
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      if (sepsoruse(job, slot) >= 0 && channelFor(*m, slot) >= 0) used[std::size_t(slot)] = kTintFull;
    }
    CsDeviceN::Options options;
    options.maxColorants = int(writer.GetMaxColorants());
    options.forceDeviceN = true;
    CsNChannel space(job, used.data(), 1, kTintFull, options, writer.GetHandler()->getSeparationDisabler());
    if (PDFArray* array = space.pdfGetColorSpace(writer.GetHandler(), 0)) {
      PDFIndirectReference* reference = writer.GetHandler()->makeIndirect(array);
      writer.GetPending()->addIndirect(reference);
      mapping->Set("CS", reference);
    }
    mapping->Set("Channels", writer.MakeChannelsDictionary(paint->map));
    // The picture's mask travels in its own file: a mask drawn from a map
    // with a transparent background is that background (TB), any other is
    // the file's alpha channel, named.
    if (softmaskHasCompatibleAlphaChannel(job, paintIndex)) {
      int channelType = kMapChannelNone;
      CanOutputAsSoftmaskImage(job, nullptr, paintIndex, &channelType);
      if (mapChannelTypeIsTransparentBackground(channelType)) {
        mapping->Set("TB", new PDFBool(true));
      } else {
        const TavSys::filref* opacity = mapfilref(job, paint->map, m->opacityFile);
        const std::vector<std::string> names = opacity ? mapGetChannelNames(*opacity)
                                                       : std::vector<std::string>();
        if (m->opacityChannel >= 0 && std::size_t(m->opacityChannel) < names.size()) {
          mapping->Set("TB", new PDFBool(false));
          mapping->Set("SMask", new PDFName(names[std::size_t(m->opacityChannel)]));
        }
      }
    }
  }
  PDFDictionary* d = opi13(writer, *fileRef, mapSize(job, *m), *paint, mapping);
  if (oneSeparation) {
    std::uint16_t c = 0, mg = 0, y = 0, k = 0;
    sepcmyk(job, single, c, mg, y, k);
    auto* colour = new PDFArray();
    for (std::uint16_t v : {c, mg, y, k}) colour->Add(new PDFReal(v / double(kTintFull)));
    std::string name;
    writer.GetHandler()->getSeparationName(name, job, single);
    colour->Add(new PDFString(name));
    d->Set("Color", colour);
    if (sepiscmyk(job, single) >= 0) d->Set("ColorType", new PDFName("Process"));
    const std::uint16_t tint = tints[std::size_t(single)];
    if (tint != kTintFull) d->Set("Tint", new PDFReal(tint / double(kTintFull)));
  }
  if (overprint) d->Set("Overprint", new PDFBool(true));
  return outer(d);
}

PDFDictionaryValue* PDFProof::WriteObjectListOpiDictionary(const TavDB::Object* list) {
  TavDB::ListScan scan(list, 0x80000008, 0x8820000);
  const TavDB::Object* top = scan.nexhig();
  const Paint* paint = top != nullptr ? paipoi(mJob, top->paint()) : nullptr;
  const PictureMap* m = paint != nullptr && paint->type == kPaintMap ? mappoi(mJob, paint->map) : nullptr;
  if (m == nullptr || m->files.empty()) return nullptr;
  // The file of the last ink with a channel, else the map's first file.
  int file = 0;
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int c = sepsoruse(mJob, slot) >= 0 ? channelFor(*m, slot) : -1;
    if (c >= 0) file = m->channels[std::size_t(c)].file;
  }
  const TavSys::filref* fileRef = mapfilref(mJob, paint->map, file);
  if (fileRef == nullptr || fileRef->empty()) return nullptr;
  auto* mapping = new PDFDictionary();
  mapping->Set("Type", new PDFName("QEL"));
  return outer(opi13(*this, *fileRef, mapSize(mJob, *m), *paint, mapping));
}

}  // namespace TavPDF
