#include "support/capture.h"

#include <clocale>
#include <cstdlib>

#include "support/consumers.h"

namespace tavtest {

DebugCapture::DebugCapture()
    : previous_(TavSys::setDebugSink([this](std::string_view t) { (text += t) += '\n'; })) {}
DebugCapture::~DebugCapture() { TavSys::setDebugSink(previous_); }

namespace {
struct CommaNumpunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};
}  // namespace

CommaLocale::CommaLocale()
    : savedCpp_(std::locale::global(std::locale(std::locale::classic(), new CommaNumpunct))) {
  const char* current = std::setlocale(LC_NUMERIC, nullptr);
  savedC_ = current ? current : "C";
  active = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  if (!active) {
    // No decimal-comma locale installed: make one for the time of the test.
    TestFolder dir;
    runProcess({"localedef", "-i", "de_DE", "-f", "UTF-8", (dir / "de_DE.UTF-8").string()});
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    active = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    ::unsetenv("LOCPATH");
  }
}

CommaLocale::~CommaLocale() {
  std::setlocale(LC_NUMERIC, savedC_.c_str());
  std::locale::global(savedCpp_);
}

}  // namespace tavtest
