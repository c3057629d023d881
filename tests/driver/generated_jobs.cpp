#include "generated_jobs.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "support/consumers.h"
#include "support/pictures.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace difftest {

std::uint64_t Rng::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

namespace {

struct PictureAsset {
  const char* file;
  bool pdf;
};

// The placed files of the assets folder.
const std::vector<PictureAsset> kPictures = {
    {"gray.tif", false},  {"rgb.tif", false},  {"cmyk.tif", false},      {"bw.tif", false},
    {"cmyk-lzw.tif", false}, {"rgb-tiled.tif", false}, {"gray-alpha.tif", false}, {"rgb.jpg", false},
    {"cmyk.jpg", false}, {"gray.jpg", false},  {"logo.eps", false},      {"swatches.pdf", true},
    {"oneup.json", false}};

const std::vector<std::string> kSpots = {"PANTONE 185 C", "Spot (1)", "A/B #2", "Gr\xC3\xBCn", "Varnish", "Hash#Ink"};
const std::vector<std::string> kFonts = {"NimbusSans-Regular", "NimbusRoman-Italic", "NimbusMonoPS-Bold", "C059-Roman",
                                         "P052-Bold", "URWGothic-Book", "Helvetica", "Times-BoldItalic", "Courier"};
const std::vector<std::string> kTexts = {"Hello", "Wildflower honey 500 g", "\xC3\xA4\xC3\xB6\xC3\xBC \xC3\x9F \xC3\xA9",
                                         "(paren) \\back <angle> [br] {c} %pct", "line one\nline two", "A",
                                         "0123456789 0123456789"};
const std::vector<std::pair<std::string, std::string>> kBarcodes = {
    {"EAN-13", "501234567890"}, {"UPC-A", "03600029145"}, {"EAN-8", "9638507"}, {"ITF-14", "1540014128876"},
    {"GS1_128", "(01)09501101530003(10)AB12"}, {"CODE-39", "TAV-2026"}, {"CODE-128", "Hello 123"},
    {"QR", "https://example.invalid/lot/4711"}, {"DATAMATRIX", "LOT 4711"},
    {"GS1_DataMatrix", "(01)09501101530003(17)271231"}, {"GS1_DataBar-14", "0950110153000"}};
const std::vector<std::string> kBlends = {"multiply", "screen", "overlay", "darken", "difference", "hue", "luminosity"};

json point(int v, int h) { return json::array({v, h}); }

// One job: its page in job units and the ids it has defined.
class JobMaker {
 public:
  JobMaker(std::uint64_t seed, std::string assets) : r_(seed * 7919 + 17), assets_(std::move(assets)) {}

  json make() {
    ppi_ = r_.pick(std::vector<int>{72, 300, 720, 2540});
    width_ = points(r_.between(150, 700));
    height_ = points(r_.between(150, 700));
    json job = {{"format", "tavpdf-job"}, {"version", 1}, {"name", "generated"}, {"ppi", ppi_},
                {"origin", point(height_, 0)}};
    job["boxes"] = {{"media", json::array({0, 0, height_, width_})}};
    if (r_.chance(50)) {
      const int inset = points(10);
      job["boxes"]["trim"] = json::array({inset, inset, height_ - inset, width_ - inset});
    }
    makeInks(job);
    makeColours(job);
    makePaints(job);
    json layers = json::array();
    for (int l = 0, n = r_.between(1, 2); l < n; ++l) {
      json layer = {{"kind", "layer"}, {"name", "Layer " + std::to_string(l)}, {"objects", members(2)}};
      if (r_.chance(10)) layer["nonPrinting"] = true;
      layers.push_back(layer);
    }
    job["objects"] = layers;
    if (!patterns_.empty()) job["patterns"] = patterns_;
    if (!pictures_.empty()) job["pictures"] = pictures_;
    if (!maps_.empty()) job["maps"] = maps_;
    job["paints"] = paints_;
    return job;
  }

 private:
  int points(double pt) const { return int(std::lround(pt * ppi_ / 72.0)); }

  // A place on the page for something `w` x `h` units large (top, left).
  std::pair<int, int> place(int w, int h) {
    return {r_.between(0, std::max(0, height_ - h)), r_.between(0, std::max(0, width_ - w))};
  }

  void makeInks(json& job) {
    json inks = json::array();
    static const char* const kProcess[] = {"cyan", "magenta", "yellow", "black"};
    static const char* const kProcessNames[] = {"Cyan", "Magenta", "Yellow", "Black"};
    for (int k = 0; k < 4; ++k) {
      if (!r_.chance(75)) continue;
      inks.push_back({{"name", kProcessNames[k]}, {"process", kProcess[k]}});
      inkNames_.push_back(kProcessNames[k]);
    }
    std::vector<std::string> spots = kSpots;
    for (int i = 0, n = r_.between(0, 3); i < n && !spots.empty(); ++i) {
      const std::size_t at = std::size_t(r_.below(int(spots.size())));
      const std::string name = spots[at];
      spots.erase(spots.begin() + std::ptrdiff_t(at));
      json ink = {{"name", name}, {"cmyk", json::array({r_.below(101), r_.below(101), r_.below(101), r_.below(60)})}};
      if (r_.chance(15)) ink["opaque"] = true;
      if (r_.chance(10)) ink["technical"] = true;
      if (name == "Varnish") ink["varnish"] = true;
      inks.push_back(ink);
      inkNames_.push_back(name);
    }
    if (inks.empty()) {
      inks.push_back({{"name", "Black"}, {"process", "black"}});
      inkNames_.push_back("Black");
    }
    if (r_.chance(30)) {
      json angles = json::object();
      for (const std::string& ink : inkNames_) angles[ink] = r_.pick(std::vector<int>{0, 15, 45, 75});
      job["screens"] = json::array({{{"id", 1}, {"name", "screen"}, {"ruling", r_.pick(std::vector<int>{60, 150, 300})},
                                     {"dotShape", r_.below(10)}, {"angles", angles}}});
      for (json& ink : inks) {
        if (r_.chance(50)) ink["screen"] = 1;
      }
    }
    job["inks"] = inks;
  }

  void makeColours(json& job) {
    json colours = json::array();
    colourCount_ = r_.between(2, 6);
    for (int c = 1; c <= colourCount_; ++c) {
      json shares = json::object();
      for (const std::string& ink : inkNames_) {
        const int pick = r_.below(5);
        if (pick == 0) continue;
        shares[ink] = pick == 1 ? 255 : pick == 2 ? 0 : 10 * r_.between(1, 10);
      }
      json colour = {{"id", c}, {"inks", shares}};
      if (r_.chance(20)) colour["others"] = 255;
      if (r_.chance(10)) colour["overprint"] = true;
      colours.push_back(colour);
    }
    job["colours"] = colours;
  }

  int colour() { return r_.between(1, colourCount_); }

  int addPaint(json paint) {
    const int id = 10 + int(paints_.size());
    paint["id"] = id;
    paints_.push_back(paint);
    return id;
  }

  void makePaints(json&) {
    for (int c = 1; c <= colourCount_; ++c) {
      json flat = {{"type", "flat"}, {"colour", c}};
      if (r_.chance(20)) flat["overprint"] = true;
      if (r_.chance(15)) flat["opacity"] = r_.between(20, 90);
      if (r_.chance(10)) flat["blendMode"] = r_.pick(kBlends);
      flats_.push_back(addPaint(flat));
    }
    if (r_.chance(50)) {
      const auto [v, h] = place(0, 0);
      gradients_.push_back(addPaint({{"type", r_.chance(50) ? "linear" : "radial"}, {"colour", colour()},
                                     {"colour2", colour()}, {"start", point(v, h)},
                                     {"end", point(r_.between(0, height_), r_.between(0, width_))}}));
    }
    if (r_.chance(40)) {
      json steps = json::array();
      int position = 0;
      for (int s = 0, n = r_.between(2, 4); s < n; ++s) {
        steps.push_back({{"colour", colour()}, {"position", position}});
        position += points(r_.between(20, 120));
      }
      const auto [v, h] = place(0, 0);
      gradients_.push_back(addPaint({{"type", "gradation"}, {"form", r_.pick(std::vector<std::string>{"horizontal", "vertical", "circular"})},
                                     {"start", point(v, h)}, {"steps", steps}}));
    }
    if (r_.chance(35)) {
      const int side = points(r_.between(10, 40));
      json cell = {{"id", 1}, {"kind", "tiling"}, {"cell", json::array({0, 0, side, side})},
                   {"objects", json::array({rect(side / 4, side / 4, side / 2, side / 2, flat())})}};
      patterns_.push_back(cell);
      gradients_.push_back(addPaint({{"type", "pattern"}, {"pattern", 1}}));
    }
    if (r_.chance(25)) {
      const int w = points(r_.between(40, 200));
      const auto [v, h] = place(w, w);
      patterns_.push_back({{"id", 2}, {"kind", "softMask"}, {"objects", json::array({rect(v, h, w, w, flat())})}});
      json masked = {{"type", "flat"}, {"colour", colour()}, {"softMask", 2}};
      maskedFlats_.push_back(addPaint(masked));
    }
  }

  // A flat paint; `masked`: one with a soft mask may be taken.
  int flat(bool masked = false) {
    if (masked && !maskedFlats_.empty() && r_.chance(30)) {
      return maskedFlats_[std::size_t(r_.below(int(maskedFlats_.size())))];
    }
    return flats_[std::size_t(r_.below(int(flats_.size())))];
  }

  int anyPaint() {
    if (!gradients_.empty() && r_.chance(25)) return gradients_[std::size_t(r_.below(int(gradients_.size())))];
    return flat(true);
  }

  json rect(int v, int h, int w, int hh, int paint) {
    return {{"kind", "path"}, {"paint", paint},
            {"points", json::array({point(v, h), point(v, h + w), point(v + hh, h + w), point(v + hh, h)})}};
  }

  json stroke() {
    json s = {{"width", points(r_.between(1, 8))}, {"paint", flat()},
              {"join", r_.pick(std::vector<std::string>{"miter", "round", "bevel"})},
              {"cap", r_.pick(std::vector<std::string>{"butt", "round", "square"})}};
    if (r_.chance(30)) s["dash"] = json::array({points(r_.between(2, 10)), points(r_.between(1, 10))});
    return s;
  }

  json path() {
    const int w = points(r_.between(15, 200)), hh = points(r_.between(15, 200));
    const auto [v, h] = place(w, hh);
    json p;
    if (r_.chance(30)) {
      // A closed curve through the box's edge midpoints.
      const int cv = v + hh / 2, ch = h + w / 2;
      p = {{"kind", "path"},
           {"points", json::array({point(v, ch), json::array({v, h + w, cv, h + w, cv, h + w}),
                                   json::array({v + hh, h + w, v + hh, ch, v + hh, ch}),
                                   json::array({v + hh, h, cv, h, cv, h})})}};
    } else {
      p = rect(v, h, w, hh, 0);
    }
    p["paint"] = anyPaint();
    if (r_.chance(25)) p["stroke"] = stroke();
    if (r_.chance(10)) {
      p["closed"] = false;
      p["stroke"] = stroke();
    }
    return p;
  }

  json text() {
    json runs = json::array();
    for (int i = 0, n = r_.between(1, 2); i < n; ++i) {
      runs.push_back({{"text", r_.pick(kTexts)}, {"font", r_.pick(kFonts)}, {"size", r_.between(6, 30)},
                      {"paint", flat()}});
    }
    const auto [v, h] = place(points(150), points(40));
    json t = {{"kind", "text"}, {"at", point(v + points(30), h)}, {"runs", runs}};
    if (r_.chance(30)) {
      t["width"] = points(r_.between(60, 200));
      t["align"] = r_.pick(std::vector<std::string>{"left", "centre", "right", "justify"});
    }
    return t;
  }

  json barcode() {
    const auto& [symbology, data] = kBarcodes[std::size_t(r_.below(int(kBarcodes.size())))];
    const auto [v, h] = place(points(120), points(90));
    json b = {{"symbology", symbology}, {"data", data}, {"paint", flat()}};
    if (r_.chance(30)) b["quietZone"] = true;
    return {{"kind", "group"}, {"at", point(v, h)}, {"barcode", b}};
  }

  // A path filled with a placed picture (one-ups and PDF pages included).
  json picture() {
    const PictureAsset& asset = kPictures[std::size_t(r_.below(int(kPictures.size())))];
    const int id = int(pictures_.size()) + 1;
    json pic = {{"id", id}, {"file", assets_ + "/" + asset.file}};
    json paint = {{"type", "picture"}, {"picture", id}};
    if (asset.pdf) {
      pic["pdfPage"] = r_.below(7);
      pic["width"] = points(100);
      pic["height"] = points(100);
    }
    pictures_.push_back(pic);
    const int w = points(r_.between(30, 200)), hh = points(r_.between(30, 200));
    const auto [v, h] = place(w, hh);
    paint["place"] = {{"origin", point(v, h)}, {"widthCorner", point(v, h + w)}, {"heightCorner", point(v + hh, h)}};
    return rect(v, h, w, hh, addPaint(paint));
  }

  json map() {
    if (maps_.empty()) {
      json channels = json::array();
      std::vector<std::string> inks = inkNames_;
      for (int file = 0; file < 2 && !inks.empty(); ++file) {
        const std::size_t at = std::size_t(r_.below(int(inks.size())));
        channels.push_back({{"ink", inks[at]}, {"file", file}});
        inks.erase(inks.begin() + std::ptrdiff_t(at));
      }
      json m = {{"id", 1}, {"files", json::array({assets_ + "/wave-cmyk.tif", assets_ + "/wave-spot.tif",
                                                   assets_ + "/wave-mask.tif"})},
                {"channels", channels}, {"colour", colour()}, {"width", 240}, {"height", 150}, {"resolution", 150}};
      if (r_.chance(50)) m["opacity"] = {{"file", 2}};
      maps_.push_back(m);
    }
    const int w = points(r_.between(60, 240)), hh = w * 150 / 240;
    const auto [v, h] = place(w, hh);
    const int paint = addPaint({{"type", "map"}, {"map", 1},
                                {"place", {{"origin", point(v, h)}, {"widthCorner", point(v, h + w)},
                                           {"heightCorner", point(v + hh, h)}}}});
    return rect(v, h, w, hh, paint);
  }

  json members(int depth) {
    json list = json::array();
    for (int i = 0, n = r_.between(2, 7); i < n; ++i) {
      const int kind = r_.below(10);
      if (kind == 0 && depth > 0) {
        list.push_back({{"kind", "group"}, {"objects", members(depth - 1)}});
      } else if (kind == 1) {
        json a = path(), b = path();
        a.erase("paint");
        b.erase("paint");
        a.erase("stroke");
        b.erase("stroke");
        a.erase("closed");
        b.erase("closed");
        list.push_back({{"kind", "compound"}, {"paint", anyPaint()}, {"objects", json::array({a, b})}});
      } else if (kind == 2) {
        list.push_back(text());
      } else if (kind == 3 && ppi_ >= 300) {
        list.push_back(barcode());
      } else if (kind == 4 || kind == 5) {
        list.push_back(picture());
      } else if (kind == 6) {
        list.push_back(map());
      } else {
        list.push_back(path());
      }
    }
    return list;
  }

  Rng r_;
  std::string assets_;
  int ppi_ = 720, width_ = 0, height_ = 0, colourCount_ = 0;
  std::vector<std::string> inkNames_;
  // Texts and barcodes take no paint with a soft mask: Ghostscript finds
  // an operator it does not allow in a text object in the file (being
  // looked into).
  std::vector<int> flats_, maskedFlats_, gradients_;
  json paints_ = json::array(), patterns_ = json::array(), pictures_ = json::array(), maps_ = json::array();
};

}  // namespace

void writeAssets(const fs::path& folder) {
  fs::create_directories(folder);
  tavtest::TiffLayout base;
  base.width = 24;
  base.height = 16;
  auto tiff = [&](const char* name, int samples, int photometric, auto change) {
    tavtest::TiffLayout t = base;
    t.samples = samples;
    t.photometric = photometric;
    change(t);
    tavtest::writeTiff(folder / name, t);
  };
  auto none = [](tavtest::TiffLayout&) {};
  tiff("gray.tif", 1, 1, none);
  tiff("rgb.tif", 3, 2, none);
  tiff("cmyk.tif", 4, 5, none);
  tiff("bw.tif", 1, 0, [](tavtest::TiffLayout& t) {
    t.bits = 1;
    t.sample = [](int x, int y, int) { return std::uint8_t((x + y) % 3 == 0); };
  });
  tiff("cmyk-lzw.tif", 4, 5, [](tavtest::TiffLayout& t) { t.compression = 5; });
  tiff("rgb-tiled.tif", 3, 2, [](tavtest::TiffLayout& t) {
    t.tile = 16;
    t.compression = 8;
  });
  tiff("gray-alpha.tif", 2, 1, [](tavtest::TiffLayout& t) { t.extraTypes = {2}; });
  for (const auto& [name, samples] : {std::pair<const char*, int>{"rgb.jpg", 3}, {"cmyk.jpg", 4}, {"gray.jpg", 1}}) {
    tavtest::TiffLayout j = base;
    j.samples = samples;
    tavtest::writeJpeg(folder / name, j);
  }
  const fs::path examples = tavtest::sourceDir() / "examples";
  for (const auto& [from, to] : {std::pair<const char*, const char*>{"pictures/logo.eps", "logo.eps"},
                                 {"pictures/swatch-plates.pdf", "swatches.pdf"},
                                 {"pictures/wave-cmyk.tif", "wave-cmyk.tif"},
                                 {"pictures/wave-spot.tif", "wave-spot.tif"},
                                 {"pictures/wave-mask.tif", "wave-mask.tif"},
                                 {"press-curves.txt", "press-curves.txt"}}) {
    fs::copy_file(examples / from, folder / to, fs::copy_options::overwrite_existing);
  }
  tavtest::writeFile(folder / "oneup.json",
                     R"({"format":"tavpdf-job","name":"one-up","ppi":720,"origin":[720,0],)"
                     R"("boxes":{"media":[0,0,720,720]},"inks":[{"name":"Black","process":"black"},)"
                     R"({"name":"PANTONE 185 C","cmyk":[0,91,76,0]}],"colours":[{"id":1,"inks":{"Black":100}},)"
                     R"({"id":2,"inks":{"PANTONE 185 C":60}}],"paints":[{"id":10,"type":"flat","colour":1},)"
                     R"({"id":11,"type":"flat","colour":2}],"objects":[)"
                     R"({"kind":"path","paint":11,"points":[[0,0],[0,720],[720,720],[720,0]]},)"
                     R"({"kind":"path","paint":10,"points":[[100,100],[100,600],[600,600],[600,100]]}]})");
}

std::string generateJob(std::uint64_t seed, const std::string& assets) {
  return JobMaker(seed, assets).make().dump();
}

std::vector<std::string> generateOverrides(std::uint64_t seed, int flavour, const std::string& assets) {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> kOptions = {
      {"Orientation", {"0", "1", "2", "3"}}, {"Mirror", {"0", "1"}}, {"VerticalDistortion", {"-3", "0", "2.5"}},
      {"HorizontalDistortion", {"0", "1.25", "-2"}}, {"AddPageBoxes", {"0", "1"}}, {"SeparatedOutput", {"0", "1"}},
      {"OptimizeWhiteObjects", {"0", "1"}}, {"CompositeOnPageOne", {"0", "1"}}, {"CMYKOnOnePage", {"0", "1"}},
      {"AddRegistrationMarks", {"0", "1"}}, {"IncludeLayers", {"0", "1"}}, {"AddNonPrintingLayers", {"0", "1"}},
      {"CompressPages", {"0", "1"}}, {"ForceOpaqueSeparationsToKnockout", {"0", "1"}},
      {"UseSeparationDisabler", {"0", "1"}}, {"AddCMYKSeparations", {"0", "1"}}, {"IncludeScreening", {"0", "1"}},
      {"UseDefaultScreen", {"0", "1"}}, {"IncludePrivateData", {"0", "1"}}, {"NormalizedOutput", {"0", "1"}},
      {"PDFCompatibility", {"0", "1", "2"}}, {"EnableFlattening", {"0", "1"}}, {"OutputGradientsAsImages", {"0", "1"}},
      {"VectorizeText", {"0", "1"}}, {"SubsetThreshhold", {"0", "35", "100"}}, {"UseDownsampling", {"0", "1"}},
      {"DownsampleResolution", {"9", "72", "300"}}, {"DownsampleFromPPI", {"10", "450"}},
      {"CompressImages", {"0", "1", "50"}}, {"EmbedImages", {"0", "1"}}, {"ImageClipping", {"0", "1"}},
      {"AddThumbnail", {"0", "1"}}, {"LinkType", {"0", "1", "2"}}, {"IncludePreview", {"0", "1"}},
      {"IncludeStandardPreview", {"0", "1"}}, {"VectorizeOpacity", {"0", "1"}}, {"FlattenOverprints", {"0", "1"}},
      {"IgnorePlacedOverprints", {"0", "1"}}, {"IsolateOneUp", {"0", "1"}}, {"UsePictureCache", {"0", "1"}},
      {"EnableDotgain", {"1"}}, {"MaxPathSize", {"64", "500000"}}};
  Rng r(seed * 13 + std::uint64_t(flavour));
  std::vector<std::size_t> order(kOptions.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::vector<std::string> sets;
  for (int i = 0, n = r.between(1, 6); i < n; ++i) {
    const std::size_t at = std::size_t(r.below(int(order.size())));
    const auto& [field, values] = kOptions[order[at]];
    order.erase(order.begin() + std::ptrdiff_t(at));
    sets.push_back(field + "=" + r.pick(values));
    if (field == "EnableDotgain") sets.push_back("DotgainFile=" + assets + "/press-curves.txt");
  }
  return sets;
}

}  // namespace difftest
