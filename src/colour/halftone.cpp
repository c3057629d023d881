#include "colour/halftone.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <functional>

#include <boost/algorithm/string/predicate.hpp>

#include "colour/colourpdf.h"
#include "colour/transfer.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/dotgain.h"
#include "platform/kernel/job.h"
#include "platform/kernel/screening.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/utf.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::array<double, 4> kProcessAngles{15.0, 75.0, 0.0, 45.0};
constexpr std::array<const char*, 4> kProcessNames{"Cyan", "Magenta", "Yellow", "Black"};
constexpr double kSpotAngle = 45.0;
constexpr double kDefaultRuling = 120.0;
// The localized names of the default screen.
constexpr std::array<const char*, 7> kDefaultNames{
    "Default", "D\xC3\xA9" "faut", "Standard", "\xE3\x83\x87\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x88",
    "\xEA\xB8\xB0\xEB\xB3\xB8\xEA\xB0\x92", "Defecto", "\xE9\xBB\x98\xE8\xAE\xA4\xE7\x9A\x84"};

// Shows a screening warning once per document.
void warnOnce(pdfouthan* handler, std::string_view key,
              const std::vector<std::pair<std::string, std::string>>& placeholders) {
  std::string what(key);
  for (const auto& [name, value] : placeholders) what += "\n" + name + "=" + value;
  if (handler->firstReport(what)) TavGen::message(TavGen::kWarning, 1, key, placeholders);
}

// 0 means unknown: 120 lpi and the user is told.
double rulingOrDefault(pdfouthan* handler, double ruling, const std::string& screenName) {
  if (ruling > 0) return ruling;
  warnOnce(handler, "PDF/UNKNOWN RULING WAS REPLACED BY",
           {{"__SCREENNAME__", screenName}, {"__RULING__", "120"}});
  return kDefaultRuling;
}

PDFReal* frequency(double ruling) { return new PDFReal(TavSys::iround(ruling * 1000) / 1000.0); }

PDFDictionary* type1Halftone(PDFDictionaryValue* frequency, double angle, PDFDictionaryValue* spot) {
  auto* halftone = new PDFDictionary();
  halftone->Set("Type", new PDFName("Halftone"));
  halftone->Set("HalftoneType", new PDFInteger(1));
  halftone->Set("Frequency", frequency);
  halftone->Set("Angle", new PDFReal(angle));
  halftone->Set("SpotFunction", spot);
  return halftone;
}

// [-1 1 -1 1 ...] with `pairs` pairs.
PDFArray* signedUnitPairs(int pairs) {
  auto* array = new PDFArray();
  for (int i = 0; i < pairs; ++i) {
    array->Add(new PDFInteger(-1));
    array->Add(new PDFInteger(1));
  }
  return array;
}

PDFIndirectReference* writeAtOnce(pdfouthan* handler, PDFDictionaryValue* object) {
  PDFIndirectReference* ref = handler->makeIndirect(object);
  handler->writeObject(ref);
  return ref;
}

// The inks a halftone is made for: those in use, in slot order.
std::vector<int> inksInUse(const jobstr* job) {
  std::vector<int> inks;
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int s = sepsoruse(job, slot, false);
    if (s >= 0 && (sepisused(job, s) & kSepUsed) != 0) inks.push_back(s);
  }
  return inks;
}

double defaultAngle(const jobstr* job, int separation) {
  const int k = sepiscmyk(job, separation);
  return k >= 0 ? kProcessAngles[std::size_t(k)] : kSpotAngle;
}

// The Type 5 dictionary under construction.
class Type5 {
 public:
  Type5(pdfouthan* handler, jobstr* job, const PDFSettings& settings, bool byOutputName)
      : mHandler(handler), mJob(job), mSettings(settings), mByOutputName(byOutputName) {}

  // Writes the halftone and enters it for the ink: under "Black" in
  // separated output (unless entered by output name), else under the ink's
  // output name; the first one is the default as well.
  void enter(PDFDictionary* halftone, int separation) {
    std::string name = "Black";
    if (mByOutputName || mSettings.SeparatedOutput == 0) mHandler->getSeparationName(name, mJob, separation);
    enterAs(name, writeAtOnce(mHandler, halftone));
  }

  // A Default when none was entered, the process inks a composite page
  // shows with AddCMYKSeparations, and the dictionary's own keys.
  PDFDictionary* finish(bool privateNone) {
    auto plain = [&](double angle) {
      PDFDictionary* h = type1Halftone(new PDFReal(kDefaultRuling), angle, new PDFName("SimpleDot"));
      if (privateNone) h->Set("VornPNDSN", new PDFName("None"));
      return writeAtOnce(mHandler, h);
    };
    if (mDictionary->Get("Default") == nullptr) mDictionary->Set("Default", plain(kSpotAngle));
    if (mSettings.AddCMYKSeparations != 0 && mSettings.SeparatedOutput == 0) {
      for (std::size_t k = 0; k < 4; ++k) {
        if (mDictionary->Get(kProcessNames[k]) == nullptr) {
          mDictionary->Set(kProcessNames[k], plain(kProcessAngles[k]));
        }
      }
    }
    mDictionary->Set("Type", new PDFName("Halftone"));
    mDictionary->Set("HalftoneType", new PDFInteger(5));
    return mDictionary;
  }

 private:
  void enterAs(const std::string& name, PDFIndirectReference* ref) {
    mDictionary->Set(name, ref);
    if (mDictionary->Get("Default") == nullptr) mDictionary->Set("Default", ref);
  }

  pdfouthan* mHandler;
  jobstr* mJob;
  const PDFSettings& mSettings;
  bool mByOutputName;
  PDFDictionary* mDictionary = new PDFDictionary();
};

std::string afterTonematch(const std::string& curve) {
  return boost::algorithm::istarts_with(curve, "Tonematch_") ? curve.substr(10) : std::string();
}

// ---- classic screens ---------------------------------------------------------------

void classicHalftones(Type5& type5, pdfouthan* handler, jobstr* job, int screen, const Screen& s,
                      const PDFSettings& settings, bool* angleShown) {
  const std::string& screenName = getScreenName(job, screen);
  std::string spotName, key, procedure;
  switch (s.dotShape) {
    case 0:
    case 1: spotName = "SimpleDot"; break;
    case 2: spotName = "EllipseB"; break;
    case 3: spotName = "Round"; break;
    case 4: spotName = "LineX"; break;
    default:
      getVornDotShapeKey(s.dotShape, key);
      if (!key.empty()) break;
      if (s.dotShape == 99 && !s.customSpot.empty()) {
        const std::size_t first = s.customSpot.find_first_not_of(" \t");
        if (first != std::string::npos && s.customSpot[first] == '{') {
          procedure = s.customSpot;
        } else {
          key = s.customSpot;
        }
      } else {
        procedure = getPSProcDotShape(s.dotShape);
      }
      // Only a calculator program can be a Type 4 function; anything else
      // would make the halftone, and the page with it, unreadable.
      if (!procedure.empty() && !IsType4Program(procedure)) procedure.clear();
  }
  const double ruling = rulingOrDefault(handler, s.ruling, screenName);

  PDFIndirectReference* function = nullptr;
  for (int sep : inksInUse(job)) {
    if (settings.NormalizedOutput != 0 && s.dotgain && s.dotgain->HasDotgain(sep)) {
      warnOnce(handler, "PDF/NO DOTGAIN FOR __SCREENNAME__,__SEPARATIONNAME__",
               {{"__SCREENNAME__", screenName}, {"__SEPARATIONNAME__", GetSeparationName(job, sep)}});
    }
    PDFDictionaryValue* spot = nullptr;
    if (!procedure.empty()) {
      // One function stream serves every ink of the screen.
      if (function == nullptr) {
        auto* dictionary = new PDFDictionary();
        dictionary->Set("FunctionType", new PDFInteger(4));
        dictionary->Set("Domain", signedUnitPairs(2));
        dictionary->Set("Range", signedUnitPairs(1));
        function = TavColorPdf::WriteStream(handler, dictionary, procedure);
      }
      spot = function;
    }
    if (spot == nullptr && !spotName.empty()) {
      spot = new PDFName(spotName);
    } else if (spot == nullptr) {
      if (key.empty()) {
        warnOnce(handler, "PDF/UNSUPPORTED DOTSHAPE REPLACED BY DEFAULT",
                 {{"__DOTSHAPENAME__", ScreenGetDotName(s.dotShape)}, {"__SCREENNAME__", screenName}});
      }
      spot = new PDFName("SimpleDot");
    }
    PDFDictionary* halftone =
        type1Halftone(frequency(ruling), CheckScreenAngle(job, sep, s.angle[std::size_t(sep)], angleShown), spot);
    if (!key.empty()) {
      halftone->Set("VornPNDSN", new PDFName(key));
    } else if (settings.IncludePrivateData == 0) {
      halftone->Set("VornPNDSN", new PDFName("None"));
    }
    type5.enter(halftone, sep);
  }
}

// ---- extended screens --------------------------------------------------------------

// False when the screen gives no values for its first ink: no halftone.
bool extendedHalftones(Type5& type5, pdfouthan* handler, jobstr* job, int screen,
                       const PDFSettings& settings, bool* angleShown) {
  const std::string& screenName = getScreenName(job, screen);
  const std::vector<int> inks = inksInUse(job);
  ScreeningDictionary values;
  if (inks.empty() || !getScreenDictionaryValuesForPDF(job, inks.front(), screen, values, true)) return false;
  PDFName* spot = MapDotShapeToSpotFunction(values.DotShape);
  for (int sep : inks) {
    if (!getScreenDictionaryValuesForPDF(job, sep, screen, values, true)) break;
    auto* extended = new PDFDictionary();
    BuildExtendedHalftoneDictionary(extended, values);
    // Absent values (-1) are no frequency or angle: the defaults stand in.
    PDFDictionaryValue* frequencyValue = nullptr;
    if (boost::algorithm::istarts_with(values.AngleFamily, "fm")) {
      frequencyValue = new PDFReal(kDefaultRuling);
    } else if (values.Ruling > 0) {
      frequencyValue = new PDFInteger(values.Ruling);
    } else {
      frequencyValue = new PDFReal(rulingOrDefault(handler, 0, screenName));
    }
    const double angle = values.Angle == -1.0 ? CheckScreenAngle(job, sep, -360.0, angleShown) : values.Angle;
    PDFDictionary* halftone = type1Halftone(frequencyValue, angle, spot);
    halftone->Set("QEL_Halftone", extended);

    if (settings.NormalizedOutput != 0) {
      if (!values.CellType.empty() || (!values.HybridType.empty() && values.HybridType != "Off") ||
          values.EndAdjust == "Min" || values.EndAdjust == "Max" || values.EndAdjust == "MinAndMax") {
        warnOnce(handler, "PDF/UNSUPPORTED ORVEX EXTENDED PARAMETER", {{"__SCREENNAME__", screenName}});
      }
      auto* own = new PDFDictionary();
      const std::string mnemonic = MapDotShapeToRastovarMnemonic(values.AngleFamily, values.DotShape);
      if (!mnemonic.empty()) {
        own->Set("DotName", new PDFName(mnemonic));
        halftone->Set("VornPNDSN", new PDFName(mnemonic));
      } else if (settings.IncludePrivateData == 0) {
        warnOnce(handler, "PDF/UNSUPPORTED DOTSHAPE REPLACED BY DEFAULT",
                 {{"__DOTSHAPENAME__", values.AngleFamily + " - " + values.DotShape},
                  {"__SCREENNAME__", screenName}});
        halftone->Set("VornPNDSN", new PDFName("None"));
      }
      if (boost::algorithm::istarts_with(values.ExtraCurve, "Tonematch_")) {
        own->Set("Tonematch", new PDFName(afterTonematch(values.ExtraCurve)));
      } else if (!values.ExtraCurve.empty() && values.ExtraCurve != "RIPDefault") {
        warnOnce(handler, "PDF/UNSUPPORTED CUTBACK CURVE",
                 {{"__CURVENAME__", values.ExtraCurve}, {"__SCREENNAME__", screenName}});
      }
      halftone->Set("Vorn_ExtHT", own);
    }
    type5.enter(halftone, sep);
  }
  return true;
}

// ---- named-dot screens -------------------------------------------------------------

void namedDotHalftones(Type5& type5, pdfouthan* handler, jobstr* job, int screen, const Screen& s,
                       const PDFSettings& settings, bool* angleShown) {
  const double ruling = rulingOrDefault(handler, s.ruling, getScreenName(job, screen));
  for (int sep : inksInUse(job)) {
    PDFDictionary* halftone = type1Halftone(
        frequency(ruling), CheckScreenAngle(job, sep, s.angle[std::size_t(sep)], angleShown),
        new PDFName("SimpleDot"));
    if (settings.NormalizedOutput != 0) {
      if (!s.dotName.empty()) {
        halftone->Set("VornPNDSN", new PDFName(s.dotName));
        GetOrCreateSubDictionary(halftone, "Vorn_ExtHT", true)->Set("DotName", new PDFName(s.dotName));
      } else if (settings.IncludePrivateData == 0) {
        halftone->Set("VornPNDSN", new PDFName("None"));
      }
      const PressCurve& curve = s.pressCurves[std::size_t(sep)];
      if (boost::algorithm::istarts_with(curve.name, "Tonematch_")) {
        GetOrCreateSubDictionary(halftone, "Vorn_ExtHT", true)
            ->Set("Tonematch", new PDFName(afterTonematch(curve.name) + std::to_string(curve.number)));
      } else if (!curve.name.empty()) {
        GetOrCreateSubDictionary(halftone, "Vorn_ExtHT", true)->Set("DGC", new PDFName(curve.name));
      }
    }
    type5.enter(halftone, sep);
  }
}

// Case folding for the default names: ASCII and the Latin-1 letters.
std::u16string folded(const std::string& text) {
  std::u16string out = TavGen::ConvertUTF8ToUTF16String(text);
  for (char16_t& c : out) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = char16_t(c + 0x20);
  }
  return out;
}

// ---- Type 4 programs ---------------------------------------------------------------

constexpr std::string_view kCalculatorOperators[] = {
    "abs", "add", "atan", "ceiling", "cos", "cvi", "cvr", "div", "exp", "floor", "idiv", "ln",
    "log", "mod", "mul", "neg", "round", "sin", "sqrt", "sub", "truncate", "and", "bitshift",
    "eq", "false", "ge", "gt", "le", "lt", "ne", "not", "or", "true", "xor", "copy", "dup",
    "exch", "index", "pop", "roll"};

bool isNumber(std::string_view w) {
  std::size_t i = 0;
  if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) ++i, ++digits;
  if (i < w.size() && w[i] == '.') {
    ++i;
    while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
    ++i;
    if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
    const std::size_t start = i;
    while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i]))) ++i;
    if (i == start) return false;
  }
  return i == w.size();
}

class Type4Checker {
 public:
  explicit Type4Checker(std::string_view text) : mText(text) {}

  bool program() {
    if (next() != "{" || !procedure(0)) return false;
    return next().empty() && mPos >= mText.size();
  }

 private:
  static bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
  }
  // The next token: "{", "}", a word, or "" at the end.
  std::string_view next() {
    while (mPos < mText.size() && blank(mText[mPos])) ++mPos;
    if (mPos >= mText.size()) return {};
    if (mText[mPos] == '{' || mText[mPos] == '}') return mText.substr(mPos++, 1);
    const std::size_t start = mPos;
    while (mPos < mText.size() && !blank(mText[mPos]) && mText[mPos] != '{' && mText[mPos] != '}') ++mPos;
    return mText.substr(start, mPos - start);
  }
  // After "{": the body up to its "}".
  bool procedure(int depth) {
    if (depth > 100) return false;
    int blocks = 0;  // procedures waiting for their if or ifelse
    for (std::string_view token = next();; token = next()) {
      if (token.empty()) return false;
      if (token == "{") {
        if (blocks == 2 || !procedure(depth + 1)) return false;
        ++blocks;
        continue;
      }
      if (token == "if" || token == "ifelse") {
        if (blocks != (token == "if" ? 1 : 2)) return false;
        blocks = 0;
        continue;
      }
      if (blocks != 0) return false;
      if (token == "}") return true;
      if (!isNumber(token) && std::find(std::begin(kCalculatorOperators), std::end(kCalculatorOperators),
                                        token) == std::end(kCalculatorOperators)) {
        return false;
      }
    }
  }

  std::string_view mText;
  std::size_t mPos = 0;
};

}  // namespace

// ---- halftone dictionaries --------------------------------------------------------------

PDFDictionary* BuildSeparationHalftone(pdfouthan* handler, PDFProof* proof, jobstr* job, int screen,
                                       const PDFSettings& settings, bool* angleMessageShown) {
  const Screen* s = screenpoi(job, screen);
  if (handler == nullptr || s == nullptr) return nullptr;
  Type5 type5(handler, job, settings, false);
  switch (s->kind) {
    case Screen::kClassic:
      classicHalftones(type5, handler, job, screen, *s, settings, angleMessageShown);
      break;
    case Screen::kExtended:
      if (!extendedHalftones(type5, handler, job, screen, settings, angleMessageShown)) return nullptr;
      break;
    case Screen::kNamedDot:
      namedDotHalftones(type5, handler, job, screen, *s, settings, angleMessageShown);
      break;
    default: return nullptr;
  }
  PDFDictionary* dictionary = type5.finish(settings.NormalizedOutput != 0);
  if (proof != nullptr) proof->SetScreenHalftone(screen, dictionary);
  return dictionary;
}

PDFDictionary* BuildDefaultHalftone(pdfouthan* handler, jobstr* job, const PDFSettings& settings) {
  Type5 type5(handler, job, settings, true);
  const bool privateNone = settings.NormalizedOutput != 0 && settings.IncludePrivateData == 0;
  for (int sep : inksInUse(job)) {
    PDFDictionary* halftone =
        type1Halftone(new PDFReal(kDefaultRuling), defaultAngle(job, sep), new PDFName("SimpleDot"));
    if (privateNone) halftone->Set("VornPNDSN", new PDFName("None"));
    type5.enter(halftone, sep);
  }
  // A Type 5 halftone needs its Default even for a job without inks in use.
  return type5.finish(false);
}

void BuildNamedHalftoneArray(PDFDictionary* target,
                             const std::vector<std::pair<std::string, PDFIndirectReference*>>& list) {
  if (target == nullptr) return;
  std::size_t marked = list.size();
  for (const auto& match : {std::function<bool(const std::string&)>(isDefaultName),
                            std::function<bool(const std::string&)>(isDefaultNameIgnoreCase)}) {
    for (std::size_t i = 0; i < list.size() && marked == list.size(); ++i) {
      if (match(list[i].first)) marked = i;
    }
  }
  if (marked == list.size()) marked = 0;
  auto* array = new PDFArray();
  for (std::size_t i = 0; i < list.size(); ++i) {
    auto* entry = new PDFDictionary();
    entry->Set("Name", new PDFString(list[i].first));
    entry->Set("HT", list[i].second);
    if (i == marked) entry->Set("Default", new PDFBool(true));
    array->Add(entry);
  }
  target->Set("Vorn_HTs", array);
}

double CheckScreenAngle(jobstr* job, int separation, double angle, bool* shown) {
  if (angle != -360.0) return angle;
  if (shown != nullptr && !*shown) {
    *shown = true;
    TavGen::message(TavGen::kWarning, 1, "PDF/UNKNOWN ANGLE WAS REPLACED BY DEFAULT");
  }
  return defaultAngle(job, separation);
}

PDFName* MapDotShapeToSpotFunction(const std::string& dotShape) {
  for (const char* ellipse : {"Ellipse40", "Ellipse30", "Ellipse20", "Ellipse10", "Elliptical"}) {
    if (boost::algorithm::iequals(dotShape, ellipse)) return new PDFName("Ellipse");
  }
  if (boost::algorithm::iequals(dotShape, "Round")) return new PDFName("Round");
  if (boost::algorithm::iequals(dotShape, "Square")) return new PDFName("Square");
  return new PDFName("SimpleDot");
}

bool isDefaultName(const std::string& name) {
  return std::find(kDefaultNames.begin(), kDefaultNames.end(), name) != kDefaultNames.end();
}

bool isDefaultNameIgnoreCase(const std::string& name) {
  const std::u16string wanted = folded(name);
  return std::any_of(kDefaultNames.begin(), kDefaultNames.end(),
                     [&](const char* d) { return folded(d) == wanted; });
}

PDFDictionary* GetOrCreateSubDictionary(PDFDictionary* dictionary, const std::string& key, bool create) {
  if (dictionary == nullptr) return nullptr;
  if (auto* sub = dynamic_cast<PDFDictionary*>(dictionary->Get(key))) return sub;
  if (!create) return nullptr;
  auto* sub = new PDFDictionary();
  dictionary->Set(key, sub);
  return sub;
}

bool BuildExtendedHalftoneDictionary(PDFDictionary* target, const ScreeningDictionary& v) {
  const bool fm = boost::algorithm::istarts_with(v.AngleFamily, "fm");
  target->Set("Type", new PDFName("QEL_Halftone"));
  target->Set("HalftoneType", new PDFInteger(2003));
  target->Set("Resolution", new PDFReal(v.Resolution));
  target->Set("AngleFamily", new PDFString(v.AngleFamily));
  target->Set("DotShape", new PDFString(v.DotShape));
  if (!fm) target->Set("Ruling", new PDFInteger(v.Ruling));
  target->Set("Noise", new PDFInteger(v.Noise));
  target->Set("FMSize", new PDFInteger(v.FMSize));
  target->Set("Rosettes", new PDFName(v.Rosettes));
  target->Set("Angle", new PDFReal(v.Angle));
  if (!v.ExtraCurve.empty()) {
    target->Set("ExtraCurve", IsCustomCurveName(v.ExtraCurve)
                                  ? static_cast<PDFDictionaryValue*>(new PDFString(v.ExtraCurve))
                                  : new PDFName(v.ExtraCurve));
  }
  auto reals = [](PDFDictionary* d, std::initializer_list<std::pair<const char*, double>> values) {
    for (const auto& [key, value] : values) d->Set(key, new PDFReal(value));
  };
  if (!v.CellType.empty()) {
    auto* cell = new PDFDictionary();
    cell->Set("CellType", new PDFString(v.CellType));
    reals(cell, {{"CellSize", v.CellSize}});
    if (v.CellCentredStart != -1.0) {
      reals(cell, {{"CellCentredStart", v.CellCentredStart}, {"CellCentredMinCell", v.CellCentredMinCell},
                   {"CellCentredFullAt", v.CellCentredFullAt}, {"CellCentredMaxCell", v.CellCentredMaxCell},
                   {"CellCentredEnd", v.CellCentredEnd}});
    }
    target->Set("PlateCell", cell);
  }
  bool fullHybrid = false;
  if (!v.HybridType.empty() && v.HybridType != "Off") {
    auto* hybrid = new PDFDictionary();
    hybrid->Set("HybridType", new PDFName(v.HybridType));
    hybrid->Set("MeasuredOn", new PDFName(v.HybridMeasuredOn));
    if (v.QuantumPoint != -1.0) {
      reals(hybrid, {{"QuantumPoint", v.QuantumPoint}, {"FMMinDot", v.FMMinDot}});
      fullHybrid = true;
    } else if (v.FMMinDot != -1.0 && v.AMStart == -1.0) {
      reals(hybrid, {{"FMMinDot", v.FMMinDot}});
    } else if (v.FMMinDot != -1.0) {
      reals(hybrid, {{"FMMinDot", v.FMMinDot}, {"AMStart", v.AMStart}, {"FMEnd", v.FMEnd},
                     {"AMMinDot", v.AMMinDot}, {"FMStepDown", v.FMStepDown}});
      fullHybrid = true;
    }
    target->Set("Hybrid", hybrid);
  }
  auto* range = new PDFDictionary();
  range->Set("EndAdjust", new PDFName(v.EndAdjust));
  range->Set("MeasuredOn", new PDFName(v.RangeMeasuredOn));
  if (!fullHybrid && (v.EndAdjust == "Min" || v.EndAdjust == "MinAndMax")) {
    reals(range, {{"MinDotValue", v.MinDotValue}, {"MinDotAt", v.MinDotAt}});
    range->Set("ActionBelowMin", new PDFName(v.ActionBelowMin));
  }
  if (v.EndAdjust == "Max" || v.EndAdjust == "MinAndMax") {
    reals(range, {{"MaxDotValue", v.MaxDotValue}, {"MaxDotAt", v.MaxDotAt}});
    range->Set("ActionAboveMax", new PDFName(v.ActionAboveMax));
  }
  target->Set("OptiRange", range);
  if (boost::algorithm::istarts_with(v.DotShape, "Concentric")) {
    auto* concentric = new PDFDictionary();
    reals(concentric, {{"Ring", v.Ring}, {"Space", v.Space}});
    concentric->Set("Grade", new PDFInteger(v.Grade));
    target->Set("Concentric", concentric);
  }
  return true;
}

bool IsType4Program(std::string_view text) { return Type4Checker(text).program(); }

}  // namespace TavPDF
