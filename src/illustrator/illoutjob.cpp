#include "illustrator/illoutjob.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "illustrator/ai_paths.h"
#include "illustrator/ai_text.h"
#include "pagewriter/mapcopintgen.h"
#include "pagewriter/strokeinfo.h"
#include "platform/fonts/fontcache.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/epsfile.h"
#include "platform/kernel/job.h"
#include "platform/files.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace TavIllu {

namespace {

using TavDB::Object;

// Gradations rendered as images (version 7.0 only) use the flattener's
// resolution, as the PDF export does.
constexpr int kFlattenerResolution = 300;
constexpr std::size_t kHexBytesPerLine = 30;

}  // namespace

// ---- raster rows ----------------------------------------------------------------

void IlluProofImageHandler::writeHex(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char line[1 + 2 * kHexBytesPerLine + 1];
  for (std::size_t start = 0; start < count; start += kHexBytesPerLine) {
    const std::size_t n = std::min(kHexBytesPerLine, count - start);
    std::size_t used = 0;
    line[used++] = '%';
    for (std::size_t i = 0; i < n; ++i) {
      line[used++] = kDigits[bytes[start + i] >> 4];
      line[used++] = kDigits[bytes[start + i] & 15];
    }
    line[used++] = '\n';
    mOut.PutBytes(line, used);
  }
}

int IlluProofImageHandler::WriteRows(const std::uint8_t* row, int pixels, int planes) {
  // Exactly the announced rows of the announced size: anything else would
  // make a reader take image data for operators or the other way round.
  if (mRowsWritten >= mRowsDue) return 0;
  const std::size_t given = std::size_t(std::max(pixels, 0)) * std::size_t(std::max(planes, 0));
  if (given == mRowBytes) {
    writeHex(row, given);
  } else {
    std::vector<std::uint8_t> padded(mRowBytes, mBlank);
    std::copy_n(row, std::min(given, mRowBytes), padded.begin());
    writeHex(padded.data(), padded.size());
  }
  ++mRowsWritten;
  return 0;
}

void IlluProofImageHandler::Complete() {
  if (mRowsWritten >= mRowsDue) return;
  const std::vector<std::uint8_t> blank(mRowBytes, mBlank);
  while (mRowsWritten < mRowsDue) {
    writeHex(blank.data(), blank.size());
    ++mRowsWritten;
  }
}

// ---- the writer ---------------------------------------------------------------------

illoutjob::illoutjob(jobstr* job, int mode, int traps, TavSys::fil* file, int factor, bool keepInvisible)
    : genproof(job, kFlattenerResolution, traps, kMaxPathPoints, kCompositeProcess, keepInvisible),
      mOut(file),
      mMode(mode),
      mFactor(factor) {
  mOps.line = "L";
  mOps.curve = "C";
  mOps.clip = "W\n";
  mOps.fill = "F\n";
  mOps.noPaint = "N\n";
  mStrokeType = strokeinfo_t::kIllustratorStroke;
}

illoutjob::~illoutjob() {
  // An image left open by an error is ended here; the stream itself belongs
  // to the caller's file.
  delete mImage;
}

int illoutjob::WriteDocument() {
  WriteHeader();
  mOut << "0 O\n" << "0 A\n" << "1 XR\n";
  OutputGroup(jobGetSpahan(mJob), false, -1, false);
  if (IsCancelled()) return -2;
  mOut << "%%Trailer\n" << "%%EOF\n";
  return mIncomplete ? 1 : 0;
}

void illoutjob::WriteHeader() {
  mOut << "%!PS-Adobe-3.0\n";
  mOut << (IsVersion7() ? "%%Creator: Adobe Illustrator(r) 7.0\n" : "%%Creator: Adobe Illustrator(r) 5.0\n");
  mOut << "%%Title: " << commentText(filnamcle(mJob)) << "\n";
  WriteBoundingBox();
  mOut << "%%DocumentProcessColors: Cyan Magenta Yellow Black\n";
  WriteFontList();
  mOut << "%AI5_FileFormat 1.2\n";
  WriteCustomColours();
  mOut << "%AI5_ArtFlags: 1 0 0 1 0 0 1 1 0\n"
       << "%%EndComments\n"
       << "%%BeginProlog\n"
       << "%%EndProlog\n"
       << "%%BeginSetup\n";
  WriteGradientDefinitions();
  mOut << "%%EndSetup\n";
}

void illoutjob::WriteBoundingBox() {
  int box[4] = {0, 0, 0, 0};
  const Object* tree = jobGetSpahan(mJob);
  TavDB::ListScan scan(tree, TavDB::kObjPath | TavDB::kObjCompound | TavDB::kObjText, TavDB::kObjExcluded);
  // A job without artwork has no box: 0 0 0 0 rather than one made up.
  if (scan.next() != nullptr) {
    const TavDB::tv_box all = TavDB::measureall(tree);
    double x0, y0, x1, y1;
    TransformPoint(all.top, all.left, x0, y0);
    TransformPoint(all.bottom, all.right, x1, y1);
    box[0] = TavSys::iround(std::min(x0, x1) - 0.5);
    box[1] = TavSys::iround(std::min(y0, y1) - 0.5);
    box[2] = TavSys::iround(std::max(x0, x1) + 0.5);
    box[3] = TavSys::iround(std::max(y0, y1) + 0.5);
  }
  mOut << "%%BoundingBox:" << box[0] << box[1] << box[2] << box[3] << "\n";
}

void illoutjob::WriteFontList() {
  // The fonts of the texts written with their fonts, each once, in the order
  // met, by the names the job gives them.
  std::vector<std::string> fonts;
  std::set<std::string> seen;
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(mJob);
  TavDB::ListScan scan(jobGetSpahan(mJob), TavDB::kObjText, TavDB::kObjExcluded);
  for (const Object* text = scan.next(); text != nullptr; text = scan.next()) {
    if (text->text() == nullptr || isStationNumberObject(text) || !TextFitsFile(text)) continue;
    for (const TavDB::TextRun& run : text->text()->runs) {
      if (cache->FontId(run.font) >= 0 && seen.insert(run.font).second) fonts.push_back(run.font);
    }
  }
  for (const char* list : {"%%DocumentFonts: ", "%%DocumentNeededFonts: "}) {
    for (std::size_t i = 0; i < fonts.size(); ++i) {
      mOut << (i == 0 ? list : "%%+") << commentText(fonts[i]) << "\n";
    }
  }
}

void illoutjob::WriteCustomColours() {
  const std::vector<int> spots = CustomColourSlots(mJob);
  if (spots.empty()) return;
  auto lead = [](std::string_view first, std::size_t i) {
    if (i == 0) return std::string(first);
    std::string s = "%%+";
    s.append(first.size() - s.size(), ' ');
    return s;
  };
  for (std::size_t i = 0; i < spots.size(); ++i) {
    mOut << lead("%%DocumentCustomColors: ", i) << "(" << escapePostScriptString(sepnampoi(mJob, spots[i]))
         << ")\n";
  }
  for (std::size_t i = 0; i < spots.size(); ++i) {
    std::uint8_t cmyk[4];
    sepcmyk(mJob, spots[i], cmyk[0], cmyk[1], cmyk[2], cmyk[3]);
    mOut << lead("%%CMYKCustomColor: ", i);
    for (std::uint8_t v : cmyk) mOut << v / 100.0;
    mOut << "(" << escapePostScriptString(sepnampoi(mJob, spots[i])) << ")\n";
  }
}

// ---- simple operations ---------------------------------------------------------------

int illoutjob::SetLocked(int locked) {
  mOut << locked << "A\n";
  return 0;
}

double illoutjob::GetImageDownsampleFactor(int, int, double) { return double(mFactor); }

void illoutjob::SetOverprint(bool on) {
  if (on == mOverprint) return;
  mOut << (on ? 1 : 0) << "O\n";
  mOverprint = on;
}

void illoutjob::WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y, std::uint8_t k,
                                           int slot, std::uint8_t tint) {
  // 255 leaves an ink untouched: no ink of its own.
  auto share = [](std::uint8_t v) { return v == kPercentUntouched ? 0.0 : std::min<int>(v, 100) / 100.0; };
  mOut << share(c) << share(m) << share(y) << share(k);
  if (slot < 0) {
    mColourOperator = "k";
    return;
  }
  mOut << "(" << escapePostScriptString(sepnampoi(mJob, slot)) << ") " << 1.0 - share(tint);
  mColourOperator = "x";
}

void illoutjob::WriteColourOperator() {
  if (mColourOperator == nullptr) return;
  const strokeinfo_t* stroke = GetStrokeInfo();
  const bool forStroke = stroke != nullptr && stroke->strokeCanBeProcessed(strokeinfo_t::kIllustratorStroke);
  if (forStroke) {
    mOut << (mColourOperator[0] == 'x' ? "X" : "K");
  } else {
    mOut << mColourOperator;
  }
  mOut << "\n";
}

int illoutjob::WritePaintColor(std::uint16_t paint, int pass) {
  if (pass == 0) ReportTransparency(paint);
  mColourOperator = nullptr;
  const int next = genproof::WritePaintColor(paint, pass);
  if (next >= 0) WriteColourOperator();
  return next;
}

void illoutjob::WriteStrokeOperator(bool) {}

void illoutjob::OutputPath(const Object* path, int scanMode, int mode, double* progressCount,
                           double progressTotal) {
  genproof::OutputPath(path, scanMode, mode, progressCount, progressTotal);
  // A stroke is painted with the path that it strokes.
  if ((mode & kModeStroke) != 0 && path != nullptr && TavDB::pointcount(path) > 0) {
    mOut << (path->isOpenPath() ? "S\n" : "s\n");
  }
}

void illoutjob::OutputCompoundPath(Object* compound, int mode) {
  std::vector<const Object*> subPaths;
  TavDB::queryseq seq;
  for (Object* sub = seq.quebeg(compound); sub != nullptr; sub = seq.next()) subPaths.push_back(sub);
  const std::vector<int> directions = SubPathDirections(subPaths);
  const bool bracket = subPaths.size() > 1;
  if (bracket) BeginCompoundPath(compound, 2);
  for (std::size_t i = 0; i < subPaths.size(); ++i) {
    OutputPath(subPaths[i], directions[i], mode, &mProgressCount, mProgressTotal);
  }
  if (bracket) EndCompoundPath(mode);
}

void illoutjob::BeginCompoundPath(Object*, int) { mOut << "*u\n"; }
void illoutjob::EndCompoundPath(int) { mOut << "*U\n"; }
void illoutjob::BeginGroup() { mOut << "u\n"; }
void illoutjob::EndGroup() { mOut << "U\n"; }

int illoutjob::BeginLayer(TavDB::Layer* layer) {
  const std::uint32_t flags = layer->flags();
  const int visible = (flags & TavDB::kObjHidden) == 0 ? 1 : 0;
  const int editable = (flags & TavDB::kObjLocked) == 0 ? 1 : 0;
  const int printed = (flags & TavDB::kObjNonPrinting) == 0 ? 1 : 0;
  mOut << "%AI5_BeginLayer\n";
  mOut << visible << 1 << editable << printed << 0 << 0 << "0 255 79 79 Lb\n";
  mOut << "(" << escapePostScriptString(layer->getName()) << ") Ln\n";
  return 0;
}

void illoutjob::EndLayer() { mOut << "LB\n" << "%AI5_EndLayer--\n"; }

// ---- messages -----------------------------------------------------------------------------

void illoutjob::ReportLeftOut(const std::string& what) {
  if (std::find(mLeftOut.begin(), mLeftOut.end(), what) != mLeftOut.end()) return;
  mLeftOut.push_back(what);
  TavGen::message(TavGen::kWarning, 1, "ILLUSTRATOR/OBJECTS LEFT OUT", {{"__WHAT__", what}});
}

void illoutjob::ReportTransparency(std::uint16_t paint) {
  // Illustrator 5 and 7 paint everything opaque.
  if (paintHasTransparency(mJob, paint)) ReportLeftOut("the transparency of objects (they are drawn opaque)");
}

void illoutjob::ReportIncomplete(const std::string& reason) {
  if (!reason.empty()) TavGen::ShowInfoMessage(TavGen::kError, 1, reason);
  TavGen::message(TavGen::kError, 1, "ILLUSTRATOR FILE NOT COMPLETELY WRITTEN");
  mIncomplete = true;
}

// ---- pictures and maps -------------------------------------------------------------------

proofimghan* illoutjob::outpixbegin(const TavSys::filref*, const paityp*,
                                    const TavDB::tv_matrixtyp<double>& matrix, int, int, int, int,
                                    double rows, double samplesPerRow, int channels, int, const std::int32_t*,
                                    bool, ColorSpace*) {
  // Gray, RGB and CMYK samples of 8 bits; an image without extent or with a
  // placement that has no area cannot be drawn.
  const double det = matrix.a * matrix.d - matrix.b * matrix.c;
  const bool placed = std::isfinite(det) && det != 0 && std::isfinite(matrix.e) && std::isfinite(matrix.f);
  if ((channels != 1 && channels != 3 && channels != 4) || !(rows >= 1) || !(samplesPerRow >= 1) ||
      rows > 1e9 || samplesPerRow > 1e9 || !placed) {
    TavSys::debug("illoutjob::outpixbegin: an image that cannot be written is left out");
    return nullptr;
  }
  delete mImage;
  mImage = nullptr;
  mOut << "%AI5_File:\n" << "%AI5_BeginRaster\n";
  mOut << "[" << matrix.a << matrix.b << matrix.c << matrix.d << matrix.e << matrix.f << "] ";
  mOut << "0 0 " << samplesPerRow << rows << samplesPerRow << rows << 8.0 << channels << "0 0 0 0 XI\n";
  // CMYK samples are ink (0 none); gray and RGB samples are light (255 none).
  const std::uint8_t blank = channels == 4 ? 0 : 255;
  mImage = new IlluProofImageHandler(mOut, std::int64_t(rows), std::size_t(samplesPerRow) * std::size_t(channels),
                                     blank);
  return mImage;
}

int illoutjob::outpixrow(proofimghan* handler, const std::uint8_t* row, int samplesPerRow, int channels) {
  return handler != nullptr ? handler->WriteRows(row, samplesPerRow, channels) : 0;
}

void illoutjob::outpixend(proofimghan* handler) {
  if (handler == nullptr || handler != mImage) return;
  mImage->Complete();
  mOut << "%AI5_EndRaster\n" << mOps.noPaint;
  delete mImage;
  mImage = nullptr;
}

int illoutjob::OutputPlacedPixels(Object* object) {
  if (!IsVersion7()) {
    ReportLeftOut("raster pictures (an Illustrator 5.0 file holds none)");
    return 0;
  }
  int status = 0;
  try {
    status = genproof::OutputPlacedPixels(object);
  } catch (const TavSys::Error& e) {
    // A picture file that is gone or cannot be read: the file is not written.
    if (mImage != nullptr) EndImage(mImage);
    if (!e.detail().empty()) TavSys::debug(e.detail());
    TavGen::message(TavGen::kBatchError, 1, e.key(), e.placeholders());
    ReportIncomplete({});
    return 3;
  }
  if (status == 2 || status == 4) ReportIncomplete({});
  return status;
}

int illoutjob::OutputPlacedJob(Object*) {
  ReportLeftOut("one-ups (placed job files)");
  return 0;
}

int illoutjob::OutputPlacedPDF(Object*) {
  ReportLeftOut("placed PDF pages");
  return 1;
}

int illoutjob::OutputPlacedEPS(Object* object) {
  const Paint* paint = object != nullptr ? paipoi(mJob, object->paint()) : nullptr;
  if (paint == nullptr || paint->type != kPaintPicture) return 0;
  const TavSys::filref* file = picfilref(mJob, paint->picture);
  const std::string path = file != nullptr ? file->getFullPathAsUtf8() : std::string();
  double llx = 0, lly = 0, urx = 0, ury = 0;
  TavDB::tv_matrixtyp<double> m{0, 0, 0, 0, 0, 0};
  try {
    epsboubox(mJob, paint->picture, llx, lly, urx, ury);
    // The matrix maps the file's points, from the lower left corner of its
    // box, onto the placement.
    m = PlacementMatrix(*paint, urx - llx, ury - lly);
  } catch (const TavSys::Error& e) {
    std::error_code ec;
    const bool exists = !path.empty() && std::filesystem::is_regular_file(std::filesystem::u8path(path), ec);
    TavGen::message(TavGen::kBatchError, 1, exists ? e.key() : "PDF/CANNOT OPEN PICTURE FILE",
                    {{"__FILENAME__", file != nullptr ? file->getNameAsUtf8() : std::string()}});
  }
  const double det = m.a * m.d - m.b * m.c;
  if (!std::isfinite(det) || det == 0 || !std::isfinite(m.e) || !std::isfinite(m.f)) {
    // A file that cannot be read, or a box without area, cannot be placed.
    ReportIncomplete({});
    return 0;
  }
  // The placement's origin is the picture's top left corner; the file's
  // lower left corner lies one box height below it.
  const double h = ury - lly;
  mOut << "%AI5_BeginPlace\n";
  mOut << "[" << m.a << m.b << m.c << m.d << m.e - h * m.c << m.f - h * m.d << "] ";
  mOut << llx << lly << urx << ury << "(" << escapePostScriptString(path) << ")`\n";
  mOut << "%%IncludeFile:" << commentText(path) << "\n";
  mOut << "~\n" << "%AI5_EndPlace\n";
  return 0;
}

void illoutjob::OutputMap(Object* object) {
  if (!IsVersion7()) {
    ReportLeftOut("picture maps (an Illustrator 5.0 file holds none)");
    return;
  }
  const Paint* paint = object != nullptr ? paipoi(mJob, object->paint()) : nullptr;
  const PictureMap* map = paint != nullptr && paint->type == kPaintMap ? mappoi(mJob, paint->map) : nullptr;
  if (map == nullptr) return;
  const TavDB::tv_matrixtyp<double> m = PlacementMatrix(*paint, map->width, map->height);
  const double det = m.a * m.d - m.b * m.c;
  if (!std::isfinite(det) || det == 0) return;
  if (map->opacityFile >= 0) ReportLeftOut("the transparency of picture maps");
  try {
    if (RunMapCopy(this, mJob, paint->map, -1, *paint, object, nullptr, 0, 0, 0, 0, 0, 0, 0) == -2) {
      SetCancelled();
    }
  } catch (const TavSys::Error& e) {
    // A map file that cannot be read: the tile being written is closed, and
    // the file is not written.
    if (mImage != nullptr) {
      EndImage(mImage);
      RestoreGraphicsState();
    }
    if (!e.detail().empty()) TavSys::debug(e.detail());
    if (e.code() >= TavSys::kFileErrorBase || e.key().empty()) {
      ReportIncomplete(e.code() >= TavSys::kFileErrorBase ? TavSys::GetFileErrorMessage(e.code()) : e.text());
    } else {
      TavGen::message(TavGen::kBatchError, 1, e.key(), e.placeholders());
      ReportIncomplete({});
    }
  }
}

bool illoutjob::IsClippedFill(Object* object) {
  if (genproof::IsClippedFill(object)) return true;
  if (!IsVersion7() || GetStrokeInfo() != nullptr) return false;
  const Paint* paint = paipoi(mJob, object->paint());
  // A gradient that is no Illustrator gradient of the set-up (a gradation
  // of another form, a gradient a pattern's tile moved) is drawn as an image.
  return paint != nullptr &&
         (paint->type == kPaintGradation || paint->type == kPaintLinear || paint->type == kPaintRadial) &&
         !HasGradientDefinition(object->paint());
}

void illoutjob::OutputFillContent(Object* object) {
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint != nullptr && (paint->type == kPaintLinear || paint->type == kPaintRadial)) {
    OutputGradationImage(object);
    return;
  }
  genproof::OutputFillContent(object);
}

}  // namespace TavIllu
