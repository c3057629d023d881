// Text output of the PDF page writer: a text object of the job becomes a PDF
// text object that places the calculator's characters where its layout puts
// them, with the fonts as resources of the content stream, and its rules
// (underlines) as painted paths after it. A colour that needs several colour
// operators is shown once per colour-space part, inside a transparency group
// of the text's own. Texts that cannot be shown as text (a paint other than
// a flat colour, a font that is not installed, VectorizeText, or a colour of
// several parts in PDF 1.3) are written as their outlines.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

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
  Out() << "/Fnt_" << std::to_string(mWriterNumber) << "_" << std::to_string(number) << " "
        << size << "Tf ";
  cache.SetFont(number, size);
}

void PDFProof::WriteTextScale(const texcaltyp* calc) {
  TextParameters p;
  texcalpars(calc, p);
  Out() << p.horizontalScale / 65536.0 << "Tz ";
}

void PDFProof::WriteCharSpacing(const texcaltyp* calc) {
  TextParameters p;
  texcalpars(calc, p);
  Out() << p.charSpacing * sizeInPoints(calc, TavDB::getppi(mJob)) / 6553600.0 << "Tc ";
}

std::array<double, 6> PDFProof::MakeTextMatrix(const texcaltyp* calc) const {
  const int ppi = TavDB::getppi(mJob);
  double m[4];
  texcalbasematppi(calc, ppi, m);
  double v = 0, h = 0;
  GetTextLetterPosition(calc, v, h);
  // Page coordinates of the letter, as TransformPoint gives them for whole units.
  const double x = (h - originH()) * scale() * 72.0 / ppi;
  const double y = (originV() - v) * scale() * 72.0 / ppi;
  return {m[0] / ppi, -m[1] / ppi, -m[2] / ppi, m[3] / ppi, x, y};
}

void PDFProof::ShowTextString(std::string& text, const std::array<double, 6>& matrix) {
  if (text.empty() || text == " ") {
    text.clear();
    return;
  }
  int passes = 1;
  if (mTextPassSplitter) {
    passes = mTextPassSplitter->Passes(text, matrix);
    if (passes > 1 && mSettings.Flavour == kFlavourViewing) {
      TavGen::ShowInfoMessage(TavGen::kInfo, 1,
                              TavCore::GetLocalizedUni16String("PDF/OVERPRINTS ADDED"));
    }
  }
  // The whole line goes to the stream at once: the strings are short and
  // many, and each write into the stream is a call through its filters.
  if (mTextMatrixHeadText.empty() ||
      std::memcmp(mTextMatrixHead.data(), matrix.data(), sizeof mTextMatrixHead) != 0) {
    char head[4 * (TavNumber::kNumberTextMax + 1)];
    char* end = head;
    for (std::size_t k = 0; k < 4; ++k) {
      end = TavNumber::formatReal(end, matrix[k]);
      *end++ = ' ';
    }
    mTextMatrixHeadText.assign(head, end);
    std::copy_n(matrix.begin(), mTextMatrixHead.size(), mTextMatrixHead.begin());
  }
  // The head, two numbers and their blanks, "Tm (", each byte escaped in at
  // most four, ") Tj\n" and the terminator the escaping writes.
  const std::size_t room = mTextMatrixHeadText.size() + 2 * (TavNumber::kNumberTextMax + 1) + 4 +
                           4 * text.size() + 6;
  if (mTextLine.size() < room) mTextLine.resize(room);
  char* const start = mTextLine.data();
  char* p = std::copy(mTextMatrixHeadText.begin(), mTextMatrixHeadText.end(), start);
  for (std::size_t k = 4; k < 6; ++k) {
    p = TavNumber::formatReal(p, matrix[k]);
    *p++ = ' ';
  }
  p = std::copy_n("Tm (", 4, p);
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '(' && b != ')' && b != '\\') {
      *p++ = c;
    } else {
      p += TavSys::stroutcha(c, p);
    }
  }
  p = std::copy_n(") Tj\n", 5, p);
  const std::string_view line(start, std::size_t(p - start));
  pdfoutfilter& out = Out();
  for (int pass = 0; pass < passes; ++pass) {
    if (mTextPassSplitter && !mTextPassSplitter->WritesPass(pass)) continue;
    out << line;
  }
  text.clear();
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
    WriteTextObject(text, calc.get(), pass, pass == 0 ? &rules : nullptr);
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

void PDFProof::WriteTextObject(TavDB::Object* text, texcaltyp* calc, int pass,
                               std::vector<std::unique_ptr<TavDB::Object>>* rules) {
  TextParameters p;
  texcalpars(calc, p);
  const bool knockout = mSettings.ForceOpaqueSeparationsToKnockout != 0;
  auto convert = [&](int paint) {
    return ConvertPaintForOpaqueInks(mJob, std::uint16_t(paint), knockout);
  };
  std::uint16_t paint = convert(p.paint);

  pdfoutfilter& out = Out();
  out << "BT\n";
  std::array<double, 6> matrix = MakeTextMatrix(calc);
  out << "0 Tr ";
  // A paint without this pass's part shows nothing in it.
  bool invisible = false;
  auto writeColour = [&] {
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
  std::string run;
  for (int code = texcalnex(calc);; code = texcalnex(calc)) {
    if (code >= 32) {
      if (run.empty()) matrix = MakeTextMatrix(calc);
      run.push_back(static_cast<char>(code));
      if (invisible) {
        run.clear();
        continue;
      }
      texcalpars(calc, p);
      if (perCharacter || p.alignment == 3 || p.alignment == 4 ||
          (code == 32 && p.wordSpacing != kNormalWordSpacing)) {
        ShowTextString(run, matrix);
      }
      continue;
    }
    if (invisible) {
      run.clear();
    } else {
      ShowTextString(run, matrix);
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
  out << "ET\n";
}

}  // namespace TavPDF
