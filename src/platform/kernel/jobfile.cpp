#include "platform/kernel/jobfile.h"
#include "platform/kernel/placedfiles.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

#include <boost/algorithm/string/case_conv.hpp>
#include <nlohmann/json.hpp>

#include "platform/fonts/fontcache.h"
#include "platform/fonts/fontface.h"
#include "platform/kernel/barcode.h"
#include "platform/kernel/dotgain.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "platform/xmlobject.h"

namespace TavKernel {

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;
using TavDB::Object;
using TavDB::ObjectKind;
using TavDB::ObjectExtra;

constexpr const char* kBadJobKey = "JOB/BAD JOB FILE";
constexpr const char* kCannotReadKey = "JOB/CANNOT READ JOB FILE";

// A refused job: the file, the JSON pointer of the place and what is wrong.
[[noreturn]] void refuse(const std::string& file, const std::string& where, const std::string& what,
                         int code = TavSys::kResultAbandoned, const char* key = kBadJobKey) {
  // What the file holds is shown escaped: its bytes need not be text.
  std::string detail =
      TavSys::EscapeForMessage(file + ": " + (where.empty() ? std::string("/") : where) + ": " + what);
  TavSys::Error e(code, key, detail);
  e.with("__DETAIL__", detail);
  throw e;
}

std::string escapeToken(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return out;
}

const char* typeName(const json& j) {
  switch (j.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "an object";
    case json::value_t::array: return "an array";
    case json::value_t::string: return "a string";
    case json::value_t::boolean: return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: return "a number";
    default: return "a value of another type";
  }
}

// A value of the job file with its place, for precise messages.
struct Node {
  const json* j;
  std::string ptr;
  const std::string* file;

  [[noreturn]] void fail(const std::string& what) const { refuse(*file, ptr, what); }

  Node child(const std::string& key) const { return {&(*j)[key], ptr + "/" + escapeToken(key), file}; }
  Node item(std::size_t i) const { return {&(*j)[i], ptr + "/" + std::to_string(i), file}; }

  bool has(const char* key) const { return j->is_object() && j->contains(key); }
  std::optional<Node> opt(const char* key) const {
    if (!has(key)) return std::nullopt;
    return child(key);
  }
  Node req(const char* key) const {
    if (!has(key)) fail(std::string("missing \"") + key + "\"");
    return child(key);
  }

  const json& object(std::initializer_list<const char*> allowed) const {
    if (!j->is_object()) fail(std::string("expected an object, found ") + typeName(*j));
    for (auto it = j->begin(); it != j->end(); ++it) {
      bool ok = false;
      for (const char* a : allowed) ok = ok || it.key() == a;
      if (!ok) child(it.key()).fail("unknown key \"" + it.key() + "\"");
    }
    return *j;
  }
  std::size_t array(std::size_t minSize = 0, std::size_t maxSize = SIZE_MAX) const {
    if (!j->is_array()) fail(std::string("expected an array, found ") + typeName(*j));
    if (j->size() < minSize) fail("expected at least " + std::to_string(minSize) + " entries");
    if (j->size() > maxSize) fail("expected at most " + std::to_string(maxSize) + " entries");
    return j->size();
  }
  double number() const {
    if (!j->is_number()) fail(std::string("expected a number, found ") + typeName(*j));
    const double d = j->get<double>();
    if (!std::isfinite(d)) fail("the number is not finite");
    return d;
  }
  double number(double lo, double hi) const {
    const double d = number();
    if (d < lo || d > hi) {
      std::ostringstream s;
      s << "the number " << d << " is outside " << lo << " .. " << hi;
      fail(s.str());
    }
    return d;
  }
  std::int64_t integer(std::int64_t lo, std::int64_t hi) const {
    const double d = number();
    if (d != std::floor(d)) fail("expected a whole number");
    if (d < double(lo) || d > double(hi)) {
      // Beyond the 64-bit range a number has no integer form: shown as read.
      std::ostringstream s;
      if (std::abs(d) < 9e18)
        s << std::int64_t(d);
      else
        s << d;
      fail("the number " + s.str() + " is outside " + std::to_string(lo) + " .. " + std::to_string(hi));
    }
    return static_cast<std::int64_t>(d);
  }
  std::int32_t coord() const {
    return static_cast<std::int32_t>(integer(-1000000000, 1000000000));
  }
  bool boolean() const {
    if (!j->is_boolean()) fail(std::string("expected true or false, found ") + typeName(*j));
    return j->get<bool>();
  }
  std::string string() const {
    if (!j->is_string()) fail(std::string("expected a string, found ") + typeName(*j));
    const std::string& s = j->get_ref<const std::string&>();
    if (!TavSys::IsValidUTF8(s)) fail("the text is not valid UTF-8");
    return s;
  }
  std::string nonEmptyString() const {
    std::string s = string();
    if (s.empty()) fail("the text is empty");
    return s;
  }
  template <class E>
  E choice(std::initializer_list<std::pair<const char*, E>> options) const {
    const std::string s = string();
    for (const auto& [name, value] : options)
      if (s == name) return value;
    std::string list;
    for (const auto& o : options) list += std::string(list.empty() ? "" : ", ") + "\"" + o.first + "\"";
    fail("unknown value \"" + s + "\" (expected one of " + list + ")");
  }
  TavDB::tv_point point() const {
    array(2, 2);
    return {item(0).coord(), item(1).coord()};
  }
  TavDB::tv_box box() const {
    array(4, 4);
    TavDB::tv_box b{item(0).coord(), item(1).coord(), item(2).coord(), item(3).coord()};
    if (b.top > b.bottom) fail("top lies below bottom (the vertical axis points down)");
    if (b.left > b.right) fail("left lies right of right");
    return b;
  }
  std::uint16_t index() const { return static_cast<std::uint16_t>(integer(0, 65535)); }
};

// An ink name as PDF files write it: "All" and "None" are names PDF keeps
// for itself (an "All" ink would print on every plate, a "None" ink on
// none), and a control character would cut the name short or merge two inks.
void checkInkName(const Node& n, const std::string& name) {
  if (name == "All" || name == "None")
    n.fail("\"" + name + "\" is a colorant name PDF reserves (All prints on every plate, None on none); rename the ink");
  for (const unsigned char c : name)
    if (c < 0x20 || c == 0x7F) n.fail("the ink name holds a control character");
}

bool optBool(const Node& n, const char* key, bool fallback) {
  if (auto v = n.opt(key)) return v->boolean();
  return fallback;
}

std::uint32_t flagFor(const char* key) {
  if (!std::strcmp(key, "hidden")) return TavDB::kObjHidden;
  if (!std::strcmp(key, "locked")) return TavDB::kObjLocked;
  if (!std::strcmp(key, "nonPrinting")) return TavDB::kObjNonPrinting;
  if (!std::strcmp(key, "excluded")) return TavDB::kObjExcluded;
  if (!std::strcmp(key, "trap")) return TavDB::kObjTrap;
  return 0;
}

std::string readWholeFile(const fs::path& path, const std::string& file, const std::string& where,
                          bool isJob) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno ? errno : ENOENT;
    if (isJob && where.empty()) {
      TavSys::Error e = TavSys::fileError(err, path.string(), kCannotReadKey);
      throw e;
    }
    refuse(file, where, "cannot read " + path.string() + ": " + std::strerror(err),
           TavSys::kFileErrorBase + err, kBadJobKey);
  }
  // Read in pieces and stop past the limit: a pipe need not end.
  std::string text;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, std::size_t(in.gcount()));
    if (text.size() > kMaxJobFileBytes) refuse(file, where, "the job file is too large");
  }
  if (in.bad()) refuse(file, where, "cannot read " + path.string(), TavSys::kFileErrorBase + EIO);
  return text;
}

void checkReadable(const fs::path& path, const Node& where) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) where.fail("cannot read " + path.string() + ": it is a folder");
  if (fs::exists(path, ec) && !fs::is_regular_file(path, ec))
    where.fail("cannot read " + path.string() + ": it is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno ? errno : ENOENT;
    refuse(*where.file, where.ptr, "cannot read " + path.string() + ": " + std::strerror(err),
           TavSys::kFileErrorBase + err);
  }
}

// Shared state of one top-level load: the chain of job files being loaded
// (cycle detection) and the one-ups already loaded.
struct LoadSession {
  std::vector<fs::path> chain;
  std::map<fs::path, std::shared_ptr<jobstr>> loaded;
};

class Loader {
 public:
  Loader(LoadSession& session, fs::path base, std::string file)
      : session_(session), base_(std::move(base)), file_(std::move(file)) {}

  std::unique_ptr<jobstr> load(const json& root);

  // The load in steps, for a document read while it streams: what the
  // objects refer to (every top-level key but "objects"), then each object
  // as it completes (its members, read before it, given), then the rest.
  void readDefinitions(const Node& root);
  std::unique_ptr<Object> readStreamedObject(const Node& n, std::size_t depth, bool topLevel,
                                             const json* list, std::vector<std::unique_ptr<Object>> members);
  void addTopLevel(std::unique_ptr<Object> o) { job_->spatialTree->addontop(std::move(o)); }
  std::unique_ptr<jobstr> finish(const Node& root);

 private:
  fs::path resolve(const Node& n) const {
    const std::string s = n.nonEmptyString();
    fs::path p = fs::u8path(s);
    if (p.is_relative()) p = base_ / p;
    return p.lexically_normal();
  }
  int inkByName(const Node& n) const {
    const std::string s = n.string();
    const int slot = TavricLib::FindSeparation(job_.get(), s);
    if (slot < 0) n.fail("no ink named \"" + s + "\"");
    return slot;
  }
  template <class T>
  void checkRef(const std::vector<T>& table, const Node& n, const char* what) const {
    const std::uint16_t i = n.index();
    if (i >= table.size() || !table[i].exists)
      n.fail(std::string("no ") + what + " with id " + std::to_string(i));
  }
  template <class T>
  std::uint16_t defineId(std::vector<T>& table, const Node& entry, const char* what) {
    const Node idNode = entry.req("id");
    const std::uint16_t id = idNode.index();
    if (id >= table.size()) table.resize(std::size_t(id) + 1);
    if (table[id].exists) idNode.fail(std::string("a ") + what + " with id " + std::to_string(id) + " is already defined");
    table[id].exists = true;
    return id;
  }

  void readHeader(const Node& root);
  void readBoxes(const Node& root);
  void readInks(const Node& list);
  void readScreens(const Node& list);
  void readScreenKindValues(const Node& e, Screen& s);
  void readColours(const Node& list);
  void readPaints(const Node& list);
  void checkPaintRefs(const Node& list);
  void readPictures(const Node& list);
  void readMaps(const Node& list);
  void readPatterns(const Node& list);
  std::unique_ptr<Object> readObject(const Node& n, std::size_t depth, bool topLevel);
  void readMembers(Object& list, const Node& members, std::size_t depth, bool topLevel,
                   bool pathsOnly);
  void readPoints(Object& path, const Node& points);
  void readBarcode(Object& group, const Node& group_node);
  void checkPaintMapGroup(Object& group, const Node& n) const;
  void readExtras(const Node& root);
  void deriveUsage();

  LoadSession& session_;
  fs::path base_;
  std::string file_;
  std::unique_ptr<jobstr> job_;
  void checkPatternCycles();
  // A paint reference of an object; the paint table is read before any object.
  std::uint16_t paintRef(const Node& n) const {
    checkRef(job_->paints, n, "paint");
    return n.index();
  }
  // Where each pattern was defined, for messages.
  std::map<std::uint16_t, std::string> patternPlaces_;
  // A run's font must be installed and able to show every character of it.
  void checkTextFont(const Node& runNode, const TavDB::TextRun& run) const;
  // The members of the streamed object being read, and the placeholder that
  // stands for its "objects" list.
  const json* streamedList_ = nullptr;
  std::vector<std::unique_ptr<Object>> streamedMembers_;
};

void Loader::checkTextFont(const Node& runNode, const TavDB::TextRun& run) const {
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job_.get());
  const int id = cache->FontId(run.font);
  if (id < 0) runNode.req("font").fail(Fonts::MissingFontReason(run.font));
  for (std::size_t pos = 0; pos < run.text.size();) {
    const char32_t ch = TavricCore::NextCharacter(run.text, pos);
    if (ch == U'\n') continue;
    const int code = cache->Encode(id, ch);
    if (code >= 0) continue;
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", unsigned(ch));
    if (code == TavricCore::FontCache::kNoGlyph)
      runNode.req("text").fail("the font \"" + run.font + "\" has no character " + name);
    if (cache->EncodingOf(id) != TavricCore::FontCache::Encoding::kAssigned)
      runNode.req("text").fail("the character " + std::string(name) + " is not in the encoding of the font \"" + run.font + "\"");
    runNode.req("text").fail("the font \"" + run.font +
                             "\" cannot show more than 224 different characters in one job (at " +
                             name + ")");
  }
}

void Loader::readHeader(const Node& root) {
  if (auto f = root.opt("format"))
    if (f->string() != "tavpdf-job") f->fail("expected \"tavpdf-job\"");
  if (auto v = root.opt("version"))
    if (v->integer(1, 1) != 1) v->fail("unsupported version");
  jobstr& job = *job_;
  job.name = root.has("name") ? root.child("name").string() : fs::path(file_).stem().string();
  if (auto d = root.opt("description")) job.description = d->string();
  if (auto r = root.opt("rootFile")) job.rootFile = TavSys::filref(resolve(*r).generic_string());
  if (auto c = root.opt("creatorVersion")) {
    c->array(3, 3);
    for (std::size_t i = 0; i < 3; ++i) job.creatorVersion[i] = int(c->item(i).integer(0, 10000));
  }
  const Node ppi = root.req("ppi");
  if (ppi.j->is_number() && ppi.number() <= 0) ppi.fail("the resolution must be greater than 0");
  job.ppi = int(ppi.integer(1, 1000000));
  if (auto o = root.opt("origin")) job.origin = o->point();
  if (auto s = root.opt("scale")) {
    job.scale = s->number();
    if (!(job.scale > 0)) s->fail("the scale must be greater than 0");
  }
}

void Loader::readBoxes(const Node& root) {
  static const char* const kNames[5] = {"media", "crop", "bleed", "art", "trim"};
  auto kindOf = [&](const Node& n) {
    const std::string s = n.string();
    for (int k = 0; k < 5; ++k)
      if (s == kNames[k]) return k;
    n.fail("unknown box \"" + s + "\" (expected media, crop, bleed, art or trim)");
  };
  if (auto b = root.opt("boxes")) {
    b->object({"media", "crop", "bleed", "art", "trim"});
    for (int k = 0; k < 5; ++k)
      if (auto box = b->opt(kNames[k])) job_->boxes[k] = box->box();
  }
  if (auto d = root.opt("defaultBoxes")) {
    d->object({"media", "crop", "bleed", "art", "trim"});
    for (int k = 0; k < 5; ++k)
      if (auto v = d->opt(kNames[k])) {
        const int to = kindOf(*v);
        if (!job_->boxes[to]) v->fail(std::string("the job has no ") + kNames[to] + " box");
        job_->defaultBoxType[k] = to;
      }
  }
}

void Loader::readInks(const Node& list) {
  const std::size_t n = list.array();
  if (n > kMaxSeparations)
    list.fail("the job has " + std::to_string(n) + " inks; at most " + std::to_string(kMaxSeparations) + " are possible");
  jobstr& job = *job_;
  job.inkCount = int(n);
  std::vector<std::pair<int, Node>> mappings;
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"name", "process", "cmyk", "rgb", "opaque", "technical", "varnish", "output",
              "enabled", "used", "softMaskUsed", "cmykFlag", "xmpName", "screen", "dotgainCurve",
              "mapTo"});
    Separation& s = job.separations[i];
    s.exists = true;
    const Node name = e.req("name");
    s.name = name.nonEmptyString();
    checkInkName(name, s.name);
    for (std::size_t k = 0; k < i; ++k)
      if (job.separations[k].name == s.name) name.fail("the ink \"" + s.name + "\" is defined twice");
    if (auto p = e.opt("process")) {
      s.process = p->choice<int>({{"cyan", 0}, {"magenta", 1}, {"yellow", 2}, {"black", 3}});
      for (std::size_t k = 0; k < i; ++k)
        if (job.separations[k].process == s.process) p->fail("a second process ink of this kind");
      s.cmyk = {0, 0, 0, 0};
      s.cmyk[std::size_t(s.process)] = 100;
    }
    if (auto c = e.opt("cmyk")) {
      c->array(4, 4);
      for (std::size_t k = 0; k < 4; ++k) s.cmyk[k] = std::uint8_t(c->item(k).integer(0, 100));
    } else if (s.process < 0) {
      e.fail("missing \"cmyk\" (the CMYK equivalent of a spot ink)");
    }
    if (auto r = e.opt("rgb")) {
      r->array(3, 3);
      for (std::size_t k = 0; k < 3; ++k) s.rgb[k] = std::uint8_t(r->item(k).integer(0, 255));
    } else {
      for (std::size_t k = 0; k < 3; ++k)
        s.rgb[k] = std::uint8_t(TavSys::iround(255.0 * (1 - s.cmyk[k] / 100.0) * (1 - s.cmyk[3] / 100.0)));
    }
    s.opaque = optBool(e, "opaque", false);
    s.technical = optBool(e, "technical", false);
    s.varnish = optBool(e, "varnish", false);
    s.output = optBool(e, "output", true);
    s.enabled = optBool(e, "enabled", true);
    s.softMaskUsed = optBool(e, "softMaskUsed", false);
    s.cmykFlag = optBool(e, "cmykFlag", false);
    if (auto x = e.opt("xmpName")) {
      s.xmpName = x->string();
      checkInkName(*x, s.xmpName);
    }
    if (auto d = e.opt("dotgainCurve")) s.dotgainCurve = d->string();
    if (auto m = e.opt("mapTo")) mappings.emplace_back(int(i), *m);
  }
  for (auto& [slot, node] : mappings) {
    const int to = inkByName(node);
    if (to == slot) node.fail("an ink cannot be remapped onto itself");
    job.separations[slot].mappedTo = to;
  }
}

void Loader::readScreens(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "name", "kind", "dotShape", "customSpot", "ruling", "angles", "dotName",
              "dotgainFile", "pressCurves", "extended"});
    const std::uint16_t id = defineId(job_->screens, e, "screen");
    if (id == kNoScreen) e.child("id").fail("65534 means \"no screen\" and cannot be an id");
    Screen& s = job_->screens[id];
    if (auto v = e.opt("name")) s.name = v->string();
    if (auto v = e.opt("kind"))
      s.kind = v->choice<Screen::Kind>({{"classic", Screen::kClassic}, {"notWritable", Screen::kNotWritable},
                                        {"extended", Screen::kExtended}, {"namedDot", Screen::kNamedDot}});
    if (auto v = e.opt("dotShape")) s.dotShape = int(v->integer(0, 65535));
    if (auto v = e.opt("customSpot")) s.customSpot = v->string();
    if (auto v = e.opt("ruling")) s.ruling = v->number(0, 100000);
    if (auto v = e.opt("dotName")) s.dotName = v->string();
    if (auto a = e.opt("angles")) {
      if (!a->j->is_object()) a->fail(std::string("expected an object, found ") + typeName(*a->j));
      for (auto it = a->j->begin(); it != a->j->end(); ++it) {
        const Node an = a->child(it.key());
        const int slot = TavricLib::FindSeparation(job_.get(), it.key());
        if (slot < 0) an.fail("no ink named \"" + it.key() + "\"");
        s.angle[std::size_t(slot)] = an.number(-360, 360);
      }
    }
    readScreenKindValues(e, s);
  }
  // Ink screens refer to the table just read.
}

void Loader::readScreenKindValues(const Node& e, Screen& s) {
  auto onlyFor = [&](const char* key, Screen::Kind kind, const char* kindName) -> std::optional<Node> {
    auto v = e.opt(key);
    if (v && s.kind != kind) v->fail(std::string("only ") + kindName + " screens have \"" + key + "\"");
    return v;
  };
  if (auto v = onlyFor("dotgainFile", Screen::kClassic, "classic")) {
    const fs::path path = resolve(*v);
    checkReadable(path, *v);
    auto dots = std::shared_ptr<dotjob>(CreateDotJob());
    if (dotgainLoadFile(job_.get(), dots.get(), TavSys::filref(path.generic_string()), -1) != 0) {
      v->fail(path.string() + ": " + dots->GetLoadError());
    }
    s.dotgain = std::move(dots);
  }
  if (auto curves = onlyFor("pressCurves", Screen::kNamedDot, "namedDot")) {
    if (!curves->j->is_object()) curves->fail(std::string("expected an object, found ") + typeName(*curves->j));
    for (auto it = curves->j->begin(); it != curves->j->end(); ++it) {
      const Node c = curves->child(it.key());
      const int slot = TavricLib::FindSeparation(job_.get(), it.key());
      if (slot < 0) c.fail("no ink named \"" + it.key() + "\"");
      c.object({"curve", "number"});
      PressCurve& curve = s.pressCurves[std::size_t(slot)];
      curve.name = c.req("curve").string();
      if (auto num = c.opt("number")) curve.number = int(num->integer(0, 1000000));
    }
  }
  if (s.kind == Screen::kExtended && !e.has("extended")) e.fail("an extended screen needs \"extended\"");
  if (auto x = onlyFor("extended", Screen::kExtended, "extended")) {
    ScreeningDictionary d;
    const std::pair<const char*, std::string ScreeningDictionary::*> texts[] = {
        {"angleFamily", &ScreeningDictionary::AngleFamily}, {"dotShape", &ScreeningDictionary::DotShape},
        {"rosettes", &ScreeningDictionary::Rosettes}, {"extraCurve", &ScreeningDictionary::ExtraCurve},
        {"cellType", &ScreeningDictionary::CellType}, {"hybridType", &ScreeningDictionary::HybridType},
        {"hybridMeasuredOn", &ScreeningDictionary::HybridMeasuredOn},
        {"endAdjust", &ScreeningDictionary::EndAdjust}, {"rangeMeasuredOn", &ScreeningDictionary::RangeMeasuredOn},
        {"actionBelowMin", &ScreeningDictionary::ActionBelowMin},
        {"actionAboveMax", &ScreeningDictionary::ActionAboveMax}};
    const std::pair<const char*, double ScreeningDictionary::*> reals[] = {
        {"resolution", &ScreeningDictionary::Resolution}, {"cellSize", &ScreeningDictionary::CellSize},
        {"cellCentredStart", &ScreeningDictionary::CellCentredStart},
        {"cellCentredMinCell", &ScreeningDictionary::CellCentredMinCell},
        {"cellCentredFullAt", &ScreeningDictionary::CellCentredFullAt},
        {"cellCentredMaxCell", &ScreeningDictionary::CellCentredMaxCell},
        {"cellCentredEnd", &ScreeningDictionary::CellCentredEnd},
        {"quantumPoint", &ScreeningDictionary::QuantumPoint}, {"fmMinDot", &ScreeningDictionary::FMMinDot},
        {"amStart", &ScreeningDictionary::AMStart}, {"fmEnd", &ScreeningDictionary::FMEnd},
        {"amMinDot", &ScreeningDictionary::AMMinDot}, {"fmStepDown", &ScreeningDictionary::FMStepDown},
        {"minDotValue", &ScreeningDictionary::MinDotValue}, {"minDotAt", &ScreeningDictionary::MinDotAt},
        {"maxDotValue", &ScreeningDictionary::MaxDotValue}, {"maxDotAt", &ScreeningDictionary::MaxDotAt},
        {"ring", &ScreeningDictionary::Ring}, {"space", &ScreeningDictionary::Space}};
    const std::pair<const char*, std::int32_t ScreeningDictionary::*> integers[] = {
        {"ruling", &ScreeningDictionary::Ruling}, {"noise", &ScreeningDictionary::Noise},
        {"fmSize", &ScreeningDictionary::FMSize}, {"grade", &ScreeningDictionary::Grade}};
    if (!x->j->is_object()) x->fail(std::string("expected an object, found ") + typeName(*x->j));
    for (auto it = x->j->begin(); it != x->j->end(); ++it) {
      const Node v = x->child(it.key());
      auto is = [&](const char* key) { return it.key() == key; };
      if (auto t = std::find_if(std::begin(texts), std::end(texts), [&](auto& f) { return is(f.first); });
          t != std::end(texts)) {
        d.*(t->second) = v.string();
      } else if (auto r = std::find_if(std::begin(reals), std::end(reals), [&](auto& f) { return is(f.first); });
                 r != std::end(reals)) {
        d.*(r->second) = v.number(0, 100000);
      } else if (auto n = std::find_if(std::begin(integers), std::end(integers),
                                       [&](auto& f) { return is(f.first); });
                 n != std::end(integers)) {
        d.*(n->second) = std::int32_t(v.integer(0, 1000000));
      } else {
        v.fail("unknown key \"" + it.key() + "\"");
      }
    }
    s.extended = std::move(d);
  }
}

void Loader::readColours(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "inks", "others", "overprint", "registration"});
    const std::uint16_t id = defineId(job_->colours, e, "colour");
    Colour& c = job_->colours[id];
    std::uint8_t others = 0;
    if (auto o = e.opt("others")) {
      const std::int64_t v = o->integer(0, 255);
      if (v > 100 && v != 255) o->fail("an ink share is 0 .. 100, or 255 for an untouched ink");
      others = std::uint8_t(v);
    }
    for (int k = 0; k < job_->inkCount; ++k) c.pct[std::size_t(k)] = others;
    c.overprint = optBool(e, "overprint", false);
    c.registration = optBool(e, "registration", false);
    if (c.registration)
      for (int k = 0; k < job_->inkCount; ++k) c.pct[std::size_t(k)] = 100;
    if (auto inks = e.opt("inks")) {
      if (!inks->j->is_object()) inks->fail(std::string("expected an object, found ") + typeName(*inks->j));
      for (auto it = inks->j->begin(); it != inks->j->end(); ++it) {
        const Node v = inks->child(it.key());
        if (!TavSys::IsValidUTF8(it.key())) v.fail("the ink name is not valid UTF-8");
        const int slot = TavricLib::FindSeparation(job_.get(), it.key());
        if (slot < 0) v.fail("no ink named \"" + it.key() + "\"");
        const std::int64_t pct = v.integer(0, 255);
        if (pct > 100 && pct != 255) v.fail("an ink share is 0 .. 100, or 255 for an untouched ink");
        c.pct[std::size_t(slot)] = std::uint8_t(pct);
      }
    }
  }
}

void Loader::readPaints(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "type", "colour", "colour2", "start", "end", "form", "steps",
              "focus", "matrix", "picture", "map", "pattern", "place", "pdfPage", "pdfBox",
              "singleInk", "screen", "overprint", "registration", "opacity", "blendMode",
              "softMask", "isolated", "knockout", "alphaIsShape", "length", "box", "expand"});
    const std::uint16_t id = defineId(job_->paints, e, "paint");
    Paint& p = job_->paints[id];
    p.type = e.req("type").choice<PaintType>({{"flat", kPaintFlat}, {"linear", kPaintLinear},
                                              {"radial", kPaintRadial}, {"picture", kPaintPicture},
                                              {"pattern", kPaintPattern}, {"gradation", kPaintGradation},
                                              {"map", kPaintMap}});
    auto needs = [&](const char* key) { return e.req(key); };
    switch (p.type) {
      case kPaintFlat: p.colour = needs("colour").index(); break;
      case kPaintLinear:
      case kPaintRadial:
        p.colour = needs("colour").index();
        p.colour2 = needs("colour2").index();
        p.start = needs("start").point();
        p.end = needs("end").point();
        break;
      case kPaintGradation: {
        if (auto f = e.opt("form"))
          p.gradationForm = f->choice<Paint::GradationForm>({{"horizontal", Paint::kGradHorizontal},
                                                             {"vertical", Paint::kGradVertical},
                                                             {"circular", Paint::kGradCircular},
                                                             {"other", Paint::kGradOther}});
        const Node steps = needs("steps");
        const std::size_t ns = steps.array(2, 256);
        for (std::size_t k = 0; k < ns; ++k) {
          const Node s = steps.item(k);
          s.object({"colour", "position", "midpoint"});
          GradationStep st;
          st.colour = s.req("colour").index();
          st.position = s.req("position").coord();
          if (k > 0 && st.position < p.steps.back().position)
            s.child("position").fail("the steps must be in order of position");
          p.steps.push_back(st);
        }
        for (std::size_t k = 0; k < ns; ++k) {
          const std::int64_t gap = k + 1 < ns ? std::int64_t(p.steps[k + 1].position) - p.steps[k].position : 0;
          if (auto m = steps.item(k).opt("midpoint"))
            p.steps[k].midpoint = std::int32_t(m->integer(0, gap));
          else
            p.steps[k].midpoint = std::int32_t(gap / 2);
        }
        p.colour = p.steps.front().colour;
        p.colour2 = p.steps.back().colour;
        if (auto f = e.opt("focus")) p.focus = f->point();
        if (auto v = e.opt("start")) p.start = v->point();
        const std::int64_t span = std::int64_t(p.steps.back().position) - p.steps.front().position;
        p.gradationLength = std::int32_t(span);
        if (auto v = e.opt("length")) p.gradationLength = std::int32_t(v->integer(1, 2000000000));
        if (p.gradationLength <= 0) e.fail("the gradation has no length; give \"length\" or steps at different positions");
        if (auto v = e.opt("box")) {
          p.gradationBox = v->box();
        } else {
          const std::int64_t r = p.gradationLength;
          auto clampCoord = [](std::int64_t x) { return std::int32_t(std::clamp<std::int64_t>(x, INT32_MIN, INT32_MAX)); };
          p.gradationBox = {clampCoord(p.start.v - r), clampCoord(p.start.h - r), clampCoord(p.start.v + r),
                            clampCoord(p.start.h + r)};
        }
        break;
      }
      case kPaintPicture:
        p.picture = needs("picture").index();
        break;
      case kPaintMap:
        p.map = needs("map").index();
        break;
      case kPaintPattern:
        p.pattern = needs("pattern").index();
        if (optBool(e, "expand", false)) p.patternKind = Paint::kPatternExpanded;
        break;
    }
    if (p.type != kPaintPattern && e.opt("expand")) e.child("expand").fail("only a pattern paint is expanded");
    if (p.type == kPaintPicture || p.type == kPaintMap) {
      const Node place = needs("place");
      place.object({"origin", "widthCorner", "heightCorner"});
      p.placeOrigin = place.req("origin").point();
      p.placeWidthCorner = place.req("widthCorner").point();
      p.placeHeightCorner = place.req("heightCorner").point();
    }
    if (auto m = e.opt("matrix")) {
      // Patterns are placed by their corners; other paints have no placement.
      if (p.type != kPaintGradation) m->fail("only a gradation is placed by a matrix");
      m->array(4, 4);
      for (std::size_t k = 0; k < 4; ++k) p.matrix[k] = m->item(k).number();
    }
    if (auto v = e.opt("pdfPage")) p.pdfPage = v->index();
    if (auto v = e.opt("pdfBox")) p.pdfBox = std::uint16_t(v->integer(0, 4));
    if (auto v = e.opt("singleInk")) p.singleSeparation = std::uint16_t(inkByName(*v) + 1);
    p.overprint = optBool(e, "overprint", false);
    p.registration = optBool(e, "registration", false);
    if (auto v = e.opt("opacity"))
      p.transparency.opacity = std::uint16_t(TavSys::iround(v->number(0, 100) * kOpacityFull / 100.0));
    if (auto v = e.opt("blendMode"))
      p.transparency.blendMode = v->choice<std::uint8_t>(
          {{"normal", 0}, {"multiply", 1}, {"screen", 2}, {"overlay", 3}, {"darken", 4},
           {"lighten", 5}, {"colorDodge", 6}, {"colorBurn", 7}, {"hardLight", 8},
           {"softLight", 9}, {"difference", 10}, {"exclusion", 11}, {"hue", 12},
           {"saturation", 13}, {"color", 14}, {"luminosity", 15}});
    if (p.type == kPaintFlat || p.type == kPaintLinear || p.type == kPaintRadial) {
      checkRef(job_->colours, e.child("colour"), "colour");
      if (p.type != kPaintFlat) checkRef(job_->colours, e.child("colour2"), "colour");
    }
    if (p.type == kPaintGradation) {
      const Node steps = e.child("steps");
      for (std::size_t k = 0; k < p.steps.size(); ++k)
        checkRef(job_->colours, steps.item(k).child("colour"), "colour");
    }
    if (optBool(e, "alphaIsShape", false)) p.transparency.flags |= 1;
    if (optBool(e, "isolated", false)) p.transparency.flags |= 2;
    if (optBool(e, "knockout", false)) p.transparency.flags |= 4;
  }
}

// References of paints to the other tables, checked once all are read.
void Loader::checkPaintRefs(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    Paint& p = job_->paints[e.child("id").index()];
    if (p.type == kPaintPicture) checkRef(job_->pictures, e.child("picture"), "picture");
    if (p.type == kPaintMap) checkRef(job_->maps, e.child("map"), "map");
    if (p.type == kPaintPattern) {
      checkRef(job_->patterns, e.child("pattern"), "pattern");
      const PatternRec& pattern = job_->patterns[std::size_t(p.pattern)];
      if (pattern.kind != PatternRec::kTiling)
        e.child("pattern").fail("a soft-mask pattern cannot fill an object");
      if (pattern.cell.isEmpty()) e.child("pattern").fail("the pattern's cell is empty: there is nothing to tile");
    }
    if (auto s = e.opt("screen")) {
      checkRef(job_->screens, *s, "screen");
      p.screen = s->index();
    }
    if (auto s = e.opt("softMask")) {
      checkRef(job_->patterns, *s, "pattern");
      p.transparency.softMask = s->index();
      p.transparency.secondOpacity = 0;
    }
  }
}

void Loader::readPictures(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "file", "type", "width", "height", "resolution", "colorSpace", "pdfPage",
              "normalized", "dcs", "inks", "box", "originalOrigin"});
    const std::uint16_t id = defineId(job_->pictures, e, "picture");
    Picture& p = job_->pictures[id];
    const Node fileNode = e.req("file");
    const fs::path path = resolve(fileNode);
    checkReadable(path, fileNode);
    p.file = TavSys::filref(path.generic_string());
    std::string type;
    if (auto t = e.opt("type")) {
      type = t->choice<std::string>({{"TIFF", "TIFF"}, {"JPEG", "JPEG"}, {"EPS", "EPS"},
                                     {"PDF", "PDF"}, {"ART", "ART"}});
    } else {
      std::string ext = boost::algorithm::to_lower_copy(path.extension().string());
      if (ext == ".tif" || ext == ".tiff") type = "TIFF";
      else if (ext == ".jpg" || ext == ".jpeg") type = "JPEG";
      else if (ext == ".eps") type = "EPS";
      else if (ext == ".pdf") type = "PDF";
      else if (ext == ".json") type = "ART";
      else e.fail("cannot tell the picture's type from \"" + path.filename().string() + "\"; give \"type\"");
    }
    p.type = type;
    p.vector = type == "EPS" || type == "PDF" || type == "ART";
    if (type == "ART") {
      // A one-up: a job file of its own, loaded now.
      std::error_code ec;
      fs::path canon = fs::weakly_canonical(path, ec);
      if (ec) canon = path;
      if (std::find(session_.chain.begin(), session_.chain.end(), canon) != session_.chain.end())
        fileNode.fail("the one-up " + path.filename().string() + " includes itself (directly or through other one-ups)");
      if (session_.chain.size() >= kMaxOneUpDepth)
        fileNode.fail("one-ups are nested more than " + std::to_string(kMaxOneUpDepth) + " deep");
      auto found = session_.loaded.find(canon);
      if (found != session_.loaded.end()) {
        p.job = found->second;
      } else {
        std::error_code sizeError;
        if (fs::file_size(path, sizeError) > kMaxJobFileBytes) fileNode.fail("the one-up job file is too large");
        const std::string text = readWholeFile(path, file_, fileNode.ptr, false);
        json nested;
        try {
          nested = json::parse(text);
        } catch (const json::exception& ex) {
          fileNode.fail("the one-up " + path.filename().string() + " is not valid JSON: " + ex.what());
        }
        session_.chain.push_back(canon);
        Loader sub(session_, path.parent_path(), path.string());
        p.job = std::shared_ptr<jobstr>(sub.load(nested).release());
        session_.chain.pop_back();
        session_.loaded.emplace(canon, p.job);
      }
      p.job->parent = job_.get();
      if (const auto& media = p.job->boxes[kMediaBox]) {
        p.width = std::int32_t(std::min<std::int64_t>(media->width(), INT32_MAX));
        p.height = std::int32_t(std::min<std::int64_t>(media->height(), INT32_MAX));
        p.box = *media;
      }
      p.originalOrigin = p.job->origin;
      for (int k = 0; k < p.job->inkCount; ++k) {
        const Separation& s = p.job->separations[k];
        if (!s.used) continue;
        const int slot = TavricLib::FindSeparation(job_.get(), s.name);
        if (slot >= 0) p.seps.set(std::size_t(slot));
      }
    }
    if (auto v = e.opt("width")) p.width = std::int32_t(v->integer(0, 1000000000));
    if (auto v = e.opt("height")) p.height = std::int32_t(v->integer(0, 1000000000));
    if (auto v = e.opt("resolution")) p.resolution = v->number(0, 1000000);
    if (auto v = e.opt("colorSpace"))
      p.colorSpaceCode = v->choice<int>({{"gray", 0}, {"bitmap", 1}, {"rgb", 2}, {"cmyk", 5}, {"multichannel", 8}});
    else if (type == "TIFF" || type == "JPEG")
      p.colorSpaceCode = 5;
    if (auto v = e.opt("pdfPage")) p.pdfPage = int(v->integer(0, 1000000));
    p.pdfNormalized = optBool(e, "normalized", false);
    p.dcs = optBool(e, "dcs", false);
    if (p.dcs && type != "EPS") e.child("dcs").fail("only an EPS picture can be a DCS file");
    if (auto v = e.opt("box")) p.box = v->box();
    if (auto v = e.opt("originalOrigin")) p.originalOrigin = v->point();
    if (type != "ART") {
      TavKernel::ReadPlacedFile(p, job_->ppi, {e.opt("width").has_value(), e.opt("height").has_value(),
                                               e.opt("resolution").has_value(), e.opt("colorSpace").has_value()});
    }
    if (auto inks = e.opt("inks")) {
      const std::size_t k = inks->array();
      p.seps.reset();
      for (std::size_t j = 0; j < k; ++j) p.seps.set(std::size_t(inkByName(inks->item(j))));
    } else if (type == "TIFF" || type == "JPEG") {
      // The inks its colour space names: gray prints on Black, RGB and CMYK
      // on the four process inks (those the job has).
      std::vector<int> kinds;
      if (p.colorSpaceCode == 0 || p.colorSpaceCode == 1) kinds = {3};
      if (p.colorSpaceCode == 2 || p.colorSpaceCode == 5) kinds = {0, 1, 2, 3};
      for (int kind : kinds)
        if (const int slot = sepgetcmyk(job_.get(), kind); slot >= 0) p.seps.set(std::size_t(slot));
    }
  }
}

void Loader::readMaps(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "files", "channels", "opacity", "colour", "colour2", "width", "height",
              "resolution", "scale", "internal", "noOpi"});
    const std::uint16_t id = defineId(job_->maps, e, "map");
    PictureMap& m = job_->maps[id];
    const Node files = e.req("files");
    const std::size_t nf = files.array(1, 64);
    for (std::size_t k = 0; k < nf; ++k) {
      const fs::path p = resolve(files.item(k));
      checkReadable(p, files.item(k));
      m.files.emplace_back(p.generic_string());
    }
    auto fileIndex = [&](const Node& v) {
      const std::int64_t f = v.integer(0, 63);
      if (std::size_t(f) >= nf) v.fail("no file " + std::to_string(f) + " in \"files\"");
      return int(f);
    };
    const Node channels = e.req("channels");
    const std::size_t nc = channels.array(1, kMaxSeparations);
    for (std::size_t k = 0; k < nc; ++k) {
      const Node c = channels.item(k);
      c.object({"ink", "file", "channel", "opacity"});
      MapChannel ch;
      ch.separation = inkByName(c.req("ink"));
      for (const MapChannel& other : m.channels)
        if (other.separation == ch.separation) c.child("ink").fail("the ink has two channels");
      ch.file = c.has("file") ? fileIndex(c.child("file")) : 0;
      if (auto v = c.opt("channel")) ch.channel = int(v->integer(0, 255));
      if (auto v = c.opt("opacity"))
        ch.opacity = std::uint16_t(TavSys::iround(v->number(0, 100) * kOpacityFull / 100.0));
      m.channels.push_back(ch);
    }
    if (auto o = e.opt("opacity")) {
      o->object({"file", "channel"});
      m.opacityFile = fileIndex(o->req("file"));
      if (auto v = o->opt("channel")) m.opacityChannel = int(v->integer(0, 255));
    }
    m.colour1 = e.req("colour").index();
    checkRef(job_->colours, e.child("colour"), "colour");
    if (auto v = e.opt("colour2")) {
      checkRef(job_->colours, *v, "colour");
      m.colour2 = v->index();
    }
    m.width = std::int32_t(e.req("width").integer(1, 1000000000));
    m.height = std::int32_t(e.req("height").integer(1, 1000000000));
    m.resolution = job_->ppi;
    if (auto v = e.opt("resolution")) {
      m.resolution = v->number(0, 1000000);
      if (!(m.resolution > 0)) v->fail("the resolution must be greater than 0");
    }
    if (auto v = e.opt("scale")) {
      m.scale = v->number(0, 1000000);
      if (!(m.scale > 0)) v->fail("the scale must be greater than 0");
    }
    m.internal = optBool(e, "internal", false);
    m.noOpi = optBool(e, "noOpi", false);
  }
}

void Loader::readPatterns(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "kind", "cell", "corners", "maskFlags", "objects"});
    const std::uint16_t id = defineId(job_->patterns, e, "pattern");
    patternPlaces_[id] = e.ptr;
    PatternRec& p = job_->patterns[id];
    if (auto k = e.opt("kind"))
      p.kind = k->choice<PatternRec::Kind>({{"tiling", PatternRec::kTiling}, {"softMask", PatternRec::kSoftMask}});
    if (auto c = e.opt("cell")) p.cell = c->box();
    // Without corners the cell is tiled where it lies.
    p.corners[0] = {p.cell.top, p.cell.left};
    p.corners[1] = {p.cell.top, p.cell.right};
    p.corners[2] = {p.cell.bottom, p.cell.left};
    if (auto c = e.opt("corners")) {
      c->array(3, 3);
      for (std::size_t k = 0; k < 3; ++k) p.corners[k] = c->item(k).point();
      const double wv = double(p.corners[1].v) - p.corners[0].v, wh = double(p.corners[1].h) - p.corners[0].h;
      const double hv = double(p.corners[2].v) - p.corners[0].v, hh = double(p.corners[2].h) - p.corners[0].h;
      if (wv * hh - wh * hv == 0) c->fail("the corners do not span an area");
    }
    if (auto m = e.opt("maskFlags")) p.maskFlags = std::uint32_t(m->integer(0, 0xFFFFFFFF));
    p.objects = TavDB::spanew();
    readMembers(*p.objects, e.req("objects"), 1, false, false);
    p.objects->recalcBounds();
  }
}

void Loader::readPoints(Object& path, const Node& points) {
  if (points.j->is_binary()) {
    // Well-formed points, packed while the file was read.
    const std::vector<std::uint8_t>& b = points.j->get_binary();
    if (b.empty()) points.fail("expected at least 1 entries");
    std::size_t i = 0;
    auto get = [&] {
      std::uint32_t u = 0;
      for (int k = 0; k < 4; ++k) u |= std::uint32_t(b[i++]) << (8 * k);
      return static_cast<std::int32_t>(u);
    };
    std::vector<TavDB::PathPoint>& out = path.points();
    std::size_t count = 0;
    for (std::size_t k = 0; k < b.size(); k += 4 * (1 + std::size_t(std::uint32_t(b[k]) | std::uint32_t(b[k + 1]) << 8)))
      count += b[k] == 2 ? 1 : 3;
    out.reserve(count);
    for (std::size_t index = 0; i < b.size(); ++index) {
      const std::int32_t n = get();
      std::int32_t c[6];
      for (std::int32_t k = 0; k < n; ++k) c[k] = get();
      if (n == 2) {
        out.push_back({c[0], c[1], TavDB::PathPoint::kLine});
      } else {
        if (index == 0)
          Node{points.j, points.ptr + "/0", points.file}.fail("a path starts with a point [v, h], not a curve");
        out.push_back({c[0], c[1], TavDB::PathPoint::kControl});
        out.push_back({c[2], c[3], TavDB::PathPoint::kControl});
        out.push_back({c[4], c[5], TavDB::PathPoint::kCurve});
      }
    }
    return;
  }
  const std::size_t n = points.array(1);
  std::vector<TavDB::PathPoint>& out = path.points();
  out.reserve(n + 2 * std::count_if(points.j->begin(), points.j->end(),
                                    [](const json& p) { return p.is_array() && p.size() == 6; }));
  for (std::size_t i = 0; i < n; ++i) {
    const Node p = points.item(i);
    if (!p.j->is_array() || (p.j->size() != 2 && p.j->size() != 6))
      p.fail("expected a point [v, h] or a curve [c1v, c1h, c2v, c2h, v, h]");
    if (p.j->size() == 6 && i == 0) p.fail("a path starts with a point [v, h], not a curve");
    std::int32_t c[6];
    for (std::size_t k = 0; k < p.j->size(); ++k) c[k] = p.item(k).coord();
    if (p.j->size() == 2) {
      out.push_back({c[0], c[1], TavDB::PathPoint::kLine});
    } else {
      out.push_back({c[0], c[1], TavDB::PathPoint::kControl});
      out.push_back({c[2], c[3], TavDB::PathPoint::kControl});
      out.push_back({c[4], c[5], TavDB::PathPoint::kCurve});
    }
  }
}

std::unique_ptr<Object> Loader::readObject(const Node& n, std::size_t depth, bool topLevel) {
  if (depth > kMaxNestingDepth)
    n.fail("objects are nested more than " + std::to_string(kMaxNestingDepth) + " deep");
  if (!n.j->is_object()) n.fail(std::string("expected an object, found ") + typeName(*n.j));
  const ObjectKind kind = n.req("kind").choice<ObjectKind>({{"layer", ObjectKind::Layer},
                                                            {"group", ObjectKind::Group},
                                                            {"compound", ObjectKind::Compound},
                                                            {"path", ObjectKind::Path},
                                                            {"text", ObjectKind::Text}});
  switch (kind) {
    case ObjectKind::Layer:
      n.object({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "objects", "cadLayer",
                "trapLayer"});
      if (!topLevel) n.child("kind").fail("a layer must be a member of the top-level object list");
      break;
    case ObjectKind::Group:
      n.object({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "objects",
                "textCarrier", "mark", "cad", "matrix", "at", "bounds", "boxCreator", "staggeredCut",
                "barcode", "paintMap"});
      break;
    case ObjectKind::Compound:
      n.object({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "objects",
                "paint", "stroke", "mark", "cad", "bounds", "boxCreator"});
      break;
    case ObjectKind::Path:
      n.object({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "points",
                "closed", "paint", "stroke", "mark", "cad", "bounds", "boxCreator"});
      break;
    case ObjectKind::Text:
      n.object({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "at", "matrix",
                "width", "leading", "align", "perCharacter", "runs", "stationNumber", "bounds", "mark"});
      break;
    case ObjectKind::List: break;
  }
  std::unique_ptr<Object> o = Object::create(kind);
  for (const char* key : {"hidden", "locked", "nonPrinting", "excluded", "trap"})
    if (auto v = n.opt(key)) o->setProperties(flagFor(key), v->boolean());
  if (auto v = n.opt("name")) o->extraMut().name = v->string();
  if (auto v = n.opt("mark")) o->extraMut().mark = v->nonEmptyString();
  if (auto v = n.opt("cad")) if (v->boolean()) o->extraMut().cad = true;
  if (auto v = n.opt("cadLayer")) if (v->boolean()) o->extraMut().cadLayer = true;
  if (auto v = n.opt("trapLayer")) if (v->boolean()) o->extraMut().trapLayer = true;
  if (auto v = n.opt("boxCreator")) {
    const std::int64_t t = v->integer(10, 11);
    o->extraMut().boxCreator = int(t);
  }
  if (auto v = n.opt("textCarrier")) o->setProperties(TavDB::kObjTextCarrier, v->boolean());
  if (auto v = n.opt("staggeredCut")) {
    v->object({"allInks", "inks"});
    ObjectExtra& x = o->extraMut();
    x.staggeredCut = true;
    x.staggeredAllInks = optBool(*v, "allInks", true);
    if (auto inks = v->opt("inks")) {
      const std::size_t k = inks->array();
      for (std::size_t i = 0; i < k; ++i) x.staggeredInks |= std::uint64_t(1) << inkByName(inks->item(i));
    }
  }
  if (kind == ObjectKind::Path || kind == ObjectKind::Compound) {
    std::uint16_t paint = kPaintNoFill;
    if (auto v = n.opt("paint")) {
      paint = paintRef(*v);
    }
    o->setPaint(paint);
    if (auto s = n.opt("stroke")) {
      s->object({"width", "paint", "join", "cap", "position", "miterLimit", "dash", "dashPhase"});
      auto st = std::make_unique<TavDB::Stroke>();
      st->width = s->req("width").number(0, 1e9);
      const Node sp = s->req("paint");
      st->paint = paintRef(sp);
      if (auto v = s->opt("join"))
        st->join = v->choice<TavDB::Stroke::Join>({{"miter", TavDB::Stroke::kMiterJoin},
                                                   {"round", TavDB::Stroke::kRoundJoin},
                                                   {"bevel", TavDB::Stroke::kBevelJoin}});
      if (auto v = s->opt("cap"))
        st->cap = v->choice<TavDB::Stroke::Cap>({{"butt", TavDB::Stroke::kButtCap},
                                                 {"round", TavDB::Stroke::kRoundCap},
                                                 {"square", TavDB::Stroke::kSquareCap}});
      if (auto v = s->opt("position"))
        st->position = v->choice<TavDB::Stroke::Position>({{"centre", TavDB::Stroke::kCentre},
                                                           {"inside", TavDB::Stroke::kInside},
                                                           {"outside", TavDB::Stroke::kOutside}});
      if (auto v = s->opt("miterLimit")) st->miterLimit = v->number(1, 1000);
      if (auto v = s->opt("dash")) {
        const std::size_t k = v->array(0, 32);
        for (std::size_t i = 0; i < k; ++i) st->dash.push_back(v->item(i).number(0, 1e9));
        if (k > 0 && std::all_of(st->dash.begin(), st->dash.end(), [](double d) { return d == 0; }))
          v->fail("a dash pattern needs a length other than 0");
      }
      if (auto v = s->opt("dashPhase")) st->dashPhase = v->number(0, 1e9);
      o->extraMut().stroke = std::move(st);
    }
  }
  if (kind == ObjectKind::Path) {
    readPoints(*o, n.req("points"));
    if (!optBool(n, "closed", true)) o->setProperties(TavDB::kObjOpenPath, true);
    o->recalcBounds();
  } else if (kind == ObjectKind::Text) {
    auto t = std::make_unique<TavDB::TextData>();
    t->start = n.req("at").point();
    if (auto m = n.opt("matrix")) {
      m->array(4, 4);
      for (std::size_t k = 0; k < 4; ++k) t->matrix[k] = m->item(k).number(-1e6, 1e6);
      // A flat matrix would set the letters in no space at all.
      if (std::abs(t->matrix[0] * t->matrix[3] - t->matrix[1] * t->matrix[2]) < 1e-9)
        m->fail("the matrix is singular");
    }
    if (auto v = n.opt("width")) t->width = v->number(0, 1e9);
    if (auto v = n.opt("leading")) t->leading = v->number(0, 1e5);
    if (auto v = n.opt("align"))
      t->align = v->choice<TavDB::TextData::Align>({{"left", TavDB::TextData::kLeft},
                                                    {"centre", TavDB::TextData::kCentre},
                                                    {"right", TavDB::TextData::kRight},
                                                    {"justify", TavDB::TextData::kJustify}});
    if (auto v = n.opt("perCharacter")) t->perCharacter = v->boolean();
    const Node runs = n.req("runs");
    const std::size_t nr = runs.array(1);
    for (std::size_t k = 0; k < nr; ++k) {
      const Node r = runs.item(k);
      r.object({"text", "font", "size", "paint", "tracking", "hscale", "rise", "wordSpacing",
                "underline"});
      TavDB::TextRun run;
      run.text = r.req("text").string();
      run.font = r.req("font").nonEmptyString();
      run.size = r.req("size").number(0.1, 10000);
      const Node rp = r.req("paint");
      run.paint = paintRef(rp);
      if (auto v = r.opt("tracking")) run.tracking = v->number(-10000, 10000);
      if (auto v = r.opt("hscale")) run.horizontalScale = v->number(1, 10000);
      if (auto v = r.opt("rise")) run.rise = v->number(-10000, 10000);
      if (auto v = r.opt("wordSpacing")) run.wordSpacing = v->number(-10000, 10000);
      if (auto v = r.opt("underline")) run.underline = v->boolean();
      checkTextFont(r, run);
      t->runs.push_back(std::move(run));
    }
    if (auto v = n.opt("stationNumber")) o->extraMut().stationNumber = v->boolean();
    // Until the text is laid out, its bounds are its start point grown by the
    // largest size, unless the file gives them.
    double size = 0;
    for (const auto& r : t->runs) size = std::max(size, r.size);
    const std::int32_t em = std::int32_t(std::min(1e9, size * job_->ppi / 72.0));
    o->setBounds({t->start.v - em, t->start.h, t->start.v + em / 4,
                  t->start.h + std::int32_t(std::min(1e9, std::max(t->width, double(em))))});
    o->extraMut().text = std::move(t);
  } else {
    if (kind == ObjectKind::Group) {
      if (auto m = n.opt("matrix")) {
        m->array(4, 4);
        ObjectExtra& x = o->extraMut();
        x.hasMatrix = true;
        for (std::size_t k = 0; k < 4; ++k) x.matrix[k] = m->item(k).number(-1e6, 1e6);
      }
      if (auto a = n.opt("at")) o->extraMut().origin = a->point();
    }
    if (kind == ObjectKind::Group && n.has("barcode")) {
      if (auto members = n.opt("objects")) readMembers(*o, *members, depth + 1, false, false);
      readBarcode(*o, n);
    } else {
      readMembers(*o, n.req("objects"), depth + 1, false, kind == ObjectKind::Compound);
    }
    if (kind == ObjectKind::Group) {
      if (auto v = n.opt("paintMap")) {
        if (v->boolean()) checkPaintMapGroup(*o, n);
      }
    }
    o->recalcBounds();
  }
  if (auto b = n.opt("bounds")) o->setBounds(b->box());
  return o;
}

// A paint-map group stands for one picture map: its first member is the
// outline the map shows in (it clips the group's OPI form), and its topmost
// path or compound path is painted with the map.
void Loader::checkPaintMapGroup(Object& group, const Node& n) const {
  const Node flag = n.child("paintMap");
  if (n.has("barcode")) flag.fail("a barcode group cannot be a paint-map group");
  const Object* outline = group.memberCount() > 0 ? group.member(0) : nullptr;
  const bool closedShape = outline != nullptr && (outline->kind() == ObjectKind::Compound ||
                                                  (outline->kind() == ObjectKind::Path && !outline->isOpenPath()));
  if (!closedShape) {
    // The members may have been streamed: the place is named, not looked up.
    const Node place{n.j, n.ptr + (group.memberCount() > 0 ? "/objects/0" : "/objects"), n.file};
    place.fail("the first member of a paint-map group is the map's outline: a closed path or a compound path");
  }
  // The writer takes the map from the topmost shape.
  TavDB::ListScan scan(&group, TavDB::kObjCompound | TavDB::kObjPath, 0);
  const Object* top = scan.nexhig();
  const Paint* p = top != nullptr ? paipoi(job_.get(), top->paint()) : nullptr;
  if (p == nullptr || p->type != kPaintMap)
    flag.fail("the topmost path or compound path of a paint-map group names its map: it must be painted with a map");
  group.extraMut().paintMapGroup = true;
}

// A barcode: the creator's record from the group's "barcode" object; a group
// without drawn objects gets the symbol drawn by the barcode creator.
void Loader::readBarcode(Object& group, const Node& n) {
  const Node b = n.child("barcode");
  b.object({"symbology", "type", "data", "paint", "font", "angle", "edited", "magnification",
            "barWidthReduction", "barHeight", "leftMargin", "rightMargin", "hideText", "quietZone",
            "whiteBox", "moduleSize", "errorCorrection", "symbolSize", "checkDigit",
            "dataMatrixType", "dataBarForm", "lightMarginIndicator", "cornerMarks", "borders",
            "leftAngularBracket"});
  const Node symbology = b.req("symbology");
  const std::string name = symbology.nonEmptyString();
  int type = BarcodeTypeFromName(name);
  if (type < 0) symbology.fail("unknown symbology \"" + name + "\"");
  if (auto t = b.opt("type")) {
    type = int(t->integer(0, 255));
    if (!BarcodeTypeHasName(type, name))
      t->fail("the type code " + std::to_string(type) + " is not one of " + name);
  }
  std::vector<BarcodeParameter> list;
  const Node data = b.req("data");
  const std::string code = data.nonEmptyString();
  if (code.size() > BarcodeParameter::kTextBytes)
    data.fail("the data are longer than " + std::to_string(BarcodeParameter::kTextBytes) + " bytes");
  list.push_back(BarcodeParameter::Text(kBarCode, code));
  // Sizes are in job units; the magnification is a factor (1 = 100 %), kept in
  // thousandths, and when it is absent the symbology's own size is meant.
  const std::int32_t magnification =
      b.has("magnification") ? std::int32_t(std::lround(b.child("magnification").number(0, 10) * 1000)) : -1;
  list.push_back(BarcodeParameter::Integer(kBarMagnification, magnification));
  auto length = [&](const char* key, BarcodeParameterId id) {
    if (auto v = b.opt(key)) list.push_back(BarcodeParameter::Integer(id, std::int32_t(v->integer(0, 100000000))));
  };
  auto flag = [&](const char* key, BarcodeParameterId id) {
    if (auto v = b.opt(key)) list.push_back(BarcodeParameter::Byte(id, v->boolean() ? 1 : 0));
  };
  length("barWidthReduction", kBarWidthReduction);
  // The creator always records the height and whether the text shows.
  list.push_back(BarcodeParameter::Integer(
      kBarHeight, b.has("barHeight") ? std::int32_t(b.child("barHeight").integer(0, 100000000)) : 0));
  list.push_back(BarcodeParameter::Byte(kBarTextHidden, optBool(b, "hideText", false) ? 1 : 0));
  length("leftMargin", kBarLeftMargin);
  length("rightMargin", kBarRightMargin);
  length("moduleSize", kBarModuleSize);
  flag("quietZone", kBarQuietZone);
  flag("whiteBox", kBarWhiteBox);
  flag("checkDigit", kBarAddCheckDigit);
  flag("lightMarginIndicator", kBarLightMarginIndicator);
  flag("borders", kBarBorders);
  flag("leftAngularBracket", kBarLeftAngularBracket);
  list.push_back(BarcodeParameter::Byte(kBarFont, b.has("font") ? 1 : 0));
  if (auto v = b.opt("errorCorrection"))
    list.push_back(BarcodeParameter::Byte(kBarErrorCorrection, std::uint8_t(v->integer(0, 3))));
  if (auto v = b.opt("symbolSize"))
    list.push_back(BarcodeParameter::Byte(kBarMinSymbolSize, std::uint8_t(v->integer(1, 40) + 1)));
  if (auto v = b.opt("dataMatrixType"))
    list.push_back(BarcodeParameter::Integer(
        kBarDataMatrixType, v->choice<std::int32_t>({{"auto", kDataMatrixAuto},
                                                     {"square", kDataMatrixSquare},
                                                     {"rectangle", kDataMatrixRectangle}})));
  // GS1 DataBar-14 keeps its form where other symbologies keep the corner marks.
  if (type == 29) {
    if (b.has("cornerMarks")) b.child("cornerMarks").fail("GS1 DataBar-14 has no corner marks");
    std::int32_t form = name == "GS1_DataBar-14_Stacked_Omni" ? kDataBarStackedOmni : kDataBarOmni;
    if (auto v = b.opt("dataBarForm"))
      form = v->choice<std::int32_t>({{"omni", kDataBarOmni}, {"truncated", kDataBarTruncated},
                                      {"stacked", kDataBarStacked}, {"stackedOmni", kDataBarStackedOmni}});
    list.push_back(BarcodeParameter::Byte(kBarCornerMarks, std::uint8_t(form)));
  } else {
    if (b.has("dataBarForm")) b.child("dataBarForm").fail("only GS1 DataBar-14 has a form");
    flag("cornerMarks", kBarCornerMarks);
  }
  auto creator = std::make_shared<barCreator>(type, std::move(list));
  if (auto reason = CheckBarcodeData(*creator, job_->ppi))
    data.fail("the data cannot be a " + name + " symbol: " + *reason);

  ObjectExtra& x = group.extraMut();
  double angle = 0;
  if (auto a = b.opt("angle")) {
    if (n.has("matrix")) a->fail("give the barcode's angle or the group's matrix, not both");
    angle = a->number(-360, 360);
    const double r = angle * 3.14159265358979323846 / 180.0;
    x.hasMatrix = true;
    x.matrix[0] = std::cos(r);
    x.matrix[1] = std::sin(r);
    x.matrix[2] = -std::sin(r);
    x.matrix[3] = std::cos(r);
  }
  if (group.memberCount() == 0) {
    // The creator draws the symbol: it needs a place and a paint.
    if (!BarcodeCanBeDrawn(type))
      symbology.fail("libzint cannot draw " + name + ": the group must hold the barcode's objects");
    BarcodeDrawing drawing;
    drawing.at = n.req("at").point();
    drawing.paint = paintRef(b.req("paint"));
    drawing.font = b.has("font") ? b.child("font").nonEmptyString() : std::string(kBarcodeDefaultFont);
    // The digits under the bars are a text in that font: like a text run's,
    // the font must be installed.
    if (!optBool(b, "hideText", false) && TavricCore::jobGetFontCache(job_.get())->FontId(drawing.font) < 0) {
      (b.has("font") ? b.child("font") : b).fail(Fonts::MissingFontReason(drawing.font));
    }
    drawing.angle = angle;
    const bool white = optBool(b, "whiteBox", false) || optBool(b, "quietZone", false);
    if (white) {
      std::uint8_t pct[kMaxSeparations];
      for (int k = 0; k < kMaxSeparations; ++k) pct[k] = k < job_->inkCount ? 0 : kPercentUntouched;
      drawing.whitePaint = painewflat(job_.get(), pct);
    }
    try {
      DrawBarcode(job_.get(), &group, *creator, drawing);
    } catch (const TavSys::Error& e) {
      data.fail("the data cannot be a " + name + " symbol: " + e.detail());
    }
  } else {
    for (const char* key : {"paint", "font"})
      if (b.has(key)) b.child(key).fail("the group holds the barcode's objects already");
  }
  x.barcode = std::move(creator);
  x.barcodeEdited = optBool(b, "edited", false);
}

void Loader::readMembers(Object& list, const Node& members, std::size_t depth, bool topLevel,
                         bool pathsOnly) {
  if (members.j == streamedList_) {
    streamedList_ = nullptr;
    for (std::unique_ptr<Object>& o : streamedMembers_) {
      if (pathsOnly && o->kind() != ObjectKind::Path) members.fail("a compound path holds paths only");
      list.addontop(std::move(o));
    }
    streamedMembers_.clear();
    return;
  }
  const std::size_t n = members.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node m = members.item(i);
    std::unique_ptr<Object> o = readObject(m, depth, topLevel);
    if (pathsOnly && o->kind() != ObjectKind::Path)
      m.child("kind").fail("a compound path holds paths only");
    list.addontop(std::move(o));
    // The document belongs to this load: release what has been read, so that
    // a large job does not hold its text form and its model at the same time.
    const_cast<json&>(*m.j) = json();
  }
}

void Loader::readExtras(const Node& root) {
  jobstr& job = *job_;
  if (auto c = root.opt("cad")) {
    c->object({"boundingBox", "printableAreaID", "printableAreas", "mirror", "file", "registration"});
    CADData cad;
    if (auto v = c->opt("boundingBox")) cad.boundingBox = v->box();
    if (auto v = c->opt("printableAreaID")) cad.printableAreaID = int(v->integer(0, 1000000));
    if (auto v = c->opt("printableAreas")) cad.printableAreaCount = int(v->integer(0, 1000000));
    cad.mirror = optBool(*c, "mirror", false);
    if (auto v = c->opt("file")) cad.file = v->string();
    if (auto r = c->opt("registration")) {
      r->object({"angle", "offset"});
      if (auto v = r->opt("angle")) cad.registrationAngle = v->number(-360, 360);
      if (auto v = r->opt("offset")) {
        const TavDB::tv_point p = v->point();
        cad.registrationOffsetV = p.v;
        cad.registrationOffsetH = p.h;
      }
    }
    job.cad = cad;
  }
  if (auto s = root.opt("stations")) {
    const std::size_t n = s->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = s->item(i);
      e.object({"number", "area"});
      job.stations.push_back({int(e.req("number").integer(0, 1000000)), e.req("area").box()});
    }
  }
  if (auto s = root.opt("notes")) {
    const std::size_t n = s->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = s->item(i);
      e.object({"text", "at", "author"});
      Note note;
      note.text = e.req("text").string();
      note.anchor = e.req("at").point();
      if (auto a = e.opt("author")) note.author = a->string();
      job.notes.push_back(std::move(note));
    }
  }
  if (auto s = root.opt("editHistory")) {
    const std::size_t n = s->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = s->item(i);
      e.object({"code", "text", "time", "boxes"});
      EditEntry entry;
      entry.code = int(e.req("code").integer(0, 1000000));
      entry.text = e.req("text").string();
      if (auto t = e.opt("time")) entry.time = t->integer(0, std::int64_t(1) << 40);
      if (auto b = e.opt("boxes")) {
        const std::size_t k = b->array();
        for (std::size_t j = 0; j < k; ++j) entry.boxes.push_back(b->item(j).box());
      }
      job.editHistory.entries().push_back(std::move(entry));
    }
  }
  if (auto c = root.opt("certified")) {
    c->object({"creator", "creationDate", "originalPDF"});
    CertifiedPDFInfo info;
    if (auto v = c->opt("creator")) info.creator = v->string();
    if (auto v = c->opt("creationDate")) info.creationDate = v->integer(0, std::int64_t(1) << 40);
    if (auto v = c->opt("originalPDF")) info.originalPDFFullPath = resolve(*v).generic_string();
    job.certified = info;
  }
  if (auto l = root.opt("linkParameters")) {
    const std::size_t n = l->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = l->item(i);
      e.object({"id", "label", "shortName", "number", "text"});
      const Node idn = e.req("id");
      const auto id = std::uint32_t(idn.integer(0, 0xFFFFFFFF));
      if (job.linkParameters.count(id)) idn.fail("the link parameter is defined twice");
      LinkParameter p;
      if (auto v = e.opt("label")) p.label = v->string();
      if (auto v = e.opt("shortName")) p.shortName = v->string();
      if (auto v = e.opt("number")) p.number = v->number();
      if (auto v = e.opt("text")) {
        p.text = v->string();
        p.isText = true;
      }
      job.linkParameters[id] = p;
    }
  }
  if (auto p = root.opt("parameters")) {
    if (!p->j->is_object()) p->fail(std::string("expected an object, found ") + typeName(*p->j));
    for (auto it = p->j->begin(); it != p->j->end(); ++it) {
      if (!TavSys::IsValidUTF8(it.key())) p->child(it.key()).fail("the name is not valid UTF-8");
      job.parameters[it.key()] = p->child(it.key()).string();
    }
  }
  if (auto c = root.opt("customerInfo")) {
    if (!c->j->is_object()) c->fail(std::string("expected an object, found ") + typeName(*c->j));
    for (auto it = c->j->begin(); it != c->j->end(); ++it) {
      // The entries become attributes of the JDF ticket's CustomerInfo.
      if (!Xml::IsValidName(it.key()))
        c->child(it.key()).fail("the name is not an XML name (letters, digits, '_', '-', '.', ':')");
      job.customerInfo[it.key()] = c->child(it.key()).string();
    }
  }
  if (auto t = root.opt("trimAndBleedInfo")) {
    t->object({"trimLeft", "trimBottom", "trimRight", "trimTop", "bleed"});
    TrimAndBleedInfo& i = job.trimAndBleed;
    i.present = true;
    auto get = [&](const char* key, int& out) {
      if (auto v = t->opt(key)) out = int(v->integer(-1000000000, 1000000000));
    };
    get("trimLeft", i.trimLeft);
    get("trimBottom", i.trimBottom);
    get("trimRight", i.trimRight);
    get("trimTop", i.trimTop);
    get("bleed", i.bleed);
  }
  if (auto m = root.opt("marks")) {
    m->object({"cropMarks", "registrationMarks", "offset", "length", "lineWidth"});
    job.marks.cropMarks = optBool(*m, "cropMarks", false);
    job.marks.registrationMarks = optBool(*m, "registrationMarks", false);
    if (auto v = m->opt("offset")) job.marks.offset = std::int32_t(v->integer(0, 1000000000));
    if (auto v = m->opt("length")) job.marks.length = std::int32_t(v->integer(0, 1000000000));
    if (auto v = m->opt("lineWidth")) job.marks.lineWidth = v->number(0, 1e9);
  }
  if (auto s = root.opt("solvaraSettings")) job.solvaraSettings = s->string();
}

// A pattern whose objects paint with the pattern itself (directly, through
// other patterns or through soft masks) could never be drawn to an end.
void Loader::checkPatternCycles() {
  const std::size_t n = job_->patterns.size();
  std::vector<std::vector<std::uint16_t>> uses(n);
  for (std::size_t i = 0; i < n; ++i) {
    const PatternRec& pat = job_->patterns[i];
    if (!pat.exists) continue;
    std::vector<const Object*> todo{pat.objects.get()};
    auto addPaint = [&](std::uint16_t index) {
      const Paint* p = paipoi(job_.get(), index);
      if (!p) return;
      if (p->type == kPaintPattern) uses[i].push_back(std::uint16_t(p->pattern));
      if (p->transparency.softMask != kNoSoftMask) uses[i].push_back(p->transparency.softMask);
    };
    while (!todo.empty()) {
      const Object* o = todo.back();
      todo.pop_back();
      for (const auto& m : o->members()) todo.push_back(m.get());
      if (o->kind() == ObjectKind::Path || o->kind() == ObjectKind::Compound) addPaint(o->paint());
      if (const auto* st = o->stroke()) addPaint(st->paint);
      if (const auto* t = o->text())
        for (const auto& r : t->runs) addPaint(r.paint);
    }
  }
  // Depth-first search with colours: 0 new, 1 on the path, 2 done.
  std::vector<int> state(n, 0);
  for (std::size_t start = 0; start < n; ++start) {
    if (!job_->patterns[start].exists || state[start] != 0) continue;
    std::vector<std::pair<std::size_t, std::size_t>> stack{{start, 0}};
    state[start] = 1;
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      if (next < uses[node].size()) {
        const std::size_t to = uses[node][next++];
        if (to >= n) continue;
        if (state[to] == 1)
          refuse(file_, patternPlaces_[std::uint16_t(to)] + "/objects",
                 "the pattern " + std::to_string(to) + " is painted with itself (directly or through other patterns)");
        if (state[to] == 0) {
          state[to] = 1;
          stack.emplace_back(to, 0);
        }
      } else {
        state[node] = 2;
        stack.pop_back();
      }
    }
  }
}

// Marks the inks the objects use (share 1..100 in a colour they paint with).
void Loader::deriveUsage() {
  jobstr& job = *job_;
  std::array<bool, kMaxSeparations> used{}, soft{};
  std::vector<bool> paintSeen(job.paints.size()), softSeen(job.paints.size());
  std::vector<bool> patternSeen(job.patterns.size());
  auto markColour = [&](std::uint16_t colour, std::array<bool, kMaxSeparations>& into) {
    if (const std::uint8_t* pct = colsep(&job, colour))
      for (int k = 0; k < job.inkCount; ++k)
        if (pct[k] >= 1 && pct[k] <= 100) into[std::size_t(k)] = true;
  };
  // Work list of (paint, soft-mask use) pairs and trees to walk.
  std::vector<std::pair<std::uint16_t, bool>> paints;
  std::vector<std::pair<const Object*, bool>> trees{{job.spatialTree.get(), false}};
  while (!trees.empty() || !paints.empty()) {
    while (!trees.empty()) {
      auto [tree, inMask] = trees.back();
      trees.pop_back();
      std::vector<const Object*> todo{tree};
      while (!todo.empty()) {
        const Object* o = todo.back();
        todo.pop_back();
        if (o->flags() & TavDB::kObjExcluded) continue;
        for (const auto& m : o->members()) todo.push_back(m.get());
        if (o->kind() == ObjectKind::Path || o->kind() == ObjectKind::Compound) {
          if (o->parent() == nullptr || o->parent()->kind() != ObjectKind::Compound)
            paints.emplace_back(o->paint(), inMask);
          if (const auto* s = o->stroke(); s && s->width > 0) paints.emplace_back(s->paint, inMask);
        }
        if (const auto* t = o->text())
          for (const auto& r : t->runs) paints.emplace_back(r.paint, inMask);
      }
    }
    while (!paints.empty()) {
      auto [index, inMask] = paints.back();
      paints.pop_back();
      std::vector<bool>& seen = inMask ? softSeen : paintSeen;
      if (index >= seen.size() || seen[index]) continue;
      seen[index] = true;
      const Paint* p = paipoi(&job, index);
      if (!p) continue;
      auto& into = inMask ? soft : used;
      switch (p->type) {
        case kPaintFlat: markColour(p->colour, into); break;
        case kPaintLinear:
        case kPaintRadial:
          markColour(p->colour, into);
          markColour(p->colour2, into);
          break;
        case kPaintGradation:
          for (const auto& s : p->steps) markColour(s.colour, into);
          break;
        case kPaintPicture:
          if (const Picture* pic = picpoi(&job, p->picture))
            for (int k = 0; k < job.inkCount; ++k)
              if (pic->seps.test(std::size_t(k))) into[std::size_t(k)] = true;
          break;
        case kPaintMap:
          if (const PictureMap* m = mappoi(&job, p->map)) {
            markColour(m->colour1, into);
            for (const auto& ch : m->channels) into[std::size_t(ch.separation)] = true;
          }
          break;
        case kPaintPattern:
          if (const PatternRec* pat = patpoi(&job, p->pattern))
            trees.emplace_back(pat->objects.get(), inMask);
          break;
      }
      if (p->transparency.softMask != kNoSoftMask)
        if (const PatternRec* mask = patpoi(&job, p->transparency.softMask))
          if (!patternSeen[p->transparency.softMask]) {
            patternSeen[p->transparency.softMask] = true;
            trees.emplace_back(mask->objects.get(), true);
          }
    }
  }
  for (int k = 0; k < job.inkCount; ++k) {
    Separation& s = job.separations[std::size_t(k)];
    s.used = used[std::size_t(k)];
    s.softMaskUsed = s.softMaskUsed || soft[std::size_t(k)];
  }
}

std::unique_ptr<jobstr> Loader::load(const json& rootJson) {
  const Node root{&rootJson, "", &file_};
  readDefinitions(root);
  if (auto v = root.opt("objects")) readMembers(*job_->spatialTree, *v, 1, true, false);
  return finish(root);
}

std::unique_ptr<Object> Loader::readStreamedObject(const Node& n, std::size_t depth, bool topLevel,
                                                   const json* list,
                                                   std::vector<std::unique_ptr<Object>> members) {
  streamedList_ = list;
  streamedMembers_ = std::move(members);
  std::unique_ptr<Object> o = readObject(n, depth, topLevel);
  if (streamedList_) n.fail("the members were not read");
  return o;
}

void Loader::readDefinitions(const Node& root) {
  root.object({"format", "version", "name", "description", "rootFile", "creatorVersion", "ppi",
               "origin", "scale", "boxes", "defaultBoxes", "inks", "screens", "colours", "paints",
               "pictures", "maps", "patterns", "objects", "cad", "stations", "notes",
               "editHistory", "certified", "linkParameters", "parameters", "customerInfo",
               "trimAndBleedInfo", "marks", "solvaraSettings"});
  job_ = std::make_unique<jobstr>();
  job_->originalFile = TavSys::filref(fs::path(file_).generic_string());
  readHeader(root);
  readBoxes(root);
  if (auto v = root.opt("inks")) readInks(*v);
  if (auto v = root.opt("screens")) readScreens(*v);
  if (auto v = root.opt("inks")) {
    for (int i = 0; i < job_->inkCount; ++i)
      if (auto s = v->item(std::size_t(i)).opt("screen")) {
        checkRef(job_->screens, *s, "screen");
        job_->separations[std::size_t(i)].screen = s->index();
      }
  }
  if (auto v = root.opt("colours")) readColours(*v);
  if (auto v = root.opt("paints")) readPaints(*v);
  if (auto v = root.opt("pictures")) readPictures(*v);
  if (auto v = root.opt("maps")) readMaps(*v);
  // The "no fill" paint given to open paths, made once every colour
  // reference of the file has been checked.
  if (job_->paints.size() <= kPaintNoFill) job_->paints.resize(kPaintNoFill + 1);
  if (!job_->paints[kPaintNoFill].exists) {
    const std::uint16_t colour = job_->addColour(Colour());  // every ink untouched
    Paint& p = job_->paints[kPaintNoFill];
    p.exists = true;
    p.type = kPaintFlat;
    p.colour = colour;
  }
  if (auto v = root.opt("patterns")) readPatterns(*v);
  if (auto v = root.opt("paints")) checkPaintRefs(*v);
}

std::unique_ptr<jobstr> Loader::finish(const Node& root) {
  job_->spatialTree->recalcBounds();
  readExtras(root);
  checkPatternCycles();
  // Every page (a one-up's too) needs a media box with an area.
  const auto& media = job_->boxes[kMediaBox];
  if (!media) root.fail("the job has no media box (\"boxes\": {\"media\": [top, left, bottom, right]})");
  if (media->width() <= 0 || media->height() <= 0)
    root.child("boxes").child("media").fail("the media box has no area");

  // A file's explicit "used" wins over what the objects show.
  deriveUsage();
  if (auto v = root.opt("inks"))
    for (int i = 0; i < job_->inkCount; ++i)
      if (auto u = v->item(std::size_t(i)).opt("used")) job_->separations[std::size_t(i)].used = u->boolean();
  return std::move(job_);
}

// Builds the document like nlohmann's own DOM parser, except that the array
// under each "points" key, when it is a well-formed list of points ([v, h] or
// [c1v, c1h, c2v, c2h, v, h] of whole numbers in range), is stored as one
// binary value (per point its arity, then the coordinates, as int32) instead
// of one JSON value per number: a path's points then cost a few bytes each
// while the file is read. An array that is not well-formed is built as usual,
// so that the loader reports its fault with the exact place.
class CompactingSax {
 public:
  using Dom = nlohmann::detail::json_sax_dom_parser<json>;
  explicit CompactingSax(json& root) : dom_(root, true) {}

  bool null() { return scalar([&] { return dom_.null(); }); }
  bool boolean(bool v) { return scalar([&] { return dom_.boolean(v); }); }
  bool number_integer(json::number_integer_t v) {
    if (state_ == kInPoint && v >= -kLimit && v <= kLimit) return coordinate(std::int32_t(v));
    return scalar([&] { return dom_.number_integer(v); });
  }
  bool number_unsigned(json::number_unsigned_t v) {
    if (state_ == kInPoint && v <= std::uint64_t(kLimit)) return coordinate(std::int32_t(v));
    return scalar([&] { return dom_.number_unsigned(v); });
  }
  bool number_float(json::number_float_t v, const json::string_t& s) {
    if (state_ == kInPoint && std::isfinite(v) && v == std::floor(v) && v >= -kLimit && v <= kLimit)
      return coordinate(std::int32_t(v));
    return scalar([&] { return dom_.number_float(v, s); });
  }
  bool string(json::string_t& v) { return scalar([&] { return dom_.string(v); }); }
  bool binary(json::binary_t& v) { return scalar([&] { return dom_.binary(v); }); }
  bool start_object(std::size_t n) {
    bail();
    pointsKey_ = false;
    return dom_.start_object(n);
  }
  bool key(json::string_t& k) {
    pointsKey_ = k == "points";
    return dom_.key(k);
  }
  bool end_object() {
    bail();
    return dom_.end_object();
  }
  bool start_array(std::size_t n) {
    if (state_ == kIdle && pointsKey_) {
      pointsKey_ = false;
      state_ = kInList;
      packed_.clear();
      return true;
    }
    if (state_ == kInList) {
      state_ = kInPoint;
      current_.clear();
      return true;
    }
    bail();
    pointsKey_ = false;
    return dom_.start_array(n);
  }
  bool end_array() {
    if (state_ == kInPoint) {
      if (current_.size() != 2 && current_.size() != 6) {
        bail();
        return dom_.end_array();
      }
      put(std::int32_t(current_.size()));
      for (std::int32_t c : current_) put(c);
      state_ = kInList;
      return true;
    }
    if (state_ == kInList) {
      state_ = kIdle;
      json::binary_t bin(std::move(packed_));
      packed_ = {};
      return dom_.binary(bin);
    }
    return dom_.end_array();
  }
  template <class Exception>
  bool parse_error(std::size_t pos, const std::string& token, const Exception& ex) {
    return dom_.parse_error(pos, token, ex);
  }

 private:
  static constexpr std::int64_t kLimit = 1000000000;
  enum State { kIdle, kInList, kInPoint };

  bool coordinate(std::int32_t c) {
    current_.push_back(c);
    if (current_.size() > 6) bail();
    return true;
  }
  template <class F>
  bool scalar(F emit) {
    bail();
    pointsKey_ = false;
    return emit();
  }
  void put(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) packed_.push_back(std::uint8_t(u >> (8 * i)));
  }
  // Gives up compacting: replays what was held back into the document.
  void bail() {
    if (state_ == kIdle) return;
    const State was = state_;
    state_ = kIdle;
    dom_.start_array(std::size_t(-1));
    std::size_t i = 0;
    auto get = [&] {
      std::uint32_t u = 0;
      for (int k = 0; k < 4; ++k) u |= std::uint32_t(packed_[i++]) << (8 * k);
      return static_cast<std::int32_t>(u);
    };
    while (i < packed_.size()) {
      const std::int32_t n = get();
      dom_.start_array(std::size_t(n));
      for (std::int32_t k = 0; k < n; ++k) dom_.number_integer(get());
      dom_.end_array();
    }
    if (was == kInPoint) {
      dom_.start_array(current_.size());
      for (std::int32_t c : current_) dom_.number_integer(c);
    }
    packed_.clear();
    current_.clear();
  }

  Dom dom_;
  State state_ = kIdle;
  bool pointsKey_ = false;
  std::vector<std::uint8_t> packed_;
  std::vector<std::int32_t> current_;
};

json parseJson(std::string_view text, const std::string& file) {
  try {
    json root;
    CompactingSax sax(root);
    json::sax_parse(text.begin(), text.end(), &sax);
    return root;
  } catch (const json::parse_error& e) {
    // The parser's message names the line and column of the fault.
    std::string what = e.what();
    const auto p = what.find("parse error");
    refuse(file, "", "not valid JSON: " + (p == std::string::npos ? what : what.substr(p)));
  } catch (const json::exception& e) {
    refuse(file, "", std::string("not valid JSON: ") + e.what());
  }
}

// Gives up the streaming load; the whole document is then loaded as before.
struct StreamFallback {};

bool gStreaming = true;

// Loads a job while its JSON streams by, so that the text and the document of
// a large job never exist whole: the top level is built as a document except
// its "objects" list, whose entries (and the members of each, at any depth)
// are built one object at a time, each read into the model as soon as it
// completes, members before their container. The definitions the objects
// refer to are read when the top-level "objects" list begins.
//
// The result must be the one the whole document gives, refusals included:
// any refusal, a fault of the JSON, a definition that follows the objects or
// a second "objects" list gives up (StreamFallback or the refusal itself),
// and the caller loads the whole document, which reports the fault exactly.
class StreamingSax {
 public:
  StreamingSax(Loader& loader, json& root, const std::string& file) : loader_(loader), file_(file) {
    Frame f;
    f.value = &root;
    f.sax = std::make_unique<CompactingSax>(root);
    frames_.push_back(std::move(f));
  }

  std::unique_ptr<jobstr> finish() {
    const Frame& root = frames_.front();
    if (!root.streamed) return loader_.load(*root.value);
    return loader_.finish(Node{root.value, "", &file_});
  }

  bool null() { return scalar([](CompactingSax& b) { return b.null(); }); }
  bool boolean(bool v) { return scalar([&](CompactingSax& b) { return b.boolean(v); }); }
  bool number_integer(json::number_integer_t v) {
    return scalar([&](CompactingSax& b) { return b.number_integer(v); });
  }
  bool number_unsigned(json::number_unsigned_t v) {
    return scalar([&](CompactingSax& b) { return b.number_unsigned(v); });
  }
  bool number_float(json::number_float_t v, const json::string_t& t) {
    return scalar([&](CompactingSax& b) { return b.number_float(v, t); });
  }
  bool string(json::string_t& v) { return scalar([&](CompactingSax& b) { return b.string(v); }); }
  bool binary(json::binary_t&) { throw StreamFallback{}; }

  bool start_object(std::size_t n) {
    if (frames_.back().list) {
      // An entry of an "objects" list: its own small document.
      Frame& list = frames_.back();
      if (list.objectDepth > kMaxNestingDepth) throw StreamFallback{};
      Frame e;
      e.owned = std::make_unique<json>();
      e.value = e.owned.get();
      e.sax = std::make_unique<CompactingSax>(*e.value);
      e.ptr = list.ptr + "/" + std::to_string(list.count++);
      e.objectDepth = list.objectDepth;
      e.topLevel = list.topLevel;
      e.depth = 1;
      e.sax->start_object(n);
      frames_.push_back(std::move(e));
      return true;
    }
    Frame& f = builder();
    ++f.depth;
    return f.sax->start_object(n);
  }
  bool key(json::string_t& k) {
    Frame& f = frames_.back();
    if (f.depth == 1 && k == "objects") {
      if (f.streamed) throw StreamFallback{};
      f.pendingObjects = true;
      return true;
    }
    // Only what is read after the objects may follow them.
    if (f.depth == 1 && !f.owned && f.streamed && !readAfterObjects(k)) throw StreamFallback{};
    return f.sax->key(k);
  }
  bool end_object() {
    Frame& f = frames_.back();
    --f.depth;
    f.sax->end_object();
    if (f.depth == 0 && f.owned) completeObject();
    return true;
  }
  bool start_array(std::size_t n) {
    if (frames_.back().list) throw StreamFallback{};
    Frame& f = frames_.back();
    if (!f.pendingObjects) {
      ++builder().depth;
      return f.sax->start_array(n);
    }
    // An "objects" list: a placeholder in the document, its entries streamed.
    f.pendingObjects = false;
    f.streamed = true;
    json::string_t name = "objects";
    f.sax->key(name);
    f.sax->start_array(0);
    f.sax->end_array();
    if (!f.owned) loader_.readDefinitions(Node{f.value, "", &file_});
    Frame list;
    list.list = true;
    list.ptr = f.ptr + "/objects";
    list.objectDepth = f.owned ? f.objectDepth + 1 : 1;
    list.topLevel = !f.owned;
    frames_.push_back(std::move(list));
    return true;
  }
  bool end_array() {
    if (frames_.back().list) {
      frames_.pop_back();
      return true;
    }
    --frames_.back().depth;
    return frames_.back().sax->end_array();
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception&) {
    throw StreamFallback{};
  }

 private:
  struct Frame {
    json* value = nullptr;              // the document being built
    std::unique_ptr<json> owned;        // set for an object's own document
    std::unique_ptr<CompactingSax> sax;
    std::string ptr;                    // JSON pointer of the value
    std::size_t depth = 0;              // nesting inside the value
    std::size_t objectDepth = 0;        // an object's depth in the tree
    bool topLevel = false;
    bool pendingObjects = false;        // the key "objects" awaits its value
    bool streamed = false;              // its "objects" list was streamed
    std::vector<std::unique_ptr<Object>> members;
    // An "objects" list being streamed:
    bool list = false;
    std::size_t count = 0;
  };

  static bool readAfterObjects(const std::string& k) {
    for (const char* name : {"cad", "stations", "notes", "editHistory", "certified", "linkParameters",
                             "parameters", "customerInfo", "trimAndBleedInfo", "marks", "solvaraSettings"})
      if (k == name) return true;
    return false;
  }
  // The frame that takes a value: a key "objects" whose value is not a list
  // is handed on as it came.
  Frame& builder() {
    Frame& f = frames_.back();
    if (f.list) throw StreamFallback{};
    if (f.pendingObjects) {
      f.pendingObjects = false;
      json::string_t name = "objects";
      f.sax->key(name);
    }
    return f;
  }
  template <class F>
  bool scalar(F emit) {
    return emit(*builder().sax);
  }
  // An object's document is complete: read it, with the members streamed
  // before it, and hand it to its container.
  void completeObject() {
    Frame done = std::move(frames_.back());
    frames_.pop_back();
    const json* placeholder = nullptr;
    if (done.streamed) placeholder = &done.value->at("objects");
    std::unique_ptr<Object> o = loader_.readStreamedObject(Node{done.value, done.ptr, &file_}, done.objectDepth,
                                                           done.topLevel, placeholder, std::move(done.members));
    Frame& owner = frames_[frames_.size() - 2];  // below the list
    if (owner.owned)
      owner.members.push_back(std::move(o));
    else
      loader_.addTopLevel(std::move(o));
  }

  Loader& loader_;
  const std::string& file_;
  std::vector<Frame> frames_;
};

// The characters of a job file, read in pieces.
class FileText {
 public:
  explicit FileText(const fs::path& path) : in_(path, std::ios::binary), buffer_(1 << 20) {}
  bool atEnd() {
    if (pos_ < size_) return false;
    if (!in_.is_open()) throw StreamFallback{};
    in_.read(buffer_.data(), std::streamsize(buffer_.size()));
    size_ = std::size_t(in_.gcount());
    pos_ = 0;
    total_ += size_;
    if (in_.bad() || total_ > kMaxJobFileBytes) throw StreamFallback{};
    return size_ == 0;
  }
  char get() const { return buffer_[pos_]; }
  void next() { ++pos_; }

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;
    Iterator() = default;
    explicit Iterator(FileText* text) : text_(text) {}
    char operator*() const { return text_->get(); }
    Iterator& operator++() {
      text_->next();
      return *this;
    }
    bool operator==(const Iterator& other) const { return atEnd() == other.atEnd(); }

   private:
    bool atEnd() const { return !text_ || text_->atEnd(); }
    FileText* text_ = nullptr;
  };

 private:
  std::ifstream in_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0, size_ = 0, total_ = 0;
};

// The streaming load of text from first to last; null when it gave up.
template <class It>
std::unique_ptr<jobstr> streamJob(It first, It last, const fs::path& base, const std::string& file,
                                  const fs::path* canonical) {
  if (!gStreaming) return nullptr;
  try {
    LoadSession session;
    if (canonical) session.chain.push_back(*canonical);
    Loader loader(session, base, file);
    json root;
    StreamingSax sax(loader, root, file);
    json::sax_parse(first, last, &sax);
    return sax.finish();
  } catch (const StreamFallback&) {
  } catch (const std::exception&) {
  }
  return nullptr;
}

}  // namespace

void setJobStreaming(bool on) { gStreaming = on; }

std::unique_ptr<jobstr> loadJobFromMemory(std::string_view text, const fs::path& baseFolder,
                                          std::string_view name) {
  const std::string file(name);
  if (text.size() > kMaxJobFileBytes) refuse(file, "", "the job file is too large");
  if (auto job = streamJob(text.begin(), text.end(), baseFolder, file, nullptr)) return job;
  const json root = parseJson(text, file);
  LoadSession session;
  Loader loader(session, baseFolder, file);
  return loader.load(root);
}

std::unique_ptr<jobstr> loadJobFile(const fs::path& path) {
  const std::string file = path.string();
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) throw TavSys::fileError(EISDIR, file, kCannotReadKey);
  // A device or socket would be read without end (/dev/zero) or block; a
  // pipe is read up to the size limit.
  if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_fifo(status)) {
    TavSys::Error e(TavSys::kFileErrorBase + EINVAL, kCannotReadKey, file + ": it is not a regular file");
    e.with("__FILE__", file).with("__REASON__", "it is not a regular file");
    throw e;
  }
  fs::path canon = fs::weakly_canonical(path, ec);
  if (ec) canon = path;
  if (fs::is_regular_file(status)) {
    FileText text(path);
    if (auto job = streamJob(FileText::Iterator(&text), FileText::Iterator(), path.parent_path(), file, &canon))
      return job;
  }
  const std::string text = readWholeFile(path, file, "", true);
  const json root = parseJson(text, file);
  LoadSession session;
  session.chain.push_back(canon);
  Loader loader(session, path.parent_path(), file);
  return loader.load(root);
}

}  // namespace TavKernel
