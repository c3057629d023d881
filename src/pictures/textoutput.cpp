// Text output of the PDF page writer: a text object of the job becomes a PDF
// text object that places the calculator's characters where its layout puts
// them, with the fonts as resources of the content stream, and its rules
// (underlines) as painted paths after it. Texts that cannot be shown as text
// (a paint other than a flat colour, a colour that needs several colour
// operators, a font that is not installed, or VectorizeText) are written as
// their outlines.
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

bool PDFProof::TextPaintFitsOneOperator(std::uint16_t paint) {
  if (auto it = mTextPaintFits.find(paint); it != mTextPaintFits.end()) return it->second;
  std::array<std::uint16_t, kMaxSeparations> tints = paisep16(mJob, paint);
  std::unique_ptr<ColorSpace> space(GetSeparationColorSpace(
      tints.data(), 0, kTintFull, false, false, TavricLib::PaintIsRegistration(mJob, paint), false,
      true));
  const bool fits = !space || space->pdfGetNumParts() <= 1;
  mTextPaintFits.emplace(paint, fits);
  return fits;
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
    auto record = std::make_unique<PendingStreamStationNumberForm>(text);
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
  for (const TavDB::TextRun& run : text->text()->runs) {
    if (outlines) break;
    outlines = !TextPaintFitsOneOperator(run.paint);
  }
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
  std::uint16_t paint = convert(p.paint);

  // Transparency is set by a graphics state of its own. (A paint of several
  // colour parts, which would need a transparency group, went the outline
  // road above.)
  bool transparencySave = false;
  if (GetVersionCode() >= kPdf14 && paintIsTransparent(mJob, paint)) {
    OutputTransparencyGState(text, paint, true);
    transparencySave = true;
  }

  const bool screeningSave = mSettings.IncludeScreening != 0 && mSettings.UseDefaultScreen == 0;
  if (screeningSave) SaveGraphicsState();
  const bool named = BeginObjectName(text);

  pdfoutfilter& out = Out();
  out << "BT\n";
  std::array<double, 6> matrix = MakeTextMatrix(calc.get());
  out << "0 Tr ";
  bool invisible = IsInvisiblePaint(text, paint);
  auto writeColour = [&] {
    SelectScreening(paint);
    WritePaintColor(paint, 0);
    WritePendingFillColor();
  };
  writeColour();
  SelectTextFont(calc.get());
  WriteTextScale(calc.get());
  WriteCharSpacing(calc.get());

  std::vector<std::unique_ptr<TavDB::Object>> rules;
  std::vector<TextRulePolygon> polygons;
  auto addRules = [&](int code) {
    polygons.clear();
    texcalrul(calc.get(), TavricCore::jobGetFontCache(mJob), code, polygons);
    TextParameters now;
    texcalpars(calc.get(), now);
    for (const TextRulePolygon& polygon : polygons) {
      TavDB::tv_point corners[4];
      for (int k = 0; k < 4; ++k) {
        corners[k] = {std::int32_t(std::lround(polygon[std::size_t(k)][0])),
                      std::int32_t(std::lround(polygon[std::size_t(k)][1]))};
      }
      AddClosedPolygon(rules, 4, corners);
      // The walker converts the paint for opaque inks when it paints the rule.
      rules.back()->setPaint(std::uint16_t(now.paint));
    }
  };

  std::string run;
  for (int code = texcalnex(calc.get());; code = texcalnex(calc.get())) {
    if (code >= 32) {
      if (run.empty()) matrix = MakeTextMatrix(calc.get());
      run.push_back(static_cast<char>(code));
      if (invisible) {
        run.clear();
        continue;
      }
      texcalpars(calc.get(), p);
      if (p.alignment == 3 || p.alignment == 4 ||
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
        SelectTextFont(calc.get());
        break;
      case -29:
      case kTextFontAndSpacing:
        SelectTextFont(calc.get());
        WriteCharSpacing(calc.get());
        break;
      case kTextSpacing:
        WriteCharSpacing(calc.get());
        break;
      case kTextScale:
        WriteTextScale(calc.get());
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
        texcalpars(calc.get(), p);
        paint = convert(p.paint);
        invisible = IsInvisiblePaint(text, paint);
        writeColour();
        break;
      default:
        break;
    }
  }
  texcalexi(calc);
  out << "ET\n";
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

}  // namespace TavPDF
