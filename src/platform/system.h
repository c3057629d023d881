#pragma once
// The host's system services as the engine uses them: developer diagnostics,
// progress and cancel, dates, the user's name and small numeric helpers.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace TavSys {

// Developer diagnostics. They go to stderr when TAV_DEBUG is set in the
// environment, and to the installed sink (tests capture them) otherwise.
void debug(std::string_view text);
void debugstring(std::string_view text);
using DebugSink = std::function<void(std::string_view)>;
// Installs a sink and returns the previous one (empty = default).
DebugSink setDebugSink(DebugSink sink);

// Progress and cancel of the current operation. One operation runs at a time
// (the engine is single-threaded); the state is process-wide.
//
// Progresses nest: one made while another lives fills a part of it, from
// where that one stands (one unit, or what setPart says), so that the
// listener sees the whole operation go once from 0 to 1. The export makes
// the outermost one and sets it complete when the file is.
class Progress {
 public:
  // Called with the share of the whole operation done (0..1, total 1), and
  // the label of the innermost progress that has one.
  using Listener = std::function<void(double done, double total, std::string_view label)>;
  // Asked on every isCanceled(); returning true cancels the operation.
  using CancelHook = std::function<bool()>;

  // A unit of progress with `total` steps (0 = unknown).
  explicit Progress(double total = 0, std::string_view label = {});
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void step(double units = 1);
  void set(double done);
  // How many of this progress's units the next nested progress fills (1
  // until said otherwise).
  void setPart(double units);
  // Names what this progress stands for from its next report on.
  void setLabel(std::string_view label) { label_ = label; }
  double fraction() const;  // 0..1; 0 when the total is unknown

  static bool isCanceled();
  static void cancel();
  static void resetCancel();
  static void setListener(Listener listener);
  static void setCancelHook(CancelHook hook);

 private:
  friend double ReportedShare(std::string* label);
  void report() const;
  double total_;
  double done_ = 0;
  double part_ = 1;
  std::string label_;
};

// The share of the whole operation the live progresses stand at (0..1) and,
// through `label`, the innermost label (what the listener is given).
double ReportedShare(std::string* label = nullptr);

// A point in time in whole seconds since 1970-01-01 UTC.
class DateTime {
 public:
  DateTime() = default;
  explicit DateTime(std::int64_t secondsSinceEpoch) : seconds_(secondsSinceEpoch) {}

  // The current time; SOURCE_DATE_EPOCH, when set to a valid number, fixes it
  // so that output can be reproduced.
  static DateTime Now();

  std::int64_t seconds() const { return seconds_; }
  // Broken-down UTC time.
  int year() const;
  int month() const;  // 1..12
  int day() const;
  int hour() const;
  int minute() const;
  int second() const;

 private:
  std::int64_t seconds_ = 0;
};

// Seconds since the epoch now, following SOURCE_DATE_EPOCH like DateTime::Now.
std::int64_t time64();

// The user's log-on name (USER or LOGNAME), UTF-16; TAV_LOGON_NAME overrides it.
std::u16string GetLogonName();
// The application's name, UTF-16.
std::u16string GetApplicationName();

// Nearest integer, halves away from zero; saturates at the int range.
int iround(double value);
// strcmp-like: 0 when equal.
int strcom(const char* a, const char* b);

}  // namespace TavSys
