// The page thumbnail (the job rendered at 72 ppi as an RGB image) and the
// previews that stand for placed pictures under image links.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "pagewriter/pdfproof.h"
#include "pictures/imagewriter.h"
#include "pdfwriter/layout.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "platform/kernel/screenrender.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// Thumbnails are kept to sizes every consumer (and cairo) takes.
constexpr double kMaxThumbnailSide = 16384;

void writePreview(PDFProof& writer, PendingStream& record) {
  writer.WritePreviewImage(static_cast<PendingStreamFilePreview&>(record));
}

const bool gPreviewWriterInstalled = [] {
  SetPendingStreamWriter(kPendingFilePreview, writePreview);
  return true;
}();

bool canOpen(const TavSys::filref* file) {
  if (file == nullptr || file->empty()) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file->getFullPathAsUtf8(), ec)) return false;
  std::FILE* f = std::fopen(file->getFullPathAsUtf8().c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

}  // namespace

PDFIndirectReference* PDFProof::RenderThumbnail() {
  // The page as laid out: its media box (the job's extent when it has none)
  // through orientation, mirror and distortion.
  TavSys::tv_rectangle media;
  if (!getbox(mJob, kMediaBox, media)) {
    const TavDB::tv_box extent = TavDB::measureall(jobGetSpahan(mJob));
    media = {double(extent.top), double(extent.left), double(extent.bottom), double(extent.right)};
  }
  const TavSys::tv_rectangle box = GetLayoutTransformedBox(mJob, media, mSettings);
  const std::int64_t ppi = TavDB::getppi(mJob);
  std::int64_t width = std::int64_t(box.right - box.left) * 72 / ppi;
  std::int64_t height = std::int64_t(box.bottom - box.top) * 72 / ppi;
  // A job smaller than a point still gets a pixel; a very large one a
  // thumbnail of a size viewers take, in proportion.
  const double shrink = std::max({1.0, double(width) / kMaxThumbnailSide, double(height) / kMaxThumbnailSide});
  width = std::max<std::int64_t>(1, std::int64_t(double(width) / shrink));
  height = std::max<std::int64_t>(1, std::int64_t(double(height) / shrink));

  std::unique_ptr<SC::Environment> env = SC::EnvironmentFactory(mJob, box, int(width), int(height));
  env->layout = getLayoutMatrix(mSettings.Orientation.GetValue(), mSettings.Mirror != 0,
                                mSettings.GetInternalDistortionV(), mSettings.GetInternalDistortionH(), 0, 0);
  env->cmykProfile = mSettings.CertifiedOutputProfile.getFullPathAsUtf8();
  // The inks the document outputs.
  std::unique_ptr<SC::SeparationFilter> filter = SC::SeparationTableJobFactory(mJob, 1, 0, 1);
  std::unique_ptr<SC::Options> options = SC::OptionsPreviewFactory();
  options->Set("QueryLayerMask", (mSettings.AddNonPrintingLayers != 0 ? 0x20000 : 0x60000) +
                                     (mSettings.IncludeLayers != 0 ? 0x800000 : 0));
  options->Set("QueryLayerTarget", 0);
  options->Set("LittleEndian", 1);
  std::unique_ptr<SC::CacheObject> cache = SC::CacheObjectFactory(mJob);
  std::unique_ptr<SC::RgbConverter> converter =
      SC::RgbConverterFactory(*env, *filter, *options, jobGetSpahan(mJob), *cache);

  // A writer made with a content stream of its own ends it here (empty).
  if (mContent != nullptr) {
    mHandler->endStream(mContent, nullptr);
    mContent = nullptr;
  }
  mFinished = true;
  PDFImageDic* dictionary = nullptr;
  proofimghan* handler = outimabeg(72, 1, double(height), double(width), 2, 1, std::string(), nullptr, false,
                                   dictionary, 1, nullptr, nullptr, false);
  if (handler == nullptr) return EndImageStream(nullptr);
  handler->Begin();
  std::vector<std::uint8_t> pixels(std::size_t(width) * 4), row(std::size_t(width) * 3);
  for (std::int64_t y = 0; y < height; ++y) {
    // Rows the renderer could not give stay white.
    if (converter->NextRow(pixels.data())) {
      for (std::int64_t x = 0; x < width; ++x) {
        for (int k = 0; k < 3; ++k) row[std::size_t(x) * 3 + std::size_t(k)] = pixels[std::size_t(x) * 4 + std::size_t(2 - k)];
      }
    } else {
      std::fill(row.begin(), row.end(), 0xFF);
    }
    handler->WriteRows(row.data(), int(width), 3);
    ReportProgress(double(y + 1), double(height));
  }
  if (auto* own = dynamic_cast<pdfproofimghan*>(handler)) own->Finish();
  delete handler;
  return EndImageStream(nullptr);
}

bool PicturePreviewSize(PDFProof& writer, std::uint16_t paintIndex, double& width, double& height) {
  jobstr* job = writer.GetJob();
  const Paint* paint = paipoi(job, paintIndex);
  const Picture* picture = paint != nullptr ? picpoi(job, paint->picture) : nullptr;
  const TavSys::filref* file = picture != nullptr ? picfilref(job, paint->picture) : nullptr;
  if (!canOpen(file)) return false;
  const double ppi = TavDB::getppi(job);
  if (picisvectorformat(job, paint->picture)) {
    std::int32_t v = 0, h = 0;
    picsiz(job, paint->picture, 1.0, v, h);
    width = h * 72.0 / ppi;
    height = v * 72.0 / ppi;
  } else {
    std::int32_t numerator = 0, denominator = 0;
    double resolution = picture->resolution;
    if (tfftyp::GetResolution(file->getFullPathAsUtf8(), numerator, denominator) && numerator > 0 && denominator > 0) {
      resolution = double(numerator) / denominator;
    }
    if (!(resolution > 0)) resolution = 72;
    width = picture->width * 72.0 / resolution;
    height = picture->height * 72.0 / resolution;
  }
  // Whole points, never below one: a zero scale would make the drawing
  // matrix singular.
  width = std::max(1.0, double(std::int64_t(width)));
  height = std::max(1.0, double(std::int64_t(height)));
  return true;
}

int WritePicturePreview(PDFProof& writer, std::uint16_t paintIndex) {
  jobstr* job = writer.GetJob();
  const Paint* paint = paipoi(job, paintIndex);
  double width = 0, height = 0;
  if (!PicturePreviewSize(writer, paintIndex, width, height)) return 0;
  const TavSys::filref* file = picfilref(job, paint->picture);
  std::string name;
  const bool found = writer.MakePictureXObjectName(file, name);
  const std::string preview = name + "_preview";
  if (writer.GetWriterNumber() == 0) writer.SetPreviewName(preview);

  genoutfil& out = writer.GetOutputStream();
  writer.SaveGraphicsState();
  out << width << "0 0 " << height << "0 0 cm\n";
  PDFName::OutputName(out, preview.c_str());
  out << " Do\n";
  writer.RestoreGraphicsState();
  if (!found) {
    auto record = std::make_unique<PendingStreamFilePreview>(paintIndex, PDFProof::PictureRecordPath(name, *file));
    record->SetName(preview);
    writer.AddPendingStream(std::move(record));
  }
  return 0;
}

void PDFProof::WritePreviewImage(PendingStreamFilePreview& record) {
  const bool saved = mWritingPictureCache;
  mWritingPictureCache = true;
  const Paint* paint = paipoi(mJob, record.GetPaint());
  SC::PicturePixelBuffer buffer;
  if (paint != nullptr) buffer = SC::GetPicturePixelBuffer(mJob, paint->picture);
  auto* dictionary = new PDFDictionary();
  dictionary->Set("Type", new PDFName("XObject"));
  dictionary->Set("Subtype", new PDFName("Image"));
  const bool empty = buffer.width <= 0 || buffer.height <= 0;
  dictionary->Set("Width", new PDFInteger(empty ? 1 : buffer.width));
  dictionary->Set("Height", new PDFInteger(empty ? 1 : buffer.height));
  dictionary->Set("BitsPerComponent", new PDFInteger(8));
  dictionary->Set("ColorSpace", new PDFName("DeviceCMYK"));
  dictionary->Set("Filter", new PDFName("FlateDecode"));
  pdfoutfilter* sink = mHandler->beginStream(dictionary);
  if (sink != nullptr) {
    if (empty) {
      // One white pixel: the stream holds what its dictionary declares.
      const std::uint8_t white[4] = {0, 0, 0, 0};
      sink->PutBytes(white, 4);
    } else {
      std::vector<std::uint8_t> row(std::size_t(buffer.width) * 4);
      for (std::int32_t y = 0; y < buffer.height; ++y) {
        const std::uint8_t* in = buffer.pixels.data() + std::size_t(y) * row.size();
        for (std::int32_t x = 0; x < buffer.width; ++x, in += 4) {
          double cmyk[4];
          TavGen::rgbcmyk(in[1] / 255.0, in[2] / 255.0, in[3] / 255.0, 0.0, 1.0, cmyk);
          for (int k = 0; k < 4; ++k) row[std::size_t(x) * 4 + std::size_t(k)] = std::uint8_t(std::lround(cmyk[k] * 255));
        }
        sink->PutBytes(row.data(), row.size());
      }
    }
    PDFIndirectReference* ref = mHandler->endStream(sink, this);
    // The name the content drew travels with the record.
    const std::string& name = !record.GetName().empty() ? record.GetName() : mPreviewName;
    if (ref != nullptr && mXObjects != nullptr && !name.empty()) mXObjects->Set(name, ref);
  }
  mWritingPictureCache = saved;
}

}  // namespace TavPDF
