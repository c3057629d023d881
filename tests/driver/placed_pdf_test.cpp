// The second pass over a written file: reference XObjects replaced by the
// placed pages, read back with qpdf and judged by the consumers' plates.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "driver/placedpdf.h"
#include "platform/messages.h"
#include "support/consumers.h"
#include "support/pdfbuilder.h"
#include "support/pdfread.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;
using tavtest::at;

namespace {

// The placed file: page 1 a cyan square drawn by three content streams (its
// crop box smaller than its media box), with a private name in a nested form
// and keys a form must not take; page 2 a multiply blend; page 3 turned.
void writePlaced(const fs::path& file) {
  tavtest::PdfBuilder b;
  const std::string deep = b.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] /VornPNName /D >>", " ");
  const std::string inner = b.stream(
      "<< /Type /XObject /Subtype /Form /BBox [0 0 10 10] /VornPNName /I /Resources << /XObject << /D " + deep +
          " >> >> >>",
      "/D Do");
  b.page("/CropBox [10 10 110 110] /LastModified (D:20200101) /Annots [<< /Type /Annot /Subtype /Square "
         "/Rect [0 0 5 5] >>] /Resources << /XObject << /I " + inner + " >> >>",
         {"1 0 0 0 k", "20 20 50 50 re", "f /I Do"});
  const std::string multiply = b.object("<< /Type /ExtGState /BM /Multiply >>");
  b.page("/Resources << /ExtGState << /M " + multiply + " >> >>", {"/M gs 1 0 0 0 k 0 0 50 50 re f"});
  b.page("/Rotate 90", {"0 0 0 1 k 0 0 100 20 re f"}, 100, 200);
  b.write(file);
}

std::string referenceDict(const fs::path& placed, int page, const std::string& name) {
  return "<< /Type /XObject /Subtype /Form /FormType 1 /Name /" + name +
         " /BBox [0 0 400 200] /Matrix [1 0 0 1 0 0] /PieceInfo << /VornPNPDFO << /Private << /Kind 1 >> >> >>"
         " /Ref << /F << /Type /FileSpec /F (" + placed.string() + ") >> /Page " + std::to_string(page) + " >> >>";
}

// The written file: a 400 x 200 page placing `page` of `placed` twice side by
// side (two reference objects) and once more inside an ordinary form.
void writeOutput(const fs::path& file, const fs::path& placed, int page) {
  tavtest::PdfBuilder b;
  const std::string r0 = b.stream(referenceDict(placed, page, "Form_0_1_0_0"), "\n");
  const std::string r1 = b.stream(referenceDict(placed, page, "Form_1_1_0_0"), "\n");
  const std::string r2 = b.stream(referenceDict(placed, page, "Form_2_1_0_0"), "\n");
  const std::string wrapper = b.stream(
      "<< /Type /XObject /Subtype /Form /BBox [0 0 400 200] /Resources << /XObject << /P2 " + r2 + " >> >> >>",
      "q 1 0 0 1 0 100 cm /P2 Do Q");
  b.page("/Resources << /XObject << /P0 " + r0 + " /P1 " + r1 + " /W " + wrapper + " >> >>",
         {"q /P0 Do Q q 1 0 0 1 200 0 cm /P1 Do Q /W Do"}, 400, 200);
  b.write(file);
}

// The written file after the pass, with the form the three placements name.
struct Placements {
  explicit Placements(const fs::path& file) : pdf(file) {
    QPDFObjectHandle x = pdf.page(0).getKey("/Resources").getKey("/XObject");
    for (QPDFObjectHandle f : {x.getKey("/P0"), x.getKey("/P1"), x.getKey("/W").getDict().getKey("/Resources")
                                                                    .getKey("/XObject").getKey("/P2")}) {
      forms.insert(f.getObjGen());
      if (!form.isInitialized()) form = f;
    }
    for (QPDFObjectHandle o : pdf.qpdf().getAllObjects()) references += o.isStream() && o.getDict().hasKey("/Ref");
  }
  tavtest::Pdf pdf;
  std::set<QPDFObjGen> forms;  // distinct objects the three names point to
  QPDFObjectHandle form;       // the first of them
  int references = 0;          // streams still carrying Ref
};

}  // namespace

TEST(PlacedPdf, ReferencesBecomeOneFormMadeFromThePage) {
  tavtest::TestFolder dir;
  writePlaced(dir / "placed.pdf");
  writeOutput(dir / "out.pdf", dir / "placed.pdf", 0);
  TavGen::MessageCapture messages;
  ASSERT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "out.pdf"), false, false, false), 0);
  EXPECT_TRUE(messages.messages().empty());
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  tavtest::expectContentStreamsSound(dir / "out.pdf");

  Placements p(dir / "out.pdf");
  EXPECT_EQ(p.references, 0);
  ASSERT_EQ(p.forms.size(), 1u) << "one page, placed three times, is one form";
  // The three content streams joined, one operator a line.
  EXPECT_EQ(tavtest::streamData(p.form), "1 0 0 0 k\n20 20 50 50 re\nf\n/I Do\n");
  EXPECT_EQ(at(p.form, "/BBox") + at(p.form, "/LastModified") + at(p.form, "/PieceInfo/VornPNPDFO/Private/Kind"),
            "[ 10 10 110 110 ]D:202001011");
  for (const char* gone : {"/Annots", "/Ref", "/Name", "/CropBox", "/MediaBox", "/Group",
                           "/Resources/XObject/I/VornPNName", "/Resources/XObject/I/Resources/XObject/D/VornPNName"})
    EXPECT_EQ(at(p.form, gone), "null") << gone;

  // The square lies where the page puts it, twice side by side and once
  // above, in cyan only.
  const auto plates = tavtest::measurePlates(dir / "out.pdf");
  tavtest::expectInks(plates, {{"Cyan", 40, 40, 1}, {"Cyan", 240, 40, 1}, {"Cyan", 40, 140, 1}, {"Cyan", 90, 40, 0},
                               {"Cyan", 140, 40, 0}});
}

TEST(PlacedPdf, TransparentPagesAndTurnedPages) {
  tavtest::TestFolder dir;
  writePlaced(dir / "placed.pdf");
  struct Case {
    const char* what;
    int page;
    bool pdf13, overlap, isolate;
    int result;
    const char* message;  // shown, or null for none
    bool group;
  };
  const Case cases[] = {
      {"flattening refuses PDF 1.4 transparency", 1, true, false, false, -2, nullptr, false},
      {"without flattening the page goes in as it is", 1, false, false, false, 0, nullptr, false},
      {"overlapping, isolated", 1, false, true, true, 0, "PDF/PDF TRANSPARENCIES IN ONEUP WERE ISOLATED", true},
      {"overlapping, not isolated", 1, false, true, false, 0, "PDF/PDF TRANSPARENCIES IN ONEUP", false},
      {"an opaque page needs no group", 0, false, true, true, 0, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeOutput(dir / "out.pdf", dir / "placed.pdf", c.page);
    const std::string before = tavtest::readFile(dir / "out.pdf");
    TavGen::MessageCapture messages;
    EXPECT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "out.pdf"), c.pdf13, c.overlap, c.isolate),
              c.result);
    if (c.result != 0) {
      EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), before);
      continue;
    }
    EXPECT_EQ(messages.count("PDF/PDF TRANSPARENCIES IN ONEUP WERE ISOLATED") +
                  messages.count("PDF/PDF TRANSPARENCIES IN ONEUP"),
              c.message ? 1 : 0);
    if (c.message) {
      EXPECT_TRUE(messages.has(c.message));
    }
    EXPECT_EQ(at(Placements(dir / "out.pdf").form, "/Group"),
              c.group ? "<< /I true /K false /S /Transparency >>" : "null");
  }

  // A page its file shows turned a quarter clockwise is placed as shown: the
  // bar along its bottom edge runs up its left edge.
  writeOutput(dir / "out.pdf", dir / "placed.pdf", 2);
  ASSERT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "out.pdf"), false, false, false), 0);
  tavtest::expectInks(tavtest::measurePlates(dir / "out.pdf"), {{"Black", 10, 90, 1}, {"Black", 50, 10, 0}});
}

TEST(PlacedPdf, HiddenOptionalContentStaysHidden) {
  tavtest::TestFolder dir;
  tavtest::PdfBuilder b;
  const std::string hidden = b.object("<< /Type /OCG /Name (Hidden) >>");
  const std::string shown = b.object("<< /Type /OCG /Name (Shown) >>");
  const std::string both = b.object("<< /Type /OCMD /OCGs [" + hidden + " " + shown + "] /P /AllOn >>");
  b.catalog("/OCProperties", "<< /OCGs [" + hidden + " " + shown + "] /D << /OFF [" + hidden + "] >> >>");
  b.page("/Resources << /Properties << /H " + hidden + " /S " + shown + " /B " + both + " >> >>",
         {"/OC /H BDC 1 0 0 0 k 0 0 40 40 re f EMC /OC /S BDC 0 1 0 0 k 50 0 40 40 re f EMC "
          "/OC /B BDC /Span << >> BDC 0 0 1 0 k 100 0 40 40 re f EMC EMC 0 0 0 1 k 150 0 40 40 re f"});
  b.write(dir / "layers.pdf");
  writeOutput(dir / "out.pdf", dir / "layers.pdf", 0);
  ASSERT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "out.pdf"), false, false, false), 0);
  tavtest::expectContentStreamsSound(dir / "out.pdf");
  tavtest::expectInks(tavtest::measurePlates(dir / "out.pdf"),
                      {{"Cyan", 20, 20, 0}, {"Magenta", 70, 20, 1}, {"Yellow", 120, 20, 0}, {"Black", 170, 20, 1}});
}

// A placed file that cannot be embedded fails the pass with a message naming
// it, and the written file stays as it was.
TEST(PlacedPdf, BadPlacedFilesFailWithTheirName) {
  tavtest::TestFolder dir;
  writePlaced(dir / "good.pdf");
  const std::string good = tavtest::readFile(dir / "good.pdf");
  tavtest::writeFile(dir / "text.pdf", "this is not a PDF file at all");
  tavtest::writeFile(dir / "truncated.pdf", good.substr(0, good.size() / 3));
  std::string broken = good;
  broken.replace(broken.find("xref"), 4, "xref\n0 9999\nx");
  tavtest::writeFile(dir / "xref.pdf", broken);
  tavtest::PdfBuilder locked;
  locked.page("", {"0 0 50 50 re f"});
  locked.write(dir / "locked.pdf", true);
  struct Case { const char* file; int page; };
  for (const Case c : {Case{"missing.pdf", 0}, {"text.pdf", 0}, {"truncated.pdf", 0}, {"xref.pdf", 0},
                       {"locked.pdf", 0}, {"good.pdf", 7}}) {
    SCOPED_TRACE(c.file);
    writeOutput(dir / "out.pdf", dir / c.file, c.page);
    const std::string before = tavtest::readFile(dir / "out.pdf");
    TavGen::MessageCapture messages;
    EXPECT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "out.pdf"), false, false, false), -1);
    ASSERT_TRUE(messages.has("PDF/CANNOT EMBED PLACED PDF"));
    EXPECT_EQ(messages.count("PDF/CANNOT EMBED PLACED PDF"), 1) << "one message per file";
    EXPECT_NE(messages.messages().front().text.find(c.file), std::string::npos) << messages.messages().front().text;
    EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), before);
  }
}

TEST(PlacedPdf, AFileWithoutReferencesIsNotSaved) {
  tavtest::TestFolder dir;
  tavtest::PdfBuilder b;
  b.page("", {"0 0 50 50 re f"});
  b.write(dir / "plain.pdf");
  const std::string before = tavtest::readFile(dir / "plain.pdf");
  EXPECT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "plain.pdf"), true, true, true), 0);
  EXPECT_EQ(tavtest::readFile(dir / "plain.pdf"), before);
  EXPECT_EQ(TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "gone.pdf"), false, false, false), -1);
}

// What consumers refuse in a placed page is mended or refused with the
// reason: unbalanced q/Q and BMC/BDC/EMC are balanced (in the page and in
// the forms it draws), a resource the content names and its resources lack
// and a form that draws itself refuse the page; inline images go through
// intact, and a form that only lists itself among its resources is drawn.
TEST(PlacedPdf, FlawsOfAPlacedPageAreMendedOrRefusedWithTheReason) {
  tavtest::TestFolder dir;
  struct Case {
    const char* what;
    std::function<void(tavtest::PdfBuilder&)> build;
    const char* refusal;  // null: embedded
    std::vector<tavtest::InkAt> inks;
  };
  const std::string square = "0 0 0 1 k 0 0 40 40 re f";
  const Case cases[] = {
      {"unbalanced page",
       [&](tavtest::PdfBuilder& b) {
         b.page("/Resources << /Properties << /P << >> >> >>",
                {"Q EMC q q /Tag /P BDC " + square + " Q Q Q EMC EMC q /Tag BMC", "1 0 0 0 k 50 0 40 40 re f"});
       },
       nullptr, {{"Black", 20, 20, 1}, {"Cyan", 70, 20, 1}}},
      {"unbalanced form",
       [&](tavtest::PdfBuilder& b) {
         const std::string form = b.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] >>", "q q Q Q Q " + square + " q");
         b.page("/Resources << /XObject << /Fm " + form + " >> >>", {"/Fm Do"});
       },
       nullptr, {{"Black", 20, 20, 1}}},
      {"a form listing itself among the resources it shares",
       [&](tavtest::PdfBuilder& b) {
         const std::string shared = b.object("<< >>");
         const std::string form =
             b.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources " + shared + " >>", square);
         b.put(shared, "/XObject", "<< /Fm " + form + " >>");
         b.page("/Resources " + shared, {"/Fm Do"});
       },
       nullptr, {{"Black", 20, 20, 1}}},
      {"a font it lacks",
       [&](tavtest::PdfBuilder& b) { b.page("", {"BT /F9 12 Tf (x) Tj ET " + square}); },
       "its content names the font /F9, which its resources lack", {}},
      {"a graphics state a form lacks",
       [&](tavtest::PdfBuilder& b) {
         const std::string form = b.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources << >> >>",
                                           "/G1 gs " + square);
         b.page("/Resources << /XObject << /Fm " + form + " >> >>", {"/Fm Do"});
       },
       "in the form /Fm, its content names the graphics state /G1, which its resources lack", {}},
      {"a form that draws itself through another",
       [&](tavtest::PdfBuilder& b) {
         const std::string resources = b.object("<< >>");
         const std::string inner = b.stream(
             "<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources " + resources + " >>", "/Fm Do " + square);
         const std::string outer = b.stream(
             "<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources " + resources + " >>", "/In Do");
         b.put(resources, "/XObject", "<< /Fm " + outer + " /In " + inner + " >>");
         b.page("/Resources " + resources, {"/Fm Do"});
       },
       "the form /Fm draws itself", {}},
      {"an inline image",
       [&](tavtest::PdfBuilder& b) {
         static const char kImage[] = "q 40 0 0 40 0 0 cm BI /W 2 /H 1 /CS /G /BPC 8 ID \x00\xff EI Q";
         b.page("", {std::string(kImage, sizeof kImage - 1)});
       },
       nullptr, {{"Black", 10, 20, 1}, {"Black", 30, 20, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::PdfBuilder b;
    c.build(b);
    b.write(dir / "placed.pdf");
    writeOutput(dir / "out.pdf", dir / "placed.pdf", 0);
    const std::string before = tavtest::readFile(dir / "out.pdf");
    TavGen::MessageCapture messages;
    const int result = TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(dir / "out.pdf"), false, false, false);
    if (c.refusal != nullptr) {
      EXPECT_EQ(result, -1);
      ASSERT_TRUE(messages.has("PDF/CANNOT EMBED PLACED PDF")) << messages.messages().size();
      EXPECT_NE(messages.messages().front().text.find(c.refusal), std::string::npos) << messages.messages().front().text;
      EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), before);
      continue;
    }
    ASSERT_EQ(result, 0);
    tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
    tavtest::expectContentStreamsSound(dir / "out.pdf");
    if (!c.inks.empty()) tavtest::expectInks(tavtest::measurePlates(dir / "out.pdf"), c.inks);
  }
}
