// Whole JDF exports: the ticket and its files as consumers read them, and the
// per-object files composed by the ticket against a plain export of the job.
#include <gtest/gtest.h>

#include "jdf_support.h"
#include "support/consumers.h"
#include "support/pdfread.h"

namespace {

using drivertest::loadJob;
using drivertest::square;

std::vector<std::string> names(const pugi::xpath_node_set& nodes, const char* attribute) {
  std::vector<std::string> out;
  for (const auto& n : nodes) out.push_back(n.node().attribute(attribute).value());
  return out;
}

// The ticket's elements in document order, one line each: indentation by
// depth, the name and its attributes' names in order; a run of equal
// siblings is one line with its count.
std::string outline(const pugi::xml_node& node, int depth = 0) {
  std::vector<std::pair<std::string, int>> runs;  // a sibling's outline and its count
  for (const pugi::xml_node child : node.children()) {
    std::string line = "\n" + std::string(depth * 2, ' ') + child.name() + "(";
    for (const auto a : child.attributes()) line += std::string(a.previous_attribute() ? "," : "") + a.name();
    line += ")";
    const std::string block = line + "\t" + outline(child, depth + 1);
    if (!runs.empty() && runs.back().first == block) {
      ++runs.back().second;
    } else {
      runs.emplace_back(block, 1);
    }
  }
  std::string text;
  for (auto [block, count] : runs)
    text += block.replace(block.find('\t'), 1, count > 1 ? " x" + std::to_string(count) : "");
  return text;
}

class Handler : public PDFFileNameHandler {
 public:
  TavSys::FileSpec GetJDFTarget(const TavSys::FileSpec& target) override {
    return TavSys::FileSpec(target.path().parent_path() / "Étiquette 1.jdf");
  }
  void FileProduced(const TavSys::FileSpec& file) override { told.push_back(file); }
  std::vector<TavSys::FileSpec> told;
};

}  // namespace

TEST(JDFExport, TicketDescribesTheJobAndNamesOnlyFilesThatPassTheirConsumers) {
  tavtest::TestFolder dir;
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"Varnish","cmyk":[10,0,10,0],"varnish":true},)"
      R"({"name":"A&B <\"x\">","cmyk":[100,0,0,50]},{"name":"Die","cmyk":[0,100,0,0],"technical":true},)"
      R"({"name":"Black","process":"black","opaque":true}])";
  // Five squares far apart, one in each ink: five groups of marks without collecting.
  const char* shares[] = {R"({"Cyan":100})", R"({"Varnish":100})", R"({"A&B <\"x\">":100})", R"({"Die":100})",
                          R"({"Black":100})"};
  std::string colours, paints, objects;
  for (int i = 0; i < 5; ++i) {
    const std::string sep = i ? "," : "", n = std::to_string(i);
    colours += sep + R"({"id":2)" + n + R"(,"inks":)" + shares[i] + "}";
    paints += sep + R"({"id":3)" + n + R"(,"type":"flat","colour":2)" + n + "}";
    objects += sep + square(720 + i * 1200, 720, 500, 30 + i);
  }
  const std::string job = drivertest::jobText(
      inks, "[" + colours + "]", "[" + paints + "]", "[" + objects + "]",
      R"(,"description":"Job <1> & \"2\"","customerInfo":{"CustomerID":"4711 <&>\u0001"})");
  auto loaded = loadJob(job);
  Handler handler;
  PDFSettings settings = drivertest::flavour("JDF", "JDFCollectMarks=0 Mirror=1 HorizontalDistortion=-2");
  const auto run = jdftest::exportJdf(loaded.get(), settings, dir / "out.pdf", &handler);
  ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
  const auto ticket = dir / "Étiquette 1.jdf";
  EXPECT_EQ(run.ticket.path(), ticket);
  jdftest::expectFolderSound(ticket);

  const auto doc = jdftest::readTicket(ticket);
  const pugi::xml_node root = doc.child("JDF");
  EXPECT_EQ(outline(doc), R"(
JDF(ID,Type,JobID,Status,Version,xmlns)
  AuditPool()
    Created(Author,TimeStamp)
  CustomerInfo(CustomerID)
  ResourcePool()
    ColorantControl(ID,Class,Status)
      ColorantParams()
        SeparationSpec(Name) x5
      ColorantOrder()
        SeparationSpec(Name) x5
      ColorPoolRef(rRef)
    ColorPool(ID,Class,Status)
      Color(Name,ColorType,CMYK) x5
    Layout(ID,Class,Locked,Status,Automated)
      Signature(Name)
        Sheet(Name,Class)
          Surface(Side,SurfaceContentsBox)
            MarkObject(CTM,Ord,ClipBox) x5
    RunList(ID,Class,Locked,Status,PartIDKeys)
    RunList(ID,Class,Locked,Status,PartIDKeys)
      RunList(Run,Pages) x5
        LayoutElement()
          FileSpec(URL)
          ColorPoolRef(rRef)
    RunList(ID,Class,Status)
  ResourceLinkPool()
    LayoutLink(rRef,Usage)
    RunListLink(rRef,Usage,ProcessUsage) x2
    RunListLink(rRef,Usage))");
  EXPECT_STREQ(root.attribute("JobID").value(), "Job <1> & \"2\"");
  EXPECT_STREQ(root.child("CustomerInfo").attribute("CustomerID").value(), "4711 <&>");

  EXPECT_EQ(names(doc.select_nodes("//Color"), "Name"),
            (std::vector<std::string>{"Cyan", "Varnish", "A&B <\"x\">", "Die", "Black"}));
  EXPECT_EQ(names(doc.select_nodes("//Color"), "ColorType"),
            (std::vector<std::string>{"Normal", "Transparent", "Normal", "DieLine", "Opaque"}));
  EXPECT_STREQ(doc.select_node("//Color[3]/@CMYK").attribute().value(), "1.00 0.00 0.00 0.50");
  EXPECT_STREQ(doc.select_node("//Sheet/@Name").attribute().value(), "Étiquette 1");

  // One file per group (five mark objects above), named in the marks run
  // list; the host is told of each.
  EXPECT_EQ(names(doc.select_nodes("//RunList/RunList/LayoutElement/FileSpec"), "URL").front(),
            "%C3%89tiquette%201_marks0.pdf");
  EXPECT_EQ(run.produced.size(), 5u);
  EXPECT_EQ(handler.told, run.produced);
  // The layout is the ticket's: mirrored and 2 % narrower; the files are
  // neither, and settings and job are as they were.
  EXPECT_EQ(std::string(doc.select_node("//MarkObject/@CTM").attribute().value()).substr(0, 37),
            "-0.980000 0.000000 0.000000 1.000000 ");
  EXPECT_NE(tavtest::readFile(dir / "Étiquette 1_marks0.pdf").find("/MediaBox [ 0  0  50  50  ]"), std::string::npos);
  EXPECT_EQ(settings.Mirror, 1);
  EXPECT_EQ(settings.HorizontalDistortion, -2.0);
  EXPECT_EQ(getOriginalOrigin(loaded.get()), (TavDB::tv_point{7200, 0}));
  EXPECT_EQ(loaded->editHistory.entries().back().text, "Exported to the JDF file " + ticket.string());

  // A second ticket of the process goes on numbering its identifiers.
  const int lastId = std::stoi(std::string(doc.select_node("(//@ID)[last()]").attribute().value()).substr(4));
  jdftest::exportJdf(loaded.get(), settings, dir / "second.jdf");
  const auto second = jdftest::readTicket(dir / "second.jdf");
  EXPECT_GT(std::stoi(std::string(second.child("JDF").attribute("ID").value()).substr(4)), lastId);
}

namespace {

// A one-up of 1 x 2 inches at 720 ppi: an orange panel with a black bar.
const char* kOneUp =
    R"({"format":"tavpdf-job","ppi":720,"origin":[1440,0],"boxes":{"media":[0,0,1440,720]},)"
    R"("inks":[{"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}],)"
    R"("colours":[{"id":1,"inks":{"Orange":30}},{"id":2,"inks":{"Black":100}}],)"
    R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2}],)"
    R"("objects":[{"kind":"path","paint":10,"points":[[0,0],[0,720],[1440,720],[1440,0]]},)"
    R"({"kind":"path","paint":11,"points":[[200,100],[200,600],[400,600],[400,100]]}]})";

std::string rect(int top, int left, int bottom, int right, int paint) {
  const auto pt = [](int v, int h) { return "[" + std::to_string(v) + "," + std::to_string(h) + "]"; };
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":[)" + pt(top, left) + "," +
         pt(top, right) + "," + pt(bottom, right) + "," + pt(bottom, left) + "]}";
}

// The job: marks in three colours (one a stroked open line), and the one-up
// placed twice: turned a quarter to the right and clipped by a smaller
// outline, and upright. `inlined` gives the same page with the one-up's
// objects drawn in place instead, as a plain export can show it.
std::string compositionJob(bool inlined) {
  const std::string marks = square(5000, 5000, 1500, 30) + "," + square(300, 5000, 600, 31) + "," +
                            R"({"kind":"path","closed":false,"stroke":{"width":20,"paint":32},)"
                            R"("points":[[6000,500],[6000,3000]]})";
  std::string placed;
  if (inlined) {
    // Turned: picture (v, h) lies at (1000 + h, 4000 - v); the outline clips at v 1100 and h 3800.
    placed = rect(1100, 2560, 1720, 3800, 40) + "," + rect(1100, 3600, 1600, 3800, 41) + "," +
             rect(3000, 1000, 4440, 1720, 40) + "," + rect(3200, 1100, 3400, 1600, 41);
  } else {
    placed = rect(1100, 2560, 1720, 3800, 50) + "," + rect(3000, 1000, 4440, 1720, 51);
  }
  return drivertest::jobText(
      R"([{"name":"Cyan","process":"cyan"},{"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}])",
      R"([{"id":20,"inks":{"Cyan":100}},{"id":21,"inks":{"Orange":100}},{"id":22,"inks":{"Black":100}},)"
      R"({"id":23,"inks":{"Orange":30}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},{"id":32,"type":"flat","colour":22},)"
      R"({"id":40,"type":"flat","colour":23},{"id":41,"type":"flat","colour":22})" +
          std::string(inlined ? "]" :
          R"(,{"id":50,"type":"picture","picture":1,"place":{"origin":[1000,4000],"widthCorner":[1720,4000],)"
          R"("heightCorner":[1000,2560]}},{"id":51,"type":"picture","picture":1,"place":{"origin":[3000,1000],)"
          R"("widthCorner":[3000,1720],"heightCorner":[4440,1000]}}])"),
      "[" + marks + "," + placed + "]", inlined ? "" : R"(,"pictures":[{"id":1,"file":"oneup.json"}])");
}

}  // namespace

TEST(JDFExport, FilesComposedByTheTicketGiveThePlatesOfAPlainExport) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "oneup.json", kOneUp);
  struct Case {
    const char* what;
    int orientation;
    const char* settings;
  };
  const Case cases[] = {{"portrait, marks collected", 1, "JDFCollectMarks=1"},
                        {"turned right, mirrored, distorted", 0, "JDFCollectMarks=0 Mirror=1 HorizontalDistortion=-2"},
                        {"turned left", 2, "JDFCollectMarks=0"},
                        {"upside down, mirrored", 3, "JDFCollectMarks=1 Mirror=1 VerticalDistortion=3"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PDFSettings settings = drivertest::flavour("JDF", c.settings);
    settings.Orientation.SetSelection(c.orientation);
    auto job = loadJob(compositionJob(false), dir.path());
    const auto run = jdftest::exportJdf(job.get(), settings, dir / "job.jdf");
    ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
    jdftest::expectFolderSound(dir / "job.jdf");
    // The one-up placed twice is one file, named once by both placements.
    const auto doc = jdftest::readTicket(dir / "job.jdf");
    EXPECT_EQ(names(doc.select_nodes("//ContentObject"), "Ord"), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(doc.select_nodes("//RunList[@ID][1]/RunList").size(), 1u);
    // The sheet and every file start at 0,0.
    EXPECT_TRUE(std::string(doc.select_node("//Surface/@SurfaceContentsBox").attribute().value())
                    .starts_with("0.000000 0.000000 "));
    for (const auto& url : names(doc.select_nodes("//FileSpec"), "URL"))
    {
      tavtest::Pdf file(jdftest::fileOfURL(dir / "job.jdf", url));
      const std::vector<double> media = tavtest::numbers(file.page(0).getKey("/MediaBox"));
      ASSERT_EQ(media.size(), 4u) << url;
      EXPECT_EQ(media[0], 0.0) << url;
      EXPECT_EQ(media[1], 0.0) << url;
    }
    jdftest::composeByTicket(dir / "job.jdf", dir / "composed.pdf");

    settings.GenerateJDF = 0;
    auto inlined = loadJob(compositionJob(true), dir.path());
    ASSERT_EQ(drivertest::exportJob(inlined.get(), settings, dir / "plain.pdf").result, 0);
    jdftest::expectSamePlates(dir / "composed.pdf", dir / "plain.pdf");
  }
}

namespace {

// A one-up of 2 x 1 inches at `ppi`: an orange panel with a black bar.
std::string oneUpAt(int ppi) {
  const auto u = [ppi](double inches) { return std::to_string(int(inches * ppi)); };
  const auto pt = [](const std::string& v, const std::string& h) { return "[" + v + "," + h + "]"; };
  return R"({"format":"tavpdf-job","ppi":)" + u(1) + R"(,"origin":[)" + u(1) + R"(,0],"boxes":{"media":[0,0,)" +
         u(1) + "," + u(2) + R"(]},)"
         R"("inks":[{"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}],)"
         R"("colours":[{"id":1,"inks":{"Orange":30}},{"id":2,"inks":{"Black":100}}],)"
         R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2}],)"
         R"("objects":[{"kind":"path","paint":10,"points":[)" +
         pt("0", "0") + "," + pt("0", u(2)) + "," + pt(u(1), u(2)) + "," + pt(u(1), "0") +
         R"(]},{"kind":"path","paint":11,"points":[)" + pt(u(0.1), u(0.3)) + "," + pt(u(0.1), u(0.8)) + "," +
         pt(u(0.6), u(0.8)) + "," + pt(u(0.6), u(0.3)) + "]}]}";
}

// A job of 4 x 4 inches at `ppi` placing the one-up 1:1 an inch from the
// top left corner, with a cyan mark below it.
std::string placingOneUpAt(int ppi) {
  const auto u = [ppi](double inches) { return std::to_string(int(inches * ppi)); };
  return R"({"format":"tavpdf-job","ppi":)" + u(1) + R"(,"origin":[)" + u(4) + R"(,0],"boxes":{"media":[0,0,)" +
         u(4) + "," + u(4) + R"(]},)"
         R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Black","process":"black"},)"
         R"({"name":"Orange","cmyk":[0,60,100,0]}],"colours":[{"id":1,"inks":{"Cyan":100}}],)"
         R"("paints":[{"id":10,"type":"flat","colour":1},{"id":20,"type":"picture","picture":1,"place":)"
         R"({"origin":[)" + u(1) + "," + u(1) + R"(],"widthCorner":[)" + u(1) + "," + u(3) + R"(],"heightCorner":[)" +
         u(2) + "," + u(1) + R"(]}}],"pictures":[{"id":1,"file":"oneup.json"}],"objects":[)" +
         square(int(2.5 * ppi), ppi, ppi / 2, 10) + R"(,{"kind":"path","paint":20,"points":[[)" + u(1) + "," + u(1) +
         "],[" + u(1) + "," + u(3) + "],[" + u(2) + "," + u(3) + "],[" + u(2) + "," + u(1) + "]]}]}";
}

}  // namespace

TEST(JDFExport, AOneUpAtAnotherResolutionPrintsAtItsSize) {
  struct Case {
    int oneUpPpi, jobPpi;
  };
  for (const Case c : {Case{2540, 72}, Case{300, 1200}, Case{720, 720}}) {
    SCOPED_TRACE(std::to_string(c.oneUpPpi) + " ppi one-up in a " + std::to_string(c.jobPpi) + " ppi job");
    tavtest::TestFolder dir;
    tavtest::writeFile(dir / "oneup.json", oneUpAt(c.oneUpPpi));
    auto job = loadJob(placingOneUpAt(c.jobPpi), dir.path());
    PDFSettings settings = drivertest::flavour("JDF", "JDFCollectMarks=0");
    const auto run = jdftest::exportJdf(job.get(), settings, dir / "job.jdf");
    ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
    jdftest::expectFolderSound(dir / "job.jdf");
    jdftest::composeByTicket(dir / "job.jdf", dir / "composed.pdf");
    settings.GenerateJDF = 0;
    ASSERT_EQ(drivertest::exportJob(job.get(), settings, dir / "plain.pdf").result, 0);
    jdftest::expectSamePlates(dir / "composed.pdf", dir / "plain.pdf");
  }
}

TEST(JDFExport, MarksPagesLieOnTheSheetHoweverFarTheArtReaches) {
  // On a 10-inch sheet: a square, one across its right edge and one far below it.
  const std::string job = drivertest::jobText(
      drivertest::kStandardInks, R"([{"id":20,"inks":{"Cyan":100}},{"id":21,"inks":{"Black":100}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21}])",
      "[" + square(1000, 1000, 800, 30) + "," + square(3000, 6800, 800, 31) + "," + square(100000000, 1000, 800, 30) +
          "]");
  struct Case {
    const char* settings;
    std::size_t markObjects;
  };
  for (const Case c : {Case{"JDFCollectMarks=1", 1}, Case{"JDFCollectMarks=0", 2}}) {
    SCOPED_TRACE(c.settings);
    tavtest::TestFolder dir;
    auto loaded = loadJob(job, dir.path());
    PDFSettings settings = drivertest::flavour("JDF", c.settings);
    const auto run = jdftest::exportJdf(loaded.get(), settings, dir / "job.jdf");
    ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
    jdftest::expectFolderSound(dir / "job.jdf");
    const auto doc = jdftest::readTicket(dir / "job.jdf");
    EXPECT_EQ(doc.select_nodes("//MarkObject").size(), c.markObjects);
    // No page reaches beyond the sheet.
    for (const auto& url : names(doc.select_nodes("//FileSpec"), "URL")) {
      tavtest::Pdf file(jdftest::fileOfURL(dir / "job.jdf", url));
      for (double v : tavtest::numbers(file.page(0).getKey("/MediaBox"))) EXPECT_LE(v, 720.0) << url;
    }
    jdftest::composeByTicket(dir / "job.jdf", dir / "composed.pdf");
    settings.GenerateJDF = 0;
    ASSERT_EQ(drivertest::exportJob(loaded.get(), settings, dir / "plain.pdf").result, 0);
    jdftest::expectSamePlates(dir / "composed.pdf", dir / "plain.pdf");
  }
}

// With flattening asked for, the folder's files hold no transparency and
// print as the transparent job composes: a 50 % multiply square over a
// process square, and the same over a map of two channels.
TEST(JDFExport, FlatteningReachesTheFilesOfTheFolder) {
  const std::string pictures = (tavtest::sourceDir() / "examples" / "pictures").string() + "/";
  const std::string map =
      R"(,"maps":[{"id":1,"files":[")" + pictures + R"(wave-cmyk.tif"],"channels":[{"ink":"Cyan","channel":0},)"
      R"({"ink":"Magenta","channel":1}],"colour":20,"width":240,"height":150,"resolution":150}])";
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50,"blendMode":"multiply"},)"
      R"({"id":32,"type":"map","map":1,"place":{"origin":[1000,1000],"widthCorner":[1000,3400],"heightCorner":[2500,1000]}}])";
  struct Case {
    const char* name;
    int below;  // the paint under the transparent square
  };
  for (const Case c : {Case{"flat", 30}, Case{"map", 32}}) {
    SCOPED_TRACE(c.name);
    tavtest::TestFolder dir;
    auto loaded = loadJob(drivertest::jobText(drivertest::kStandardInks,
                                              R"([{"id":20,"inks":{"Cyan":100}},{"id":21,"inks":{"Magenta":80}}])",
                                              paints,
                                              "[" + square(1000, 1000, 2400, c.below) + "," +
                                                  square(2000, 2000, 2400, 31) + "]",
                                              map),
                      dir.path());
    PDFSettings settings = drivertest::flavour("JDF", "EnableFlattening=1");
    const auto run = jdftest::exportJdf(loaded.get(), settings, dir / "job.jdf");
    ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
    jdftest::expectFolderSound(dir / "job.jdf");
    const auto doc = jdftest::readTicket(dir / "job.jdf");
    for (const auto& url : names(doc.select_nodes("//FileSpec"), "URL")) {
      const tavtest::ProcessResult json = tavtest::runProcess(
          {"qpdf", "--json", "--json-stream-data=none", jdftest::fileOfURL(dir / "job.jdf", url).string()});
      ASSERT_EQ(json.exitCode, 0) << json.describe();
      for (const char* key : {"\"/BM\"", "\"/ca\"", "\"/CA\"", "\"/SMask\""})
        EXPECT_EQ(json.out.find(key), std::string::npos) << url << " holds " << key;
    }
    jdftest::composeByTicket(dir / "job.jdf", dir / "composed.pdf");
    PDFSettings transparent = drivertest::flavour("JDF");
    transparent.GenerateJDF = 0;
    ASSERT_EQ(drivertest::exportJob(loaded.get(), transparent, dir / "plain.pdf").result, 0);
    jdftest::expectSamePlates(dir / "composed.pdf", dir / "plain.pdf");
  }
}

// A one-up that lacks inks of its parent lets the parent's art below it
// through, in the plain export and in its file of the folder alike.
TEST(JDFExport, TheCartonsFolderPrintsLikeItsPlainExport) {
  tavtest::TestFolder dir;
  const auto examples = tavtest::sourceDir() / "examples";
  auto job = loadJob(tavtest::readFile(examples / "carton.json"), examples);
  PDFSettings settings = drivertest::flavour("JDF");
  const auto run = jdftest::exportJdf(job.get(), settings, dir / "carton.jdf");
  ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
  jdftest::expectFolderSound(dir / "carton.jdf");
  jdftest::composeByTicket(dir / "carton.jdf", dir / "composed.pdf");
  settings.GenerateJDF = 0;
  ASSERT_EQ(drivertest::exportJob(job.get(), settings, dir / "plain.pdf").result, 0);
  jdftest::expectSamePlates(dir / "composed.pdf", dir / "plain.pdf");
}
