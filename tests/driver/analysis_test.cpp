// Job analysis before an export: placed files, blend modes, overlapping
// placed artwork, ink remapping problems with their texts, and the form
// visitors.
#include <gtest/gtest.h>

#include "driver/visitors.h"
#include "platform/kernel/exportkernel.h"
#include "platform/localization.h"
#include "driver_support.h"
#include "platform/messages.h"
#include "platform/utf.h"
#include "support/consumers.h"
#include "tavpdf/OutputPDF.h"

using drivertest::jobText;
using drivertest::loadJob;
using drivertest::square;

namespace {

std::string utf8(const std::u16string& s) { return TavSys::Uni16CharToUTF8(s); }

// Four inks A, B, C, D (spot), with optional mappings given as JSON keys.
std::string inksAbcd(const std::string& a = "", const std::string& b = "", const std::string& c = "") {
  return R"([{"name":"A","cmyk":[10,0,0,0])" + a + R"(},{"name":"B","cmyk":[0,10,0,0])" + b +
         R"(},{"name":"C","cmyk":[0,0,10,0])" + c + R"(},{"name":"D","cmyk":[0,0,0,10]}])";
}

std::string onePath(const std::string& inks, const std::string& colourInks) {
  return drivertest::colouredSquares(inks, {colourInks});
}

struct Analysis {
  std::unique_ptr<jobstr> job;
  std::unique_ptr<TavPDF::VisitorSearchObjects> visitor;
};

Analysis analyse(const std::string& text, bool remap = true,
                 const std::filesystem::path& folder = std::filesystem::temp_directory_path()) {
  Analysis a;
  a.job = loadJob(text, folder);
  a.visitor = std::make_unique<TavPDF::VisitorSearchObjects>(a.job.get());
  a.visitor->SetRemapCheck(remap);
  a.visitor->Walk(jobGetSpahan(a.job.get()));
  return a;
}

const std::string kSoftMaskJob = jobText(
    inksAbcd(R"(,"mapTo":"B")"), R"([{"id":20,"inks":{"D":100}},{"id":21,"inks":{"A":100}}])",
    R"([{"id":30,"type":"flat","colour":20,"softMask":5},{"id":31,"type":"flat","colour":21}])",
    "[" + square(720, 720, 1000, 30) + "]",
    R"(,"patterns":[{"id":5,"kind":"softMask","objects":[)" + square(720, 720, 500, 31) + "]}]");

}  // namespace

TEST(RemapAnalysis, ProblemsAreFoundAndExplained) {
  const std::string twoOntoC = inksAbcd(R"(,"mapTo":"C")", R"(,"mapTo":"C")");
  // Colour 20 (D) is harmless; colour 21 uses A and B, both mapped onto C.
  const std::string colours = R"([{"id":20,"inks":{"D":100}},{"id":21,"inks":{"A":50,"B":30}}])";
  const std::string paints = R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21}])";
  const std::string cannot = ": this remapping cannot be written into a PDF file.";
  struct Case { const char* what; std::string job; int bits; const char* key; std::string text; int kind; };
  const Case cases[] = {
      {"A and B onto C, which the colour does not use", onePath(twoOntoC, R"({"A":50,"B":30})"),
       TavPDF::kRemapTwoToOne, "PDF/UNABLE TO REMAP TWO TO ONE OBJECT",
       "An object uses A and B, which are both remapped onto C" + cannot, 2},
      // (A, B) whether B comes before or after A in the separation map.
      {"A onto B, the colour using both", onePath(inksAbcd(R"(,"mapTo":"B")"), R"({"A":50,"B":30})"),
       TavPDF::kRemapOneToOne, "PDF/UNABLE TO REMAP OBJECT",
       "An object uses both A and B, and A is remapped onto B" + cannot, 2},
      {"C onto A, the colour using both", onePath(inksAbcd("", "", R"(,"mapTo":"A")"), R"({"A":50,"C":30})"),
       TavPDF::kRemapOneToOne, "PDF/UNABLE TO REMAP OBJECT",
       "An object uses both C and A, and C is remapped onto A" + cannot, 2},
      {"B untouched (255) and C at 0 % are no use", onePath(twoOntoC, R"({"A":50,"B":255,"C":0})"), 0, "", "", 0},
      {"a compound path", jobText(twoOntoC, colours, paints, R"([{"kind":"compound","paint":31,"objects":[)" +
                                                                 square(720, 720, 500, 31) + "]}]"),
       TavPDF::kRemapTwoToOne, "PDF/UNABLE TO REMAP TWO TO ONE OBJECT", "", 2},
      {"a stroke", jobText(twoOntoC, colours, paints, "[" + square(720, 720, 500, 30, R"(,"stroke":{"width":10,"paint":31})") + "]"),
       TavPDF::kRemapTwoToOne, "PDF/UNABLE TO REMAP TWO TO ONE OBJECT", "", 2},
      {"a picture using both", drivertest::placedJob(inksAbcd(R"(,"mapTo":"B")"),
                                                     R"("file":"pic.tif","width":10,"height":10,"resolution":72,"inks":["A","B"])"),
       TavPDF::kRemapOneToOne, "PDF/UNABLE TO REMAP PICTURE", "", 1},
      // A onto B; A is used only by the soft mask of a path painted in D.
      {"a soft mask", kSoftMaskJob, TavPDF::kRemapInSoftmask, "PDF/REMAPPING SEPARATION USED IN SOFTMASK", "", -1},
  };
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "pic.tif", "not read by the analysis");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto a = analyse(c.job, true, dir.path());
    EXPECT_EQ(a.visitor->FindRemappedSeparationInUse(), c.bits);
    const std::string text = utf8(a.visitor->CollectSeparationRemapProblems());
    if (!c.text.empty() || c.bits == 0) {
      EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(a.visitor->RemapMessageKey(), c.key);
    if (c.kind >= 0) {
      EXPECT_EQ(a.visitor->remapKind(), c.kind);
    }
  }
  // With the remap check off nothing is recorded.
  auto off = analyse(kSoftMaskJob, false);
  EXPECT_EQ(off.visitor->FindRemappedSeparationInUse(), 0);
  EXPECT_TRUE(off.visitor->CollectSeparationRemapProblems().empty());
}

namespace {
const std::string kPlacedPdf = R"("file":"placed.pdf","inks":["Cyan"],"normalized":)";
}  // namespace

TEST(ObjectAnalysis, PlacedPdfOverlapNeedsAnEarlierObjectThatItTouchesWithArea) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "placed.pdf", "%PDF-1.4\n");
  // The placed PDF lies at (720, 720); the objects before it, if any.
  struct Case { std::string before; bool overlaps; };
  for (const Case& c : {Case{"", false},                                // first object of the job
                        Case{square(720, 0, 720, 31) + ",", false},     // touches an edge only
                        Case{square(500, 500, 1000, 31) + ",", true},   // overlaps a corner
                        Case{square(0, 0, 4000, 31) + ",", true}}) {    // lies inside
    std::string text = drivertest::placedJob(drivertest::kStandardInks, kPlacedPdf + "false",
                                             R"(,{"id":20,"inks":{"Cyan":100}})",
                                             R"(,{"id":31,"type":"flat","colour":20})");
    text.insert(text.find(R"("objects":[)") + 11, c.before);
    auto a = analyse(text, false, dir.path());
    EXPECT_TRUE(a.visitor->HasPlacedPdfOrEps());
    EXPECT_EQ(a.visitor->PlacedArtworkOverlaps(), c.overlaps) << c.before;
  }
}

TEST(ObjectAnalysis, PlacedFilesForNormalizedOutputAndInksNotOutput) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "placed.pdf", "%PDF-1.4\n");
  tavtest::writeFile(dir / "rgb.tif", "pixels");
  const std::string cyanNotOutput =
      R"([{"name":"Cyan","process":"cyan","output":false},{"name":"Black","process":"black"}])";
  struct Case { std::string inks, picture; bool normalizedOk, usesUnoutput; };
  for (const Case& c :
       {Case{drivertest::kStandardInks, kPlacedPdf + "true", true, false},
        Case{drivertest::kStandardInks, kPlacedPdf + "false", false, false},
        Case{drivertest::kStandardInks, R"("file":"rgb.tif","width":4,"height":4,"resolution":72,"colorSpace":"rgb")",
             false, false},
        Case{cyanNotOutput, kPlacedPdf + "true", true, true}}) {
    SCOPED_TRACE(c.inks + c.picture);
    auto a = analyse(drivertest::placedJob(c.inks, c.picture), false, dir.path());
    EXPECT_EQ(a.visitor->IsValidForNormalizedPDF(), c.normalizedOk);
    EXPECT_EQ(a.visitor->PlacedFileUsesUnoutputSeparation(), c.usesUnoutput);
  }
}

TEST(ObjectAnalysis, BlendModesThatChangeWhiteNeedFlatteningForSeparatedOutput) {
  for (const std::string mode : {"normal", "multiply", "darken", "screen", "difference", "luminosity"}) {
    const bool changesWhite = mode != "normal" && mode != "multiply" && mode != "darken";
    auto a = analyse(drivertest::colouredSquares(drivertest::kStandardInks, {R"({"Cyan":100})"},
                                                 R"(,"blendMode":")" + mode + "\""),
                     false);
    EXPECT_EQ(a.visitor->HasNonWhitePreservingBlendmode(), changesWhite) << mode;
    EXPECT_EQ(a.visitor->CanMakeSeparatedPDF(false), !changesWhite) << mode;
    EXPECT_TRUE(a.visitor->CanMakeSeparatedPDF(true)) << mode;
  }
}

TEST(FormVisitors, BoundingBoxIncludesTextsAndCadSearchTellsTheKinds) {
  auto job = loadJob(jobText(
      drivertest::kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])",
      R"([{"id":30,"type":"flat","colour":20}])",
      R"([{"kind":"group","objects":[)" + square(1000, 1000, 500, 30) + "," +
          square(2000, 2000, 500, 30, R"(,"cad":true)") + "]}]"));
  TavDB::Object* group = jobGetSpahan(job.get())->member(0);
  TavPDF::VisitorGetBoundingBoxForPDFOutput box(group, 0x20000, 0, 0x20000, 0);
  const TavDB::tv_box b = box.GetBoundingBox();
  EXPECT_EQ(b, (TavDB::tv_box{1000, 1000, 2500, 2500}));

  TavPDF::VisitorSearchCADObjects cad;
  TavDB::AcceptVisitor(jobGetSpahan(job.get()), cad);
  EXPECT_TRUE(cad.FoundCADObjects());
  EXPECT_TRUE(cad.FoundNonCADObjects());
}

// The CAD preprocessor on a copied drawing: paths up to the first CAD stroke
// become CAD strokes (their own line kept, else the stroke creator's round
// 0.4-point line in their paint), re-screened as line art; groups named
// like the main design layer in any offered language become "Main Design".
TEST(FormVisitors, CadPreprocessingMakesStrokesAndFindsTheMainDesign) {
  auto job = loadJob(jobText(
      R"([{"name":"Die","cmyk":[0,100,0,0]}])", R"([{"id":1,"inks":{"Die":100}}])",
      R"([{"id":10,"type":"flat","colour":1,"screen":1}])",
      R"([{"kind":"group","name":"HAUPTdesign","objects":[)" + square(0, 0, 100, 10) + "," +
          square(0, 200, 100, 10, R"(,"stroke":{"width":30,"paint":10,"join":"bevel"})") + "," +
          square(0, 400, 100, 10) + R"(]},{"kind":"group","name":"Main Designs","objects":[]}])",
      R"(,"screens":[{"id":1,"name":"s","ruling":100}])"));
  std::unique_ptr<TavDB::Object> copy = TavDB::objdupall(jobGetSpahan(job.get()));
  TavDB::Object* group = copy->member(0);
  // The third path was made a CAD stroke by an earlier pass: the walk ends there.
  group->member(2)->extraMut().cadStroke = true;
  TavPDF::PreprocessCADObject preprocess(job.get(), kScreenModeLineArt);
  TavDB::AcceptVisitor(copy.get(), preprocess);
  EXPECT_FALSE(preprocess.active());

  EXPECT_EQ(group->name(), "Main Design");
  EXPECT_EQ(copy->member(1)->name(), "Main Designs") << "a longer name is another name";
  const TavDB::Object* made = group->member(0);
  ASSERT_TRUE(TavricLib::IsCADStroke(made) && made->stroke() != nullptr);
  EXPECT_EQ(made->paint(), kPaintNoFill) << "a line, not an area";
  EXPECT_DOUBLE_EQ(made->stroke()->width, 4.0) << "0.4 point at 720 units per inch";
  EXPECT_EQ(made->stroke()->join, TavDB::Stroke::kRoundJoin);
  EXPECT_EQ(made->stroke()->cap, TavDB::Stroke::kRoundCap);
  EXPECT_EQ(made->stroke()->miterLimit, 10.0);
  EXPECT_EQ(paiistra(job.get(), made->stroke()->paint), paiistra(job.get(), 10));
  EXPECT_EQ(paipoi(job.get(), made->stroke()->paint)->colour, 1);
  EXPECT_EQ(paipoi(job.get(), made->stroke()->paint)->screen, kNoScreen);
  const TavDB::Object* own = group->member(1);
  EXPECT_EQ(own->stroke()->width, 30) << "its own line is kept";
  EXPECT_EQ(own->stroke()->join, TavDB::Stroke::kBevelJoin);
  EXPECT_EQ(paipoi(job.get(), own->stroke()->paint)->screen, kNoScreen);
  EXPECT_EQ(group->member(2)->paint(), 10) << "after the first CAD stroke nothing changes";
  EXPECT_EQ(jobGetSpahan(job.get())->member(0)->member(0)->paint(), 10) << "the job's own tree is untouched";
}

TEST(FormVisitors, MainDesignNamesInEveryLanguageAndWildcards) {
  const std::pair<const char*, bool> names[] = {
      {"Main Design", true},  {"main design", true},       {"Hauptdesign", true},  {"DISE\u00d1O PRINCIPAL", true},
      {"Hoofdontwerp", true}, {"Design principal", true}, {"Main Design 2", false}, {"Design", false},
      {"", false}};
  for (const auto& [name, main] : names) EXPECT_EQ(TavPDF::IsMainDesignName(name), main) << name;
  const std::tuple<const char*, const char*, bool> wildcards[] = {
      {"Main Design 2", "Main Design*", true}, {"Main Design", "Main Design*", true}, {"Mein Design", "M?in design", true},
      {"Main", "Main?", false},                {"abcabd", "*abd", true},               {"abcab", "*abd", false},
      {"x", "", false},                        {"", "*", true}};
  for (const auto& [text, pattern, match] : wildcards)
    EXPECT_EQ(TavSys::CompareWithWildcards(text, pattern), match) << text << " ~ " << pattern;
}
