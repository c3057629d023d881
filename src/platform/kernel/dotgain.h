#pragma once
// Dot-gain curves (the kernel's dot-gain job): per ink, the tint the plate
// receives for each tint of the job, read from a dot-gain file (format:
// docs/dotgain-format.md) and sampled into tables of 256 values in 0..1.
//
// Loading is all or nothing: a file that cannot be read or is malformed
// leaves the dot-gain job without any table and says why (GetLoadError).
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"

struct jobstr;

// One curve of a dot-gain file: measured pairs (job tint %, plate tint %).
struct DotgainCurve {
  std::string name;
  bool linear = false;  // straight lines between the pairs; else a smooth monotone curve
  std::vector<std::pair<double, double>> points;
};

// Limits applied to a dot-gain file.
inline constexpr std::size_t kMaxDotgainFileBytes = std::size_t(1) << 20;

// Parses the text of a dot-gain file. Throws TavSys::Error (key "DOTGAIN NOT
// FOUND") whose detail names the line and column and what is wrong.
std::vector<DotgainCurve> ParseDotgainCurves(std::string_view text);

// The curve at the inputs i / 255 (i = 0..255), as fractions 0..1.
std::array<double, 256> SampleDotgainCurve(const DotgainCurve& curve);

class dotjob {
 public:
  dotjob() { mTableOf.fill(-1); }
  // The table at `index` (tables are numbered in the order they were loaded):
  // 256 values in 0..1; false when there is no such table.
  bool MakeDotTable(double* table, int index) const;
  // Whether the separation slot has a curve.
  bool HasDotgain(int separation) const;
  // Why the last load failed ("" after a successful one).
  const std::string& GetLoadError() const { return mError; }

 private:
  friend int dotgainLoadFile(const jobstr* job, dotjob* dots, const TavSys::filref& file,
                             int separation);
  std::vector<std::array<double, 256>> mTables;
  std::array<int, 64> mTableOf;  // per separation slot: its table, -1 none
  std::string mError;
};

std::unique_ptr<dotjob> CreateDotJob();

// Loads the curves of a dot-gain file for one separation slot, or for every
// ink of the job when separation is -1. An ink gets the curve its
// `dotgainCurve` names (the file must hold it), else the curve named like the
// ink, else none. Returns 0 on success; otherwise a file error code
// (TavSys::kFileErrorBase + errno) or TavSys::kResultAbandoned, and the dot
// job holds no table.
int dotgainLoadFile(const jobstr* job, dotjob* dots, const TavSys::filref& file, int separation);
