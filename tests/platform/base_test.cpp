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

// Warnings shown while a hold lives come out only when it is released, in
// their order and with the reporter of the moment they were shown; errors
// pass at once; a hold that ends unreleased drops its warnings; a released
// inner hold hands them to the outer one.
TEST(Messages, HeldWarningsComeOutOnlyWhenReleased) {
  const auto keys = [](const TavGen::MessageCapture& c) {
    std::vector<std::string> k;
    for (const auto& m : c.messages()) k.push_back(m.key);
    return k;
  };
  using Keys = std::vector<std::string>;
  const int id = TavricCore::RegisterReporter("JDF/REPORTER");
  {
    TavGen::MessageCapture capture;
    {
      TavGen::HeldMessages hold;
      {
        TavricCore::ErrorReporterScopeGuard guard(id);
        TavGen::message(TavGen::kWarning, 1, "W1");
      }
      TavGen::message(TavGen::kError, 1, "E1");
      TavGen::message(TavGen::kInfo, 1, "I1");
      EXPECT_EQ(keys(capture), Keys{"E1"});
      hold.release();
      EXPECT_EQ(keys(capture), (Keys{"E1", "W1", "I1"}));
      TavGen::message(TavGen::kWarning, 1, "W2");  // the hold is over
    }
    ASSERT_EQ(keys(capture), (Keys{"E1", "W1", "I1", "W2"}));
    EXPECT_EQ(capture.messages()[1].reporter, id);
    EXPECT_EQ(capture.messages()[2].reporter, 0);
  }
  TavGen::MessageCapture capture;
  {
    TavGen::HeldMessages outer;
    {
      TavGen::HeldMessages dropped;
      TavGen::message(TavGen::kWarning, 1, "LOST");
    }
    {
      TavGen::HeldMessages inner;
      TavGen::message(TavGen::kWarning, 1, "KEPT");
      inner.release();
    }
    EXPECT_TRUE(capture.messages().empty());
    outer.release();
  }
  EXPECT_EQ(keys(capture), Keys{"KEPT"});
  {
    TavGen::HeldMessages outer;
    TavGen::message(TavGen::kWarning, 1, "OUTER");
    {
      TavGen::HeldMessages inner;
      TavGen::message(TavGen::kWarning, 1, "INNER");
      inner.release();
    }
  }
  EXPECT_EQ(keys(capture), Keys{"KEPT"});  // the outer one was not released
}

// ASCII is passed over eight bytes at a time: a sequence is judged the same
// wherever it lies against those steps, between runs of ASCII of any length.
TEST(Utf, ValiditySeenAtEveryOffsetAmongAscii) {
  const struct {
    const char* bytes;
    bool valid;
  } cases[] = {
      {"\xC3\xA4", true},             // two bytes
      {"\xE2\x82\xAC", true},         // three bytes
      {"\xF0\x9F\x98\x80", true},     // four bytes
      {"\xEF\xBF\xBD", true},         // U+FFFD itself
      {"\xFF", false},                // never a lead byte
      {"\x80", false},                // a lone continuation byte
      {"\xC0\xAF", false},            // overlong
      {"\xED\xA0\x80", false},        // a surrogate
      {"\xF4\x90\x80\x80", false},    // beyond U+10FFFF
      {"\xE2\x82", false},            // cut short by the end or by ASCII
  };
  for (const auto& c : cases)
    for (std::size_t before = 0; before <= 17; ++before)
      for (std::size_t after : {0, 1, 7, 8, 9}) {
        const std::string text = std::string(before, 'a') + c.bytes + std::string(after, 'z');
        EXPECT_EQ(TavSys::IsValidUTF8(text), c.valid) << before << " + " << c.bytes << " + " << after;
      }
  EXPECT_TRUE(TavSys::IsValidUTF8(std::string(64, 'x')));
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

// Progresses nest: each fills its part of the one around it, so that the
// listener sees the whole operation, with the innermost label; only the
// outermost completes it.
TEST(System, NestedProgressReportsTheShareOfTheWhole) {
  std::vector<std::pair<double, std::string>> seen;
  TavSys::Progress::setListener([&](double done, double total, std::string_view label) {
    seen.emplace_back(done / total, std::string(label));
  });
  const auto last = [&] { return seen.back(); };
  {
    TavSys::Progress file(100, "PDF file");
    file.setPart(99);
    {
      TavSys::Progress pages(4);  // four pages in the file's 99 units
      pages.set(2);
      {
        TavSys::Progress unknown;  // no total: its children fill its parent's unit
        TavSys::Progress page(10, "Plate 3 of 4");
        page.setPart(9);
        {
          TavSys::Progress walk(100, "Output");
          walk.set(50);
          EXPECT_NEAR(last().first, 0.99 * (2 + 0.45) / 4, 1e-9);
          EXPECT_EQ(last().second, "Output");
          walk.set(250);  // past its total: no further than its part
          EXPECT_NEAR(last().first, 0.99 * (2 + 0.9) / 4, 1e-9);
        }
        page.set(9);
        EXPECT_EQ(last().second, "Plate 3 of 4");
      }
      pages.set(4);
      EXPECT_NEAR(last().first, 0.99, 1e-9);
      EXPECT_EQ(last().second, "PDF file");
    }
    file.set(100);
    EXPECT_EQ(last().first, 1.0);
  }
  // What the listener saw never went back.
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1].first, seen[i].first) << i;
  seen.clear();
  {
    TavSys::Progress alone(8, "JDF");
    alone.step(2);
  }
  EXPECT_EQ(last().first, 0.25);
  EXPECT_EQ(TavSys::ReportedShare(), 0.0);  // nothing lives any more
  TavSys::Progress::setListener({});
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
