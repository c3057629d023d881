// The walker's raster output: images opened through the backend's image
// operations with optional downsampling, placed pixel pictures read from
// their files, and gradients rendered as images at the gradation resolution.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "pagewriter/genproof.h"
#include "platform/downsampler.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/gradationoutput.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace {

// Gradations larger than this (pixels across, or pixels in all) are refused
// rather than written as an image nobody can open.
constexpr std::int64_t kMaxGradationWidth = 1 << 20;
constexpr double kMaxGradationPixels = 4.0e9;

// Collects the planar rows of a gradation and writes them interleaved.
class RowCollector final : public GradationSink {
 public:
  RowCollector(genproof& walker, proofimghan* handler, int width, int channels, bool invert)
      : mWalker(walker), mHandler(handler), mWidth(std::size_t(width)), mChannels(std::size_t(channels)),
        mInvert(invert) {
    mBuffer.reserve(mWidth * mChannels);
    mRow.resize(mWidth * mChannels);
  }

  bool Write(const std::uint8_t* bytes, std::size_t count) override {
    const std::size_t whole = mWidth * mChannels;
    while (count > 0) {
      const std::size_t take = std::min(count, whole - mBuffer.size());
      if (mInvert) {
        for (std::size_t i = 0; i < take; ++i) mBuffer.push_back(std::uint8_t(255 - bytes[i]));
      } else {
        mBuffer.insert(mBuffer.end(), bytes, bytes + take);
      }
      bytes += take;
      count -= take;
      if (mBuffer.size() < whole) break;
      // Channel c of pixel x lies at c × width + x.
      for (std::size_t c = 0; c < mChannels; ++c) {
        const std::uint8_t* plane = mBuffer.data() + c * mWidth;
        for (std::size_t x = 0; x < mWidth; ++x) mRow[x * mChannels + c] = plane[x];
      }
      mBuffer.clear();
      if (mWalker.outpixrow(mHandler, mRow.data(), int(mWidth), int(mChannels)) != 0) return false;
      if (TavSys::Progress::isCanceled()) {
        mWalker.SetCancelled();
        return false;
      }
    }
    return true;
  }

  std::size_t pending() const { return mBuffer.size(); }

 private:
  genproof& mWalker;
  proofimghan* mHandler;
  std::size_t mWidth, mChannels;
  bool mInvert;
  std::vector<std::uint8_t> mBuffer;
  std::vector<std::uint8_t> mRow;
};

std::uint8_t lowByte(std::int32_t v) { return std::uint8_t(std::clamp(v, 0, 255)); }

}  // namespace

// ---- downsampled images ------------------------------------------------------

proofimghan* genproof::OutputPictureDownsampled(const TavSys::filref* source, const Paint* paint,
                                                const TavDB::tv_matrixtyp<double>& matrix,
                                                int resolution, int scale, int word1, int word2,
                                                double rows, double samplesPerRow, int channels,
                                                int colourModel, const std::int32_t* channelMapping,
                                                bool flag, ColorSpace* part) {
  EndImage(nullptr);  // at most one downsampled image is open
  const double matrixScale = std::sqrt(std::fabs(matrix.a * matrix.d - matrix.b * matrix.c));
  double factor = 1.0;
  if (resolution > 0 && scale > 0 && matrixScale > 0 && std::isfinite(matrixScale)) {
    const double q = matrixScale / (double(scale) * 72.0 / resolution);
    factor = GetImageDownsampleFactor(resolution, scale, q);
  }
  const std::int32_t width = std::int32_t(std::ceil(samplesPerRow));
  const std::int32_t height = std::int32_t(std::ceil(rows));
  if (!(factor > 1.0) || !std::isfinite(factor) || channels < 1 || width < 1 || height < 1) {
    return outpixbegin(source, paint, matrix, resolution, scale, word1, word2, rows, samplesPerRow,
                       channels, colourModel, channelMapping, flag, part);
  }
  const bool smoothing = UseDownsamplerSmoothing();
  for (int c = 0; c < channels; ++c) {
    mDownsamplers.push_back(std::make_unique<TavGen::Downsampler>(100.0, 100.0 / factor, width, height, smoothing));
    mImageBuffers.emplace_back(std::size_t(width) + 4, 0);
  }
  const std::int32_t newRows = mDownsamplers.front()->resizeY(height);
  const std::int32_t newWidth = mDownsamplers.front()->resize(width);
  TavDB::tv_matrixtyp<double> m = matrix;
  const double sx = double(width) / newWidth, sy = double(height) / newRows;
  m.a *= sx;
  m.b *= sx;
  m.c *= sy;
  m.d *= sy;
  mImageChannels = channels;
  mImageRowsDue = newRows;
  mImageRowsWritten = 0;
  mImageRowWidth = newWidth;
  mImageRow.assign(std::size_t(newWidth) * std::size_t(channels), 0);
  proofimghan* handler = outpixbegin(source, paint, m, resolution, scale, word1, word2, newRows,
                                     newWidth, channels, colourModel, channelMapping, flag, part);
  if (handler == nullptr) EndImage(nullptr);
  return handler;
}

int genproof::WriteImageRow(proofimghan* handler, const std::uint8_t* row, int samplesPerRow,
                            int channels) {
  if (mImageChannels == 0) return outpixrow(handler, row, samplesPerRow, channels);
  const int n = std::min(channels, mImageChannels);
  const std::size_t width = mImageBuffers.front().size() - 4;
  const std::size_t given = std::min<std::size_t>(width, std::size_t(std::max(samplesPerRow, 0)));
  for (int c = 0; c < n; ++c) {
    std::vector<std::int32_t>& buffer = mImageBuffers[std::size_t(c)];
    for (std::size_t x = 0; x < given; ++x) buffer[x] = row[x * std::size_t(channels) + std::size_t(c)];
    mDownsamplers[std::size_t(c)]->stuff(buffer.data());
  }
  if (!mDownsamplers.front()->ready()) return 0;
  for (int c = 0; c < mImageChannels; ++c) {
    std::vector<std::int32_t>& buffer = mImageBuffers[std::size_t(c)];
    mDownsamplers[std::size_t(c)]->get(buffer.data());
    for (std::int32_t x = 0; x < mImageRowWidth; ++x) {
      mImageRow[std::size_t(x) * std::size_t(mImageChannels) + std::size_t(c)] = lowByte(buffer[std::size_t(x)]);
    }
  }
  ++mImageRowsWritten;
  return outpixrow(handler, mImageRow.data(), mImageRowWidth, mImageChannels);
}

void genproof::EndImage(proofimghan* handler) {
  if (mImageChannels != 0 && handler != nullptr) {
    while (mImageRowsWritten < mImageRowsDue) {
      bool any = false;
      for (int c = 0; c < mImageChannels; ++c) {
        std::vector<std::int32_t>& buffer = mImageBuffers[std::size_t(c)];
        if (!mDownsamplers[std::size_t(c)]->getlastline(buffer.data())) continue;
        any = true;
        for (std::int32_t x = 0; x < mImageRowWidth; ++x) {
          mImageRow[std::size_t(x) * std::size_t(mImageChannels) + std::size_t(c)] = lowByte(buffer[std::size_t(x)]);
        }
      }
      if (!any) break;
      ++mImageRowsWritten;
      outpixrow(handler, mImageRow.data(), mImageRowWidth, mImageChannels);
    }
  }
  mDownsamplers.clear();
  mImageBuffers.clear();
  mImageRow.clear();
  mImageChannels = 0;
  if (handler != nullptr) outpixend(handler);
}

void genproof::AbandonImage(proofimghan* handler) {
  if (handler != nullptr) outpixabandon(handler);
  mImageRowsDue = mImageRowsWritten;
  EndImage(handler);
}

// ---- placed pixel pictures ---------------------------------------------------

// The placement gives the corner of the first pixel and the corners at the
// ends of the first row (width direction) and of the first column (height
// direction); the matrix maps pixel steps to points: (a, b) per column,
// (c, d) per row upwards, (e, f) the first pixel's corner.
TavDB::tv_matrixtyp<double> genproof::PlacementMatrix(const Paint& paint, double columns,
                                                      double rows) const {
  TavDB::tv_matrixtyp<double> m{0, 0, 0, 0, 0, 0};
  if (!(columns > 0) || !(rows > 0)) return m;
  const double k = mScale * 72.0 / TavDB::getppi(mJob);
  const TavDB::tv_point o = paint.placeOrigin;
  const double wv = (double(paint.placeWidthCorner.v) - o.v) / columns;
  const double wh = (double(paint.placeWidthCorner.h) - o.h) / columns;
  const double hv = (double(paint.placeHeightCorner.v) - o.v) / rows;
  const double hh = (double(paint.placeHeightCorner.h) - o.h) / rows;
  m.a = wh * k;
  m.b = -wv * k;
  m.c = -hh * k;
  m.d = hv * k;
  m.e = (double(o.h) - mOriginH) * k;
  m.f = (double(mOriginV) - o.v) * k;
  return m;
}

void genproof::GetPictureMatrix(const Paint* paint, double& a, double& b, double& c, double& d,
                                double& e, double& f) const {
  double columns = 0, rows = 0;
  if (paint != nullptr && paint->type == kPaintPicture) {
    if (const Picture* p = picpoi(mJob, paint->picture)) columns = p->width, rows = p->height;
  } else if (paint != nullptr && paint->type == kPaintMap) {
    if (const PictureMap* m = mappoi(mJob, paint->map)) columns = m->width, rows = m->height;
  }
  TavDB::tv_matrixtyp<double> m{0, 0, 0, 0, 0, 0};
  if (paint != nullptr) m = PlacementMatrix(*paint, columns, rows);
  a = m.a, b = m.b, c = m.c, d = m.d, e = m.e, f = m.f;
}

int genproof::OutputPlacedPixels(TavDB::Object* object) { return OutputPixelFile(object, nullptr); }

int genproof::OutputPixelFile(TavDB::Object* object, const PixelRowConversion* conversion) {
  const Paint* paint = object != nullptr ? paipoi(mJob, object->paint()) : nullptr;
  const TavSys::filref* file = paint != nullptr ? picfilref(mJob, paint->picture) : nullptr;
  if (file == nullptr || file->empty()) return 4;
  const std::string name = file->getNameAsUtf8();
  std::unique_ptr<TavSys::pixreatyp> reader;
  try {
    reader = std::make_unique<TavSys::pixreatyp>(file->getFullPathAsUtf8());
  } catch (const TavSys::Error& e) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file->getFullPathAsUtf8(), ec)) throw TavSys::PictureFileMissing(name);
    throw TavSys::PictureUnreadable(name, e.detail());
  }
  const TavSys::PixelHeader& h = TavSys::pixreabeg(*reader);
  const bool layout = (h.model == TavSys::kPixelRGB && h.channels == 3) ||
                      (h.model == TavSys::kPixelCMYK && h.channels == 4) ||
                      ((h.model == TavSys::kPixelGray || h.model == TavSys::kPixelBitmap) && h.channels == 1);
  if (!layout) throw TavSys::PictureUnreadable(name, "a channel layout the writer cannot write");
  std::vector<std::uint8_t> row;
  try {
    row.resize(h.rowBytes());
  } catch (const std::bad_alloc&) {
    return 2;
  }
  double resolution = h.resolution;
  if (!(resolution > 0)) resolution = picpoi(mJob, paint->picture)->resolution;
  if (!(resolution > 0)) resolution = 72;
  std::vector<std::uint8_t> converted;
  if (conversion != nullptr) {
    try {
      converted.resize(std::size_t(h.width) * std::size_t(conversion->planes));
    } catch (const std::bad_alloc&) {
      return 2;
    }
  }
  const int planes = conversion != nullptr ? conversion->planes : h.channels;
  const TavDB::tv_matrixtyp<double> m = PlacementMatrix(*paint, h.width, h.rows);
  proofimghan* handler =
      conversion != nullptr
          ? OutputPictureDownsampled(file, paint, m, int(std::lround(resolution)), 1, 0, 0, h.rows, h.width, planes,
                                     conversion->model, nullptr, conversion->decode, conversion->space)
          : OutputPictureDownsampled(file, paint, m, int(std::lround(resolution)), 1, 0, 0, h.rows, h.width,
                                     h.channels, h.model, nullptr, false, nullptr);
  if (handler == nullptr) return 0;
  handler->Begin();
  for (std::int32_t y = 0; y < h.rows; ++y) {
    try {
      TavSys::pixrea(*reader, row.data());
    } catch (const TavSys::Error& e) {
      // The image is closed; the file that holds it is given up.
      AbandonImage(handler);
      throw TavSys::PictureUnreadable(name, e.detail());
    }
    const std::uint8_t* samples = row.data();
    if (conversion != nullptr) {
      conversion->convert(row.data(), h.width, converted.data());
      samples = converted.data();
    }
    if (WriteImageRow(handler, samples, h.width, planes) != 0) break;
    ReportProgress(mProgressCount, mProgressTotal);
    if (mCancelled) {
      EndImage(handler);
      return -2;
    }
  }
  EndImage(handler);
  return 0;
}

// ---- gradations ---------------------------------------------------------------

ColorSpace* genproof::CreateGradientColorSpace(TavDB::Object* object, int& model, const Paint* paint,
                                               ColorSpace*& space, int& channels) {
  model = 8;
  space = nullptr;
  channels = 0;
  if (object == nullptr || paint == nullptr) return nullptr;
  std::vector<std::uint16_t> colours;
  if (paint->type == kPaintGradation) {
    for (const GradationStep& s : paint->steps) colours.push_back(s.colour);
  } else {
    colours = {paint->colour, paint->colour2};
  }
  if (colours.empty()) return nullptr;
  std::array<std::uint16_t, kMaxSeparations> first = colsep16(mJob, colours.front());
  std::unique_ptr<ColorSpace> start(GetSeparationColorSpace(first.data(), 0, 0, true, false, false, true, false));
  std::unique_ptr<ColorSpace> result(
      GetSeparationColorSpace(first.data(), 1, kTintFull, true, false, false, false, false));
  if (!start || !result) return nullptr;
  for (std::size_t i = 1; i < colours.size(); ++i) {
    std::array<std::uint16_t, kMaxSeparations> t = colsep16(mJob, colours[i]);
    std::unique_ptr<ColorSpace> zero(GetSeparationColorSpace(t.data(), 0, 0, true, false, false, true, false));
    std::unique_ptr<ColorSpace> inked(GetSeparationColorSpace(t.data(), 1, kTintFull, true, false, false, false, false));
    if (zero) start->Unite(*zero);
    if (inked) result->Unite(*inked);
  }
  // The start space selects the colour in the stream, part by part.
  const int parts = start->pdfGetNumParts();
  if (parts < 2) {
    WriteColorSpaceColor(start.get(), first.data(), 1, 0);
  } else {
    for (int p = 0; p < parts; ++p) {
      std::unique_ptr<CsMasked> piece(start->pdfGetPart(p));
      if (piece) WriteColorSpaceColor(piece.get(), first.data(), 1, 0);
    }
  }
  channels = result->GetSepCount();
  if (result->IsDeviceGray()) model = 1;
  space = result.release();
  return space;
}

void genproof::OutputGradationImage(TavDB::Object* object) {
  const Paint* paint = object != nullptr ? paipoi(mJob, object->paint()) : nullptr;
  if (paint == nullptr || mGradationResolution < 1 || degisalltra(mJob, *paint)) return;

  // The object's rectangle, cut to the job box when it is larger than both
  // 1,000,000 job units and the job box.
  TavDB::tv_box r = object->bounds();
  const TavSys::tv_rectangle job = getboxconst(mJob, 0);
  const double limit = std::max({1000000.0, job.bottom - job.top, job.right - job.left});
  if (double(r.height()) > limit || double(r.width()) > limit) {
    auto cut = [](double v) { return std::int32_t(std::clamp(std::round(v), -2.0e9, 2.0e9)); };
    r.top = std::max(r.top, cut(job.top));
    r.left = std::max(r.left, cut(job.left));
    r.bottom = std::min(r.bottom, cut(job.bottom));
    r.right = std::min(r.right, cut(job.right));
  }
  const double step = double(TavDB::getppi(mJob)) / mGradationResolution;
  const double unroundedWidth = double(r.width()) / step, unroundedHeight = double(r.height()) / step;
  const double w = std::ceil(unroundedWidth), h = std::ceil(unroundedHeight);
  if (!(w >= 1) || !(h >= 1)) return;
  if (w > kMaxGradationWidth || w * h > kMaxGradationPixels) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/GRADATION TOO LARGE",
                        "a gradation of " + std::to_string(std::int64_t(w)) + " x " +
                            std::to_string(std::int64_t(h)) + " pixels");
  }
  const std::int32_t width = std::int32_t(w), height = std::int32_t(h);

  double x0, y0, x1, y1;
  TransformPoint(r.top, r.left, x0, y0);
  TransformPoint(r.bottom, r.right, x1, y1);
  const TavDB::tv_matrixtyp<double> matrix{(x1 - x0) / unroundedWidth, 0, 0, (y0 - y1) / unroundedHeight, x0, y0};

  // One image: rendered into the handler through a collector.
  auto render = [&](int channels, int model, const std::vector<std::int32_t>& mapping, ColorSpace* part,
                    bool invert) {
    proofimghan* handler =
        outpixbegin(nullptr, paint, matrix, mGradationResolution, 1, 0, 0, height, width, channels, model,
                    model == 5 ? nullptr : mapping.data(), false, part);
    if (handler == nullptr) return;
    RowCollector collector(*this, handler, width, channels, invert);
    GradationOutput output(mJob, mSeparationMode);
    output.SetSeparationMapping(mapping.data(), channels);
    output.SetOutput(&collector);
    try {
      output.MakeOutput(*paint, r.top, r.left, height, width, step);
    } catch (...) {
      outpixend(handler);
      throw;
    }
    if (collector.pending() != 0) {
      TavSys::debug("Not flushed a whole tiff : " + std::to_string(collector.pending()) + " left");
    }
    outpixend(handler);
  };

  if (mSeparationMode == kCompositeProcess) {
    render(4, 5, {}, nullptr, false);
    return;
  }
  if (mSeparationMode != kColorSpaceObjects) {
    render(1, 7, {mSeparationMode}, nullptr, false);
    return;
  }
  int model = 8, channels = 0;
  ColorSpace* given = nullptr;
  CreateGradientColorSpace(object, model, paint, given, channels);
  std::unique_ptr<ColorSpace> space(given);
  if (!space || space->IsEmpty()) return;
  const int parts = space->pdfGetNumParts();
  for (int p = 0; p < parts && !mCancelled; ++p) {
    std::unique_ptr<CsMasked> part(space->pdfGetPart(p));
    if (!part) continue;
    const std::vector<int> seps = ImageComponentSeparations(mJob, *part);
    const std::vector<std::int32_t> mapping(seps.begin(), seps.end());
    if (mapping.empty()) continue;
    // A part that overprints (a later part, or a gradient that leaves inks
    // untouched) does so as an image too: the overprint mode spares no
    // image's zeros, so its space names only the inks it paints.
    if (part->GetOverprint()) SetOverprint(true);
    render(int(mapping.size()), model, mapping, part.get(), model == 1);
  }
}
