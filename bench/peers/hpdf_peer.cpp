// A peer of the whole export: libharu drawing the geometry of a synthetic
// job (bench/synthetic_job.h) on one page, with its page compression on at
// zlib's level 8, the level tavpdf writes (libharu itself always asks for
// zlib's default level: its request is answered at level 8 below). The job
// is read as it streams by; the six paints become the CMYK mixes of their
// inks (libharu has no separations).
//
//   peer_hpdf JOB OUT.pdf
#include <hpdf.h>
#include <zlib.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// libharu's deflate streams, started at level 8: this program's definition of
// zlib's entry point is the one libharu's calls reach.
extern "C" __attribute__((visibility("default"))) int deflateInit_(z_streamp strm, int /*level*/,
                                                                   const char* version, int streamSize) {
  return deflateInit2_(strm, 8, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY, version, streamSize);
}

namespace {

using json = nlohmann::json;

// Paints 10 to 15 of the synthetic job as CMYK fractions.
constexpr std::array<std::array<float, 4>, 6> kPaints{{{1, 0.4f, 0, 0},
                                                       {0, 0, 0.8f, 0.1f},
                                                       {0, 0.91f, 0.76f, 0},
                                                       {0, 0.12f, 0.36f, 0.12f},
                                                       {0.3f, 0.455f, 0.38f, 0},
                                                       {0, 1, 0.12f, 0.04f}}};

// Draws each path as its object completes: its paint and its points.
class Drawer : public nlohmann::json_sax<json> {
 public:
  explicit Drawer(HPDF_Page page) : page_(page) {}
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t v) override { return number(double(v)); }
  bool number_unsigned(number_unsigned_t v) override { return number(double(v)); }
  bool number_float(number_float_t v, const string_t&) override { return number(v); }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override {
    points_.clear();
    paint_ = -1;
    return true;
  }
  bool key(string_t& k) override {
    key_ = k;
    return true;
  }
  bool end_object() override {
    if (!points_.empty() && paint_ >= 10 && paint_ < 16) draw();
    points_.clear();
    return true;
  }
  bool start_array(std::size_t) override {
    ++depth_;
    if (key_ == "points" && depth_ == pointsDepth_ + 1) point_.clear();
    if (key_ == "points" && pointsDepth_ == 0) pointsDepth_ = depth_;
    return true;
  }
  bool end_array() override {
    if (pointsDepth_ && depth_ == pointsDepth_ + 1) points_.push_back(point_);
    if (depth_ == pointsDepth_) pointsDepth_ = 0;
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    std::fprintf(stderr, "%s\n", e.what());
    return false;
  }

 private:
  bool number(double v) {
    if (pointsDepth_ && depth_ == pointsDepth_ + 1) point_.push_back(v);
    else if (key_ == "paint") paint_ = int(v);
    return true;
  }
  // Job units (720 to the inch, the vertical axis down from 144000) in points.
  static float x(double h) { return float(h / 10); }
  static float y(double v) { return float((144000 - v) / 10); }
  void draw() {
    const auto& c = kPaints[std::size_t(paint_ - 10)];
    HPDF_Page_SetCMYKFill(page_, c[0], c[1], c[2], c[3]);
    HPDF_Page_MoveTo(page_, x(points_[0][1]), y(points_[0][0]));
    for (std::size_t i = 1; i < points_.size(); ++i) {
      const auto& p = points_[i];
      if (p.size() == 6)
        HPDF_Page_CurveTo(page_, x(p[1]), y(p[0]), x(p[3]), y(p[2]), x(p[5]), y(p[4]));
      else
        HPDF_Page_LineTo(page_, x(p[1]), y(p[0]));
    }
    HPDF_Page_ClosePath(page_);
    HPDF_Page_Fill(page_);
  }

  HPDF_Page page_;
  std::string key_;
  int paint_ = -1;
  int depth_ = 0, pointsDepth_ = 0;
  std::vector<double> point_;
  std::vector<std::vector<double>> points_;
};

void onError(HPDF_STATUS error, HPDF_STATUS detail, void*) {
  std::fprintf(stderr, "libharu error %04X (%u)\n", unsigned(error), unsigned(detail));
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s JOB OUT.pdf\n", argv[0]);
    return 2;
  }
  HPDF_Doc pdf = HPDF_New(onError, nullptr);
  HPDF_SetCompressionMode(pdf, HPDF_COMP_ALL);
  HPDF_Page page = HPDF_AddPage(pdf);
  HPDF_Page_SetWidth(page, 14400);
  HPDF_Page_SetHeight(page, 14400);
  std::ifstream in(argv[1], std::ios::binary);
  Drawer drawer(page);
  if (!json::sax_parse(in, &drawer)) return 1;
  if (HPDF_SaveToFile(pdf, argv[2]) != HPDF_OK) return 1;
  HPDF_Free(pdf);
  return 0;
}
