// Layers as optional content: one group per layer with its print, view and
// lock state, referenced from the page content by name.
#include <gtest/gtest.h>

#include <set>

#include "document_support.h"
#include "support/consumers.h"
#include "support/plate_checks.h"

namespace doctest {
namespace {

// A layer holding one black square at h (left edge) .. h + 50, v 25..75.
std::string layer(const std::string& name, int h, const std::string& flags = "") {
  const std::string l = std::to_string(h), r = std::to_string(h + 50);
  return R"({"kind": "layer", "name": ")" + name + "\"" + flags + R"(, "objects": [{"kind": "path", "paint": 10,
    "points": [[25, )" + l + "], [25, " + r + "], [75, " + r + "], [75, " + l + "]]}]}";
}

// The optional content in one line: each group with its print and view state
// (and the view's print state and the lock state where written), then the
// default configuration's ON and OFF arrays and the number of marked layers
// in the content. Checks on the way that every
// group is an OCG, that the configuration orders the groups, and that the
// page's content marks name groups of the list and nothing else.
std::string optionalContent(Pdf& pdf) {
  QPDFObjectHandle page = pdf.page(0);
  QPDFObjectHandle properties = pdf.root().getKey("/OCProperties");
  QPDFObjectHandle marks = page.getKey("/Resources").getKey("/Properties");
  if (!properties.isDictionary()) return marks.isNull() ? "none" : "marks without groups";
  QPDFObjectHandle groups = properties.getKey("/OCGs");
  EXPECT_EQ(properties.getKey("/D").getKey("/Order").getObjGen(), groups.getObjGen());
  std::string out;
  for (QPDFObjectHandle group : groups.getArrayAsVector()) {
    EXPECT_EQ(at(group, "/Type"), "/OCG");
    out += at(group, "/Name") + " " + at(group, "/Usage/Print/PrintState") + " " + at(group, "/Usage/View/ViewState");
    if (group.getKey("/Usage").getKey("/View").hasKey("/PrintState")) out += " " + at(group, "/Usage/View/PrintState");
    if (group.hasKey("/VornPNLck")) out += at(group, "/VornPNLck") == "true" ? " locked" : " unlocked";
    out += ", ";
  }
  const std::string content = pageContent(page);
  const std::set<std::string> keys = marks.isDictionary() ? marks.getKeys() : std::set<std::string>{};
  for (const std::string& key : keys) {
    EXPECT_NE(content.find("/OC " + key + " BDC"), std::string::npos) << key << "\n" << content;
    bool listed = false;
    for (QPDFObjectHandle group : groups.getArrayAsVector()) {
      listed |= group.getObjGen() == marks.getKey(key).getObjGen();
    }
    EXPECT_TRUE(listed) << key;
  }
  for (const char* state : {"/ON", "/OFF"}) {
    QPDFObjectHandle array = properties.getKey("/D").getKey(state);
    out += std::string("| ") + (state + 1) + ":";
    if (!array.isArray()) out += " not an array " + array.unparse();
    for (QPDFObjectHandle group : array.isArray() ? array.getArrayAsVector() : std::vector<QPDFObjectHandle>{}) {
      out += " " + at(group, "/Name");
    }
  }
  return out + "| marks " + std::to_string(keys.size());
}

TEST(DocumentLayers, GroupsAndTheirStatesFollowTheLayersAndSettings) {
  const std::string visibleAndHidden = layer("Visible", 0) + "," + layer("Hidden", 100, R"(, "hidden": true)");
  const std::string threeKinds = layer("Art", 0) + "," + layer("Notes", 50, R"(, "nonPrinting": true)") + "," +
                                 layer("Locked", 100, R"(, "locked": true)");
  // PDF 1.5 and layers with the non-printing ones, unless the case says otherwise.
  const char* kLayers = "PDFCompatibility=2 IncludeLayers=1 AddNonPrintingLayers=1";
  struct Case { std::string objects, settings; const char* expected; };
  const Case cases[] = {
      // Hidden on screen and in print, but its view usage says printed.
      {visibleAndHidden, "", "Visible /ON /ON, Hidden /OFF /OFF /ON, | ON: Visible| OFF: Hidden| marks 2"},
      // A non-printing layer left out: the arrays have one entry fewer.
      {threeKinds, "AddNonPrintingLayers=0", "Art /ON /ON, Locked /ON /ON, | ON: Art Locked| OFF:| marks 2"},
      {threeKinds, "NormalizedOutput=1",
       "Art /ON /ON unlocked, Notes /OFF /ON unlocked, Locked /ON /ON locked, | ON: Art Locked| OFF: Notes| marks 3"},
      // No visible layer, or no layer at all: an empty ON array, not a null.
      {layer("Hidden", 0, R"(, "hidden": true)"), "", "Hidden /OFF /OFF /ON, | ON:| OFF: Hidden| marks 1"},
      {R"({"kind": "path", "paint": 10, "points": [[0, 0], [0, 10], [10, 10], [10, 0]]})", "", "| ON:| OFF:| marks 0"},
      // Optional content only from PDF 1.5 and when layers are asked for.
      {layer("Art", 0), "PDFCompatibility=0", "none"},
      {layer("Art", 0), "IncludeLayers=0", "none"},
  };
  tavtest::TestFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    auto job = makeJob(R"("boxes": {"media": [0, 0, 100, 200]},
      "inks": [{"name": "Black", "process": "black"}], "colours": [{"id": 1, "inks": {"Black": 100}}],
      "paints": [{"id": 10, "type": "flat", "colour": 1}], "objects": [)" + c.objects + "]");
    const auto w = writeAccepted(*job, testSettings(std::string(kLayers) + " " + c.settings), dir / "layers.pdf");
    Pdf pdf(w.file);
    EXPECT_EQ(optionalContent(pdf), c.expected);
    if (&c != &cases[0]) continue;
    // mutool reads the same states, and Ghostscript prints only the visible layer.
    const auto shown = tavtest::runProcess({"mutool", "show", w.file.string(), "trailer/Root/OCProperties/D"});
    const auto ref = [&](int i) { return at(pdf.root(), "/OCProperties/OCGs/" + std::to_string(i)); };
    EXPECT_NE(shown.out.find("/ON [ " + ref(0) + " ]"), std::string::npos) << shown.describe();
    EXPECT_NE(shown.out.find("/OFF [ " + ref(1) + " ]"), std::string::npos) << shown.describe();
    tavtest::expectInks(tavtest::measurePlates(w.file), {{"Black", 25, 50, 1}, {"Black", 125, 50, 0}}, 0.01);
  }
}

}  // namespace
}  // namespace doctest
