#include "platform/kernel/epsfile.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel/job.h"
#include "platform/tav_error.h"
#include "platform/system.h"

namespace fs = std::filesystem;

namespace TavKernel {

namespace {

constexpr std::size_t kDosHeaderBytes = 30;
constexpr unsigned char kDosMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
// Coordinates beyond this are taken for damage, not for a picture.
constexpr double kMaxCoordinate = 1.0e7;

[[noreturn]] void refuse(const std::string& why) {
  throw TavSys::Error(TavSys::kResultAbandoned, "PDF/UNSUPPORTED PICTURE TYPE", "EPS: " + why);
}

// The lines of a text, each without its end (CR, LF or CR LF).
std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    out.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

// Four numbers after a comment keyword; nothing when they are not four
// finite numbers of a box with area.
std::optional<std::array<double, 4>> box(std::string_view rest) {
  std::array<double, 4> v{};
  std::size_t at = 0;
  for (double& x : v) {
    while (at < rest.size() && (rest[at] == ' ' || rest[at] == '\t')) ++at;
    const char* begin = rest.data() + at;
    const char* end = rest.data() + rest.size();
    // A leading plus sign is allowed in PostScript numbers, not by from_chars.
    if (begin < end && *begin == '+') ++begin;
    const auto r = std::from_chars(begin, end, x);
    if (r.ec != std::errc() || !std::isfinite(x) || std::fabs(x) > kMaxCoordinate) return std::nullopt;
    at = std::size_t(r.ptr - rest.data());
  }
  if (!(v[0] < v[2]) || !(v[1] < v[3])) return std::nullopt;
  return v;
}

struct Boxes {
  std::optional<std::array<double, 4>> plain, hiRes;
  bool plainAtEnd = false, hiResAtEnd = false;
};

// Reads the bounding-box comments of a section of header or trailer lines.
void readComments(std::string_view text, Boxes& boxes, bool header) {
  static constexpr std::string_view kPlain = "%%BoundingBox:", kHiRes = "%%HiResBoundingBox:";
  for (std::string_view line : lines(text)) {
    if (header && line.substr(0, 14) == "%%EndComments") break;
    for (auto [keyword, isHiRes] : {std::pair{kPlain, false}, std::pair{kHiRes, true}}) {
      if (line.substr(0, keyword.size()) != keyword) continue;
      std::string_view rest = line.substr(keyword.size());
      auto& slot = isHiRes ? boxes.hiRes : boxes.plain;
      bool& atEnd = isHiRes ? boxes.hiResAtEnd : boxes.plainAtEnd;
      if (rest.find("(atend)") != std::string_view::npos) {
        if (header) atEnd = true;
        continue;
      }
      // In the header the first comment holds; in the trailer the last one.
      if (header && slot) continue;
      if (auto b = box(rest)) slot = b;
    }
  }
}

}  // namespace

EpsHeader ParseEpsDosHeader(std::string_view start, std::uint64_t fileSize) {
  EpsHeader h;
  h.psLength = fileSize;
  const auto* bytes = reinterpret_cast<const unsigned char*>(start.data());
  if (start.size() < 4 || !std::equal(kDosMagic, kDosMagic + 4, bytes)) return h;
  if (start.size() < kDosHeaderBytes) refuse("the DOS header is cut short");
  h.dos = true;
  h.psOffset = epsgetibmlong(bytes + 4);
  h.psLength = epsgetibmlong(bytes + 8);
  h.tiffOffset = epsgetibmlong(bytes + 20);
  h.tiffLength = epsgetibmlong(bytes + 24);
  if (h.psOffset < kDosHeaderBytes || h.psLength == 0 || h.psOffset > fileSize ||
      h.psLength > fileSize - h.psOffset) {
    refuse("the PostScript section of the DOS header lies outside the file");
  }
  if (h.tiffOffset != 0 && (h.tiffOffset > fileSize || h.tiffLength > fileSize - h.tiffOffset)) {
    refuse("the preview of the DOS header lies outside the file");
  }
  // Without an offset there is no preview, whatever length the header gives.
  if (h.tiffOffset == 0) h.tiffLength = 0;
  return h;
}

void ParseEpsComments(std::string_view sectionStart, std::string_view sectionEnd, EpsHeader& header) {
  if (sectionStart.substr(0, 2) != "%!") refuse("the file is not PostScript");
  Boxes boxes;
  readComments(sectionStart, boxes, true);
  if (boxes.plainAtEnd || boxes.hiResAtEnd) {
    Boxes end;
    readComments(sectionEnd, end, false);
    if (boxes.plainAtEnd) boxes.plain = end.plain;
    if (boxes.hiResAtEnd) boxes.hiRes = end.hiRes;
  }
  const auto& chosen = boxes.hiRes ? boxes.hiRes : boxes.plain;
  if (!chosen) refuse("the file has no usable %%BoundingBox");
  header.llx = (*chosen)[0];
  header.lly = (*chosen)[1];
  header.urx = (*chosen)[2];
  header.ury = (*chosen)[3];
}

EpsHeader ParseEpsHeader(std::string_view file) {
  EpsHeader h = ParseEpsDosHeader(file.substr(0, kDosHeaderBytes), file.size());
  const std::string_view section = file.substr(std::size_t(h.psOffset), std::size_t(h.psLength));
  ParseEpsComments(section.substr(0, kEpsCommentBytes),
                   section.substr(section.size() - std::min(section.size(), kEpsCommentBytes)), h);
  return h;
}

EpsHeader ReadEpsHeader(const fs::path& file) {
  try {
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
    const std::uint64_t size = fs::file_size(file, ec);
    if (!in || ec) refuse("the file cannot be read");
    auto read = [&](std::uint64_t at, std::uint64_t count) {
      std::string bytes(std::size_t(count), '\0');
      in.seekg(std::streamoff(at));
      in.read(bytes.data(), std::streamsize(count));
      if (!in) refuse("the file cannot be read");
      return bytes;
    };
    EpsHeader h = ParseEpsDosHeader(read(0, std::min<std::uint64_t>(size, kDosHeaderBytes)), size);
    const std::uint64_t part = std::min<std::uint64_t>(h.psLength, kEpsCommentBytes);
    ParseEpsComments(read(h.psOffset, part), read(h.psOffset + h.psLength - part, part), h);
    return h;
  } catch (TavSys::Error& e) {
    e.with("__FILENAME__", file.filename().string());
    throw;
  }
}

}  // namespace TavKernel

std::uint32_t epsgetibmlong(const unsigned char* bytes) {
  return std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) | (std::uint32_t(bytes[2]) << 16) |
         (std::uint32_t(bytes[3]) << 24);
}

bool epsdosfil(const TavSys::filref& file) {
  std::ifstream in(fs::path(file.getFullPathAsUtf8()), std::ios::binary);
  unsigned char magic[4] = {};
  in.read(reinterpret_cast<char*>(magic), 4);
  return in && magic[0] == 0xC5 && magic[1] == 0xD0 && magic[2] == 0xD3 && magic[3] == 0xC6;
}

void epsoffset(const jobstr* job, int picture, std::int32_t& x, std::int32_t& y) {
  x = y = 0;
  const Picture* p = picpoi(job, picture);
  if (p == nullptr || p->type != "EPS") return;
  x = TavSys::iround(p->fileBox[0]);
  y = TavSys::iround(p->fileBox[1]);
}

void epsboubox(const jobstr* job, int picture, double& llx, double& lly, double& urx, double& ury) {
  const TavSys::filref* file = picfilref(job, picture);
  if (file == nullptr || file->empty() || !piciseps(job, picture)) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/UNSUPPORTED PICTURE TYPE", "EPS: no EPS picture")
        .with("__FILENAME__", file != nullptr ? file->getNameAsUtf8() : std::string());
  }
  const TavKernel::EpsHeader h = TavKernel::ReadEpsHeader(fs::u8path(file->getFullPathAsUtf8()));
  llx = h.llx;
  lly = h.lly;
  urx = h.urx;
  ury = h.ury;
}
