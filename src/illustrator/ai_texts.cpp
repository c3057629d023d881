// Texts of the Illustrator 5/7 writer. The text calculator lays a text out.
// A plain text: each piece of characters that follow on from one another
// with the same font, size, spacing, scale and paint becomes a point text
// object placed where the calculator puts its first letter, so that the
// letters land where the PDF export puts them whatever the reader's own line
// layout. A text box is an area text: its box, its paragraphs and its
// settings, laid out in lines by the reader. A text along a path is a path
// text: its path, and each character after the matrix that stands it on the
// path. Underlines follow as filled paths. A text the file cannot hold with
// its fonts is written as its outlines.
#include <algorithm>
#include <cmath>
#include <memory>

#include "illustrator/illoutjob.h"
#include "platform/fonts/fontcache.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"

namespace TavIllu {

namespace {

using TavDB::Object;

// Characters beyond this are not in the file's 8-bit encoding (ISO 8859-1).
constexpr char32_t kLastLatin1 = 0xFF;

// A font name as a PostScript name token: no blanks or delimiters.
std::string fontToken(std::string_view name) {
  std::string token;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7F && std::string_view("()<>[]{}/%").find(c) == std::string_view::npos) {
      token.push_back(c);
    }
  }
  return token;
}

// Process inks together take one colour operator; each spot ink one more.
int colourOperatorsOf(const jobstr* job, std::uint16_t paint) {
  const std::uint8_t* pct = paisep(job, paint);
  if (pct == nullptr) return 0;
  bool process = false;
  int spots = 0;
  for (int pos = 0; pos < sepfrejob(job); ++pos) {
    const int slot = sepsoruse(job, pos, false);
    if (slot < 0 || pct[slot] == 0 || pct[slot] == kPercentUntouched) continue;
    if (sepiscmyk(job, slot) >= 0) {
      process = true;
    } else {
      ++spots;
    }
  }
  return (process ? 1 : 0) + spots;
}

}  // namespace

bool illoutjob::TextFitsFile(const Object* text) {
  if (!textCheckPaintAndFont(mJob, text)) return false;
  for (const TavDB::TextRun& run : text->text()->runs) {
    if (colourOperatorsOf(mJob, run.paint) > 1) return false;
    for (std::size_t pos = 0; pos < run.text.size();) {
      if (TavricCore::NextCharacter(run.text, pos) > kLastLatin1) return false;
    }
  }
  return true;
}

void illoutjob::EndTextString() {
  if (!mTextOpen) return;
  mOut << ") Tx\n";
  mTextOpen = false;
}

void illoutjob::EndTextObject() {
  EndTextString();
  if (!mTextObjectOpen) return;
  mOut << "(\\r) TX\n" << "TO\n";
  mTextObjectOpen = false;
}

void illoutjob::BeginTextObject(const texcaltyp* calc, const TavDB::TextData& text) {
  const int ppi = TavDB::getppi(mJob);
  const double k = scale() * 72.0 / ppi;
  double m[4];
  texcalbasematppi(calc, ppi, m);
  double v = 0, h = 0;
  GetTextLetterPosition(calc, v, h);
  // Point text; the letters' matrix in the page's orientation (vertical axis
  // up) and the first letter's position.
  mOut << 0 << "To\n";
  mOut << m[0] / ppi << -m[1] / ppi << -m[2] / ppi << m[3] / ppi << (h - originH()) * k << (originV() - v) * k
       << 0 << "Tp\n";
  mOut << "TP\n" << 0 << "Tr\n";
  // The piece is placed where its alignment puts it: left-aligned from there;
  // the position holds the rise already.
  WriteTextSettings(calc, text, 0, false);
  mTextObjectOpen = true;
}

void illoutjob::WriteTextColour(const texcaltyp* calc) {
  TextParameters p;
  texcalpars(calc, p);
  ReportTransparency(std::uint16_t(p.paint));
  mColourOperator = nullptr;
  if (const Paint* paint = paipoi(mJob, p.paint); paint != nullptr && colsep(mJob, paint->colour) != nullptr) {
    WriteColor(paint->colour, true);
  } else {
    WriteCMYKOrSeparationColor(0, 0, 0, 0, -1, 0);
  }
  WriteColourOperator();
}

void illoutjob::WriteTextFont(const texcaltyp* calc, const TavDB::TextData& text) {
  TextParameters p;
  texcalpars(calc, p);
  const double size = texcalSize(calc) * 72.0 / TavDB::getppi(mJob);
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(mJob);
  mOut << "/_" << fontToken(p.fontId >= 0 ? cache->FontName(p.fontId) : std::string()) << " " << size << "Tf\n";
  // Without a leading of its own a line is 1.2 times its largest size apart
  // from the one before.
  const double leading = text.leading > 0 ? text.leading : 1.2 * size;
  mOut << leading << 0 << "Tl\n";
}

void illoutjob::WriteTextSettings(const texcaltyp* calc, const TavDB::TextData& text, int alignment, bool rise) {
  TextParameters p;
  texcalpars(calc, p);
  WriteTextColour(calc);
  mOut << alignment << "Ta\n";
  WriteTextFont(calc, text);
  mOut << p.horizontalScale / 65536.0 << "Tz\n";
  mOut << p.charSpacing / 6553.6 << "Tt\n";
  mOut << "10 4 Xb\n";
  for (int i = 0; i < 4; ++i) mOut << "0 0 1 " << 0 << "Xe\n";
  mOut << "XB\n";
  const double words = p.wordSpacing / 65536.0;
  mOut << words << words << words << "TW\n";
  mOut << (rise ? p.rise : 0.0) << "Ts\n";
}

void illoutjob::OutputTextInItsForm(Object* text) {
  const TavDB::TextData& data = *text->text();
  TextCalc calc = texcalini(mJob, text);
  if (!calc) return;
  const bool alongPath = data.isAlongPath();
  const int ppi = TavDB::getppi(mJob);
  const double k = scale() * 72.0 / ppi;
  // A point of the text's own space (points along the baseline and down from
  // the start) on the page.
  auto onPage = [&](double x, double y, double& px, double& py) {
    const double* m = data.matrix;
    const double h = data.start.h + (m[0] * x + m[2] * y) * ppi / 72.0;
    const double v = data.start.v + (m[1] * x + m[3] * y) * ppi / 72.0;
    px = (h - originH()) * k;
    py = (originV() - v) * k;
  };
  double m[4];
  texcalbasematppi(calc.get(), ppi, m);
  double x = 0, y = 0;
  onPage(0, alongPath ? 0 : texcalFirstBaseline(calc.get()), x, y);
  // A path text starts where its path does; an area text's start is where
  // its first baseline begins.
  mOut << (alongPath ? 2 : 1) << "To\n";
  mOut << m[0] / ppi << -m[1] / ppi << -m[2] / ppi << m[3] / ppi << x << y << 0 << "Tp\n";
  if (alongPath) {
    auto course = Object::create(TavDB::ObjectKind::Path);
    course->points() = data.path;
    course->setProperties(TavDB::kObjOpenPath, true);
    OutputPath(course.get(), 0, kModeNoPaint, nullptr, 0);
  } else {
    const double w = data.width * 72.0 / ppi, hgt = data.height * 72.0 / ppi;
    const double corners[5][2] = {{0, 0}, {w, 0}, {w, hgt}, {0, hgt}, {0, 0}};
    for (int i = 0; i < 5; ++i) {
      onPage(corners[i][0], corners[i][1], x, y);
      mOut << x << y << (i == 0 ? "m\n" : "L\n");
    }
    mOut << mOps.noPaint;
  }
  mOut << "TP\n" << 0 << "Tr\n";
  TextParameters p;
  texcalpars(calc.get(), p);
  // Along a path every character is placed on its own: left-aligned there,
  // its rise in its position.
  WriteTextSettings(calc.get(), data, alongPath ? 0 : p.alignment, !alongPath);
  double rise = alongPath ? 0 : p.rise;

  std::vector<std::unique_ptr<Object>> rules;
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(mJob);
  std::string all;  // a path text's characters, for its closing string
  for (int code = texcalnex(calc.get());; code = texcalnex(calc.get())) {
    if (code >= 32) {
      texcalpars(calc.get(), p);
      if (!alongPath && p.rise != rise) {
        EndTextString();
        rise = p.rise;
        mOut << rise << "Ts\n";
      }
      if (alongPath) {
        EndTextString();
        double lv = 0, lh = 0;
        texcalbasematppi(calc.get(), ppi, m);
        GetTextLetterPosition(calc.get(), lv, lh);
        mOut << m[0] / ppi << -m[1] / ppi << -m[2] / ppi << m[3] / ppi << (lh - originH()) * k
             << (originV() - lv) * k << "Tm\n";
      }
      if (!mTextOpen) {
        mOut << "(";
        mTextOpen = true;
      }
      const char32_t unicode = cache->UnicodeOfCode(p.fontId, code);
      char escaped[8];
      const int n = TavSys::stroutcha(char(unicode <= kLastLatin1 ? unicode : U'?'), escaped);
      mOut << std::string_view(escaped, std::size_t(n));
      if (alongPath) all.append(escaped, std::size_t(n));
      continue;
    }
    // A character that does not follow on from the last is the reader's
    // layout in an area text (kerning, a wrapped line, justified blanks) and
    // has its own matrix along a path: the string goes on.
    if (code == kTextBreak) continue;
    EndTextString();
    switch (code) {
      case kTextPaint:
        WriteTextColour(calc.get());
        break;
      case kTextFont:
        WriteTextFont(calc.get(), data);
        break;
      case kTextFontAndSpacing:
        WriteTextFont(calc.get(), data);
        [[fallthrough]];
      case kTextSpacing:
        texcalpars(calc.get(), p);
        mOut << p.charSpacing / 6553.6 << "Tt\n";
        break;
      case kTextScale:
        texcalpars(calc.get(), p);
        mOut << p.horizontalScale / 65536.0 << "Tz\n";
        break;
      case kTextParagraph:
        mOut << "(\\r) TX\n";
        break;
      case kTextRule:
      case kTextEnd:
        addTextRules(calc.get(), code, rules);
        break;
      default:
        break;
    }
    if (code == kTextEnd) break;
  }
  texcalexi(calc);
  EndTextString();
  mOut << "(" << all << "\\r) TX\n" << "TO\n";
  OutputTextRules(rules);
}

void illoutjob::OutputText(Object* text) {
  if (text == nullptr || text->text() == nullptr || IsCancelled()) return;
  // The station number is the workflow's to fill in; like a PDF export
  // without workflow data, the file leaves it to the workflow.
  if (isStationNumberObject(text)) return;
  if (!TextFitsFile(text)) {
    std::unique_ptr<Object> outlines = texhivecget(mJob, text, 1);
    if (outlines) OutputGroup(outlines.get(), false, -1, false);
    return;
  }
  if (text->text()->isAlongPath() || text->text()->isBox()) {
    OutputTextInItsForm(text);
    return;
  }
  TextCalc calc = texcalini(mJob, text);
  if (!calc) return;
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(mJob);
  TextParameters p;
  texcalpars(calc.get(), p);
  bool invisible = IsInvisiblePaint(text, p.paint);

  std::vector<std::unique_ptr<Object>> rules;
  auto addRules = [&](int code) { addTextRules(calc.get(), code, rules); };

  for (int code = texcalnex(calc.get());; code = texcalnex(calc.get())) {
    if (code >= 32) {
      if (invisible) continue;
      if (!mTextObjectOpen) BeginTextObject(calc.get(), *text->text());
      if (!mTextOpen) {
        mOut << "(";
        mTextOpen = true;
      }
      // The character in the file's encoding, escaped for the string.
      texcalpars(calc.get(), p);
      const char32_t unicode = cache->UnicodeOfCode(p.fontId, code);
      char escaped[8];
      const int n = TavSys::stroutcha(char(unicode <= kLastLatin1 ? unicode : U'?'), escaped);
      mOut << std::string_view(escaped, std::size_t(n));
      // Extra room after a blank (justified text, word spacing) is the
      // layout's: the next letter starts a piece of its own.
      if (code == 32 && (p.alignment == TavDB::TextData::kJustify || p.wordSpacing != kNormalWordSpacing)) {
        EndTextObject();
      }
      continue;
    }
    // Every signal ends the piece: what follows is placed anew.
    EndTextObject();
    if (code == kTextRule || code == kTextEnd) addRules(code);
    if (code == kTextEnd) break;
    if (code == kTextPaint) {
      texcalpars(calc.get(), p);
      invisible = IsInvisiblePaint(text, p.paint);
    }
  }
  texcalexi(calc);
  OutputTextRules(rules);
}

void illoutjob::addTextRules(texcaltyp* calc, int code, std::vector<std::unique_ptr<Object>>& rules) {
  std::vector<TextRulePolygon> polygons;
  texcalrul(calc, TavricCore::jobGetFontCache(mJob), code, polygons);
  TextParameters now;
  texcalpars(calc, now);
  for (const TextRulePolygon& polygon : polygons) {
    auto path = Object::create(TavDB::ObjectKind::Path);
    for (const auto& corner : polygon) {
      path->points().push_back({std::int32_t(std::lround(std::clamp(corner[0], -1e9, 1e9))),
                                std::int32_t(std::lround(std::clamp(corner[1], -1e9, 1e9))),
                                TavDB::PathPoint::kLine});
    }
    path->setPaint(std::uint16_t(now.paint));
    path->recalcBounds();
    rules.push_back(std::move(path));
  }
}

void illoutjob::OutputTextRules(std::vector<std::unique_ptr<Object>>& rules) {
  if (rules.empty()) return;
  std::unique_ptr<Object> holder = TavDB::gronew();
  for (auto& rule : rules) holder->addontop(std::move(rule));
  rules.clear();
  OutputGroup(holder.get(), false, -1, false);
}

}  // namespace TavIllu
