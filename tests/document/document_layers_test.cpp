// Layers as optional content: one group per layer with its print, view and
// lock state, referenced from the page content by name.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "document_support.h"
#include "support/consumers.h"

namespace {

using doctest::makeJob;
using doctest::Pdf;
using doctest::testSettings;

std::string layersJob(const std::string& layers) {
  return R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Black", "process": "black"}],
  "colours": [{"id": 1, "inks": {"Black": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}],
  "objects": [)" + layers + "]";
}

// A layer holding one black square at h (left edge) .. h + 50.
std::string layer(const std::string& name, int h, const std::string& flags = "") {
  const std::string l = std::to_string(h), r = std::to_string(h + 50);
  return R"({"kind": "layer", "name": ")" + name + "\"" + flags +
         R"(, "objects": [{"kind": "path", "paint": 10, "points": [[25, )" + l + "], [25, " + r +
         "], [75, " + r + "], [75, " + l + "]]}]}";
}

PDFSettings layerSettings() {
  PDFSettings settings = testSettings();
  settings.PDFCompatibility = PDFSettings::kPDF15;
  settings.IncludeLayers = 1;
  return settings;
}

std::vector<std::string> groupNames(QPDFObjectHandle array) {
  std::vector<std::string> names;
  for (int i = 0; i < array.getArrayNItems(); ++i) {
    names.push_back(doctest::text(array.getArrayItem(i).getKey("/Name")));
  }
  return names;
}

// mutool's reading of the default configuration: "ON" and "OFF" group names.
std::string mutoolConfiguration(const std::filesystem::path& pdf) {
  const auto result = tavtest::runProcess(
      {"mutool", "show", pdf.string(), "trailer/Root/OCProperties/D"});
  EXPECT_EQ(result.exitCode, 0) << result.describe();
  return result.out;
}

// Gray value 0..255 of the page rendered by mutool at 72 ppi, at a point
// given in pixels from the top left corner.
int mutoolGrayAt(const std::filesystem::path& pdf, const std::filesystem::path& pgm, int x, int y) {
  const auto result = tavtest::runProcess(
      {"mutool", "draw", "-q", "-r", "72", "-c", "gray", "-o", pgm.string(), pdf.string(), "1"});
  EXPECT_EQ(result.exitCode, 0) << result.describe();
  std::ifstream in(pgm, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxValue = 0;
  in >> magic >> width >> height >> maxValue;
  in.get();
  std::string pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (magic != "P5" || x >= width || y >= height ||
      pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
    ADD_FAILURE() << "unexpected rendering " << magic << " " << width << "x" << height;
    return -1;
  }
  return static_cast<unsigned char>(pixels[static_cast<std::size_t>(y) * width + x]);
}

TEST(DocumentLayers, VisibleAndHiddenLayersBecomeGroupsWithTheirStates) {
  tavtest::TestFolder dir;
  auto job = makeJob(layersJob(layer("Visible", 0) + "," + layer("Hidden", 100, R"(, "hidden": true)")));
  const auto w = doctest::writeDocument(*job, layerSettings(), dir / "layers.pdf");
  ASSERT_EQ(w.documentResult, 0);
  ASSERT_EQ(w.finishResult, 0);
  tavtest::expectPdfAcceptedByAllConsumers(w.file);
  tavtest::expectContentStreamsSound(w.file);

  Pdf pdf(w.file);
  QPDFObjectHandle properties = pdf.root().getKey("/OCProperties");
  ASSERT_TRUE(properties.isDictionary());
  QPDFObjectHandle groups = properties.getKey("/OCGs");
  EXPECT_EQ(groupNames(groups), (std::vector<std::string>{"Visible", "Hidden"}));
  QPDFObjectHandle configuration = properties.getKey("/D");
  EXPECT_EQ(configuration.getKey("/Order").getObjGen(), groups.getObjGen());
  EXPECT_EQ(groupNames(configuration.getKey("/ON")), (std::vector<std::string>{"Visible"}));
  EXPECT_EQ(groupNames(configuration.getKey("/OFF")), (std::vector<std::string>{"Hidden"}));

  QPDFObjectHandle visible = groups.getArrayItem(0);
  EXPECT_EQ(visible.getKey("/Type").getName(), "/OCG");
  EXPECT_EQ(visible.getKey("/Usage").getKey("/Print").getKey("/PrintState").getName(), "/ON");
  EXPECT_EQ(visible.getKey("/Usage").getKey("/View").getKey("/ViewState").getName(), "/ON");
  QPDFObjectHandle hidden = groups.getArrayItem(1);
  EXPECT_EQ(hidden.getKey("/Usage").getKey("/Print").getKey("/PrintState").getName(), "/OFF");
  EXPECT_EQ(hidden.getKey("/Usage").getKey("/View").getKey("/ViewState").getName(), "/OFF");
  EXPECT_EQ(hidden.getKey("/Usage").getKey("/View").getKey("/PrintState").getName(), "/ON");
  EXPECT_FALSE(hidden.hasKey("/VornPNLck"));

  // mutool reads the same states, and its viewer shows only the visible layer.
  const std::string d = mutoolConfiguration(w.file);
  const std::string visibleRef = std::to_string(visible.getObjGen().getObj()) + " 0 R";
  const std::string hiddenRef = std::to_string(hidden.getObjGen().getObj()) + " 0 R";
  EXPECT_NE(d.find("/ON [ " + visibleRef + " ]"), std::string::npos) << d;
  EXPECT_NE(d.find("/OFF [ " + hiddenRef + " ]"), std::string::npos) << d;
  EXPECT_EQ(mutoolGrayAt(w.file, dir / "page.pgm", 25, 50), 0);
  EXPECT_EQ(mutoolGrayAt(w.file, dir / "page.pgm", 125, 50), 255);

  // The content marks each layer with its group through the page's Properties.
  QPDFObjectHandle page = pdf.pages().at(0);
  QPDFObjectHandle names = page.getKey("/Resources").getKey("/Properties");
  ASSERT_TRUE(names.isDictionary());
  const std::string content = doctest::pageContent(page);
  for (const std::string& key : names.getKeys()) {
    EXPECT_NE(content.find("/OC " + key + " BDC"), std::string::npos) << key << "\n" << content;
  }
  EXPECT_EQ(names.getKeys().size(), 2u);
}

TEST(DocumentLayers, NonPrintingLayersAndLockState) {
  tavtest::TestFolder dir;
  const std::string layers = layer("Art", 0) + "," +
                             layer("Notes", 50, R"(, "nonPrinting": true)") + "," +
                             layer("Locked", 100, R"(, "locked": true)");
  {
    auto job = makeJob(layersJob(layers));
    PDFSettings settings = layerSettings();
    settings.AddNonPrintingLayers = 0;
    const auto w = doctest::writeDocument(*job, settings, dir / "skipped.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    tavtest::expectContentStreamsSound(w.file);
    Pdf pdf(w.file);
    QPDFObjectHandle properties = pdf.root().getKey("/OCProperties");
    // The non-printing layer is left out, and the arrays have one entry fewer.
    EXPECT_EQ(groupNames(properties.getKey("/OCGs")), (std::vector<std::string>{"Art", "Locked"}));
    EXPECT_EQ(groupNames(properties.getKey("/D").getKey("/ON")),
              (std::vector<std::string>{"Art", "Locked"}));
    EXPECT_EQ(properties.getKey("/D").getKey("/OFF").getArrayNItems(), 0);
  }
  {
    auto job = makeJob(layersJob(layers));
    PDFSettings settings = layerSettings();
    settings.AddNonPrintingLayers = 1;
    settings.NormalizedOutput = 1;
    const auto w = doctest::writeDocument(*job, settings, dir / "normalized.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    tavtest::expectContentStreamsSound(w.file);
    Pdf pdf(w.file);
    QPDFObjectHandle properties = pdf.root().getKey("/OCProperties");
    QPDFObjectHandle groups = properties.getKey("/OCGs");
    ASSERT_EQ(groupNames(groups), (std::vector<std::string>{"Art", "Notes", "Locked"}));
    EXPECT_EQ(groupNames(properties.getKey("/D").getKey("/OFF")), (std::vector<std::string>{"Notes"}));
    EXPECT_EQ(groups.getArrayItem(1).getKey("/Usage").getKey("/Print").getKey("/PrintState").getName(),
              "/OFF");
    EXPECT_EQ(groups.getArrayItem(1).getKey("/Usage").getKey("/View").getKey("/ViewState").getName(),
              "/ON");
    EXPECT_FALSE(groups.getArrayItem(0).getKey("/VornPNLck").getBoolValue());
    EXPECT_FALSE(groups.getArrayItem(1).getKey("/VornPNLck").getBoolValue());
    EXPECT_TRUE(groups.getArrayItem(2).getKey("/VornPNLck").getBoolValue());
  }
}

TEST(DocumentLayers, NoVisibleLayerGivesAnEmptyOnArray) {
  tavtest::TestFolder dir;
  for (const std::string& layers :
       {layer("Hidden", 0, R"(, "hidden": true)"), std::string(R"({"kind": "path", "paint": 10,
         "points": [[0, 0], [0, 10], [10, 10], [10, 0]]})")}) {
    auto job = makeJob(layersJob(layers));
    const auto w = doctest::writeDocument(*job, layerSettings(), dir / "none.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    Pdf pdf(w.file);
    QPDFObjectHandle on = pdf.root().getKey("/OCProperties").getKey("/D").getKey("/ON");
    ASSERT_TRUE(on.isArray());
    EXPECT_EQ(on.getArrayNItems(), 0);
  }
}

TEST(DocumentLayers, OptionalContentOnlyFromPdf15WithLayers) {
  tavtest::TestFolder dir;
  auto job = makeJob(layersJob(layer("Art", 0)));
  PDFSettings pdf14 = layerSettings();
  pdf14.PDFCompatibility = PDFSettings::kPDF14;
  PDFSettings noLayers = layerSettings();
  noLayers.IncludeLayers = 0;
  for (const PDFSettings& settings : {pdf14, noLayers}) {
    const auto w = doctest::writeDocument(*job, settings, dir / "plain.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectContentStreamsSound(w.file);
    Pdf pdf(w.file);
    EXPECT_FALSE(pdf.root().hasKey("/OCProperties"));
    EXPECT_FALSE(pdf.pages().at(0).getKey("/Resources").hasKey("/Properties"));
  }
}

}  // namespace
