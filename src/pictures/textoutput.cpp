// Text output of the PDF page writer: a text object of the job becomes a PDF
// text object that places the calculator's characters where its layout puts
// them, with the fonts as resources of the content stream, and its rules
// (underlines) as painted paths after it. A colour that needs several colour
// operators is shown once per colour-space part, inside a transparency group
// of the text's own. Texts that cannot be shown as text (a paint other than
// a flat colour, a font that is not installed, VectorizeText, or a colour of
// several parts in PDF 1.3) are written as their outlines.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "colour/colorspaces.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/genoutfil.h"
#include "platform/fonts/fontcache.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint16_t kOpaque = 25600;

bool paintIsTransparent(const jobstr* job, std::uint16_t paint) {
  const Paint* record = paipoi(job, paint);
  if (record == nullptr) return false;
  const PaintTransparency& t = record->transparency;
  return t.flags != 0 || t.opacity != kOpaque || t.blendMode != 0 ||
         t.secondOpacity != kSecondOpacityNone;
}

double sizeInPoints(const texcaltyp* calc, int ppi) { return texcalSize(calc) * 72.0 / ppi; }

}  // namespace

int PDFProof::TextPaintParts(std::uint16_t paint) {
  if (auto it = mTextPaintParts.find(paint); it != mTextPaintParts.end()) return it->second;
  std::array<std::uint16_t, kMaxSeparations> tints = paisep16(mJob, paint);
  std::unique_ptr<ColorSpace> space(GetSeparationColorSpace(
      tints.data(), 0, kTintFull, false, false, TavricLib::PaintIsRegistration(mJob, paint), false,
      true));
  const int parts = space ? std::max(1, space->pdfGetNumParts()) : 1;
  mTextPaintParts.emplace(paint, parts);
  return parts;
}

void PDFProof::SelectTextFont(const texcaltyp* calc) {
  TextParameters p;
  texcalpars(calc, p);
  const int number = RegisterFont(p.fontId);
  const double size = sizeInPoints(calc, TavDB::getppi(mJob));
  PdfGraphicsState& cache = PdfGraphicsState::Instance();
  if (number == cache.GetFontNumber() && size == cache.GetFontSize()) return;
  // "/Fnt_writer_number size Tf ", two integers and a number.
  char* const start = HoldTextRoom(5 + 3 * (TavNumber::kNumberTextMax + 1) + 3);
  char* end = std::copy_n("/Fnt_", 5, start);
  end = TavNumber::formatInteger(end, mWriterNumber);
  *end++ = '_';
  end = TavNumber::formatInteger(end, number);
  *end++ = ' ';
  end = TavNumber::formatReal(end, size);
  HoldTextEnd(std::copy_n(" Tf ", 4, end));
  cache.SetFont(number, size);
}

void PDFProof::HoldTextOperator(double value, const char* name) {
  char* p = TavNumber::formatReal(HoldTextRoom(TavNumber::kNumberTextMax + 4), value);
  *p++ = ' ';
  HoldTextEnd(std::copy_n(name, 3, p));
}

void PDFProof::WriteTextScale(const texcaltyp* calc) {
  TextParameters p;
  texcalpars(calc, p);
  HoldTextOperator(p.horizontalScale / 65536.0, "Tz ");
}

void PDFProof::WriteCharSpacing(const texcaltyp* calc) {
  TextParameters p;
  texcalpars(calc, p);
  HoldTextOperator(p.charSpacing * sizeInPoints(calc, TavDB::getppi(mJob)) / 6553600.0, "Tc ");
}


std::array<double, 6> PDFProof::MakeTextMatrix(const texcaltyp* calc) const {
  const int ppi = TavDB::getppi(mJob);
  double m[4];
  texcalbasematppi(calc, ppi, m);
  std::array<double, 6> matrix{m[0] / ppi, -m[1] / ppi, -m[2] / ppi, m[3] / ppi, 0, 0};
  double v = 0, h = 0;
  GetTextLetterPosition(calc, v, h);
  PlaceTextMatrix(v, h, ppi, matrix);
  return matrix;
}

void PDFProof::PlaceTextMatrix(double v, double h, int ppi, std::array<double, 6>& matrix) const {
  // Page coordinates of the letter, as TransformPoint gives them for whole units.
  matrix[4] = (h - originH()) * scale() * 72.0 / ppi;
  matrix[5] = (originV() - v) * scale() * 72.0 / ppi;
}

namespace {

// The bytes a PDF string shows as they are: printable ASCII other than the
// parentheses and the backslash.
constexpr std::array<bool, 256> kPlainStringBytes = [] {
  std::array<bool, 256> plain{};
  for (int b = 0x20; b < 0x7F; ++b) plain[std::size_t(b)] = b != '(' && b != ')' && b != '\\';
  return plain;
}();

// Copies a number's text (or the matrix head) kept in a buffer of at least
// kShortCopy bytes to where at least as many bytes are free: a short text as
// one fixed-size move, which needs no call.
constexpr std::size_t kShortCopy = 32;
char* copyKeptText(char* to, const char* from, std::size_t length) {
  if (length <= kShortCopy) {
    std::memcpy(to, from, kShortCopy);
    return to + length;
  }
  return std::copy_n(from, length, to);
}

}  // namespace

void PDFProof::ShowTextString(std::string_view text, const std::array<double, 6>& matrix) {
  if (text.empty() || text == " ") return;
  int passes = 1;
  if (mTextPassSplitter) {
    passes = mTextPassSplitter->Passes(std::string(text), matrix);
    if (passes > 1 && mSettings.Flavour == kFlavourViewing) {
      TavGen::ShowInfoMessage(TavGen::kInfo, 1,
                              TavCore::GetLocalizedUni16String("PDF/OVERPRINTS ADDED"));
    }
  }
  // The lines go to the stream together: the strings are short and many,
  // and each write into the stream is a call through its filters.
  if (mTextMatrixHeadLength == 0 ||
      std::memcmp(mTextMatrixHead.data(), matrix.data(), sizeof mTextMatrixHead) != 0) {
    char* end = mTextMatrixHeadText.data();
    for (std::size_t k = 0; k < 4; ++k) {
      end = TavNumber::formatReal(end, matrix[k]);
      *end++ = ' ';
    }
    mTextMatrixHeadLength = std::size_t(end - mTextMatrixHeadText.data());
    std::copy_n(matrix.begin(), mTextMatrixHead.size(), mTextMatrixHead.begin());
  }
  // The head, two numbers and their blanks, "Tm (", each byte escaped in at
  // most four, ") Tj\n" and the terminator the escaping writes; the kept
  // texts are copied kShortCopy bytes at a time.
  const std::size_t room = mTextMatrixHeadLength + 2 * (TavNumber::kNumberTextMax + 1) + 4 +
                           4 * text.size() + 6 + kShortCopy;
  char* const start = HoldTextRoom(room);
  char* p = copyKeptText(start, mTextMatrixHeadText.data(), mTextMatrixHeadLength);
  p = TavNumber::formatReal(p, matrix[4]);
  *p++ = ' ';
  // The strings of a line stand on one baseline: its height is formatted once.
  if (mTextMatrixYLength == 0 || std::memcmp(&mTextMatrixY, &matrix[5], sizeof mTextMatrixY) != 0) {
    mTextMatrixYLength = std::size_t(TavNumber::formatReal(mTextMatrixYText.data(), matrix[5]) - mTextMatrixYText.data());
    mTextMatrixY = matrix[5];
  }
  p = copyKeptText(p, mTextMatrixYText.data(), mTextMatrixYLength);
  *p++ = ' ';
  p = std::copy_n("Tm (", 4, p);
  for (const char c : text) {
    if (kPlainStringBytes[static_cast<unsigned char>(c)]) {
      *p++ = c;
    } else {
      p += TavSys::stroutcha(c, p);
    }
  }
  p = std::copy_n(") Tj\n", 5, p);
  if (!mTextPassSplitter) {
    HoldTextEnd(p);
    return;
  }
  const std::size_t length = std::size_t(p - start);
  FlushTextLines();
  const std::string_view line(start, length);
  pdfoutfilter& out = Out();
  for (int pass = 0; pass < passes; ++pass) {
    if (!mTextPassSplitter->WritesPass(pass)) continue;
    out << line;
  }
}

void PDFProof::FlushTextLines() {
  if (mTextPending == 0) return;
  const std::string_view lines(mTextLine.data(), mTextPending);
  mTextPending = 0;
  Out() << lines;
}

void PDFProof::DrawStationNumberForm(const std::string& name) {
  pdfoutfilter& out = Out();
  out << "q\n"
      << "/VornPNGr << /VornPNKeltONAM (StationNumber) >> BDC\n"
      << "/" << name << " Do\n"
      << "EMC\n"
      << "Q\n";
}

void PDFProof::AddClosedPolygon(std::vector<std::unique_ptr<TavDB::Object>>& paths, int count,
                                const TavDB::tv_point* points) {
  if (count < 2 || points == nullptr) return;
  auto path = TavDB::Object::create(TavDB::ObjectKind::Path);
  for (int i = 0; i < count; ++i) {
    path->points().push_back({points[i].v, points[i].h, TavDB::PathPoint::kLine});
  }
  path->recalcBounds();
  paths.push_back(std::move(path));
}

void PDFProof::OutputText(TavDB::Object* text) {
  if (text == nullptr || text->text() == nullptr || mCancelled) return;

  // Station numbers are forms of the workflow, written only in normalized output.
  if (isStationNumberObject(text)) {
    if (mSettings.NormalizedOutput == 0) return;
    auto record = std::make_unique<PendingStreamStationNumberForm>(mJob, text);
    const std::string name = MakeStationNumberFormName();
    record->SetName(name);
    // Refused before anything names a form that no writer would make.
    RequirePendingWriter(kPendingStationNumberForm);
    DrawStationNumberForm(name);
    AddPendingStream(std::move(record));
    return;
  }

  // Texts that cannot be shown with a font are written as outlines.
  bool outlines = mSettings.VectorizeText != 0 || !textCheckPaintAndFont(mJob, text);
  // A colour that one colour operator cannot set (several colour-space
  // parts) is shown once per part: inside a transparency group of the text's
  // own, where the parts combine as the text's one colour and its
  // transparency applies to them together. Without transparency groups
  // (PDF 1.3) the text becomes outlines.
  int parts = 1;
  for (const TavDB::TextRun& run : text->text()->runs) {
    if (outlines) break;
    parts = std::max(parts, TextPaintParts(run.paint));
  }
  const bool ownGroup = text == mTextGroupObject;
  if (parts > 1 && !ownGroup && GetVersionCode() < kPdf14) outlines = true;
  if (outlines) {
    std::unique_ptr<TavDB::Object> shapes = texhivecget(mJob, text, 1);
    if (shapes) OutputGroup(shapes.get(), false, -1, false);
    return;
  }

  TextCalc calc = texcalini(mJob, text);
  if (!calc) return;
  TextParameters p;
  texcalpars(calc.get(), p);
  const bool knockout = mSettings.ForceOpaqueSeparationsToKnockout != 0;
  auto convert = [&](int paint) {
    return ConvertPaintForOpaqueInks(mJob, std::uint16_t(paint), knockout);
  };
  const std::uint16_t first = convert(p.paint);
  if (parts > 1 && !ownGroup) {
    texcalexi(calc);
    OutputTransparencyGroup(text, 0, first);
    return;
  }

  // Transparency is set by a graphics state of its own.
  bool transparencySave = false;
  if (GetVersionCode() >= kPdf14 && paintIsTransparent(mJob, first)) {
    OutputTransparencyGState(text, first, true);
    transparencySave = true;
  }

  const bool screeningSave = mSettings.IncludeScreening != 0 && mSettings.UseDefaultScreen == 0;
  if (screeningSave) SaveGraphicsState();
  const bool named = BeginObjectName(text);

  std::vector<std::unique_ptr<TavDB::Object>> rules;
  for (int pass = 0; pass < parts; ++pass) {
    if (pass > 0) calc = texcalini(mJob, text);
    if (!calc) break;
    // Each part's colour stays inside its own text object.
    if (parts > 1) SaveGraphicsState();
    WriteTextObject(text, calc.get(), pass, first, pass == 0 ? &rules : nullptr);
    if (parts > 1) RestoreGraphicsState();
    texcalexi(calc);
  }
  EndObjectName(named);
  for (std::unique_ptr<TavDB::Object>& rule : rules) {
    std::unique_ptr<TavDB::Object> holder = TavDB::spanew();
    holder->addontop(std::move(rule));
    OutputGroup(holder.get(), false, -1, false);
  }
  // Through RestoreGraphicsState, so that the cache forgets what was set inside.
  if (screeningSave) RestoreGraphicsState();
  if (transparencySave) RestoreGraphicsState();
}

void PDFProof::WriteTextObject(TavDB::Object* text, texcaltyp* calc, int pass, std::uint16_t first,
                               std::vector<std::unique_ptr<TavDB::Object>>* rules) {
  TextParameters p;
  texcalpars(calc, p);
  const bool knockout = mSettings.ForceOpaqueSeparationsToKnockout != 0;
  auto convert = [&](int paint) {
    return ConvertPaintForOpaqueInks(mJob, std::uint16_t(paint), knockout);
  };
  std::uint16_t paint = first;

  Out();  // refused here when the content stream is finished
  mTextPending = 0;  // nothing is held from a text whose writing failed
  // Up to the colour, and from it to the next one, the text's operators are
  // held back and written together.
  HoldTextEnd(std::copy_n("BT\n0 Tr ", 8, HoldTextRoom(8)));
  std::array<double, 6> matrix = MakeTextMatrix(calc);
  // A paint without this pass's part shows nothing in it.
  bool invisible = false;
  auto writeColour = [&] {
    FlushTextLines();
    SelectScreening(paint);
    const bool hasPart = WritePaintColor(paint, pass) >= 0;
    WritePendingFillColor();
    invisible = IsInvisiblePaint(text, paint) || !hasPart;
  };
  writeColour();
  SelectTextFont(calc);
  WriteTextScale(calc);
  WriteCharSpacing(calc);

  std::vector<TextRulePolygon> polygons;
  auto addRules = [&](int code) {
    if (rules == nullptr) return;
    polygons.clear();
    texcalrul(calc, TavricCore::jobGetFontCache(mJob), code, polygons);
    TextParameters now;
    texcalpars(calc, now);
    for (const TextRulePolygon& polygon : polygons) {
      TavDB::tv_point corners[4];
      for (int k = 0; k < 4; ++k) {
        corners[k] = {std::int32_t(std::lround(polygon[std::size_t(k)][0])),
                      std::int32_t(std::lround(polygon[std::size_t(k)][1]))};
      }
      AddClosedPolygon(*rules, 4, corners);
      // The walker converts the paint for opaque inks when it paints the rule.
      rules->back()->setPaint(std::uint16_t(now.paint));
    }
  };

  // In per-character mode every character is shown with its own matrix.
  const bool perCharacter = text->text()->perCharacter;
  // Unless the text follows a path, its letters differ only in where they
  // stand. A string ends at the next signal and, in per-character mode,
  // justified texts and after a blank of a run with its own word spacing, at
  // each such character: the characters between are taken at once.
  const bool turnsEach = texcalAlongPath(calc);
  const bool eachOnItsOwn = perCharacter || p.alignment == 3 || p.alignment == 4;
  const bool whole = !eachOnItsOwn && !turnsEach;
  const int ppi = TavDB::getppi(mJob);
  // The characters not shown yet: gathered one by one in `run`, or (whole
  // stretches, each shown on its own) the last stretch itself, whose codes
  // stay with the calculator.
  std::string run;
  std::string_view held;
  const auto showHeld = [&] {
    ShowTextString(whole ? held : std::string_view(run), matrix);
    held = {};
    run.clear();
  };
  TextStretch stretch;
  for (int code = texcalnexstretch(calc, whole, stretch);; code = texcalnexstretch(calc, whole, stretch)) {
    if (code >= 32) {
      if (whole) {
        // A stretch ends at a signal or at a blank with its own spacing, so
        // it is shown on its own; should one follow another, they are joined.
        if (stretch.afterBreak) showHeld();
        if (held.empty()) PlaceTextMatrix(stretch.v, stretch.h, ppi, matrix);
        if (invisible) continue;
        if (held.empty()) {
          held = stretch.codes;
        } else {
          if (held.data() != run.data()) run.assign(held);
          run.append(stretch.codes);
          held = run;
        }
        if (held.back() == ' ') {
          texcalpars(calc, p);
          if (p.wordSpacing != kNormalWordSpacing) showHeld();
        }
        continue;
      }
      if (run.empty()) {
        if (turnsEach) {
          matrix = MakeTextMatrix(calc);
        } else {
          PlaceTextMatrix(stretch.v, stretch.h, ppi, matrix);
        }
      }
      if (invisible) continue;
      run.append(stretch.codes);
      texcalpars(calc, p);
      if (eachOnItsOwn || (code == 32 && p.wordSpacing != kNormalWordSpacing)) showHeld();
      continue;
    }
    if (invisible) {
      run.clear();
      held = {};
    } else {
      showHeld();
    }
    if (code == kTextEnd) {
      addRules(code);
      break;
    }
    switch (code) {
      case -44:
      case kTextFont:
        SelectTextFont(calc);
        break;
      case -29:
      case kTextFontAndSpacing:
        SelectTextFont(calc);
        WriteCharSpacing(calc);
        break;
      case kTextSpacing:
        WriteCharSpacing(calc);
        break;
      case kTextScale:
        WriteTextScale(calc);
        break;
      case -34:
      case -33:
      case -32:
      case -31:
      case 20:
      case kTextRule:
        addRules(code);
        break;
      case kTextPaint:
        texcalpars(calc, p);
        paint = convert(p.paint);
        writeColour();
        break;
      default:
        break;
    }
  }
  HoldTextEnd(std::copy_n("ET\n", 3, HoldTextRoom(3)));
  FlushTextLines();
}

}  // namespace TavPDF
