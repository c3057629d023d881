// Ink plates through Ghostscript's tiffsep device: one 8-bit TIFF per ink,
// named "<base>(<ink>).tif" beside the composite "<base>.tif".
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <tiffio.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "support/consumers.h"

namespace tavtest {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kBase = "plate";

std::string formatNumber(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) throw std::invalid_argument("unprintable number");
  return std::string(buffer, end);
}

// Reads one separation plate: 8 bits, one sample per pixel.
Plate readPlate(const fs::path& file) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(file.c_str(), "r"), TIFFClose);
  if (!tif) throw std::runtime_error("cannot open plate " + file.string());
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  if (bits != 8 || samples != 1 || width == 0 || height == 0 || width > 100000 || height > 100000) {
    throw std::runtime_error("unexpected plate format in " + file.string() + ": " + std::to_string(width) +
                             "x" + std::to_string(height) + ", " + std::to_string(samples) + " x " +
                             std::to_string(bits) + " bits");
  }
  Plate plate;
  plate.width = static_cast<int>(width);
  plate.height = static_cast<int>(height);
  plate.samples.resize(static_cast<std::size_t>(width) * height);
  if (static_cast<std::size_t>(TIFFScanlineSize(tif.get())) < width)
    throw std::runtime_error("short scanlines in " + file.string());
  std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif.get())));
  for (std::uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0)
      throw std::runtime_error("cannot read row " + std::to_string(y) + " of " + file.string());
    std::copy_n(row.begin(), width, plate.samples.begin() + static_cast<std::ptrdiff_t>(y) * width);
  }
  // Ghostscript writes 255 for no ink (white in a min-is-black image); a
  // min-is-white plate stores ink directly and is turned round to match.
  if (photometric == PHOTOMETRIC_MINISWHITE) {
    for (auto& s : plate.samples) s = static_cast<std::uint8_t>(255 - s);
  }
  return plate;
}

}  // namespace

double Plate::coverage() const {
  if (samples.empty()) return 0;
  std::uint64_t ink = 0;
  for (auto s : samples) ink += 255u - s;
  return static_cast<double>(ink) / (255.0 * static_cast<double>(samples.size()));
}

double Plate::inkAtPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) {
    throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside the " +
                            std::to_string(width) + "x" + std::to_string(height) + " plate");
  }
  const auto sample = samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)];
  return (255.0 - sample) / 255.0;
}

const Plate& Plates::plate(const std::string& ink) const {
  const auto it = plates.find(ink);
  if (it == plates.end()) throw std::out_of_range("no plate for ink \"" + ink + "\"; plates: " + summary());
  return it->second;
}

double Plates::inkAtPixel(const std::string& ink, int x, int y) const { return plate(ink).inkAtPixel(x, y); }

double Plates::inkAtPoint(const std::string& ink, double xPt, double yPt) const {
  const Plate& p = plate(ink);
  const double scale = resolution / 72.0;
  const double px = xPt * scale;
  const double py = static_cast<double>(p.height) - yPt * scale;  // rows run from the top
  if (!std::isfinite(px) || !std::isfinite(py) || px < 0 || py < 0 || px > p.width || py > p.height) {
    throw std::out_of_range("point (" + formatNumber(xPt) + ", " + formatNumber(yPt) +
                            ") pt lies outside the rendered page");
  }
  // A point on the right or top edge belongs to the last pixel.
  const int x = std::min(static_cast<int>(std::floor(px)), p.width - 1);
  const int y = std::min(static_cast<int>(std::floor(py)), p.height - 1);
  return p.inkAtPixel(x, y);
}

std::string Plates::summary() const {
  std::string text;
  for (const auto& [ink, value] : coverage) {
    if (!text.empty()) text += ", ";
    text += ink + " " + formatNumber(std::round(value * 10000) / 100) + " %";
  }
  return text.empty() ? "(none)" : text;
}

Plates measurePlates(const fs::path& pdf, int page, double resolution) {
  if (page < 1) throw std::invalid_argument("pages count from 1");
  if (!std::isfinite(resolution) || resolution < 1 || resolution > 2400)
    throw std::invalid_argument("resolution out of range");
  std::error_code ec;
  if (!fs::is_regular_file(pdf, ec)) throw std::runtime_error("no such file: " + pdf.string());

  TavSys::TempFolder folder;
  // One page per run and no "%d" in the name, so the plate names do not
  // depend on page numbering; '%' in the folder name would be a format
  // directive to Ghostscript and is doubled.
  std::string output;
  for (char c : (folder.path() / (std::string(kBase) + ".tif")).string()) {
    output += c;
    if (c == '%') output += '%';
  }
  std::vector<std::string> args = {"gs", "-dPDFSTOPONERROR", "-dBATCH", "-dNOPAUSE", "-dSAFER",
                                   "-sDEVICE=tiffsep", "-dMaxSpots=60", "-r" + formatNumber(resolution),
                                   "-sOutputFile=" + output};
  std::ifstream head(pdf, std::ios::binary);
  char magic[5] = {};
  head.read(magic, 5);
  if (std::string(magic, 5) != "%PDF-") {
    // PostScript (the Illustrator files) is rendered as it stands, its page
    // selected by number.
    args.push_back("-dFirstPage=" + std::to_string(page));
    args.push_back("-dLastPage=" + std::to_string(page));
    args.push_back(pdf.string());
  } else {
    // With MaxSpots beyond about 16, Ghostscript drops spot inks painted
    // inside transparency groups when pages are selected, so the page is
    // copied into a file of its own and that is rendered whole. The file
    // itself is qpdf's primary input, so that its catalog (the layers'
    // visibility among it) stays. Streams are copied as they stand: qpdf
    // 11 compresses an empty stream into no bytes under /FlateDecode, which
    // Ghostscript cannot read.
    const fs::path single = folder.path() / "page.pdf";
    const auto copy = runProcess({"qpdf", "--compress-streams=n", fs::absolute(pdf).string(), "--pages", ".",
                                  std::to_string(page), "--", single.string()},
                                 std::chrono::seconds(300));
    // qpdf's exit code 3 means written with warnings.
    if (!copy.started || copy.timedOut || (copy.exitCode != 0 && copy.exitCode != 3))
      throw std::runtime_error("qpdf could not copy page " + std::to_string(page) + ":\n" + copy.describe());
    args.push_back(single.string());
  }
  const auto run = runProcess(args, std::chrono::seconds(300));
  if (!run.started || run.timedOut || run.exitCode != 0)
    throw std::runtime_error("ghostscript could not render the plates:\n" + run.describe());

  Plates result;
  result.resolution = resolution;
  const std::string prefix = std::string(kBase) + "(";
  const std::string suffix = ").tif";
  for (const auto& entry : fs::directory_iterator(folder.path())) {
    const std::string name = entry.path().filename().string();
    // "plate.tif" is the composite CMYK image, not a plate.
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
      continue;
    // Inks may contain spaces and parentheses: everything between the first
    // "(" and the final ").tif" is the name.
    const std::string ink = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    Plate plate = readPlate(entry.path());
    result.coverage[ink] = plate.coverage();
    result.plates.emplace(ink, std::move(plate));
  }
  if (result.plates.empty())
    throw std::runtime_error("ghostscript wrote no plates for page " + std::to_string(page) + ":\n" +
                             run.describe());
  return result;
}

int separationPage(const fs::path& pdf, const std::string& ink) {
  QPDF file;
  file.processFile(pdf.c_str());
  std::vector<QPDFObjectHandle> pages = file.getAllPages();
  for (std::size_t i = 0; i < pages.size(); ++i) {
    QPDFObjectHandle colorant = pages[i].getKey("/SeparationInfo").getKey("/DeviceColorant");
    if (colorant.isName() && colorant.getName() == "/" + ink) return static_cast<int>(i) + 1;
  }
  ADD_FAILURE() << "no page for " << ink << " in " << pdf;
  return 1;
}

}  // namespace tavtest
