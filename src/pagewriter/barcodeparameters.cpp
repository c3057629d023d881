// The barcode parameter dictionary of a barcode form and the check whether a
// barcode may become one.
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>

#include "pagewriter/barcodes.h"
#include "pdfwriter/pdfobjects.h"
#include "platform/kernel/barcode.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/fonts/fontface.h"
#include "platform/messages.h"

namespace TavPDF {

namespace {

// The workflow's constants are single-precision values, written widened.
double F(double value) { return double(float(value)); }

void Show(const char* key) {
  TavGen::ShowInfoMessage(TavGen::kWarning, 1, TavCore::GetLocalizedUni16String(key));
}

bool IsSupportedType(int type) {
  switch (type) {
    case 0: case 1: case 2: case 4: case 5: case 6: case 7: case 9: case 10: case 11: case 12:
    case 18: case 27: case 28: case 29: case 31: case 37: case 38: case 39: case 43: case 44:
    case 45:
      return true;
    default:
      return false;
  }
}

bool TypeIn(int type, std::initializer_list<int> types) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

const TavDB::Object* FirstText(const TavDB::Object* group) {
  TavDB::ListScan scan(group, TavDB::kObjText, 0, 0, 0, 0);
  return scan.next();
}

// Builds the dictionary; keeps what later keys are computed from.
class ParameterWriter {
 public:
  ParameterWriter(jobstr* job, const TavDB::Object* group, const barCreator& creator,
                  PDFDictionary* dictionary)
      : mJob(job), mGroup(group), mCreator(creator), mDict(dictionary), mType(creator.GetType()),
        mPpi(TavDB::getppi(job)) {}

  void Write(double angle);

 private:
  // Device values (job units) in millimetres.
  double MM(std::int32_t value) const { return value * 25.4 / mPpi; }
  void Real(const char* key, double value) { mDict->Set(key, new PDFReal(value)); }
  void Int(const char* key, std::int64_t value) { mDict->Set(key, new PDFInteger(value)); }
  void Text(const char* key, const std::string& value) { mDict->Set(key, new PDFString(value)); }
  bool Has(const char* key) const { return mDict->Get(key) != nullptr; }
  double Get(const char* key) const;

  void FirstWalk();
  void SecondWalk();
  void BarHeight(std::int32_t value);
  void QuietZone(bool set);
  void FontKeys();
  void SymbologyKeys();

  jobstr* mJob;
  const TavDB::Object* mGroup;
  const barCreator& mCreator;
  PDFDictionary* mDict;
  int mType;
  int mPpi;
  double mM = 1.0;             // magnification
  bool mDefaulted = false;     // the magnification was not given
  double mReduction = 0;       // bar width reduction, mm
  double mLeftOffset = 0, mRightOffset = 0;
  bool mLightMargin = false;
  bool mHiddenText = false;
  bool mDefaultFont = false;
  BarcodeWhiteBoxAndFont mWhiteBox;
};

double ParameterWriter::Get(const char* key) const {
  auto* value = mDict->Get(key);
  if (auto* real = dynamic_cast<PDFReal*>(value)) return real->GetValue();
  if (auto* integer = dynamic_cast<PDFInteger*>(value)) return double(integer->GetValue());
  return 0;
}

void ParameterWriter::FirstWalk() {
  for (const BarcodeParameter& p : mCreator.GetParameters()) {
    const std::int32_t v = p.value;
    switch (p.id) {
      case kBarCode: {
        bool nonStandard = false;
        const std::string code =
            gGetBarcodeCodeFunction != nullptr ? gGetBarcodeCodeFunction(mCreator, nonStandard) : p.text;
        Text("Code", code);
        if (nonStandard && IsGS1DataBarExpanded(mType)) Show("PDF/BARCODE/NON STANDARD AI01 ENCODATION");
        if (mType == 45 && gGetGS1DataBarExpandedStackedRowWidthFunction != nullptr)
          Int("RowWidth", gGetGS1DataBarExpandedStackedRowWidthFunction(code));
        break;
      }
      case kBarMagnification:
        // Nothing or a zero size would give infinite widths: both mean the default.
        mM = v / 1000.0;
        mDefaulted = v <= 0;
        if (mDefaulted) mM = 1.0;
        Real("Magnification", mM);
        break;
      case kBarWidthReduction:
        mReduction = MM(v);
        Real("BarWidthReduction", mReduction);
        break;
      case 6: Int("SMin", v); break;
      case 7: Int("SMax", v); break;
      case kBarCornerMarks:
        // GS1 DataBar-14 keeps its form here.
        if (v != 0 && mType != 29) Show("PDF/BARCODE/CORNER MARKS NOT SUPPORTED");
        break;
      case kBarLightMarginIndicator:
        mLightMargin = v != 0;
        if (mLightMargin && mType == 2) Show("PDF/BARCODE/CODE39 LMI NOT SUPPORTED");
        Int("LightMarginIndicator", mLightMargin ? 1 : 0);
        break;
      case kBarLeftMargin:
        if (mType == 6 || mType == 43) mLeftOffset = MM(v) - 3.63;
        if (mType == 7) mLeftOffset = MM(v) - 2.31;
        break;
      case kBarRightMargin:
        if (mType == 6 || mType == 7) mRightOffset = MM(v) - 2.31;
        if (mType == 43) mRightOffset = MM(v) - 1.65;
        break;
      case kBarTextHidden:
        mHiddenText = v != 0;
        Int("GenerateText", mHiddenText ? 0 : 1);
        break;
      case kBarBorders:
        if (v != 0) Show("PDF/BARCODE/BORDERS NOT SUPPORTED");
        break;
      case kBarLeftAngularBracket:
        if (v != 0) Show("PDF/BARCODE/LEFT ANGULAR BRACKET NOT SUPPORTED");
        break;
      case kBarModuleSize:
        if (TypeIn(mType, {28, 29, 37, 38, 39, 44, 45})) Real("Narrow", MM(v));
        if (mType == 31) Real("QRCellSize", MM(v));
        break;
      case kBarErrorCorrection:
        if (v >= 0 && v <= 3) Int("ErrorCorrection", v);
        break;
      case kBarMinSymbolSize: Int("MinSymbolSize", v - 1); break;
      case kBarAddCheckDigit: Int("AddCheckDigit", v != 0 ? 1 : 0); break;
      case kBarDataMatrixType: Text("SymbolType", GetDatamatrixSymbolTypeString(v)); break;
      case kBarWhiteBox:
        if (v != 0) {
          Int("WhiteBox", 1);
          for (const char* key : {"WhiteBoxTop", "WhiteBoxLeft", "WhiteBoxBottom", "WhiteBoxRight"})
            Real(key, 0.0);
          Real("WhiteBoxStrokeWidth", F(4.8));
        }
        break;
      default: break;
    }
  }
  if (mRightOffset > 0.002 && mLightMargin) Show("PDF/BARCODE/LIGHT MARGIN INDICATOR POSITION");
}

void ParameterWriter::BarHeight(std::int32_t value) {
  const double m = mM;
  if (value != 0) {
    double y = MM(value);
    if (!mHiddenText) {
      if (TypeIn(mType, {4, 5})) y -= m * F(0.362);
      else if (TypeIn(mType, {6, 7, 43})) y -= m * F(0.33);
      else if (TypeIn(mType, {0, 1, 2, 9, 10, 11}))
        y = mWhiteBox.found ? MM(std::int32_t(mWhiteBox.box.height())) : y;
    }
    Real("YSize", y);
    return;
  }
  if (TypeIn(mType, {0, 1, 9, 10, 11})) Real("YSize", m * F(31.8));
  else if (mType == 2) Real("YSize", mDefaulted ? F(7.6) : m * F(11.0));
  else if (TypeIn(mType, {4, 5})) Real("YSize", m * F(25.898));
  else if (TypeIn(mType, {6, 43})) Real("YSize", m * (mHiddenText ? F(24.5) : F(25.93)));
  else if (mType == 7) Real("YSize", m * (mHiddenText ? F(19.88) : F(21.31)));
}

void ParameterWriter::QuietZone(bool set) {
  if (!set) {
    Int("WhiteBox", 0);
    return;
  }
  Int("WhiteBox", 1);
  const double m = mM;
  auto edges = [&](std::optional<double> top, std::optional<double> left,
                   std::optional<double> bottom, std::optional<double> right) {
    if (top) Real("WhiteBoxTop", *top);
    if (left) Real("WhiteBoxLeft", *left);
    if (bottom) Real("WhiteBoxBottom", *bottom);
    if (right) Real("WhiteBoxRight", *right);
  };
  switch (mType) {
    case 2:
      if (mDefaulted) edges(F(0.5), F(2.09), F(2.3), F(1.89));
      else edges(m, m * F(2.991), m * F(4.0), m * F(2.6905));
      break;
    case 4: edges(m * F(0.33), m * F(0.984), m * F(0.032), m * F(0.325)); break;
    case 5: edges(m * F(0.33), m * F(0.98), m * F(0.032), m * F(0.321)); break;
    case 6: case 7: case 43:
      edges(m * F(0.33), m * mLeftOffset, mHiddenText ? m * F(1.43) : 0.0, m * mRightOffset);
      break;
    case 9: case 10: edges(m * F(0.33), m * F(0.33), m * F(8.2), m * F(0.3267)); break;
    case 11: edges(0.0, m * F(0.729), F(6.7), m * F(0.729) + mReduction); break;
    case 12: case 27: edges(0.0, m * F(8) - 6, 0.0, std::nullopt); break;
    case 18: edges(0.0, m * F(5) - 6, 0.0, std::nullopt); break;
    case 44: case 45: Show("PDF/BARCODE/GS1 DATABAR CLEAR AREA BOX"); break;
    default: break;
  }
}

void ParameterWriter::FontKeys() {
  const TavDB::Object* text = FirstText(mGroup);
  const Fonts::FontFace* font =
      text != nullptr && !mWhiteBox.font.empty() ? Fonts::FindFontFace(mWhiteBox.font) : nullptr;
  const BarcodeParameter* byte = mCreator.Find(kBarFont);
  if (byte == nullptr || byte->value == 0 || font == nullptr) {
    mDefaultFont = true;
    Int("DefaultFont", 1);
    Text("Font", "OCR-B");
    return;
  }
  Int("DefaultFont", 0);
  Text("Font", "Helvetica");
  Text("FontFamily", font->family());
  Text("FontStyle", font->style());
  const double size = GetBarcodeTextHeightMM(mGroup);
  Real("FontSize", size);
  Real("PrimaryVerOffset", Get("YSize") - mM - GetBarcodeFontAscent(*font, mGroup));
}

void ParameterWriter::SecondWalk() {
  for (const BarcodeParameter& p : mCreator.GetParameters()) {
    const std::int32_t v = p.value;
    switch (p.id) {
      case kBarHeight: BarHeight(v); break;
      case 18: Real("YSize", MM(v)); break;
      case 19: case 26: Real("Gap", MM(v) * mM); break;
      case 42:
        if (v >= 0) {
          Int("WhiteBox", 1);
          for (const char* key : {"WhiteBoxTop", "WhiteBoxLeft", "WhiteBoxBottom", "WhiteBoxRight"})
            Real(key, MM(v) - mReduction / 2);
        }
        break;
      case kBarQuietZone: QuietZone(v != 0); break;
      case kBarFont: FontKeys(); break;
      default: break;
    }
  }
}

void ParameterWriter::SymbologyKeys() {
  const double m = mM;
  switch (mType) {
    case 0: case 1:
      if (!Has("WhiteBox")) {
        Int("WhiteBox", 1);
        for (const char* key : {"WhiteBoxTop", "WhiteBoxLeft", "WhiteBoxBottom", "WhiteBoxRight",
                                "WhiteBoxStrokeWidth"})
          Real(key, 0.0);
      }
      Text("TextFormat", "");
      break;
    case 2:
      if (mDefaulted) {
        Real("Narrow", F(0.191));
        Real("Ratio", F(2.24));
        Real("CharPerUnit", F(0.3816));
      } else {
        Real("Narrow", m * F(0.3005));
        Real("Ratio", F(2.50305));
        Real("CharPerUnit", F(0.2293578) / m);
      }
      break;
    case 9: case 10:
      if (mType == 10) {
        Real("Ratio", F(3.0));
        Real("CharPerUnit", F(0.0909091) / m);
      }
      Text("CompositeComponent", "");
      Int("PrimaryTextOnTop", 0);
      Int("TextMultipleLines", 0);
      Real("Narrow", m);
      Int("GenerateText", 1);
      FontKeys();
      break;
    case 11:
      Real("Narrow", m * F(1.016));
      Real("Ratio", F(2.5));
      Real("CharPerUnit", F(0.123) / m);
      break;
    case 12: case 18:
      if (mType == 12) Int("Miniature", 0);
      Int("GenerateText", 0);
      Real("Narrow", m * F(0.5));
      Real("Wide", m * F(1.5));
      Real("Ratio", F(3.0));
      Real("BarWidthReduction", 0.0);
      break;
    case 27:
      Int("GenerateText", 0);
      Int("Miniature", 1);
      Real("Narrow", m * F(0.35));
      Real("Wide", m);
      Real("Ratio", F(2.857143));
      Real("BarWidthReduction", 0.0);
      break;
    case 29: case 44: case 45: case 37: case 39:
      if (!TypeIn(mType, {37, 39})) Text("CompositeComponent", "");
      Int("GenerateText", 0);
      Int("PrimaryTextOnTop", 0);
      Int("TextMultipleLines", 0);
      break;
    default: break;
  }
}

void ParameterWriter::Write(double angle) {
  mWhiteBox = GetBarcodeWhiteBoxAndFont(mGroup);
  Text("Type", BarcodeSymbologyName(mType, &mCreator));
  Real("Angle", angle);
  FirstWalk();
  SecondWalk();
  Int("Resolution", 0);
  Int("DeviceCompensation", 0);
  SymbologyKeys();
  Int("Version", mDefaultFont ? 8 : TypeIn(mType, {9, 29, 37, 39, 44, 45}) ? 2 : 5);
  if (IsGS1DataBarExpanded(mType)) {
    const std::array<int, 3>& made = mJob->creatorVersion;
    if (made < std::array<int, 3>{16, 0, 0}) Show("PDF/BARCODE/GS1 DATABAR HEIGHT");
  }
}

}  // namespace

bool CheckBarcodeUnmodified(const TavDB::Object* object) {
  const barCreator* creator = GetBarcodeCreator(object);
  const bool edited = HasBarcodeEditCreator(object);
  if (creator == nullptr) return false;
  if (!IsSupportedType(creator->GetType())) return false;
  if (edited) {
    Show("PDF/BARCODE/MODIFIED BARCODE DETECTED");
    return false;
  }
  if (creator->GetType() == 29) {
    const BarcodeParameter* form = creator->Find(kBarCornerMarks);
    const std::int32_t value = form != nullptr ? form->value : kDataBarOmni;
    return value == kDataBarOmni || value == kDataBarStackedOmni;
  }
  return true;
}

void writeBarcodeParameters(jobstr* job, const TavDB::Object* group, const barCreator& creator,
                            double angle, PDFDictionary* dictionary) {
  if (job == nullptr || dictionary == nullptr) return;
  TavDB::ScopedCurrentJob current(job);
  ParameterWriter(job, group, creator, dictionary).Write(angle);
}

BarcodeWhiteBoxAndFont GetBarcodeWhiteBoxAndFont(const TavDB::Object* group) {
  BarcodeWhiteBoxAndFont out;
  if (group == nullptr) return out;
  for (const auto& member : group->members()) {
    if (member->kind() != TavDB::ObjectKind::Group) continue;
    TavDB::ListScan paths(member.get(), TavDB::kObjPath, 0, 0, 0, 0);
    for (const TavDB::Object* path = paths.next(); path != nullptr; path = paths.next()) {
      const std::size_t n = path->points().size();
      if (n == 4 || n == 5) {
        out.found = true;
        out.box = path->bounds();
        break;
      }
    }
    break;  // only the first sub-group holds the white box
  }
  if (const TavDB::Object* text = FirstText(group))
    if (!text->text()->runs.empty()) out.font = text->text()->runs.front().font;
  return out;
}

double GetBarcodeFontAscent(const Fonts::FontFace& font, const TavDB::Object* group) {
  return font.ascent() / 1000.0 * GetBarcodeTextHeightMM(group);  // ascents are in 1/1000 em
}

double GetBarcodeTextHeightMM(const TavDB::Object* group) {
  double largest = 0;
  TavDB::ListScan texts(group, TavDB::kObjText, 0, 0, 0, 0);
  for (const TavDB::Object* text = texts.next(); text != nullptr; text = texts.next()) {
    const TavDB::TextData& t = *text->text();
    const double row = std::hypot(t.matrix[0], t.matrix[1]);
    for (const TavDB::TextRun& run : t.runs) largest = std::max(largest, run.size * row);
  }
  return largest * 25.4 / 72.0;  // text sizes are points
}

}  // namespace TavPDF
