#include "platform/kernel/screenrender.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "platform/kernel/gradationoutput.h"
#include "platform/kernel/job.h"
#include "platform/kernel/separatedpreview.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/kernel/tavdb.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace SC {

namespace {


class JobSeparationFilter : public SeparationFilter {
 public:
  explicit JobSeparationFilter(const jobstr* job) : mJob(job) {}
  bool Passes(int sep) const override {
    return sepsoruse(mJob, sep, false) >= 0 && seppdftyp::NeedsOutputting(mJob, sep);
  }

 private:
  const jobstr* mJob;
};

// The CMYK equivalent (0..1) of ink planes: per component 1 - Π(1 - t v).
struct InkMixer {
  std::vector<std::array<double, 4>> cmyk;  // per plane, 0..1
  void Mix(const std::uint8_t* planes, std::uint8_t* out) const {
    double keep[4] = {1, 1, 1, 1};
    for (std::size_t p = 0; p < cmyk.size(); ++p) {
      const double t = planes[p] / 255.0;
      if (t == 0) continue;
      for (int k = 0; k < 4; ++k) keep[k] *= 1 - t * cmyk[p][std::size_t(k)];
    }
    for (int k = 0; k < 4; ++k) out[k] = std::uint8_t(std::lround((1 - keep[k]) * 255));
  }
};

std::array<double, 4> separationCmyk(const jobstr* job, int sep) {
  std::uint8_t c = 0, m = 0, y = 0, k = 0;
  sepcmyk(job, sep, c, m, y, k);
  return {c / 100.0, m / 100.0, y / 100.0, k / 100.0};
}

// Reads a pixel file down (or up) to `w` x `h` by nearest rows and columns and hands each output row
// as packed RGB to `take(outputRow, rgb)`; returns the number of rows handed over.
template <typename Take>
std::int32_t ReadScaledRgbRows(TavSys::pixreatyp& reader, const CmykToRgb& converter, std::int32_t w,
                               std::int32_t h, Take take) {
  const TavSys::PixelHeader& head = reader.header();
  std::vector<std::uint8_t> row(head.rowBytes()), cmyk(std::size_t(w) * 4), rgb(std::size_t(w) * 3);
  const std::size_t channels = std::size_t(head.channels);
  std::int32_t next = 0;
  for (std::int32_t y = 0; y < head.rows && next < h; ++y) {
    reader.readRow(row.data());
    // This source row may serve several output rows.
    while (next < h && std::int32_t((next + 0.5) * head.rows / h) == y) {
      for (std::int32_t x = 0; x < w; ++x) {
        const std::uint8_t* px = row.data() + std::size_t((x + 0.5) * head.width / w) * channels;
        std::uint8_t* r = rgb.data() + std::size_t(x) * 3;
        if (channels == 1) {
          r[0] = r[1] = r[2] = px[0];
        } else if (channels == 3) {
          std::memcpy(r, px, 3);
        } else {
          for (std::size_t k = 0; k < 4; ++k) cmyk[std::size_t(x) * 4 + k] = k < channels ? px[k] : 0;
        }
      }
      if (channels != 1 && channels != 3) converter.ConvertRow(cmyk.data(), rgb.data(), std::size_t(w));
      take(next, rgb.data());
      ++next;
    }
  }
  return next;
}

// The planes of a rendering handed out as RGB rows: each pixel's inks mixed
// into CMYK through their process equivalents, then converted.
// With `samples` > 1 the planes hold samples x samples sample pixels for
// each pixel, averaged per ink before the inks are mixed.
class PlanesToRgb : public RgbConverter {
 public:
  PlanesToRgb(const jobstr* job, std::unique_ptr<TavricLib::SeparatedPreview> planes, const std::string& profile,
              bool littleEndian, int samples = 1)
      : mPlanes(std::move(planes)), mRgb(profile), mLittleEndian(littleEndian), mSamples(samples) {
    if (!mPlanes) return;
    for (int p = 0; p < mPlanes->GetPlaneCount(); ++p) mMixer.cmyk.push_back(separationCmyk(job, mPlanes->GetPlaneSeparation(p)));
  }
  bool NextRow(std::uint8_t* row) override {
    if (!mPlanes || mRow >= mPlanes->GetHeight() / mSamples) return false;
    const int w = mPlanes->GetWidth() / mSamples, n = mPlanes->GetPlaneCount();
    std::vector<std::uint8_t> inks(static_cast<std::size_t>(n)), cmyk(std::size_t(w) * 4), rgb(std::size_t(w) * 3);
    std::vector<const std::uint8_t*> lines(static_cast<std::size_t>(n));
    if (mSamples > 1) {
      AverageSamples(w, n);
      for (int p = 0; p < n; ++p) lines[std::size_t(p)] = mAveraged.data() + std::size_t(p) * std::size_t(w);
    } else {
      for (int p = 0; p < n; ++p) lines[std::size_t(p)] = mPlanes->GetScanLine(p, mRow);
    }
    for (int x = 0; x < w; ++x) {
      // A pixel with the inks of the one before it takes that one's CMYK.
      bool same = x > 0;
      for (int p = 0; p < n; ++p) {
        const std::uint8_t ink = lines[std::size_t(p)][x];
        same = same && ink == inks[std::size_t(p)];
        inks[std::size_t(p)] = ink;
      }
      std::uint8_t* out = cmyk.data() + std::size_t(x) * 4;
      if (same) {
        std::memcpy(out, out - 4, 4);
      } else {
        mMixer.Mix(inks.data(), out);
      }
    }
    mRgb.ConvertRow(cmyk.data(), rgb.data(), std::size_t(w));
    for (int x = 0; x < w; ++x, row += 4) {
      const std::uint8_t* c = rgb.data() + std::size_t(x) * 3;
      if (mLittleEndian) {
        row[0] = c[2], row[1] = c[1], row[2] = c[0], row[3] = 0;
      } else {
        row[0] = 0, row[1] = c[0], row[2] = c[1], row[3] = c[2];
      }
    }
    ++mRow;
    return true;
  }

 private:
  // Each plane's samples of the current row, averaged (rounded) into
  // mAveraged, plane after plane.
  void AverageSamples(int w, int n) {
    mAveraged.resize(std::size_t(w) * std::size_t(n));
    mSums.resize(std::size_t(w));
    for (int p = 0; p < n; ++p) {
      std::fill(mSums.begin(), mSums.end(), 0u);
      for (int dy = 0; dy < mSamples; ++dy) {
        const std::uint8_t* line = mPlanes->GetScanLine(p, mRow * mSamples + dy);
        // The usual four samples a side with the count known, so that the
        // sums are made many pixels at a time.
        if (mSamples == 4) {
          SumRow<4>(line, w);
        } else {
          SumRow<0>(line, w);
        }
      }
      const std::uint32_t count = std::uint32_t(mSamples * mSamples);
      std::uint8_t* out = mAveraged.data() + std::size_t(p) * std::size_t(w);
      for (int x = 0; x < w; ++x) out[x] = std::uint8_t((mSums[std::size_t(x)] + count / 2) / count);
    }
  }

  // Adds each pixel's samples of one sample row to its sum (K 0: mSamples).
  template <int K>
  void SumRow(const std::uint8_t* line, int w) {
    const int k = K > 0 ? K : mSamples;
    std::uint32_t* sums = mSums.data();
    int x = 0;
    if constexpr (K == 4) {
      // Two pixels' eight samples a word: bytes added in pairs, then pairs.
      for (; x + 2 <= w; x += 2) {
        std::uint64_t v;
        std::memcpy(&v, line + x * 4, 8);
        v = (v & 0x00ff00ff00ff00ffULL) + ((v >> 8) & 0x00ff00ff00ff00ffULL);
        v = (v & 0x0000ffff0000ffffULL) + ((v >> 16) & 0x0000ffff0000ffffULL);
        sums[x] += std::uint32_t(v & 0xffffffffULL);
        sums[x + 1] += std::uint32_t(v >> 32);
      }
    }
    for (; x < w; ++x) {
      std::uint32_t sum = 0;
      for (int dx = 0; dx < k; ++dx) sum += line[x * k + dx];
      sums[x] += sum;
    }
  }

  std::unique_ptr<TavricLib::SeparatedPreview> mPlanes;
  InkMixer mMixer;
  CmykToRgb mRgb;
  bool mLittleEndian;
  int mSamples;
  int mRow = 0;
  std::vector<std::uint8_t> mAveraged;
  std::vector<std::uint32_t> mSums;
};

// Sample pixels kept for a supersampled rendering at most: beyond it the
// samples per pixel are lowered, down to the exact smoothing.
constexpr std::uint64_t kMaxSampleBytes = std::uint64_t(32) << 20;

}  // namespace

std::unique_ptr<SeparationFilter> SeparationTableJobFactory(const jobstr* job, int, int, int) {
  return std::make_unique<JobSeparationFilter>(job);
}

std::int64_t Options::Get(const std::string& key, std::int64_t fallback) const {
  auto it = mValues.find(key);
  return it != mValues.end() ? it->second : fallback;
}

std::unique_ptr<Options> OptionsPreviewFactory() { return std::make_unique<Options>(); }

void* OpenCmykProfileTransform(const std::string& profilePath, bool toCmyk) {
  std::error_code ec;
  if (profilePath.empty() || !std::filesystem::is_regular_file(profilePath, ec)) return nullptr;
  cmsHPROFILE cmyk = cmsOpenProfileFromFile(profilePath.c_str(), "r");
  if (cmyk == nullptr) return nullptr;
  cmsHTRANSFORM transform = nullptr;
  if (cmsGetColorSpace(cmyk) == cmsSigCmykData) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    transform = toCmyk ? cmsCreateTransform(srgb, TYPE_RGB_8, cmyk, TYPE_CMYK_8, INTENT_PERCEPTUAL, 0)
                       : cmsCreateTransform(cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    cmsCloseProfile(srgb);
  }
  cmsCloseProfile(cmyk);
  return transform;
}

CmykToRgb::CmykToRgb(const std::string& profilePath) : mTransform(OpenCmykProfileTransform(profilePath, false)) {}

CmykToRgb::~CmykToRgb() {
  if (mTransform != nullptr) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(mTransform));
}

void CmykToRgb::ConvertRow(const std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t n) const {
  if (mTransform != nullptr) {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(mTransform), cmyk, rgb, cmsUInt32Number(n));
    return;
  }
  if (mComplement) {
    for (std::size_t i = 0; i < n; ++i, cmyk += 4, rgb += 3) {
      for (int k = 0; k < 3; ++k) rgb[k] = std::uint8_t(255 - std::min(255, cmyk[k] + cmyk[3]));
    }
    return;
  }
  // Rendered rows are mostly runs of one colour: a pixel like the one
  // before it takes that one's RGB.
  for (std::size_t i = 0; i < n; ++i, cmyk += 4, rgb += 3) {
    if (i > 0 && std::memcmp(cmyk, cmyk - 4, 4) == 0) {
      std::memcpy(rgb, rgb - 3, 3);
    } else {
      ViewerCmykToRgb(cmyk, rgb);
    }
  }
}

namespace {

// The RGB a PDF viewer without colour management shows for each corner of
// the CMYK cube, indexed C * 8 + M * 4 + Y * 2 + K (each 0 or 1). Measured
// by rendering solid patches: these are printed-ink colours, not the naive
// complements (cyan is a light blue, C + M a violet, full black not quite
// black without the other inks).
constexpr std::uint8_t kCmykCorners[16][3] = {
    {255, 255, 255}, {35, 31, 32},  //  -     K
    {255, 242, 0},   {28, 26, 0},   //  Y     Y K
    {236, 0, 140},   {36, 0, 0},    //  M     M K
    {237, 28, 36},   {34, 0, 0},    //  M Y   M Y K
    {0, 173, 239},   {0, 15, 36},   //  C     C K
    {0, 166, 80},    {0, 19, 0},    //  C Y   C Y K
    {46, 49, 146},   {0, 0, 2},     //  C M   C M K
    {54, 54, 57},    {0, 0, 0},     //  C M Y C M Y K
};

}  // namespace

void ViewerCmykToRgb(const std::uint8_t cmyk[4], std::uint8_t rgb[3]) {
  // Between the corners the viewer's colours are multilinear in C, M, Y and
  // K (patches inside the cube agree with it to rounding): interpolate along
  // C, then M, then Y, then K.
  double t[4];
  for (int k = 0; k < 4; ++k) t[k] = cmyk[k] / 255.0;
  for (int channel = 0; channel < 3; ++channel) {
    double v[16];
    for (int i = 0; i < 16; ++i) v[i] = kCmykCorners[i][channel];
    int count = 16;
    for (int axis = 0; axis < 4; ++axis) {
      // The first half of the remaining corners has this axis at 0, the
      // second at 1.
      count /= 2;
      for (int i = 0; i < count; ++i) v[i] += (v[i + count] - v[i]) * t[axis];
    }
    rgb[channel] = std::uint8_t(std::clamp(std::lround(v[0]), 0L, 255L));
  }
}

std::unique_ptr<Environment> EnvironmentFactory(const jobstr* job, const TavSys::tv_rectangle& box, int width,
                                                int height) {
  auto env = std::make_unique<Environment>();
  env->job = job;
  env->box = box;
  env->width = width;
  env->height = height;
  return env;
}

std::unique_ptr<CacheObject> CacheObjectFactory(const jobstr*) { return std::make_unique<CacheObject>(); }

std::unique_ptr<RgbConverter> RgbConverterFactory(const Environment& env, const SeparationFilter& filter,
                                                  const Options& options, const TavDB::Object* tree,
                                                  CacheObject&) {
  const bool littleEndian = options.Get("LittleEndian", 1) != 0;
  if (env.width < 1 || env.height < 1 || env.job == nullptr) {
    return std::make_unique<PlanesToRgb>(env.job, nullptr, env.cmykProfile, littleEndian);
  }
  TavricLib::SeparatedPreviewOptions o;
  o.antiAliasing = 2;
  o.layerMask = std::uint32_t(options.Get("QueryLayerMask", 0x60000));
  o.layerTarget = std::uint32_t(options.Get("QueryLayerTarget", 0));
  o.layout = env.layout;
  o.stationNumber = false;
  o.cmykProfile = env.cmykProfile;
  for (int s = 0; s < std::min(sepfrejob(env.job), kMaxSeparations); ++s) {
    if (sepsoruse(env.job, s, false) >= 0 && filter.Passes(s)) o.separations.push_back(s);
  }
  // Nothing passes: no plane, a white raster.
  if (o.separations.empty()) o.separations.push_back(-1);
  // The planes and the coverage plane of the samples.
  const std::uint64_t planeCount = o.separations.size() + 1;
  int samples = int(std::clamp<std::int64_t>(options.Get("Supersample", 1), 1, 16));
  while (samples > 1 && std::uint64_t(env.width) * std::uint64_t(env.height) * std::uint64_t(samples * samples) *
                                planeCount > kMaxSampleBytes) {
    --samples;
  }
  if (samples > 1) o.antiAliasing = 1, o.pixelCentres = true;
  auto planes = std::make_unique<TavricLib::SeparatedPreview>(env.job, env.box, env.width * samples,
                                                              env.height * samples, o);
  if (tree != nullptr) planes->Render(tree);
  return std::make_unique<PlanesToRgb>(env.job, std::move(planes), env.cmykProfile, littleEndian, samples);
}

PicturePixelBuffer GetPicturePixelBuffer(const jobstr* job, int pictureIndex) {
  PicturePixelBuffer buffer;
  const Picture* picture = picpoi(job, pictureIndex);
  if (picture == nullptr || picisvectorformat(job, pictureIndex)) return buffer;
  try {
    TavSys::pixreatyp reader(picture->file.getFullPathAsUtf8());
    const TavSys::PixelHeader& head = reader.header();
    double resolution = head.resolution > 0 ? head.resolution : picture->resolution;
    if (!(resolution > 0)) resolution = 72;
    // One pixel per point, never more than the picture has.
    const double scale = std::min(1.0, 72.0 / resolution);
    const std::int32_t w = std::max(1, std::int32_t(std::lround(head.width * scale)));
    const std::int32_t h = std::max(1, std::int32_t(std::lround(head.rows * scale)));
    // The preview is turned back into CMYK (TavGen::rgbcmyk), so the
    // conversion is the one that undoes it, not the viewer's colours.
    const CmykToRgb plain{CmykToRgb::Complement{}};
    buffer.pixels.resize(std::size_t(w) * std::size_t(h) * 4);
    const std::int32_t next = ReadScaledRgbRows(reader, plain, w, h, [&](std::int32_t y, const std::uint8_t* rgb) {
      std::uint8_t* out = buffer.pixels.data() + std::size_t(y) * std::size_t(w) * 4;
      for (std::int32_t x = 0; x < w; ++x, out += 4, rgb += 3) {
        out[0] = 0;
        std::memcpy(out + 1, rgb, 3);
      }
    });
    buffer.width = w;
    buffer.height = next;
    buffer.pixels.resize(std::size_t(w) * std::size_t(next) * 4);
  } catch (const TavSys::Error& e) {
    TavSys::debug("SC: preview of " + picture->file.getNameAsUtf8() + ": " + e.detail());
    return PicturePixelBuffer{};
  }
  return buffer;
}

}  // namespace SC

namespace TavGen {

void rgbcmyk(double r, double g, double b, double blackStart, double blackAmount, double cmyk[4]) {
  const double c = 1 - std::clamp(r, 0.0, 1.0), m = 1 - std::clamp(g, 0.0, 1.0), y = 1 - std::clamp(b, 0.0, 1.0);
  const double common = std::min({c, m, y});
  const double k = common > blackStart ? (common - blackStart) * std::clamp(blackAmount, 0.0, 1.0) : 0.0;
  cmyk[0] = c - k;
  cmyk[1] = m - k;
  cmyk[2] = y - k;
  cmyk[3] = k;
}

}  // namespace TavGen
