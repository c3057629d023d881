#include <gtest/gtest.h>

#include <fstream>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

TEST(Messages, KeysLocalizeAndKeepTheirKeyThroughPlaceholders) {
  EXPECT_TRUE(TavCore::HasLocalizedString("PDF/ERROR IN FILE FORMAT"));
  EXPECT_EQ(TavCore::GetLocalizedUTF8String("NO/SUCH KEY"), "NO/SUCH KEY");

  TavGen::MessageCapture capture;
  auto text = TavSys::ReplaceAllSubstrings(TavCore::GetLocalizedUni16String("NO/SUCH __X__ KEY"),
                                           "__X__", "%s \xC3\xA9");
  TavGen::ShowInfoMessage(TavGen::kWarning, 1, text);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].key, "NO/SUCH __X__ KEY");
  // A percent sign in a value is never taken as a format directive.
  EXPECT_EQ(capture.messages()[0].text, "NO/SUCH %s \xC3\xA9 KEY");
  EXPECT_EQ(capture.messages()[0].severity, TavGen::kWarning);
}

TEST(Messages, DisablerDropsAndReporterIsStamped) {
  TavGen::MessageCapture capture;
  {
    TavGen::ScopedMessagesDisabler off;
    TavGen::message(TavGen::kError, 1, "PDF/CANNOT WRITE PDF FILE");
  }
  EXPECT_TRUE(capture.messages().empty());
  const int id = TavricCore::RegisterReporter("EXPORT PDF/REPORTER");
  EXPECT_EQ(TavricCore::RegisterReporter("EXPORT PDF/REPORTER"), id);
  {
    TavricCore::ErrorReporterScopeGuard guard(id);
    TavGen::message(TavGen::kError, 1, "PDF/CANNOT WRITE PDF FILE");
  }
  TavGen::message(TavGen::kError, 1, "PDF/CANNOT WRITE PDF FILE");
  ASSERT_EQ(capture.messages().size(), 2u);
  EXPECT_EQ(capture.messages()[0].reporter, id);
  EXPECT_EQ(capture.messages()[1].reporter, 0);
}

TEST(Utf, InvalidInputBecomesReplacementCharacters) {
  EXPECT_TRUE(TavSys::IsValidUTF8("Cyan \xE2\x82\xAC"));
  EXPECT_FALSE(TavSys::IsValidUTF8("bad \xFF byte"));
  EXPECT_FALSE(TavSys::IsValidUTF8("\xC0\xAF"));  // overlong
  EXPECT_EQ(TavGen::ConvertUTF8ToUTF16String("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(TavGen::ConvertUTF8ToUTF16String("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(TavSys::Uni16CharToUTF8(u"\U0001F600 \u00E9"), "\xF0\x9F\x98\x80 \xC3\xA9");
  EXPECT_EQ(TavSys::Uni16CharToUTF8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(System, DatesFollowSourceDateEpochAndBreakDown) {
  ::setenv("SOURCE_DATE_EPOCH", "951782400", 1);  // 2000-02-29 00:00:00 UTC
  const auto now = TavSys::DateTime::Now();
  EXPECT_EQ(now.seconds(), 951782400);
  EXPECT_EQ(now.year(), 2000);
  EXPECT_EQ(now.month(), 2);
  EXPECT_EQ(now.day(), 29);
  ::setenv("SOURCE_DATE_EPOCH", "253402300799", 1);
  EXPECT_EQ(TavSys::DateTime::Now().year(), 9999);
  // Values no four-digit year can write, and text that is no number, fall
  // back to the clock.
  for (const char* ignored : {"253402300800", "-1", "9223372036854775807", "12x", ""}) {
    ::setenv("SOURCE_DATE_EPOCH", ignored, 1);
    const int year = TavSys::DateTime::Now().year();
    EXPECT_TRUE(year >= 2024 && year < 9999) << ignored << " gave " << year;
  }
  ::unsetenv("SOURCE_DATE_EPOCH");
  const TavSys::DateTime before(-1);
  EXPECT_EQ(before.year(), 1969);
  EXPECT_EQ(before.hour(), 23);
  EXPECT_EQ(before.second(), 59);
  EXPECT_EQ(TavSys::iround(2.5), 3);
  EXPECT_EQ(TavSys::iround(-2.5), -3);
  EXPECT_EQ(TavSys::iround(1e300), std::numeric_limits<int>::max());
}

TEST(System, CancelHookIsAskedAndStateResets) {
  bool ask = false;
  TavSys::Progress::setCancelHook([&] { return ask; });
  EXPECT_FALSE(TavSys::Progress::isCanceled());
  ask = true;
  EXPECT_TRUE(TavSys::Progress::isCanceled());
  TavSys::Progress::setCancelHook({});
  EXPECT_TRUE(TavSys::Progress::isCanceled());
  TavSys::Progress::resetCancel();
  EXPECT_FALSE(TavSys::Progress::isCanceled());
  TavSys::Progress zero(0);
  zero.step(5);
  EXPECT_EQ(zero.fraction(), 0.0);  // unknown total never divides by zero
}

TEST(Files, AtomicOutputReplacesOnlyOnCommitAndLeavesNothingBehind) {
  TavSys::TempFolder dir;
  const fs::path target = dir.path() / "out.pdf";
  { std::ofstream(target) << "old"; }
  {
    TavSys::AtomicOutputFile file(target);
    std::ofstream(file.tempPath()) << "half";
  }  // not committed
  EXPECT_EQ(tavtest::folderListing(dir.path()), std::vector<std::string>{"out.pdf:3"});
  EXPECT_EQ(tavtest::readFile(target), "old");
  {
    TavSys::AtomicOutputFile file(target);
    std::ofstream(file.tempPath()) << "new!";
    file.commit();
  }
  EXPECT_EQ(tavtest::readFile(target), "new!");
  EXPECT_EQ(tavtest::folderListing(dir.path()), std::vector<std::string>{"out.pdf:4"});
}

TEST(Files, UnwritableFolderGivesFileError) {
  try {
    TavSys::AtomicOutputFile file("/nonexistent-folder/x.pdf");
    FAIL() << "expected an error";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.code(), TavSys::kFileErrorBase + ENOENT);
    EXPECT_NE(TavSys::GetFileErrorMessage(e.code()).find("No such file"), std::string::npos);
  }
}

TEST(Files, FileUrlsRoundTripAndRejectGarbage) {
  const auto spec = TavSys::FileSpec::FromGenericPath("/tmp/a b/c%.pdf");
  EXPECT_EQ(spec.ToFileURL(), "file:///tmp/a%20b/c%25.pdf");
  EXPECT_EQ(TavSys::FileSpec::FromFileURL(spec.ToFileURL()).GetFullPathUTF8(), "/tmp/a b/c%.pdf");
  EXPECT_FALSE(TavSys::FileSpec::FromFileURL("http://x/y").IsValid());
  EXPECT_FALSE(TavSys::FileSpec::FromFileURL("file:///a%4").IsValid());
  EXPECT_FALSE(TavSys::FileSpec::FromFileURL("file:///a%zz").IsValid());
  EXPECT_TRUE(TavSys::filref().empty());
  EXPECT_EQ(TavSys::filref().toFileURL(), "");
}
