#include "platform/system.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <vector>

#include "platform/utf.h"

namespace TavSys {
namespace {

DebugSink& debugSink() {
  static DebugSink sink;
  return sink;
}

struct ProgressState {
  bool canceled = false;
  Progress::Listener listener;
  Progress::CancelHook cancelHook;
  std::vector<const Progress*> live;  // not owned: the living progresses, outermost first
};

ProgressState& progressState() {
  static ProgressState state;
  return state;
}

// Civil date from days since the epoch (proleptic Gregorian).
void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2 ? 1 : 0));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

void debug(std::string_view text) {
  if (std::getenv("TAV_DEBUG") != nullptr) {
    std::cerr << "debug: " << text << '\n';
  }
  if (auto& sink = debugSink()) sink(text);
}

void debugstring(std::string_view text) { debug(text); }

DebugSink setDebugSink(DebugSink sink) {
  DebugSink previous = std::move(debugSink());
  debugSink() = std::move(sink);
  return previous;
}

Progress::Progress(double total, std::string_view label) : total_(total), label_(label) {
  progressState().live.push_back(this);
  report();
}

Progress::~Progress() { std::erase(progressState().live, this); }

void Progress::setPart(double units) { part_ = units > 0 ? units : 1; }

double ReportedShare(std::string* label) {
  // Each progress with a total divides the span its parent gave it into
  // units; the next one down fills its part from where it stands.
  double begin = 0, end = 1;
  for (const Progress* p : progressState().live) {
    if (label != nullptr && !p->label_.empty()) *label = p->label_;
    if (!(p->total_ > 0)) continue;
    const double unit = (end - begin) / p->total_;
    const double at = begin + std::clamp(p->done_, 0.0, p->total_) * unit;
    end = std::min(end, at + unit * p->part_);
    begin = at;
  }
  return std::clamp(begin, 0.0, 1.0);
}

void Progress::step(double units) {
  done_ += units;
  report();
}

void Progress::set(double done) {
  done_ = done;
  report();
}

double Progress::fraction() const {
  if (!(total_ > 0)) return 0;
  const double f = done_ / total_;
  return f < 0 ? 0 : (f > 1 ? 1 : f);
}

void Progress::report() const {
  auto& listener = progressState().listener;
  if (!listener) return;
  std::string label;
  const double share = ReportedShare(&label);
  listener(share, 1.0, label);
}

bool Progress::isCanceled() {
  auto& s = progressState();
  if (!s.canceled && s.cancelHook && s.cancelHook()) s.canceled = true;
  return s.canceled;
}

void Progress::cancel() { progressState().canceled = true; }
void Progress::resetCancel() { progressState().canceled = false; }
void Progress::setListener(Listener listener) { progressState().listener = std::move(listener); }
void Progress::setCancelHook(CancelHook hook) { progressState().cancelHook = std::move(hook); }

constexpr std::int64_t kLastSecondOfYear9999 = 253402300799;  // 9999-12-31 23:59:59 UTC

std::int64_t time64() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    std::int64_t value = 0;
    const char* end = epoch + std::strlen(epoch);
    auto [ptr, ec] = std::from_chars(epoch, end, value);
    // Only dates a four-digit year can write (1970 to 9999): anything else
    // is ignored like text that is not a number.
    if (ec == std::errc() && ptr == end && value >= 0 && value <= kLastSecondOfYear9999) return value;
  }
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

DateTime DateTime::Now() { return DateTime(time64()); }

int DateTime::year() const {
  int y, m, d;
  civilFromDays(floorDiv(seconds_, 86400), y, m, d);
  return y;
}
int DateTime::month() const {
  int y, m, d;
  civilFromDays(floorDiv(seconds_, 86400), y, m, d);
  return m;
}
int DateTime::day() const {
  int y, m, d;
  civilFromDays(floorDiv(seconds_, 86400), y, m, d);
  return d;
}
int DateTime::hour() const { return static_cast<int>((seconds_ - floorDiv(seconds_, 86400) * 86400) / 3600); }
int DateTime::minute() const { return static_cast<int>((seconds_ - floorDiv(seconds_, 3600) * 3600) / 60); }
int DateTime::second() const { return static_cast<int>(seconds_ - floorDiv(seconds_, 60) * 60); }

std::u16string GetLogonName() {
  for (const char* var : {"TAV_LOGON_NAME", "USER", "LOGNAME"}) {
    if (const char* v = std::getenv(var); v != nullptr) return TavGen::ConvertUTF8ToUTF16String(v);
  }
  return {};
}

std::u16string GetApplicationName() { return u"tavpdf"; }

int iround(double value) {
  if (std::isnan(value)) return 0;
  const double r = std::round(value);  // halves away from zero
  if (r >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (r <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

int strcom(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : ""); }

}  // namespace TavSys
