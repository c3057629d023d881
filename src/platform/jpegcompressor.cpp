#include "platform/jpegcompressor.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "platform/system.h"

namespace {

constexpr std::size_t kOutBlock = 16384;

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void errorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void noOutput(j_common_ptr) {}

}  // namespace

struct tv_jpeg_compressor::State {
  jpeg_compress_struct info;
  ErrorManager error;
  jpeg_destination_mgr destination;
  tv_jpeg_compressor* owner;
  std::uint8_t block[kOutBlock];
  bool created = false;
};

namespace {

using State = tv_jpeg_compressor::State;

State* stateOf(j_compress_ptr info) {
  return reinterpret_cast<State*>(reinterpret_cast<char*>(info) - offsetof(State, info));
}

void initDestination(j_compress_ptr info) {
  State* s = stateOf(info);
  s->destination.next_output_byte = s->block;
  s->destination.free_in_buffer = kOutBlock;
}

boolean emptyOutput(j_compress_ptr info);
void termDestination(j_compress_ptr info);

// The frames below hold plain data only: libjpeg's errors jump back into them.
int startCompress(State* s, const tv_jpeg_compressor& c, int model, int num, int den, int quality) {
  if (setjmp(s->error.jump) != 0) return 1;
  jpeg_create_compress(&s->info);
  s->created = true;
  s->destination.init_destination = initDestination;
  s->destination.empty_output_buffer = emptyOutput;
  s->destination.term_destination = termDestination;
  s->info.dest = &s->destination;
  s->info.image_width = JDIMENSION(c.width());
  s->info.image_height = JDIMENSION(c.height());
  s->info.input_components = c.bytesPerPixel();
  s->info.in_color_space = model == 5 ? JCS_CMYK : model == 2 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&s->info);
  // Plain ink values: readers of PDF take the samples as they stand.
  if (model == 5) s->info.write_Adobe_marker = FALSE;
  jpeg_set_quality(&s->info, quality, TRUE);
  if (num > 0 && den > 0 && model != 5) {
    const double ppi = double(num) / den;
    if (ppi >= 1 && ppi <= 65535) {
      s->info.density_unit = 1;
      s->info.X_density = s->info.Y_density = std::uint16_t(ppi + 0.5);
    }
  }
  jpeg_start_compress(&s->info, TRUE);
  return 0;
}

int compressLine(State* s, const std::uint8_t* line) {
  if (setjmp(s->error.jump) != 0) return 1;
  JSAMPROW rows[1] = {const_cast<std::uint8_t*>(line)};
  jpeg_write_scanlines(&s->info, rows, 1);
  return 0;
}

int finishCompress(State* s) {
  if (setjmp(s->error.jump) != 0) return 1;
  jpeg_finish_compress(&s->info);
  return 0;
}

}  // namespace

// Defined after State is complete; they hand the block to the owner.
namespace {
boolean emptyOutput(j_compress_ptr info) {
  State* s = stateOf(info);
  s->owner->output_bytes(s->block, kOutBlock);
  s->destination.next_output_byte = s->block;
  s->destination.free_in_buffer = kOutBlock;
  return TRUE;
}

void termDestination(j_compress_ptr info) {
  State* s = stateOf(info);
  const std::size_t used = kOutBlock - s->destination.free_in_buffer;
  if (used > 0) s->owner->output_bytes(s->block, used);
}
}  // namespace

tv_jpeg_compressor::tv_jpeg_compressor(int colourModel, std::int32_t height, std::int32_t width,
                                       std::int32_t resolutionNumerator,
                                       std::int32_t resolutionDenominator, int quality)
    : model_(colourModel),
      bytesPerPixel_(colourModel == 5 ? 4 : colourModel == 2 ? 3 : 1),
      height_(height),
      width_(width),
      resNum_(resolutionNumerator),
      resDen_(resolutionDenominator),
      quality_(std::clamp(quality, 1, 100)) {}

tv_jpeg_compressor::~tv_jpeg_compressor() {
  if (state_ && state_->created) jpeg_destroy_compress(&state_->info);
}

bool tv_jpeg_compressor::start_compression() {
  if (started_) return !failed_;
  started_ = true;
  // JPEG cannot hold more than 65500 pixels in either direction.
  if (width_ < 1 || height_ < 1 || width_ > 65500 || height_ > 65500) {
    failed_ = true;
    return false;
  }
  state_ = std::make_unique<State>();
  state_->owner = this;
  state_->info.err = jpeg_std_error(&state_->error.base);
  state_->error.base.error_exit = errorExit;
  state_->error.base.output_message = noOutput;
  if (startCompress(state_.get(), *this, model_, resNum_, resDen_, quality_) != 0) {
    TavSys::debug("tv_jpeg_compressor: the compression could not be started");
    failed_ = true;
  }
  return !failed_;
}

bool tv_jpeg_compressor::tv_compress_line(const std::uint8_t* line) {
  if (!started_ || failed_) return false;
  if (lines_ >= height_) return true;
  if (compressLine(state_.get(), line) != 0) {
    failed_ = true;
    return false;
  }
  ++lines_;
  return true;
}

int tv_jpeg_compressor::finish_compression() {
  if (!started_ || failed_) return -1;
  const int missing = height_ - lines_;
  if (missing > 0) {
    // White: no ink for CMYK, full light for gray and RGB.
    std::vector<std::uint8_t> white(std::size_t(width_) * std::size_t(bytesPerPixel_),
                                    model_ == 5 ? 0 : 255);
    while (lines_ < height_) {
      if (!tv_compress_line(white.data())) return -1;
    }
  }
  if (finishCompress(state_.get()) != 0) {
    failed_ = true;
    return -1;
  }
  started_ = false;
  return missing;
}
