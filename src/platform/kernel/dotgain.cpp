#include "platform/kernel/dotgain.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/kernel/job.h"
#include "platform/tav_error.h"
#include "platform/utf.h"

namespace {

constexpr const char* kDotgainKey = "DOTGAIN NOT FOUND";
constexpr std::string_view kHeader = "tavpdf-dotgain";

// One line of the file, cut into words with their columns.
class LineReader {
 public:
  LineReader(std::string_view line, int number) : mLine(line), mNumber(number) {}

  [[noreturn]] void fail(std::size_t at, const std::string& what) const {
    const std::string detail =
        "line " + std::to_string(mNumber) + ", column " + std::to_string(at + 1) + ": " + what;
    throw TavSys::Error(TavSys::kResultAbandoned, kDotgainKey, detail);
  }

  // Skips blanks; false at the end of the line or at a comment.
  bool more() {
    while (mPos < mLine.size() && (mLine[mPos] == ' ' || mLine[mPos] == '\t')) ++mPos;
    return mPos < mLine.size() && mLine[mPos] != '#';
  }
  std::size_t position() const { return mPos; }

  // A run of characters up to a blank or a comment.
  std::string_view word() {
    const std::size_t start = mPos;
    while (mPos < mLine.size() && mLine[mPos] != ' ' && mLine[mPos] != '\t' && mLine[mPos] != '#') {
      ++mPos;
    }
    return mLine.substr(start, mPos - start);
  }

  // A curve name: a word, or a text in double quotes with \" and \\.
  std::string name() {
    if (mLine[mPos] != '"') {
      const std::string_view w = word();
      if (w.find('"') != std::string_view::npos) fail(mPos - w.size(), "a quote inside a name");
      return std::string(w);
    }
    const std::size_t start = mPos++;
    std::string out;
    while (mPos < mLine.size() && mLine[mPos] != '"') {
      if (mLine[mPos] == '\\') {
        if (mPos + 1 >= mLine.size() || (mLine[mPos + 1] != '"' && mLine[mPos + 1] != '\\')) {
          fail(mPos, "only \\\" and \\\\ may follow a backslash in a name");
        }
        ++mPos;
      }
      out += mLine[mPos++];
    }
    if (mPos >= mLine.size()) fail(start, "the name's closing quote is missing");
    ++mPos;
    if (out.empty()) fail(start, "an empty curve name");
    return out;
  }

  // A percentage 0..100 in plain decimal notation.
  double percentage(const char* what) {
    const std::size_t start = mPos;
    const std::string_view w = word();
    const bool plain = !w.empty() && std::all_of(w.begin(), w.end(), [](char c) {
      return (c >= '0' && c <= '9') || c == '.';
    }) && std::count(w.begin(), w.end(), '.') <= 1 && w != ".";
    double value = 0;
    if (!plain || std::from_chars(w.data(), w.data() + w.size(), value).ptr != w.data() + w.size()) {
      fail(start, "\"" + std::string(w) + "\" is not a number (" + what + " %, written like 12.5)");
    }
    if (value > 100) fail(start, std::string("the ") + what + " " + std::string(w) + " % is above 100");
    return value;
  }

  void end() {
    if (!more()) return;
    const std::size_t at = mPos;
    fail(at, "unexpected \"" + std::string(word()) + "\"");
  }

 private:
  std::string_view mLine;
  int mNumber;
  std::size_t mPos = 0;
};

std::string formatPercent(double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

// Fritsch-Carlson tangents: a cubic Hermite curve through the points that
// never overshoots, so a non-decreasing curve stays non-decreasing.
std::vector<double> monotoneTangents(const std::vector<std::pair<double, double>>& p) {
  const std::size_t n = p.size();
  std::vector<double> secant(n - 1), tangent(n);
  for (std::size_t k = 0; k + 1 < n; ++k) {
    secant[k] = (p[k + 1].second - p[k].second) / (p[k + 1].first - p[k].first);
  }
  tangent[0] = secant[0];
  tangent[n - 1] = secant[n - 2];
  for (std::size_t k = 1; k + 1 < n; ++k) {
    tangent[k] = secant[k - 1] * secant[k] <= 0 ? 0.0 : (secant[k - 1] + secant[k]) / 2;
  }
  for (std::size_t k = 0; k + 1 < n; ++k) {
    if (secant[k] == 0) {
      tangent[k] = tangent[k + 1] = 0;
      continue;
    }
    const double a = tangent[k] / secant[k], b = tangent[k + 1] / secant[k];
    const double h = a * a + b * b;
    if (h > 9) {
      const double t = 3 / std::sqrt(h);
      tangent[k] = t * a * secant[k];
      tangent[k + 1] = t * b * secant[k];
    }
  }
  return tangent;
}

}  // namespace

std::vector<DotgainCurve> ParseDotgainCurves(std::string_view text) {
  if (!TavSys::IsValidUTF8(text)) {
    throw TavSys::Error(TavSys::kResultAbandoned, kDotgainKey, "the file is not UTF-8 text");
  }
  std::vector<DotgainCurve> curves;
  std::set<std::string> names;
  bool header = false;
  int lineNumber = 0;
  std::size_t curveLine = 0;  // for the message about a curve with too few points
  auto finishCurve = [&] {
    if (curves.empty()) return;
    const DotgainCurve& c = curves.back();
    const LineReader at({}, int(curveLine));
    if (c.points.size() < 2) at.fail(0, "the curve \"" + c.name + "\" needs at least two pairs");
    if (c.points.back().first != 100) {
      at.fail(0, "the curve \"" + c.name + "\" must end with the input 100");
    }
  };
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = end + 1;
    LineReader r(line, ++lineNumber);
    if (!r.more()) continue;
    const std::size_t first = r.position();
    if (!header) {
      if (r.word() != kHeader) r.fail(first, "a dot-gain file begins with \"tavpdf-dotgain 1\"");
      r.more();
      const std::size_t at = r.position();
      if (r.word() != "1") r.fail(at, "only version 1 of the dot-gain format is known");
      r.end();
      header = true;
      continue;
    }
    if (line[first] >= 'a' && line[first] <= 'z') {
      if (r.word() != "curve") r.fail(first, "expected \"curve\" or a pair of percentages");
      finishCurve();
      if (!r.more()) r.fail(r.position(), "the curve's name is missing");
      const std::size_t at = r.position();
      DotgainCurve curve;
      curve.name = r.name();
      if (!names.insert(curve.name).second) r.fail(at, "a second curve named \"" + curve.name + "\"");
      if (r.more()) {
        const std::size_t kindAt = r.position();
        const std::string_view kind = r.word();
        if (kind == "linear") {
          curve.linear = true;
        } else if (kind != "smooth") {
          r.fail(kindAt, "the interpolation is \"linear\" or \"smooth\", not \"" + std::string(kind) + "\"");
        }
      }
      r.end();
      curves.push_back(std::move(curve));
      curveLine = std::size_t(lineNumber);
      continue;
    }
    if (curves.empty()) r.fail(first, "a pair of percentages before the first \"curve\" line");
    DotgainCurve& curve = curves.back();
    const double in = r.percentage("input");
    if (!r.more()) r.fail(r.position(), "the output percentage is missing");
    const std::size_t outAt = r.position();
    const double out = r.percentage("output");
    r.end();
    if (curve.points.empty()) {
      if (in != 0) r.fail(first, "the curve \"" + curve.name + "\" must begin with the input 0");
    } else {
      const auto& [lastIn, lastOut] = curve.points.back();
      if (in <= lastIn) {
        r.fail(first, "the input " + formatPercent(in) + " is not above the input before it (" +
                          formatPercent(lastIn) + ")");
      }
      if (out < lastOut) {
        r.fail(outAt, "the output " + formatPercent(out) + " is below the output before it (" +
                          formatPercent(lastOut) + "): a curve may not go down");
      }
    }
    curve.points.emplace_back(in, out);
  }
  if (!header) {
    throw TavSys::Error(TavSys::kResultAbandoned, kDotgainKey,
                        "the file is empty: a dot-gain file begins with \"tavpdf-dotgain 1\"");
  }
  finishCurve();
  return curves;
}

std::array<double, 256> SampleDotgainCurve(const DotgainCurve& curve) {
  const auto& p = curve.points;
  std::array<double, 256> table{};
  const std::vector<double> tangent = curve.linear ? std::vector<double>{} : monotoneTangents(p);
  std::size_t k = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const double x = double(i) * 100.0 / 255.0;
    while (k + 2 < p.size() && x > p[k + 1].first) ++k;
    const double h = p[k + 1].first - p[k].first;
    const double t = std::clamp((x - p[k].first) / h, 0.0, 1.0);
    double y;
    if (curve.linear) {
      y = p[k].second + t * (p[k + 1].second - p[k].second);
    } else {
      const double t2 = t * t, t3 = t2 * t;
      y = (2 * t3 - 3 * t2 + 1) * p[k].second + (t3 - 2 * t2 + t) * h * tangent[k] +
          (-2 * t3 + 3 * t2) * p[k + 1].second + (t3 - t2) * h * tangent[k + 1];
    }
    table[i] = std::clamp(y / 100.0, 0.0, 1.0);
    // The interpolation never goes down; rounding in its sum must not make
    // the table step back by an ulp (a flat stretch gave 1 - 1e-16 after 1).
    if (i > 0) table[i] = std::max(table[i], table[i - 1]);
  }
  return table;
}

bool dotjob::MakeDotTable(double* table, int index) const {
  if (table == nullptr || index < 0 || std::size_t(index) >= mTables.size()) return false;
  std::copy(mTables[std::size_t(index)].begin(), mTables[std::size_t(index)].end(), table);
  return true;
}

bool dotjob::HasDotgain(int separation) const {
  return separation >= 0 && separation < int(mTableOf.size()) && mTableOf[std::size_t(separation)] >= 0;
}

std::unique_ptr<dotjob> CreateDotJob() { return std::make_unique<dotjob>(); }

namespace {

std::string readDotgainFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw TavSys::Error(TavSys::kFileErrorBase + EISDIR, kDotgainKey, "it is a folder");
  }
  if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) {
    throw TavSys::Error(TavSys::kFileErrorBase + EINVAL, kDotgainKey, "it is not a regular file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno ? errno : ENOENT;
    throw TavSys::Error(TavSys::kFileErrorBase + err, kDotgainKey, std::strerror(err));
  }
  std::string text;
  char buffer[1 << 14];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, std::size_t(in.gcount()));
    if (text.size() > kMaxDotgainFileBytes) {
      throw TavSys::Error(TavSys::kResultAbandoned, kDotgainKey,
                          "the file is larger than " + std::to_string(kMaxDotgainFileBytes) + " bytes");
    }
  }
  if (in.bad()) throw TavSys::Error(TavSys::kFileErrorBase + EIO, kDotgainKey, std::strerror(EIO));
  return text;
}

}  // namespace

int dotgainLoadFile(const jobstr* job, dotjob* dots, const TavSys::filref& file, int separation) {
  if (dots == nullptr) return TavSys::kResultAbandoned;
  *dots = dotjob();
  try {
    if (file.empty()) throw TavSys::Error(TavSys::kResultAbandoned, kDotgainKey, "no file is set");
    const std::vector<DotgainCurve> curves =
        ParseDotgainCurves(readDotgainFile(file.toFileSpec().path()));
    auto find = [&](const std::string& name) -> const DotgainCurve* {
      for (const DotgainCurve& c : curves) {
        if (c.name == name) return &c;
      }
      return nullptr;
    };
    dotjob loaded;
    for (int s = 0; s < kMaxSeparations; ++s) {
      if ((separation >= 0 && s != separation) || job == nullptr || !job->separations[std::size_t(s)].exists) {
        continue;
      }
      // A remapped ink prints with the curve of the ink it is mapped onto.
      const int owner = job->separations[std::size_t(s)].parametersOf;
      const Separation& ink = job->separations[std::size_t(owner >= 0 ? owner : s)];
      const DotgainCurve* curve = find(ink.dotgainCurve.empty() ? ink.name : ink.dotgainCurve);
      if (curve == nullptr && !ink.dotgainCurve.empty()) {
        throw TavSys::Error(TavSys::kResultAbandoned, kDotgainKey,
                            "it has no curve \"" + ink.dotgainCurve + "\", which the ink \"" +
                                ink.name + "\" asks for");
      }
      if (curve == nullptr) continue;
      loaded.mTableOf[std::size_t(s)] = int(loaded.mTables.size());
      loaded.mTables.push_back(SampleDotgainCurve(*curve));
    }
    *dots = std::move(loaded);
    return 0;
  } catch (const TavSys::Error& e) {
    dots->mError = e.detail();
    return e.code();
  }
}
