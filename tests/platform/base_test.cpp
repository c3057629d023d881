#include <gtest/gtest.h>

#include <fstream>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

// Keys localize and keep their key through placeholders; a disabler drops
// messages; the reporter in scope is stamped on each.
TEST(Messages, LocalizeReplaceDisableAndStampTheReporter) {
  EXPECT_TRUE(TavCore::HasLocalizedString("PDF/ERROR IN FILE FORMAT"));
  EXPECT_EQ(TavCore::GetLocalizedUTF8String("NO/SUCH KEY"), "NO/SUCH KEY");
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
    TavGen::ShowInfoMessage(TavGen::kWarning, 1, TavSys::ReplaceAllSubstrings(
        TavCore::GetLocalizedUni16String("NO/SUCH __X__ KEY"), "__X__", "%s \xC3\xA9"));
  }
  TavGen::message(TavGen::kError, 1, "PDF/CANNOT WRITE PDF FILE");
  ASSERT_EQ(capture.messages().size(), 2u);
  const auto& m = capture.messages()[0];
  EXPECT_EQ(m.key, "NO/SUCH __X__ KEY");
  EXPECT_EQ(m.text, "NO/SUCH %s \xC3\xA9 KEY");  // a percent sign in a value is no format directive
  EXPECT_EQ(m.severity, TavGen::kWarning);
  EXPECT_EQ(m.reporter, id);
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
  EXPECT_EQ((std::array{now.year(), now.month(), now.day()}), (std::array{2000, 2, 29}));
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
  EXPECT_EQ((std::array{before.year(), before.hour(), before.second()}), (std::array{1969, 23, 59}));
  EXPECT_EQ((std::array{TavSys::iround(2.5), TavSys::iround(-2.5), TavSys::iround(1e300)}),
            (std::array{3, -3, std::numeric_limits<int>::max()}));
}

TEST(System, CancelHookIsAskedAndStateResets) {
  bool ask = false;
  TavSys::Progress::setCancelHook([&] { return ask; });
  EXPECT_FALSE(TavSys::Progress::isCanceled());
  ask = true;
  EXPECT_TRUE(TavSys::Progress::isCanceled());
  TavSys::Progress::setCancelHook({});
  EXPECT_TRUE(TavSys::Progress::isCanceled());  // a cancel once seen stays
  TavSys::Progress::resetCancel();
  EXPECT_FALSE(TavSys::Progress::isCanceled());
  TavSys::Progress zero(0);
  zero.step(5);
  EXPECT_EQ(zero.fraction(), 0.0);  // unknown total never divides by zero
}

TEST(Files, OutputHasNoNameUntilCommittedAndReplacesOnlyThen) {
  TavSys::TempFolder dir;
  const fs::path target = dir.path() / "out.pdf";
  tavtest::writeFile(target, "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const auto onlyOld = std::vector<std::string>{"out.pdf:3"};
  for (const bool staged : {false, true}) {
    {
      TavSys::OutputFile file(target, staged);
      file.writeAll("half");
      // Written but not committed: nothing of it has a name (a crash now
      // leaves nothing behind).
      EXPECT_EQ(tavtest::folderListing(dir.path()), onlyOld);
    }
    EXPECT_EQ(tavtest::folderListing(dir.path()), onlyOld);
    {
      TavSys::OutputFile file(target, staged);
      file.writeAll("new!");
      // Those who read the file before the commit get it by a name.
      EXPECT_EQ(tavtest::readFile(file.linkedPath()), "new!");
      file.commit();
    }
    EXPECT_EQ(tavtest::readFile(target), "new!");
    EXPECT_EQ(tavtest::folderListing(dir.path()), std::vector<std::string>{"out.pdf:4"});
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    tavtest::writeFile(target, "old");
  }
  // Closed before its commit, a complete file waits under a temporary name.
  {
    TavSys::OutputFile file(target);
    file.writeAll("later");
    file.closeKeepingName();
    EXPECT_EQ(tavtest::folderListing(dir.path()).size(), 2u);
    file.commit();
  }
  EXPECT_EQ(tavtest::folderListing(dir.path()), std::vector<std::string>{"out.pdf:5"});
  fs::create_directory(dir.path() / "folder");
  struct Case { fs::path target; int error; };
  for (const Case& c : {Case{"/nonexistent-folder/x.pdf", ENOENT}, Case{dir.path() / "folder", EISDIR}}) {
    try {
      TavSys::OutputFile file(c.target);
      ADD_FAILURE() << c.target << " was opened";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.code(), TavSys::kFileErrorBase + c.error);
      EXPECT_NE(e.detail().find(c.target.string()), std::string::npos) << e.detail();
    }
  }
}

TEST(Files, FileUrlsRoundTripAndRejectGarbage) {
  const auto file = TavSys::FileSpec::FromGenericPath("/tmp/a b/c%.pdf");
  EXPECT_EQ(file.ToFileURL(), "file:///tmp/a%20b/c%25.pdf");
  EXPECT_EQ(TavSys::FileSpec::FromFileURL(file.ToFileURL()).GetFullPathUTF8(), "/tmp/a b/c%.pdf");
  for (const char* bad : {"http://x/y", "file:///a%4", "file:///a%zz"})
    EXPECT_FALSE(TavSys::FileSpec::FromFileURL(bad).IsValid()) << bad;
  EXPECT_TRUE(TavSys::filref().empty());
  EXPECT_EQ(TavSys::filref().toFileURL(), "");
}
