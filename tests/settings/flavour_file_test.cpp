// Flavour files: what is written, that it validates against its document
// type, round trips, the loader's conversions, and refusal of bad files
// without any change to the settings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/messages.h"
#include "platform/tav_error.h"
#include "settings/settings_access.h"
#include "settings_helpers.h"
#include "support/consumers.h"
#include "tavpdf/Flavour.h"

namespace fs = std::filesystem;
using settingstest::differences;
using settingstest::GlobalSettingsGuard;

namespace {

std::string pref(const std::string& key, const std::string& type, const std::string& value) {
  return "<Preference Key=\"" + key + "\" Type=\"" + type + "\">" + value + "</Preference>";
}

std::string activities(const std::string& body, const std::string& activityKey = "PDFo") {
  return "<?xml version=\"1.0\"?>\n<qel.activities Version=\"1.0\"><qel.activity Name=\"Export PDF\" Key=\"" +
         activityKey + "\">" + body + "</qel.activity></qel.activities>\n";
}

int load(const tavtest::TestFolder& dir, const std::string& text) {
  const fs::path file = dir / "in.xml";
  tavtest::writeFile(file, text);
  return TavPDF::LoadFlavourFromFile(TavSys::FileSpec(file), TavPDF::pdfprftab);
}

// Values far from every default, in every kind of field the table has.
void setUnusualValues(PDFSettings& s) {
  s.Flavour = 8;
  s.SetVistamoFlavourDefaults();
  s.Orientation.SetSelection(3);
  s.ScreenRegistration.SetSelection(1);
  s.VerticalDistortion = 2.5;
  s.HorizontalDistortion = -0.123456789;
  s.DotgainFile = TavSys::filref("/curves/with space & ampersand/dg.crv");
  s.CertifiedOutputProfile = TavSys::filref("/profiles/\xC3\xA9t\xC3\xA9.icc");
  s.MaxPathSize = 1234567;
  s.CompressImages = 37;
  s.LinkType = 2;
  s.Mirror = 1;
}

}  // namespace

TEST(FlavourFileSave, ValidFileOfEveryRowThatRoundTripsByteStable) {
  GlobalSettingsGuard guard;
  tavtest::TestFolder dir;
  setUnusualValues(gPDFSettings);
  const fs::path file = dir / "press flavour.xml";
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(file), TavPDF::pdfprftab), 0);

  // Each kind of row, to the byte: numbers with six significant digits,
  // file references as escaped URLs, popups with every item.
  const std::string text = tavtest::readFile(file);
  for (const char* exact : {
           "\n  <qel.activity Name=\"Export PDF\" Key=\"PDFo\" Version=\"2.0\">\n",
           "\n    <Preference Key=\"Flav\" Name=\"Flavour\" Type=\"Long\">8</Preference>\n",
           "\n    <Preference Key=\"CmPg\" Name=\"CompressPages\" Type=\"Boolean\">False</Preference>\n",
           "\n    <Preference Key=\"DstH\" Name=\"HorizontalDistortion\" Type=\"Double\">-0.123457</Preference>\n",
           "\n    <Preference Key=\"DotF\" Name=\"DotgainFile\" Type=\"URL\">"
           "file:///curves/with%20space%20%26%20ampersand/dg.crv</Preference>\n",
           "\n    <Preference Key=\"Orie\" Name=\"Orientation\" Type=\"Enumeration\">\n"
           "      <ValueDescription Key=\"0\">Turn right</ValueDescription>\n"
           "      <ValueDescription Key=\"1\">Portrait</ValueDescription>\n"
           "      <ValueDescription Key=\"2\">Turn left</ValueDescription>\n"
           "      <ValueDescription Key=\"3\">Upside down</ValueDescription>\n"
           "      <Value>3</Value>\n    </Preference>\n"}) {
    EXPECT_NE(text.find(exact), std::string::npos) << exact;
  }
  std::size_t rows = 0;  // every row of the table
  for (auto at = text.find("<Preference "); at != std::string::npos; at = text.find("<Preference ", at + 1)) ++rows;
  EXPECT_EQ(rows, 66u);

  // The document type travels with the file and the file obeys it.
  const auto check = tavtest::runProcess({"xmllint", "--noout", "--valid", file.string()});
  ASSERT_TRUE(check.started) << check.describe();
  EXPECT_EQ(check.exitCode, 0) << check.describe();
  EXPECT_TRUE(check.err.empty()) << check.describe();

  // Change every field the table names, then read the file back.
  const PDFSettings saved = gPDFSettings;
  gPDFSettings = PDFSettings();
  gPDFSettings.Flavour = 0;
  gPDFSettings.SetPressFlavourDefaults();
  gPDFSettings.Orientation.SetSelection(0);
  gPDFSettings.CertifiedOutputProfile = TavSys::filref("/other.icc");
  ASSERT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(file), TavPDF::pdfprftab), 0);
  auto diff = differences(saved, gPDFSettings);
  // Fields without a preference row are not in the file; the distortion was
  // written with six digits.
  for (const char* notInFile :
       {"CMYKOnOnePage", "UseDefaultScreen", "PDFCompatibility", "IncludePrivateData", "HorizontalDistortion"}) {
    diff.erase(notInFile);
  }
  EXPECT_TRUE(diff.empty()) << ::testing::PrintToString(diff);
  EXPECT_EQ(gPDFSettings.HorizontalDistortion, -0.123457);

  // What was read is written again to the byte, from the global and from a
  // record of its own, which loading and saving leave the global alone for.
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(dir / "b.xml"), TavPDF::pdfprftab), 0);
  EXPECT_EQ(tavtest::readFile(file), tavtest::readFile(dir / "b.xml"));
  gPDFSettings = PDFSettings();
  PDFSettings record;
  ASSERT_EQ(TavPDF::LoadFlavourFileIntoSettings(TavSys::FileSpec(file), record), 0);
  ASSERT_EQ(TavPDF::SaveSettingsToFlavourFile(TavSys::FileSpec(dir / "c.xml"), record), 0);
  EXPECT_EQ(tavtest::readFile(file), tavtest::readFile(dir / "c.xml"));
  EXPECT_TRUE(differences(PDFSettings(), gPDFSettings).empty());
}

TEST(FlavourFileSave, FailedWriteKeepsTheOldFileAndReportsFailure) {
  tavtest::TestFolder dir;
  const fs::path target = dir / "keep.xml";
  tavtest::writeFile(target, "old flavour");

  // A file-size limit far below the size of a flavour file makes the write
  // fail half-way, as a full disk would. The child process reports back.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{200, 200};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    TavGen::MessageCapture capture;
    const int rc = TavPDF::SaveFlavourToFile(TavSys::FileSpec(target), TavPDF::pdfprftab);
    const bool said = capture.has("PDF/CANNOT WRITE FLAVOUR FILE");
    ::_exit(rc > TavSys::kFileErrorBase && said ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must fail with a file error and a message";
  EXPECT_EQ(tavtest::readFile(target), "old flavour");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
      << "no temporary file is left behind";

  // A successful save replaces the file and keeps its permissions.
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(target), TavPDF::pdfprftab), 0);
  EXPECT_NE(tavtest::readFile(target), "old flavour");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  // A folder that does not exist: failure, and a message.
  TavGen::MessageCapture capture;
  const int rc = TavPDF::SaveFlavourToFile(TavSys::FileSpec(dir / "no" / "such.xml"), TavPDF::pdfprftab);
  EXPECT_EQ(rc, TavSys::kFileErrorBase + ENOENT);
  EXPECT_TRUE(capture.has("PDF/CANNOT WRITE FLAVOUR FILE"));
  EXPECT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(), TavPDF::pdfprftab), TavPDF::kFlavourFileCannotMake);
}

// Files of other versions and programs load as the format reads them, and
// the user is told once what was passed over or read that way.
TEST(FlavourFileLoad, ConvertsValuesAsTheFileFormatAsks) {
  GlobalSettingsGuard guard;
  tavtest::TestFolder dir;
  gPDFSettings = PDFSettings();
  const struct {
    std::string preference;
    const char* field;
    const char* shown;
    const char* noted = nullptr;  // what the warning names, when it names the preference
  } cases[] = {
      {pref("Pprr", "Long", " 72.6 "), "PreviewResolution", "73"}, {pref("MaxS", "Long", "-0.4"), "MaxSize", "0"},
      {pref("Norm", "Boolean", "tRuE"), "NormalizedOutput", "1"},
      {pref("CmPg", "Boolean", "FALSE"), "CompressPages", "0"},
      {pref("Mirr", "Boolean", "yes"), "Mirror", "0", "\"Mirr\" \"yes\" read as False"},
      {pref("PtSz", "Long", "12abc"), "MaxPathSize", "12", "\"PtSz\" \"12abc\" read as 12"},
      {pref("Sre2", "Long", ""), "DownsampleResolution", "0", "\"Sre2\" \"\" read as 0"},
      {pref("DstH", "Double", "3.5mm"), "HorizontalDistortion", "3.5", "\"DstH\" \"3.5mm\" read as 3.5"},
      // No ranges beyond the file format's own.
      {pref("DstV", "Double", "-250"), "VerticalDistortion", "-250"}, {pref("Flav", "Long", "12"), "Flavour", "12"},
      {"<Preference Key=\"Orie\" Type=\"Enumeration\"><ValueDescription Key=\"0\">Turn right</ValueDescription>"
       "<Value>3</Value></Preference>", "Orientation", "3 (Upside down)"},
      {pref("ScrR", "Enumeration", "1.5"), "ScreenRegistration", "1 (Reset for each external file)"},
      {pref("DotF", "URL", "file:///c/d%C3%A9.crv"), "DotgainFile", "/c/d\xC3\xA9.crv"},
      {pref("DotF", "URL", "curves/dg.crv"), "DotgainFile", "/c/d\xC3\xA9.crv", "\"DotF\" (not a local file URL)"},
      // Plain ampersands, comments and CDATA are no entity references.
      {"<!-- &comment; --><![CDATA[ &cdata; ]]>" + pref("CerP", "Path", "/a &amp; b/&#x41;.icc"),
       "CertifiedOutputProfile", "/a & b/A.icc"},
      {pref("Norma", "Boolean", "True") + pref("Zzzz", "Long", "3"), "AddThumbnail", "0",
       "\"Norma\" (a key this version does not know); \"Zzzz\" (a key"},
  };
  std::string body;
  for (const auto& c : cases) body += c.preference;
  TavGen::MessageCapture capture;
  ASSERT_EQ(load(dir, activities(body)), 0);
  ASSERT_EQ(capture.count("PDF/FLAVOUR FILE PASSED OVER"), 1) << capture.messages().size();
  const TavGen::Message& note = capture.messages().back();
  EXPECT_EQ(note.severity, TavGen::kWarning);
  const auto fields = settingstest::fieldsOf(gPDFSettings);
  for (const auto& c : cases) {
    EXPECT_EQ(fields.at(c.field), c.shown) << c.preference;
    if (c.noted != nullptr) {
      EXPECT_NE(note.text.find(c.noted), std::string::npos) << c.noted << " in " << note.text;
    }
  }

  // An empty URL clears the reference; a relative path stays relative;
  // nothing to tell.
  TavGen::MessageCapture quiet;
  ASSERT_EQ(load(dir, activities(pref("DotF", "URL", "") + pref("CerP", "Path", "relative/out.icc"))), 0);
  EXPECT_TRUE(gPDFSettings.DotgainFile.empty());
  EXPECT_EQ(gPDFSettings.CertifiedOutputProfile.toFileSpec().path(), fs::path("relative/out.icc"));
  EXPECT_TRUE(quiet.messages().empty());
}

TEST(FlavourFileLoad, FindsTheExportActivityWhereverTheFormatAllowsIt) {
  GlobalSettingsGuard guard;
  tavtest::TestFolder dir;
  gPDFSettings = PDFSettings();
  // Nested in a conditional, after an activity of another program.
  const std::string nested =
      "<qel.activities><qel.activity Key=\"PDFx\">" + pref("Mirr", "Boolean", "True") +
      "</qel.activity><Conditional Parameter=\"p\" Value=\"v\"><qel.activity Key=\"PDFo\">" +
      pref("Thum", "Boolean", "True") + "</qel.activity></Conditional></qel.activities>";
  ASSERT_EQ(load(dir, nested), 0);
  EXPECT_EQ(gPDFSettings.AddThumbnail, 1);
  EXPECT_EQ(gPDFSettings.Mirror, 0);

  // The general-preferences form: read only through a link.
  const std::string linked = activities("<GeneralPreferences><Preference Key=\"PDFo\" Type=\"Link\">" +
                                        pref("Note", "Boolean", "True") + "</Preference></GeneralPreferences>");
  ASSERT_EQ(load(dir, linked), 0);
  EXPECT_EQ(gPDFSettings.AddNotes, 1);
  // Under a root of another name, and as the root itself.
  ASSERT_EQ(load(dir, "<settings><qel.activity Key=\"PDFo\">" + pref("CmPg", "Boolean", "True") +
                          "</qel.activity></settings>"), 0);
  EXPECT_EQ(gPDFSettings.CompressPages, 1);
  ASSERT_EQ(load(dir, "<qel.activity Key=\"PDFo\">" + pref("Thum", "Boolean", "False") + "</qel.activity>"), 0);
  EXPECT_EQ(gPDFSettings.AddThumbnail, 0);

  // Not linked, another program's key, a key with a space: no activity.
  const std::string mirror = pref("Mirr", "Boolean", "True");
  TavGen::MessageCapture capture;
  for (const std::string& text :
       {activities("<GeneralPreferences><Preference Key=\"PDFo\" Type=\"Value\">" + mirror +
                   "</Preference></GeneralPreferences>"),
        activities(mirror, "PDFx"), activities(mirror, "PDFo ")}) {
    EXPECT_EQ(load(dir, text), TavPDF::kFlavourFileNoActivity) << text;
  }
  EXPECT_EQ(capture.count("PDF/FLAVOUR FILE NO ACTIVITY"), 3);
  EXPECT_EQ(gPDFSettings.Mirror, 0);
}

// Every unsafe file is refused with its own message, and not one field
// changes, not even the ones read before the bad value.
TEST(FlavourFileLoad, UnsafeFilesAreRefusedAndChangeNothing) {
  GlobalSettingsGuard guard;
  tavtest::TestFolder dir;
  gPDFSettings = PDFSettings();
  gPDFSettings.Orientation.SetSelection(2);
  const PDFSettings before = gPDFSettings;
  const std::string good = pref("Mirr", "Boolean", "True") + pref("PtSz", "Long", "17");

  struct Case {
    const char* what;
    std::string text;
    const char* key;
  };
  auto with = [&](const char* key, const char* type, const char* value) {
    return activities(good + pref(key, type, value));
  };
  auto typed = [](const std::string& declaration, const std::string& file) {
    return file.substr(0, 22) + "<!DOCTYPE qel.activities " + declaration + ">" + file.substr(22);
  };
  std::string deep;
  for (int i = 0; i < 300; ++i) deep = "<Conditional>" + deep + "</Conditional>";
  constexpr const char* kNotXml = "PDF/FLAVOUR FILE NOT XML";
  constexpr const char* kExternal = "PDF/FLAVOUR FILE EXTERNAL REFERENCE";
  constexpr const char* kBad = "PDF/FLAVOUR FILE BAD VALUE";
  const Case cases[] = {
      {"cut short", activities(good).substr(0, 120), kNotXml},
      {"Latin-1 path", with("DotF", "Path", "/courbes/d\xE9" "faut.crv"), kNotXml},
      {"too deep", "<qel.activities>" + deep + "</qel.activities>", kNotXml},
      {"external entity", typed("[<!ENTITY x SYSTEM \"file:///etc/passwd\">]", with("DotF", "URL", "&x;")), kExternal},
      {"internal entity", typed("[<!ENTITY t \"True\">]", with("Norm", "Boolean", "&t;")), kExternal},
      {"undeclared entity", with("Norm", "Boolean", "&t;"), kExternal},
      {"external document type", typed("SYSTEM \"http://example.invalid/a.dtd\"", activities(good)), kExternal},
      {"parameter entity", typed("[ %p; ]", activities(good)), kExternal},
      {"Long overflow in its digits", with("MaxS", "Long", "99999999999 KB"), kBad},
      {"Long nan", with("MaxS", "Long", "nan"), kBad}, {"Double infinite", with("DstH", "Double", "-inf"), kBad},
      {"no such item", with("Orie", "Enumeration", "7"), kBad},
      {"path with a control character", with("CerP", "Path", "/a\tb.icc"), kBad},
      {"URL escaping a zero byte", with("DotF", "URL", "file:///a%00b"), kBad},
      {"URL escaping Latin-1", with("DotF", "URL", "file:///d%E9faut"), kBad},
  };
  for (const Case& c : cases) {
    TavGen::MessageCapture capture;
    EXPECT_EQ(load(dir, c.text), TavPDF::kFlavourFileRefused) << c.what;
    ASSERT_TRUE(capture.has(c.key)) << c.what;
    EXPECT_EQ(capture.messages().front().severity, TavGen::kError) << c.what;
    EXPECT_TRUE(differences(before, gPDFSettings).empty()) << c.what;
  }
  // A file too large to be a flavour file is not read at all.
  TavGen::MessageCapture capture;
  EXPECT_EQ(load(dir, activities(good + std::string(9u << 20, ' '))), 2);
  EXPECT_TRUE(capture.has("PDF/FLAVOUR FILE NOT XML"));
  // A file that is not there, and a folder, cannot be read: refused as well.
  EXPECT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(dir / "missing.xml"), TavPDF::pdfprftab), 2);
  EXPECT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(dir.path()), TavPDF::pdfprftab), 2);
  EXPECT_EQ(capture.count("PDF/FLAVOUR FILE UNREADABLE"), 2);
  EXPECT_TRUE(differences(before, gPDFSettings).empty());

  // The same good preferences on their own load.
  ASSERT_EQ(load(dir, activities(good)), 0);
  EXPECT_EQ(gPDFSettings.Mirror, 1);
  EXPECT_EQ(gPDFSettings.MaxPathSize, 17);
}
