// How a JDF export splits a job: placed artworks and PDFs become pictures,
// everything else groups of marks by nearness, paint class and the
// collect-marks setting.
#include <gtest/gtest.h>

#include <sstream>

#include "jdf/jdfplaced.h"
#include "jdf_support.h"
#include "support/consumers.h"

namespace {

// An object of the layouts below: a square of `side` units at (v, h) at
// 72 ppi (nearness margin 14 units), with one of the paints 30 (knockout),
// 31 (overprint), 40 (placed PDF), 41 (placed EPS), 42 (placed DCS EPS).
std::string obj(const char* name, int v, int h, int paint, int side = 36, const std::string& more = "") {
  return drivertest::square(v, h, side, paint, R"(,"name":")" + std::string(name) + "\"" + more);
}

std::string layoutJob(const std::string& objects) {
  const std::string place = R"(,"place":{"origin":[300,300],"widthCorner":[300,336],"heightCorner":[336,300]}})";
  return R"({"format":"tavpdf-job","ppi":72,"origin":[720,0],"boxes":{"media":[0,0,720,720]},)"
         R"("inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}}],)"
         R"("paints":[{"id":30,"type":"flat","colour":1},{"id":31,"type":"flat","colour":1,"overprint":true},)"
         R"({"id":40,"type":"picture","picture":1)" + place + R"(,{"id":41,"type":"picture","picture":2)" + place +
         R"(,{"id":42,"type":"picture","picture":3)" + place + R"(],)"
         R"("pictures":[{"id":1,"file":"art.pdf","width":36,"height":36},{"id":2,"file":"art.eps"},)"
         R"({"id":3,"file":"art.eps","dcs":true}],"objects":[)" + objects + "]}";
}

}  // namespace

TEST(JDFGrouping, LayoutsGiveTheGroupsOfTheirNearnessClassAndSettings) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.pdf", "%PDF-1.4\n");
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  struct Case {
    const char* what;
    std::string objects;
    bool collect;
    std::vector<std::string> groups;  // objects of each MarkObject, in Ord order
    int contentObjects = 0;
  };
  const Case cases[] = {
      {"0.1 inch apart", obj("a", 0, 0, 30) + "," + obj("b", 0, 43, 30), false, {"a b"}},
      {"0.3 inch apart", obj("a", 0, 0, 30) + "," + obj("b", 0, 58, 30), false, {"a", "b"}},
      {"a third object near two groups merges them",
       obj("a", 0, 0, 30) + "," + obj("b", 0, 66, 30) + "," + obj("c", 8, 41, 30, 20), false, {"a c b"}},
      {"another class over a group closes it",
       obj("a", 0, 0, 30) + "," + obj("x", 10, 10, 31) + "," + obj("d", 0, 40, 30), false, {"a", "x", "d"}},
      {"collected, classes mixed", obj("a", 0, 0, 30) + "," + obj("x", 10, 10, 31) + "," + obj("d", 400, 400, 30),
       true, {"a x d"}},
      {"collected marks close at a placed artwork", obj("a", 0, 0, 30) + "," + obj("p", 300, 300, 40) + "," +
       obj("b", 600, 600, 30), true, {"a", "b"}, 1},
      {"collected registration marks stay open at a placed artwork",
       obj("r", 0, 0, 30, 36, R"(,"mark":"crop")") + "," + obj("p", 300, 300, 40) + "," + obj("b", 600, 600, 30),
       true, {"r b"}, 1},
      {"the same picture placed twice", obj("p", 300, 300, 40) + "," + obj("q", 300, 300, 40), false, {}, 2},
      {"open paths, DCS files and pixels join the marks; non-printing layers and excluded objects do not",
       R"({"kind":"path","name":"line","closed":false,"stroke":{"width":2,"paint":30},"points":[[100,0],[100,300]]},)" +
           obj("dcs", 60, 0, 42) + "," + obj("gone", 0, 0, 30, 36, R"(,"excluded":true)") +
           R"(,{"kind":"layer","nonPrinting":true,"objects":[)" + obj("hidden", 50, 50, 30) + "]}",
       false, {"line dcs"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = drivertest::loadJob(layoutJob(c.objects), dir.path());
    PDFSettings settings = drivertest::flavour("JDF", "AddNonPrintingLayers=0");
    JDFDocument document(job.get(), settings, true, false, c.collect, nullptr);
    JDFSheet* sheet = document.writeJDFLayout({0, 0, 720, 720}, "t", {});
    ASSERT_TRUE(collectJDFPlacedObjects(*sheet, job.get()));
    std::vector<std::string> groups;
    int pictures = 0;
    for (const auto& placed : sheet->placedObjects) {
      if (placed->typeTag() == JDFTag("pict")) {
        ++pictures;
        continue;
      }
      const auto& marks = static_cast<const JDFMarks&>(*placed);
      EXPECT_EQ(marks.sequence(), static_cast<int>(groups.size()));
      std::string names;
      for (const TavDB::Object* o : marks.objects()) names += (names.empty() ? "" : " ") + o->name();
      groups.push_back(names);
    }
    EXPECT_EQ(groups, c.groups);
    EXPECT_EQ(sheet->surface()->getChildCount() - groups.size(), static_cast<std::size_t>(c.contentObjects));
    EXPECT_EQ(pictures, c.contentObjects > 0 ? 1 : 0);
  }
}

TEST(JDFGrouping, APlacedEPSThatIsNotDCSStopsTheExportBeforeAnyFile) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.pdf", "%PDF-1.4\n");
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  const auto before = tavtest::folderListing(dir.path());
  auto job = drivertest::loadJob(layoutJob(obj("a", 0, 0, 30) + "," + obj("e", 300, 300, 41)), dir.path());
  PDFSettings settings = drivertest::flavour("JDF");
  const auto run = jdftest::exportJdf(job.get(), settings, dir / "out.jdf");
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.has("JDF/EXPORT JDF DOES NOT SUPPORT PLACED EPS FILES"));
  EXPECT_EQ(tavtest::folderListing(dir.path()), before);
  EXPECT_TRUE(run.produced.empty());
}

namespace {

std::string textMark(const char* name, int v, int h, const char* text, const std::string& more = "") {
  return R"({"kind":"text","name":")" + std::string(name) + R"(","at":[)" + std::to_string(v) + "," +
         std::to_string(h) + "]" + more + R"(,"runs":[{"text":")" + text +
         R"(","font":"NimbusSans-Bold","size":12,"paint":30}]})";
}

}  // namespace

// A text mark takes the place its laid-out characters cover: marks near
// its end or left of its centre join its group, and its file shows it whole.
TEST(JDFGrouping, TextMarksTakeThePlaceOfTheirLaidOutCharacters) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.pdf", "%PDF-1.4\n");
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  struct Case {
    const char* what;
    std::string objects;
    std::vector<std::string> groups;
    const char* shown;  // what pdftotext finds in the first marks file
  };
  const Case cases[] = {
      {"a square just past a long text's end",
       textMark("t", 100, 0, "Mark text that is long") + "," + obj("b", 80, 128, 30), {"t b"}, "Mark text that is long"},
      {"a square left of a centred text",
       textMark("t", 100, 300, "Centred mark text", R"(,"align":"centre")") + "," + obj("b", 80, 220, 30), {"t b"},
       "Centred mark text"},
      {"a text turned upright", textMark("t", 400, 100, "Upright mark", R"(,"matrix":[0,-1,1,0])"), {"t"},
       "Upright mark"},
      {"two lines", textMark("t", 100, 0, "First line\\nSecond line of the mark"), {"t"},
       "First line Second line of the mark"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = drivertest::loadJob(layoutJob(c.objects), dir.path());
    PDFSettings settings = drivertest::flavour("JDF");
    {
      JDFDocument document(job.get(), settings, true, false, false, nullptr);
      JDFSheet* sheet = document.writeJDFLayout({0, 0, 720, 720}, "t", {});
      ASSERT_TRUE(collectJDFPlacedObjects(*sheet, job.get()));
      std::vector<std::string> groups;
      for (const auto& placed : sheet->placedObjects) {
        std::string names;
        for (const TavDB::Object* o : static_cast<const JDFMarks&>(*placed).objects())
          names += (names.empty() ? "" : " ") + o->name();
        groups.push_back(names);
      }
      EXPECT_EQ(groups, c.groups);
    }
    const auto run = jdftest::exportJdf(job.get(), settings, dir / "marks.jdf");
    ASSERT_EQ(run.result, 0);
    jdftest::expectFolderSound(dir / "marks.jdf");
    const auto r = tavtest::runProcess({"pdftotext", (dir / "marks_marks0.pdf").string(), "-"});
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    std::istringstream words(r.out);
    std::string word, shown;
    while (words >> word) shown += (shown.empty() ? "" : " ") + word;
    EXPECT_EQ(shown, c.shown);
  }
}
