// The platform pieces the settings stand on: popup models, preference rows
// over tables of other shapes, the XML number text, and that the global
// settings exist before other static initializers read them.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>

#include "platform/popup.h"
#include "platform/preference.h"
#include "platform/xml.h"
#include "support/consumers.h"
#include "tavpdf/Flavour.h"

namespace {

// Read by a static initializer of this file, which may run before or after
// the settings library's own ones: the global must be built already.
const int gPathSizeSeenAtStartup = gPDFSettings.MaxPathSize;
const int gOrientationSeenAtStartup = gPDFSettings.Orientation.GetValue();

// A table of another shape: a four-character-code popup, a key used twice, a
// row type without a file form.
constexpr std::int32_t kCodeValues[] = {static_cast<std::int32_t>(TavGen::FourCharCode("Alfa")),
                                        static_cast<std::int32_t>(TavGen::FourCharCode("Beta"))};
constexpr const char* kCodeItems[] = {"Alpha", "Beta", nullptr};
TavGen::PopupDataModel gCodePopup(kCodeValues, kCodeItems, 0);
std::int32_t gFirst = 11;
std::int32_t gSecond = 22;
std::int32_t gUnsupported = 33;
const TavGen::PreferenceEntry kTable[] = {
    {"Code", &gCodePopup, TavGen::FourCharCode("Code"), 1, TavGen::kPrefPopup},
    {"First", &gFirst, TavGen::FourCharCode("Same"), 2, TavGen::kPrefLong},
    {"Second", &gSecond, TavGen::FourCharCode("Same"), 3, TavGen::kPrefLong},
    {"Odd", &gUnsupported, TavGen::FourCharCode("Odd1"), 4, 3},
    {},
};

}  // namespace

TEST(StaticInitialization, GlobalSettingsAreBuiltBeforeOtherStaticObjects) {
  EXPECT_EQ(gPathSizeSeenAtStartup, 500000);
  EXPECT_EQ(gOrientationSeenAtStartup, 1);
}

TEST(PopupModel, IgnoresSelectionsAndValuesItDoesNotHave) {
  TavGen::PopupDataModel popup = gCodePopup;
  EXPECT_FALSE(popup.SetSelection(2));
  EXPECT_FALSE(popup.SetSelection(-1));
  EXPECT_TRUE(popup.SetValue(static_cast<std::int32_t>(TavGen::FourCharCode("Beta"))));
  EXPECT_FALSE(popup.SetValue(0));
  EXPECT_EQ(popup.GetSelection(), 1);
  const TavGen::PopupDataModel empty;
  EXPECT_EQ(empty.GetValue(), 0);
  EXPECT_STREQ(empty.GetItemText(0), "");
  EXPECT_EQ(TavGen::PopupDataModel(kCodeValues, kCodeItems, 9).GetSelection(), 0);
}

TEST(FlavourFileOtherTables, CodesDuplicateKeysAndRowsWithoutFileForm) {
  tavtest::TestFolder dir;
  gCodePopup.SetSelection(1);
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(dir / "t.xml"), kTable), 0);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((dir / "t.xml").c_str()));
  const pugi::xml_node activity = doc.child("qel.activities").child("qel.activity");
  const auto prefs = activity.children("Preference");
  EXPECT_EQ(std::distance(prefs.begin(), prefs.end()), 2)
      << "the second row of a key and the row without file form are left out";
  const pugi::xml_node code = activity.find_child_by_attribute("Preference", "Key", "Code");
  EXPECT_STREQ(code.child("Value").child_value(), "Beta");
  EXPECT_STREQ(code.find_child_by_attribute("ValueDescription", "Key", "Alfa").child_value(), "Alpha");
  EXPECT_STREQ(activity.find_child_by_attribute("Preference", "Key", "Same").child_value(), "11");

  gCodePopup.SetSelection(0);
  gFirst = 0;
  ASSERT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(dir / "t.xml"), kTable), 0);
  EXPECT_EQ(gCodePopup.GetSelection(), 1);
  EXPECT_EQ(gFirst, 11);

  // A null table writes an empty activity, and reads nothing.
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(dir / "empty.xml"), nullptr), 0);
  ASSERT_TRUE(doc.load_file((dir / "empty.xml").c_str()));
  EXPECT_FALSE(doc.child("qel.activities").child("qel.activity").first_child());
  EXPECT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(dir / "empty.xml"), nullptr), 0);
}

TEST(XmlNumbers, PlainDecimalsWithTheFloatPrecision) {
  EXPECT_EQ(Xml::GetFloatPrecision(), 6);
  const std::pair<double, const char*> six[] = {
      {2.5, "2.5"},       {-0.123456789, "-0.123457"}, {1e-7, "0.0000001"},
      {123456789.0, "123457000"}, {9.9999996, "10"}, {-0.0, "0"},
      {std::numeric_limits<double>::quiet_NaN(), "0"}, {-std::numeric_limits<double>::infinity(), "0"}};
  for (const auto& [value, text] : six) EXPECT_EQ(Xml::FormatDouble(value), text) << text;
  EXPECT_EQ(Xml::FormatDouble(1e300).find('e'), std::string::npos);
  {
    Xml::FloatPrecisionScope precision(15);
    EXPECT_EQ(Xml::FormatDouble(0.1), "0.1");
    EXPECT_EQ(Xml::FormatDouble(-0.123456789), "-0.123456789");
  }
  EXPECT_EQ(Xml::GetFloatPrecision(), 6);
}

TEST(XmlReader, AcceptsPredefinedEntitiesAndABomAndKeepsItsLimits) {
  pugi::xml_document doc;
  const Xml::DocumentReader reader;
  EXPECT_TRUE(reader.ParseBuffer("\xEF\xBB\xBF<!DOCTYPE a [<!ELEMENT a EMPTY>]><a b=\"&lt;&#65;\"/>", doc));
  EXPECT_STREQ(doc.child("a").attribute("b").value(), "<A");
  EXPECT_EQ(reader.ParseBuffer("<a>&#65;", doc).status, Xml::ParseStatus::NotWellFormed);
  EXPECT_FALSE(doc.first_child()) << "a refused document is left empty";
  EXPECT_EQ(Xml::DocumentReader(16, 4).ParseBuffer("<a><b/></a>      ", doc).status, Xml::ParseStatus::TooLarge);
  EXPECT_EQ(Xml::DocumentReader(1000, 2).ParseBuffer("<a><b><c/></b></a>", doc).status,
            Xml::ParseStatus::TooDeep);
}
