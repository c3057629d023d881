#include "platform/pixelreader.h"

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include "platform/tav_error.h"
#include "platform/tifflibrary.h"

namespace TavSys {

namespace {

constexpr const char* kUnsupported = "PDF/UNSUPPORTED PICTURE TYPE";
// libjpeg may hold a progressive file's coefficients; more is refused.
constexpr long kMaxJpegMemory = 256L << 20;

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw Error(kResultAbandoned, kUnsupported,
              std::filesystem::path(path).filename().string() + ": " + why)
      .with("__FILENAME__", std::filesystem::path(path).filename().string());
}

double sensibleResolution(double r) { return std::isfinite(r) && r > 0 && r < 1e6 ? r : 0; }

}  // namespace

class pixreatyp::Source {
 public:
  virtual ~Source() = default;
  virtual void readRow(std::uint8_t* row) = 0;
};

namespace {

// ---- TIFF ------------------------------------------------------------------

int tiffMessage(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  auto* last = static_cast<std::string*>(user);
  *last = (module != nullptr ? std::string(module) + ": " : std::string()) + text;
  return 1;  // handled: nothing goes to stderr
}

int tiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

class TiffSource final : public pixreatyp::Source {
 public:
  TiffSource(const std::string& path, PixelHeader& header) : path_(path) {
    std::string why;
    tiff_ = TavSys::TiffLibrary().Get(why);
    if (tiff_ == nullptr) fail("TIFF files cannot be read: " + why);
    tif_ = {nullptr, tiff_->close};
    TIFFOpenOptions* options = tiff_->openOptionsAlloc();
    tiff_->openOptionsSetErrorHandlerExtR(options, tiffMessage, &lastError_);
    tiff_->openOptionsSetWarningHandlerExtR(options, tiffWarning, nullptr);
    tiff_->openOptionsSetMaxSingleMemAlloc(options, tmsize_t(pixreatyp::kMaxBufferBytes));
    // Read, not mapped: a file that shrinks while it is read gives an
    // error, where a mapping would kill the process (SIGBUS); and the
    // picture's pages do not count against the process's memory.
    tif_.reset(tiff_->openExt(path.c_str(), "rm", options));
    tiff_->openOptionsFree(options);
    if (!tif_) fail("not a readable TIFF file");
    readHeader(header);
  }

  void readRow(std::uint8_t* row) override {
    const std::uint8_t* raw = nullptr;
    if (tiled_) {
      if (row_ % tileRows_ == 0) loadTileRow();
      raw = band_.data() + std::size_t(row_ % tileRows_) * rawRowBytes_;
    } else {
      if (tiff_->readScanline(tif_.get(), scan_.data(), std::uint32_t(row_), 0) < 0) fail("damaged pixel data");
      raw = scan_.data();
    }
    convert(raw, row);
    ++row_;
  }

 private:
  [[noreturn]] void fail(const std::string& why) {
    refuse(path_, lastError_.empty() ? why : why + " (" + lastError_ + ")");
  }

  void readHeader(PixelHeader& h) {
    std::uint32_t width = 0, rows = 0;
    std::uint16_t bits = 0, spp = 0, photometric = 0, planar = 0, format = 0, inkset = 0;
    std::uint16_t compression = 0;
    if (!tiff_->getField(tif_.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !tiff_->getField(tif_.get(), TIFFTAG_IMAGELENGTH, &rows) || width == 0 || rows == 0) {
      fail("the picture has no size");
    }
    if (width > 0x7FFFFFFF || rows > 0x7FFFFFFF) fail("the picture is too large");
    if (std::uint64_t(width) * rows > pixreatyp::kMaxPixels) {
      fail("the picture claims " + std::to_string(width) + " x " + std::to_string(rows) +
           " pixels, more than a picture may have");
    }
    tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_PLANARCONFIG, &planar);
    tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_SAMPLEFORMAT, &format);
    tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_COMPRESSION, &compression);
    if (!tiff_->getField(tif_.get(), TIFFTAG_PHOTOMETRIC, &photometric)) fail("the colour model is missing");
    if (!tiff_->isCodecConfigured(compression)) fail("the compression is not supported");
    if (format != SAMPLEFORMAT_UINT) fail("only unsigned integer samples are supported");
    if (bits != 8 && bits != 1) fail("only 1 and 8 bits per sample are supported");
    if (spp == 0) fail("the picture has no channels");
    if (planar != PLANARCONFIG_CONTIG && spp > 1) fail("separate colour planes are not supported");

    // Alpha channels are dropped; unspecified extra channels are further inks.
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    if (extraCount > spp) fail("more extra channels than channels");
    const int base = spp - extraCount;
    keep_.clear();
    for (int s = 0; s < spp; ++s) {
      const bool alpha = s >= base && extraTypes != nullptr &&
                         (extraTypes[s - base] == EXTRASAMPLE_ASSOCALPHA ||
                          extraTypes[s - base] == EXTRASAMPLE_UNASSALPHA);
      if (!alpha) keep_.push_back(s);
    }

    const int kept = int(keep_.size());
    switch (photometric) {
      case PHOTOMETRIC_MINISWHITE:
      case PHOTOMETRIC_MINISBLACK:
        if (base != 1 || kept != 1) fail("a gray picture must have one channel");
        h.model = bits == 1 ? kPixelBitmap : kPixelGray;
        invert_ = photometric == PHOTOMETRIC_MINISWHITE;
        break;
      case PHOTOMETRIC_RGB:
        if (base != 3 || kept != 3) fail("an RGB picture must have three channels");
        h.model = kPixelRGB;
        break;
      case PHOTOMETRIC_SEPARATED:
        tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_INKSET, &inkset);
        h.model = inkset == INKSET_CMYK && kept == 4 ? kPixelCMYK : kPixelMultichannel;
        if (inkset == INKSET_CMYK && base < 4) fail("a CMYK picture needs four channels");
        break;
      default:
        fail("the colour model is not gray, RGB or CMYK");
    }
    if (bits == 1 && spp != 1) fail("1-bit pictures must have one channel");

    h.channels = kept;
    h.width = std::int32_t(width);
    h.rows = std::int32_t(rows);
    h.bitsPerSample = bits;
    samples_ = spp;
    bits_ = bits;
    width_ = width;
    if (h.rowBytes() > pixreatyp::kMaxBufferBytes) fail("the rows are too long");
    rawRowBytes_ = bits == 1 ? (std::size_t(width) + 7) / 8 : std::size_t(width) * spp;

    float x = 0;
    std::uint16_t unit = RESUNIT_INCH;
    if (tiff_->getField(tif_.get(), TIFFTAG_XRESOLUTION, &x)) {
      tiff_->getFieldDefaulted(tif_.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
      if (unit == RESUNIT_INCH) h.resolution = sensibleResolution(x);
      if (unit == RESUNIT_CENTIMETER) h.resolution = sensibleResolution(x * 2.54);
    }

    checkDataCanHoldTheRows(compression, std::uint64_t(rawRowBytes_) * rows);

    tiled_ = tiff_->isTiled(tif_.get()) != 0;
    if (tiled_) {
      std::uint32_t tw = 0, th = 0;
      tiff_->getField(tif_.get(), TIFFTAG_TILEWIDTH, &tw);
      tiff_->getField(tif_.get(), TIFFTAG_TILELENGTH, &th);
      if (tw == 0 || th == 0) fail("the tiles have no size");
      const tmsize_t tileBytes = tiff_->tileSize(tif_.get());
      const std::uint64_t across = (std::uint64_t(width) + tw - 1) / tw;
      if (tileBytes <= 0 || std::uint64_t(tileBytes) * across > pixreatyp::kMaxBufferBytes ||
          std::uint64_t(th) * rawRowBytes_ > pixreatyp::kMaxBufferBytes) {
        fail("the tiles are too large");
      }
      tileCols_ = tw;
      tileRows_ = th;
      tileRowBytes_ = bits == 1 ? (std::size_t(tw) + 7) / 8 : std::size_t(tw) * spp;
      if (std::uint64_t(tileRowBytes_) * th > std::uint64_t(tileBytes)) fail("damaged tile layout");
      tile_.resize(std::size_t(tileBytes));
      band_.resize(std::size_t(th) * rawRowBytes_);
    } else {
      const tmsize_t scan = tiff_->scanlineSize(tif_.get());
      if (scan <= 0 || std::size_t(scan) < rawRowBytes_) fail("damaged strip layout");
      scan_.resize(std::size_t(scan));
    }
  }

  // A file too small to hold the rows it claims, even at the best its
  // compression can do, claims a size it does not have: it is refused before
  // a row is read. (The file's own size is the measure: libtiff makes up the
  // byte counts of a single uncompressed strip from the rows.)
  void checkDataCanHoldTheRows(std::uint16_t compression, std::uint64_t rawBytes) {
    std::uint64_t ratio = 0;  // at most this many raw bytes per stored byte
    switch (compression) {
      case COMPRESSION_NONE: ratio = 1; break;
      case COMPRESSION_PACKBITS: ratio = 64; break;
      case COMPRESSION_ADOBE_DEFLATE:
      case COMPRESSION_DEFLATE: ratio = 1100; break;
      case COMPRESSION_LZW: ratio = 4096; break;
      default: return;  // no bound known: the pixel limit holds
    }
    std::error_code ec;
    const std::uintmax_t stored = std::filesystem::file_size(path_, ec);
    if (ec) return;
    if (std::uint64_t(stored) < rawBytes / ratio) {
      fail("the file (" + std::to_string(stored) + " bytes) cannot hold the " + std::to_string(rawBytes) +
           " bytes of the rows it claims");
    }
  }

  void loadTileRow() {
    std::fill(band_.begin(), band_.end(), 0);
    const std::uint32_t width = width_;
    for (std::uint32_t x = 0; x < width; x += tileCols_) {
      const ttile_t index = tiff_->computeTile(tif_.get(), x, std::uint32_t(row_), 0, 0);
      if (tiff_->readEncodedTile(tif_.get(), index, tile_.data(), tmsize_t(tile_.size())) < 0) {
        fail("damaged tile");
      }
      const std::size_t cols = std::min<std::size_t>(tileCols_, width - x);
      const std::size_t bytes = bits_ == 1 ? (cols + 7) / 8 : cols * samples_;
      const std::size_t offset = bits_ == 1 ? x / 8 : std::size_t(x) * samples_;
      for (std::uint32_t r = 0; r < tileRows_; ++r) {
        std::memcpy(band_.data() + r * rawRowBytes_ + offset, tile_.data() + r * tileRowBytes_, bytes);
      }
    }
  }

  void convert(const std::uint8_t* raw, std::uint8_t* out) const {
    const std::size_t width = width_;
    if (bits_ == 1) {
      for (std::uint32_t i = 0; i < width_; ++i) {
        const bool set = (raw[i / 8] >> (7 - i % 8)) & 1;
        out[i] = (set != invert_) ? 255 : 0;
      }
      return;
    }
    const std::size_t kept = keep_.size();
    if (kept == std::size_t(samples_) && !invert_) {
      std::memcpy(out, raw, width * kept);
      return;
    }
    for (std::size_t x = 0; x < width; ++x) {
      for (std::size_t k = 0; k < kept; ++k) {
        const std::uint8_t v = raw[x * samples_ + std::size_t(keep_[k])];
        out[x * kept + k] = invert_ ? std::uint8_t(255 - v) : v;
      }
    }
  }

  std::string path_;
  std::string lastError_;
  const TavSys::TiffFunctions* tiff_ = nullptr;  // libtiff's, kept while the process lives
  // Closed also when the header is refused (the constructor throws).
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif_{nullptr, nullptr};
  std::vector<int> keep_;  // the file's samples that become channels
  int samples_ = 1;
  int bits_ = 8;
  std::uint32_t width_ = 0;
  bool invert_ = false;
  std::size_t rawRowBytes_ = 0;
  bool tiled_ = false;
  std::uint32_t tileCols_ = 0, tileRows_ = 0;
  std::size_t tileRowBytes_ = 0;
  std::vector<std::uint8_t> scan_, tile_, band_;
  std::int32_t row_ = 0;
};

// ---- JPEG ------------------------------------------------------------------

// libjpeg reports errors by jumping back into the call that failed; the
// functions holding the jump buffer keep only plain data in their frames.
struct JpegErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool damaged = false;  // a warning of lost pixels was given
};

void jpegErrorExit(j_common_ptr info) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
  info->err->format_message(info, manager->message);
  std::longjmp(manager->jump, 1);
}

void jpegNoOutput(j_common_ptr) {}

// Warnings that mean pixels were lost (libjpeg fills them in gray and goes
// on): the file is damaged. Others (extra bytes between segments) are not.
void jpegWarning(j_common_ptr info, int level) {
  if (level != -1) return;
  const int code = info->err->msg_code;
  if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    if (!manager->damaged) info->err->format_message(info, manager->message);
    manager->damaged = true;
  }
}

// Released also when the header is refused (the reader's constructor throws).
struct JpegState {
  JpegState() = default;
  JpegState(const JpegState&) = delete;
  JpegState& operator=(const JpegState&) = delete;
  ~JpegState() {
    if (created) jpeg_destroy_decompress(&info);
    if (file != nullptr) std::fclose(file);
  }
  jpeg_decompress_struct info;
  JpegErrorManager error;
  std::FILE* file = nullptr;
  bool created = false;
};

// 0 on success; the message is in the state's error manager otherwise.
int jpegStart(JpegState* s) {
  if (setjmp(s->error.jump) != 0) return 1;
  jpeg_create_decompress(&s->info);
  s->created = true;
  s->info.mem->max_memory_to_use = kMaxJpegMemory;
  jpeg_stdio_src(&s->info, s->file);
  jpeg_read_header(&s->info, TRUE);
  switch (s->info.jpeg_color_space) {
    case JCS_GRAYSCALE: s->info.out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: s->info.out_color_space = JCS_CMYK; break;
    default: s->info.out_color_space = JCS_RGB; break;
  }
  jpeg_start_decompress(&s->info);
  return 0;
}

int jpegReadLine(JpegState* s, std::uint8_t* row) {
  if (setjmp(s->error.jump) != 0) return 1;
  JSAMPROW rows[1] = {row};
  return jpeg_read_scanlines(&s->info, rows, 1) == 1 ? 0 : 1;
}

class JpegSource final : public pixreatyp::Source {
 public:
  JpegSource(const std::string& path, PixelHeader& h) : path_(path) {
    state_.info.err = jpeg_std_error(&state_.error.base);
    state_.error.base.error_exit = jpegErrorExit;
    state_.error.base.output_message = jpegNoOutput;
    state_.error.base.emit_message = jpegWarning;
    state_.error.message[0] = 0;
    state_.file = std::fopen(path.c_str(), "rb");
    if (state_.file == nullptr) refuse(path, "the file cannot be opened");
    if (jpegStart(&state_) != 0) refuse(path, std::string("not a readable JPEG file (") + state_.error.message + ")");
    const jpeg_decompress_struct& info = state_.info;
    h.width = std::int32_t(info.output_width);
    h.rows = std::int32_t(info.output_height);
    h.channels = info.output_components;
    h.model = h.channels == 1 ? kPixelGray : h.channels == 3 ? kPixelRGB : kPixelCMYK;
    h.bitsPerSample = 8;
    if (h.channels != 1 && h.channels != 3 && h.channels != 4) refuse(path, "unexpected channel count");
    if (h.rowBytes() > pixreatyp::kMaxBufferBytes) refuse(path, "the rows are too long");
    // Inverted CMYK as the Adobe marker says it is stored.
    invert_ = h.channels == 4 && info.saw_Adobe_marker;
    if (info.density_unit == 1) h.resolution = sensibleResolution(info.X_density);
    if (info.density_unit == 2) h.resolution = sensibleResolution(info.X_density * 2.54);
    rowBytes_ = h.rowBytes();
  }

  void readRow(std::uint8_t* row) override {
    if (jpegReadLine(&state_, row) != 0 || state_.error.damaged) {
      refuse(path_, std::string("damaged JPEG data (") + state_.error.message + ")");
    }
    if (invert_) {
      for (std::size_t i = 0; i < rowBytes_; ++i) row[i] = std::uint8_t(255 - row[i]);
    }
  }

 private:
  std::string path_;
  JpegState state_;
  bool invert_ = false;
  std::size_t rowBytes_ = 0;
};

}  // namespace

bool fileIsJPEG(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char head[3] = {0, 0, 0};
  const std::size_t n = std::fread(head, 1, 3, f);
  std::fclose(f);
  return n == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

pixreatyp::pixreatyp(const std::string& path) : path_(path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) refuse(path, "the file is missing or not a regular file");
  if (fileIsJPEG(path)) {
    source_ = std::make_unique<JpegSource>(path, header_);
  } else {
    source_ = std::make_unique<TiffSource>(path, header_);
  }
}

pixreatyp::~pixreatyp() = default;

bool pixreatyp::isJpeg() const { return dynamic_cast<const JpegSource*>(source_.get()) != nullptr; }

void pixreatyp::readRow(std::uint8_t* row) {
  if (next_ >= header_.rows) refuse(path_, "read past the last row");
  source_->readRow(row);
  ++next_;
}

Error PictureUnreadable(const std::string& fileName, const std::string& why) {
  return Error(kResultAbandoned, kUnsupported, fileName + ": " + why).with("__FILENAME__", fileName);
}

Error PictureFileMissing(const std::string& fileName) {
  return Error(kResultAbandoned, "PDF/CANNOT OPEN PICTURE FILE", fileName + ": the file is missing")
      .with("__FILENAME__", fileName);
}

const PixelHeader& pixreabeg(const pixreatyp& reader) { return reader.header(); }
void pixrea(pixreatyp& reader, std::uint8_t* row) { reader.readRow(row); }
void pixreaend(std::unique_ptr<pixreatyp>& reader) { reader.reset(); }

}  // namespace TavSys

namespace tfftyp {

bool GetResolution(const std::string& path, std::int32_t& numerator, std::int32_t& denominator) {
  try {
    TavSys::pixreatyp reader(path);
    const double r = reader.header().resolution;
    if (!(r > 0)) return false;
    // Hundredths of a pixel per inch keep centimetre resolutions exact enough.
    numerator = std::int32_t(std::lround(r * 100));
    denominator = 100;
    return numerator > 0;
  } catch (const TavSys::Error&) {
    return false;
  }
}

}  // namespace tfftyp
