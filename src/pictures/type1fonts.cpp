#include "pictures/type1fonts.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/fonts/fontcache.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// Codes a simple font can have beside the calculator's signals below 32.
constexpr double kShowableCodes = 224.0;
// Font descriptor flags: nonsymbolic (32) for text fonts, symbolic (4) for
// fonts of their own encoding, each with bit 16 as the workflow has always
// written it.
constexpr int kFlagsText = 32800;
constexpr int kFlagsSymbolic = 32772;
// A bfchar block holds at most 100 entries.
constexpr int kMaxBfcharEntries = 100;

}  // namespace

std::string CMapHexCode(char32_t value) {
  char text[16];
  if (value > 0xFFFF) {
    const char32_t v = value - 0x10000;
    std::snprintf(text, sizeof text, "<%04x%04x>", unsigned(0xD800 + (v >> 10)),
                  unsigned(0xDC00 + (v & 0x3FF)));
  } else {
    std::snprintf(text, sizeof text, "<%04x>", unsigned(value));
  }
  return text;
}


std::vector<std::array<std::uint8_t, 256>> GatherUsedCodes(jobstr* job,
                                                           const std::vector<int>& fontIds) {
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job);
  std::vector<std::array<std::uint8_t, 256>> tables(fontIds.size());
  for (auto& table : tables) table.fill(0);
  TavricCore::GetFontCharacters(jobGetSpahan(job), fontIds, tables, cache);
  // Patterns and soft masks are written with the job's fonts as well.
  for (const PatternRec& pattern : job->patterns) {
    if (pattern.exists && pattern.objects) {
      TavricCore::GetFontCharacters(pattern.objects.get(), fontIds, tables, cache);
    }
  }
  return tables;
}

PDFIndirectReference* BuildType1FontDictionary(jobstr* job, pdfouthan* handler,
                                               const std::string& name, std::int32_t fontId,
                                               int subsetThreshold, const std::uint8_t* usedCodes) {
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job);
  const bool batch = artque() != 0;
  std::array<std::uint8_t, 256> table;
  if (usedCodes != nullptr) {
    std::copy(usedCodes, usedCodes + 256, table.begin());
  } else {
    table = GatherUsedCodes(job, {fontId})[0];
  }
  // A font is embedded once per document for the codes its job uses: every
  // stream that shows it (the page, forms, patterns, soft masks, the pages of
  // separated output) shares its program, descriptor and ToUnicode map, and
  // streams that name it alike share its Font dictionary.
  pdfouthan::WrittenFont& written = handler->mWrittenFonts[{job, fontId, table}];
  if (auto it = written.dictionaries.find(name); it != written.dictionaries.end()) return it->second;
  int used = 0;
  for (std::uint8_t t : table) used += t != 0 ? 1 : 0;
  const double percentage = used / kShowableCodes * 100.0;
  std::unique_ptr<Fonts::Type1Font> font =
      subsetThreshold > percentage ? TavricCore::CreateType1Font(cache, fontId, table.data(), 1, batch)
                                   : TavricCore::CreateType1Font(cache, fontId, batch);

  auto* dictionary = new PDFDictionary();
  dictionary->Set("Type", new PDFName("Font"));
  dictionary->Set("FirstChar", new PDFInteger(0));
  dictionary->Set("LastChar", new PDFInteger(255));
  auto* widths = new PDFArray();
  for (int c = 0; c < 256; ++c) widths->Add(new PDFInteger(font->getCharWidth(c)));
  dictionary->Set("Widths", widths);
  dictionary->Set("Name", new PDFName(name));
  dictionary->Set("Subtype", new PDFName("Type1"));
  if (written.descriptor == nullptr) written.descriptor = WriteType1FontFile(*font, handler);
  dictionary->Set("FontDescriptor", written.descriptor);
  if (!font->isBase14Font(TavricCore::GetBase14FontList())) {
    dictionary->Set("Encoding", BuildType1Encoding(*font));
  } else if (!font->isSymbolic()) {
    // Symbol and ZapfDingbats keep their built-in encoding.
    dictionary->Set("Encoding", new PDFName("MacRomanEncoding"));
  }
  dictionary->Set("BaseFont", new PDFName(font->getName()));
  if (written.toUnicode == nullptr) written.toUnicode = WriteToUnicodeCMap(job, handler, *font, fontId);
  dictionary->Set("ToUnicode", written.toUnicode);
  PDFIndirectReference* reference = handler->makeIndirect(dictionary);
  handler->writeObject(reference);
  written.dictionaries.emplace(name, reference);
  return reference;
}

PDFIndirectReference* WriteType1FontFile(const Fonts::Type1Font& font, pdfouthan* handler) {
  auto* descriptor = new PDFDictionary();
  if (!font.isBase14Font(TavricCore::GetBase14FontList())) {
    auto* streamDictionary = new PDFDictionary();
    streamDictionary->Set("Filter", new PDFName("FlateDecode"));
    streamDictionary->Set("Length1", new PDFInteger(std::int64_t(font.getHeaderLength())));
    streamDictionary->Set("Length2", new PDFInteger(std::int64_t(font.getCharProcsLength())));
    streamDictionary->Set("Length3", new PDFInteger(std::int64_t(font.getZeroesLength())));
    pdfoutfilter* sink = handler->beginStream(streamDictionary);
    if (sink == nullptr) {
      throw TavSys::Error(TavSys::kResultAbandoned, "",
                          "WriteType1FontFile: the font file stream could not be opened");
    }
    sink->PutBytes(font.getData().data(), font.getData().size());
    PDFIndirectReference* file = handler->endStream(sink);
    if (file != nullptr) descriptor->Set("FontFile", file);
  }
  int box[4];  // top, left, bottom, right, downwards
  font.getBoundingBox(box);
  descriptor->Set("Type", new PDFName("FontDescriptor"));
  descriptor->Set("Ascent", new PDFInteger(font.getAscent()));
  descriptor->Set("Descent", new PDFInteger(font.getDescent()));
  descriptor->Set("CapHeight", new PDFInteger(font.getCapHeight()));
  descriptor->Set("Flags", new PDFInteger(font.isSymbolic() ? kFlagsSymbolic : kFlagsText));
  descriptor->Set("ItalicAngle", new PDFInteger(0));
  descriptor->Set("StemV", new PDFInteger(0));
  auto* bbox = new PDFArray();
  for (int v : {box[1], -box[2], box[3], -box[0]}) bbox->Add(new PDFInteger(v));
  descriptor->Set("FontBBox", bbox);
  descriptor->Set("FontName", new PDFName(font.getName()));
  PDFIndirectReference* reference = handler->makeIndirect(descriptor);
  handler->writeObject(reference);
  return reference;
}

PDFDictionary* BuildType1Encoding(const Fonts::Type1Font& font) {
  auto* differences = new PDFArray();
  bool inRun = false;
  for (int c = 0; c < 256; ++c) {
    if (!font.hasChar(c)) {
      inRun = false;
      continue;
    }
    if (!inRun) differences->Add(new PDFInteger(c));
    differences->Add(new PDFName(font.getCharEncoding(c)));
    inRun = true;
  }
  auto* encoding = new PDFDictionary();
  encoding->Set("Type", new PDFName("Encoding"));
  encoding->Set("Differences", differences);
  return encoding;
}

PDFIndirectReference* WriteToUnicodeCMap(jobstr* job, pdfouthan* handler,
                                         const Fonts::Type1Font& font, std::int32_t fontId) {
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job);
  auto* dictionary = new PDFDictionary();
  dictionary->Set("Filter", new PDFName("FlateDecode"));
  pdfoutfilter* sink = handler->beginStream(dictionary);
  if (sink == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "",
                        "WriteToUnicodeCMap: the CMap stream could not be opened");
  }
  genoutfil& out = *sink;
  out << "/CIDInit /ProcSet findresource begin\n"
      << "12 dict begin\n"
      << "begincmap\n"
      << "/CIDSystemInfo\n"
      << "<< /Registry (Adobe)\n"
      << "/Ordering (UCS) /Supplement 0 >> def\n"
      << "/CMapName /QELToUnicode-Identity-UCS def\n"
      << "/CMapType 2 def\n"
      << "1 begincodespacerange\n"
      << "<0000> <FFFF>\n"
      << "endcodespacerange\n";
  // Codes the font has and that stand for a character.
  std::vector<std::pair<int, char32_t>> entries;
  for (int c = 0; c < 256; ++c) {
    if (!font.hasChar(c)) continue;
    const char32_t unicode = TavricCore::fontCacheUnicodeGet(cache, fontId, c, 0);
    if (unicode != 0) entries.emplace_back(c, unicode);
  }
  for (std::size_t at = 0; at < entries.size(); at += kMaxBfcharEntries) {
    const std::size_t end = std::min(entries.size(), at + std::size_t(kMaxBfcharEntries));
    out << int(end - at) << "beginbfchar\n";
    for (std::size_t k = at; k < end; ++k) {
      out << CMapHexCode(char32_t(entries[k].first)) << " " << CMapHexCode(entries[k].second) << "\n";
    }
    out << "endbfchar\n";
  }
  out << "endcmap CMapName currentdict /CMap defineresource pop end end";
  return handler->endStream(sink);
}

// ---- the page writer's font list ---------------------------------------------------------

int PDFProof::RegisterFont(std::int32_t fontId) {
  if (fontId == -1) return -1;
  for (std::size_t i = 0; i < mFonts.size(); ++i) {
    if (mFonts[i] == std::uint32_t(fontId)) return int(i);
  }
  mFonts.push_back(std::uint32_t(fontId));
  return int(mFonts.size()) - 1;
}

void PDFProof::BuildFontResources() {
  if (mFonts.empty()) return;
  auto* fonts = new PDFDictionary();
  const std::vector<int> ids(mFonts.begin(), mFonts.end());
  const auto used = GatherUsedCodes(mJob, ids);
  for (std::size_t i = 0; i < mFonts.size(); ++i) {
    const std::string name = "Fnt_" + std::to_string(mWriterNumber) + "_" + std::to_string(i);
    fonts->Set(name, BuildType1FontDictionary(mJob, mHandler, name, ids[i],
                                              mSettings.SubsetThreshhold, used[i].data()));
  }
  if (mResources != nullptr) mResources->Set("Font", fonts);
  mFonts.clear();
}

}  // namespace TavPDF
