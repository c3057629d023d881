#include "jdf/jdfplaced.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>

#include "jdf/jdfoutput.h"
#include "platform/fonts/textcalc.h"
#include "platform/genoutfil.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

int JDFPlacedObject::pictureCounter = 0;
int JDFPlacedObject::marksCounter = 0;

namespace {

constexpr std::uint32_t kShapeKinds = TavDB::kObjCompound | TavDB::kObjText | TavDB::kObjPath;
constexpr std::uint32_t kTextCarriers = TavDB::kObjTextCarrier | TavDB::kObjTextCarrier2;

// Smallest box holding both, a box without area (a straight line) included.
TavDB::tv_box unite(const TavDB::tv_box& a, const TavDB::tv_box& b) {
  return {std::min(a.top, b.top), std::min(a.left, b.left), std::max(a.bottom, b.bottom),
          std::max(a.right, b.right)};
}

bool overlaps(const TavDB::tv_box& o, const TavDB::tv_box& g, std::int64_t grow) {
  return o.left - grow <= g.right && o.right + grow >= g.left && o.top - grow <= g.bottom &&
         o.bottom + grow >= g.top;
}

// How far a stroke reaches beyond the outline: half its width, more at
// mitred corners and square caps.
double strokeReach(const TavDB::Object* object) {
  double reach = 0;
  if (const TavDB::Stroke* s = object->stroke(); s && s->width > 0) {
    const double corner = s->join == TavDB::Stroke::kMiterJoin ? std::max(1.0, s->miterLimit) : std::sqrt(2.0);
    reach = s->width / 2 * corner;
  }
  for (const auto& member : object->members()) reach = std::max(reach, strokeReach(member.get()));
  return reach;
}

std::int32_t clamp32(double v) {
  return static_cast<std::int32_t>(std::clamp(v, double(INT32_MIN), double(INT32_MAX)));
}

// Copies a placed file into the sink in blocks of 4096 bytes; 0 or a file error.
int copyPlacedFile(const std::filesystem::path& file, genoutfil& sink) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return TavSys::kFileErrorBase + errno;
  char block[4096];
  int result = 0;
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = TavSys::kFileErrorBase + errno;
    if (n <= 0) break;
    sink.PutBytes(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return result;
}

bool walkPlacedObjects(JDFSheet& sheet, jobstr* job, const TavDB::Object* list, bool nonPrintingLayers) {
  for (const auto& member : list->members()) {
    TavDB::Object* object = member.get();
    const std::uint32_t flags = object->flags();
    if ((flags & TavDB::kObjExcluded) != 0) continue;
    // Non-printing layers are left out as a plain export leaves them out:
    // copied into a file of marks they would print.
    if ((flags & TavDB::kObjLayer) != 0 && (flags & TavDB::kObjNonPrinting) != 0 && !nonPrintingLayers) continue;
    if ((flags & kTextCarriers) != 0) {
      // A text carrier is drawn as its texts only.
      TavDB::ListScan scan(object, TavDB::kObjText, TavDB::kObjExcluded);
      for (TavDB::Object* text = scan.next(); text != nullptr; text = scan.next())
        if (!classifyPlacedObject(sheet, job, text)) return false;
      continue;
    }
    if ((flags & kShapeKinds) != 0) {
      if (!classifyPlacedObject(sheet, job, object)) return false;
    } else if (object->isList() && !walkPlacedObjects(sheet, job, object, nonPrintingLayers)) {
      return false;
    }
  }
  return true;
}

std::string pictureFileName(const jobstr* job, int picture) {
  const TavSys::filref* file = picfilref(job, picture);
  return file ? file->toFileSpec().GetFileNameUTF8() : std::to_string(picture);
}

}  // namespace

TavDB::tv_box JDFObjectBox(jobstr* job, const TavDB::Object* object) {
  TavDB::tv_box b = object->bounds();
  if (object->kind() == TavDB::ObjectKind::Text) {
    // A text that sets nothing keeps the place its bounds give it.
    if (const TavDB::tv_box laidOut = texcalbounds(job, object); !laidOut.isEmpty()) b = laidOut;
  }
  const double reach = std::ceil(strokeReach(object));
  return {clamp32(b.top - reach), clamp32(b.left - reach), clamp32(b.bottom + reach), clamp32(b.right + reach)};
}

// ---- placed objects -------------------------------------------------------------

JDFPicture::JDFPicture(JDFDocument& document, int picture, int pdfPage)
    : JDFPlacedObject(document, pictureCounter++), mPicture(picture), mPdfPage(pdfPage) {}

bool JDFPicture::isSame(const JDFPlacedObject& other) const {
  return other.typeTag() == JDFTag("pict") && static_cast<const JDFPicture&>(other).mPicture == mPicture;
}

std::unique_ptr<JDFElement> JDFPicture::write(JDFOutput& output) {
  jobstr* job = mDocument.job();
  const TavSys::filref* file = picfilref(job, mPicture);
  if (file == nullptr) return nullptr;
  const bool pdf = picispdf(job, mPicture);
  // A placed PDF not copied is named where it lies, as long as it lies there.
  if (pdf && !mDocument.copyPDF()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file->toFileSpec().path(), ec)) return nullptr;
    return mDocument.runListEntry(mSequence, file->toFileURL(), mPdfPage);
  }

  genoutfil* stream = nullptr;
  const std::string name = output.baseName() + "_" + std::to_string(mPicture) + ".pdf";
  switch (output.openFile(name, kJDFObjectPDFFile, stream)) {
    case JDFOutput::Opened::Failed: return nullptr;
    case JDFOutput::Opened::AlreadyWritten:
      return mDocument.runListEntry(mSequence, output.currentReference(), pdf ? mPdfPage : 0);
    case JDFOutput::Opened::Stream: break;
  }
  int result = TavSys::kResultAbandoned;
  if (picisart(job, mPicture)) {
    if (jobstr* nested = picGetJob(job, mPicture)) result = mDocument.writeObjectPDF(*stream, false, nested, nullptr);
  } else {
    result = copyPlacedFile(file->toFileSpec().path(), *stream);
  }
  const std::string reference = output.currentReference();
  if (output.closeFile(result == 0) != 0) return nullptr;
  return mDocument.runListEntry(mSequence, reference, pdf ? mPdfPage : 0);
}

JDFMarks::JDFMarks(JDFDocument& document, jobstr* job, TavDB::Object* object)
    : JDFPlacedObject(document, marksCounter++), mJob(job), mObjects{object}, mBox(JDFObjectBox(job, object)),
      mPageBox(mBox), mRegistration(regObjectIsMark(object)), mPaintClass(paiistra(job, object->paint())) {}

std::unique_ptr<JDFElement> JDFMarks::write(JDFOutput& output) {
  genoutfil* stream = nullptr;
  const std::string name = output.baseName() + "_marks" + std::to_string(mSequence) + ".pdf";
  switch (output.openFile(name, kJDFObjectPDFFile, stream)) {
    case JDFOutput::Opened::Failed: return nullptr;
    case JDFOutput::Opened::AlreadyWritten: return mDocument.runListEntry(mSequence, output.currentReference(), 0);
    case JDFOutput::Opened::Stream: break;
  }
  // The file shows copies of the group's objects on the group's page, whose
  // lower left corner is the file's origin (the "MarkObject" moves it there).
  std::unique_ptr<TavDB::Object> group = TavDB::gronew();
  for (const TavDB::Object* object : mObjects) group->addontop(TavDB::objdup(object));
  group->setBounds(mPageBox);
  const TavDB::tv_point sheetOrigin = getOriginalOrigin(mJob);
  setOriginalOrigin(mJob, {mPageBox.bottom, mPageBox.left});
  int result = TavSys::kResultAbandoned;
  try {
    result = mDocument.writeObjectPDF(*stream, true, mJob, group.get());
  } catch (...) {
    setOriginalOrigin(mJob, sheetOrigin);
    throw;
  }
  setOriginalOrigin(mJob, sheetOrigin);
  const std::string reference = output.currentReference();
  if (output.closeFile(result == 0) != 0) return nullptr;
  return mDocument.runListEntry(mSequence, reference, 0);
}

// ---- collection and grouping ----------------------------------------------------

bool collectJDFPlacedObjects(JDFSheet& sheet, jobstr* job) {
  const bool nonPrintingLayers = sheet.document().settings().AddNonPrintingLayers != 0;
  if (!walkPlacedObjects(sheet, job, jobGetSpahan(job), nonPrintingLayers)) return false;
  flushMarkGroups(sheet, nullptr);
  return true;
}

bool classifyPlacedObject(JDFSheet& sheet, jobstr* job, TavDB::Object* object) {
  const Paint* paint = paipoi(job, object->paint());
  if (paint && paint->type == kPaintPicture) {
    const int picture = paint->picture;
    if (picisart(job, picture) || picispdf(job, picture)) {
      TavDB::tv_matrixtyp<double> placement;
      if (!JDFPictureMatrix(job, object->paint(), placement)) {
        TavGen::message(TavGen::kError, 1, "JDF/PLACED PICTURE WITHOUT SIZE",
                        {{"__FILE__", pictureFileName(job, picture)}});
        return false;
      }
      writeContentObject(sheet, job, object);
      return true;
    }
    if (piciseps(job, picture) && !picIsDCS(job, picture)) {
      TavGen::message(TavGen::kError, 1, "JDF/EXPORT JDF DOES NOT SUPPORT PLACED EPS FILES",
                      {{"__FILE__", pictureFileName(job, picture)}});
      return false;
    }
  }
  addMarksObject(sheet, job, object);
  return true;
}

void addMarksObject(JDFSheet& sheet, jobstr* job, TavDB::Object* object) {
  const TavDB::tv_box box = JDFObjectBox(job, object);
  const bool paintClass = paiistra(job, object->paint());
  const std::int64_t margin = TavDB::getppi(job) / 5;
  const bool collect = sheet.document().collectMarks();
  JDFMarks* first = nullptr;
  auto& groups = sheet.openGroups;
  for (std::size_t i = 0; i < groups.size();) {
    JDFMarks& group = *groups[i];
    bool qualifies = collect;
    if (!collect) {
      const bool sameClass = group.job() == job && group.paintClass() == paintClass;
      if (!sameClass && overlaps(box, group.box(), 0)) {
        // What lies below an object of the other class is finished.
        std::unique_ptr<JDFMarks> closed = std::move(groups[i]);
        groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(i));
        closeMarkGroup(sheet, std::move(closed));
        continue;
      }
      qualifies = sameClass && overlaps(box, group.box(), margin);
    }
    if (qualifies && first == nullptr) {
      addToMarkGroup(group, job, object);
      first = &group;
    } else if (qualifies && mergeMarkGroups(*first, group)) {
      groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    ++i;
  }
  if (first == nullptr) groups.push_back(std::make_unique<JDFMarks>(sheet.document(), job, object));
}

void addToMarkGroup(JDFMarks& group, jobstr* job, TavDB::Object* object) {
  group.mBox = unite(group.mBox, JDFObjectBox(job, object));
  group.mObjects.push_back(object);
  group.mRegistration = group.mRegistration && regObjectIsMark(object);
}

bool mergeMarkGroups(JDFMarks& group, JDFMarks& other) {
  if (group.mJob != other.mJob || group.mPaintClass != other.mPaintClass) return false;
  group.mBox = unite(group.mBox, other.mBox);
  group.mObjects.insert(group.mObjects.end(), other.mObjects.begin(), other.mObjects.end());
  group.mRegistration = group.mRegistration && other.mRegistration;
  return true;
}

void flushMarkGroups(JDFSheet& sheet, const TavDB::Object* object) {
  std::vector<std::unique_ptr<JDFMarks>> remaining;
  std::vector<std::unique_ptr<JDFMarks>> closing;
  for (auto& group : sheet.openGroups) {
    if (object != nullptr && group->registration()) {
      remaining.push_back(std::move(group));
    } else {
      closing.push_back(std::move(group));
    }
  }
  sheet.openGroups = std::move(remaining);
  for (auto& group : closing) closeMarkGroup(sheet, std::move(group));
}

void closeMarkGroup(JDFSheet& sheet, std::unique_ptr<JDFMarks> group) {
  const jobstr* job = group->job();
  // The group's page is what of it lies on the sheet: a plain export shows
  // nothing beyond the sheet either, and far-off art would make a page no
  // PDF file can hold. A group wholly off the sheet shows nothing and gets
  // no file.
  const TavSys::tv_rectangle& sheetBox = sheet.box();
  const TavDB::tv_box& objects = group->box();
  const TavDB::tv_box box{std::max(objects.top, clamp32(std::ceil(sheetBox.top))),
                          std::max(objects.left, clamp32(std::ceil(sheetBox.left))),
                          std::min(objects.bottom, clamp32(std::floor(sheetBox.bottom))),
                          std::min(objects.right, clamp32(std::floor(sheetBox.right)))};
  if (box.isEmpty()) return;
  group->setPageBox(box);
  group->setSequence(sheet.closedGroups++);
  const TavDB::tv_point origin = getOriginalOrigin(job);
  const double toPoints = 72.0 / TavDB::getppi(job);
  TavDB::tv_matrixtyp<double> ctm = sheet.layout();
  ctm.Concat({1, 0, 0, 1, (box.left - origin.h) * toPoints, (origin.v - double(box.bottom)) * toPoints});

  Xml::Element* mark = sheet.surface()->addChild(std::make_unique<JDFElement>("MarkObject"));
  mark->setAttribute("CTM", JDFMatrixText(ctm));
  mark->setAttribute("Ord", group->sequence());
  mark->setAttribute("ClipBox", sheet.document().layoutBox({double(box.top), double(box.left), double(box.bottom),
                                                            double(box.right)},
                                                           sheet.layout()));
  sheet.placedObjects.push_back(std::move(group));
}

void writeContentObject(JDFSheet& sheet, jobstr* job, TavDB::Object* object) {
  JDFDocument& document = sheet.document();
  const Paint& paint = *paipoi(job, object->paint());
  auto picture = std::make_unique<JDFPicture>(document, paint.picture, pictureGetPage(job, paint.picture));
  if (document.collectMarks()) flushMarkGroups(sheet, object);
  const JDFPlacedObject* existing = nullptr;
  for (const auto& placed : sheet.placedObjects)
    if (picture->isSame(*placed)) existing = placed.get();

  TavDB::tv_matrixtyp<double> placement;
  JDFPictureMatrix(job, object->paint(), placement);
  placement.Concat(JDFRotationMatrix(picGetRotationType(job, paint.picture),
                                     getPictureBoundingBoxForJDF(job, &paint, paint.picture, 1.0),
                                     JDFPicturePPI(job, paint.picture)));
  TavDB::tv_matrixtyp<double> ctm = sheet.layout();
  ctm.Concat(placement);

  Xml::Element* content = sheet.surface()->addChild(std::make_unique<JDFElement>("ContentObject"));
  content->setAttribute("CTM", JDFMatrixText(ctm));
  content->setAttribute("Ord", existing ? existing->sequence() : picture->sequence());
  // A placement without area has no picture space to clip in.
  TavDB::tv_matrixtyp<double> toPicture;
  if (TavDB::matinv(placement, toPicture)) {
    const std::string clip = JDFClipPathText(job, object, toPicture);
    if (!clip.empty()) content->setAttribute("SourceClipPath", clip);
  }
  if (existing) {
    --JDFPlacedObject::pictureCounter;  // the picture has its object already
  } else {
    sheet.placedObjects.push_back(std::move(picture));
  }
}

// ---- geometry ------------------------------------------------------------------

int JDFPicturePPI(const jobstr* job, int picture) {
  const jobstr* oneUp = picGetJob(job, picture);
  return oneUp != nullptr ? TavDB::getppi(oneUp) : TavDB::getppi(job);
}

bool JDFPictureMatrix(const jobstr* job, int paintIndex, TavDB::tv_matrixtyp<double>& out) {
  const Paint* paint = paipoi(job, paintIndex);
  std::int32_t words[6];
  if (paint == nullptr || !paintPlacementWords(job, paintIndex, words)) return false;
  // A: the corner of the first pixel; B: one step along the picture's height
  // (down its first column); C: one step along its width (its first row).
  const double vA = words[0], hA = words[1];
  const double vC = words[2], hC = words[3];
  const double vB = words[4], hB = words[5];
  const double a = (hC - hA) / 10000, b = (vA - vC) / 10000, c = (hA - hB) / 10000, d = (vB - vA) / 10000;
  std::int32_t height = 0, width = 0;
  picsiz(job, paint->picture, 1.0, height, width);
  const auto k = getPictureBoundingBoxForJDF(job, paint, paint->picture, 1.0);
  const auto defaultBox = picboxdefault(job, paint->picture, 0, 1.0);
  const double dx = defaultBox[2] - k[2], dy = defaultBox[1] - k[1];
  // The lower left corner of the picture: its height down from the first pixel.
  const double h = hA + height * (hB - hA) / 10000 + dy * b + dx * a;
  const double v = vA + height * (vB - vA) / 10000 + dy * d + dx * c;
  const TavDB::tv_point origin = getOriginalOrigin(job);
  const double toPoints = 72.0 / TavDB::getppi(job);
  // The file's space is in points; a point of it covers as many picture
  // units as a point of the job covers job units, except for a one-up at
  // another resolution, whose units are its own.
  const double perPoint = double(JDFPicturePPI(job, paint->picture)) / TavDB::getppi(job);
  out = {a * perPoint, b * perPoint, c * perPoint, d * perPoint, (h - origin.h) * toPoints, (origin.v - v) * toPoints};
  return true;
}

TavDB::tv_matrixtyp<double> JDFRotationMatrix(int rotationType, const std::array<std::int32_t, 4>& box, int ppi) {
  const double toPoints = 72.0 / ppi;
  const double width = (double(box[3]) - box[2]) * toPoints, height = (double(box[1]) - box[0]) * toPoints;
  switch (rotationType) {
    case 1: return {0, 1, -1, 0, width, 0};
    case 2: return {-1, 0, 0, -1, width, height};
    case 3: return {0, -1, 1, 0, 0, height};
    default: return {};
  }
}

std::string JDFClipPathText(const jobstr* job, const TavDB::Object* object,
                            const TavDB::tv_matrixtyp<double>& toPicture) {
  const TavDB::tv_point origin = getOriginalOrigin(job);
  const double toPoints = 72.0 / TavDB::getppi(job);
  std::string text;
  // "x y" of a job point in the picture's space, each "%2.4f".
  auto point = [&](std::int32_t v, std::int32_t h) {
    double x, y;
    toPicture.Transform((h - origin.h) * toPoints, (origin.v - double(v)) * toPoints, x, y);
    TavNumber::appendFixed(text, x, 4, 2);
    text += ' ';
    TavNumber::appendFixed(text, y, 4, 2);
  };
  auto path = [&](const TavDB::Object* p) {
    if (p->points().empty()) return;
    TavDB::scan scan;
    scan.scabeg(p);
    std::int32_t v, h, c1v, c1h, c2v, c2h;
    bool curve;
    for (int i = scan.scanex(v, h, c1v, c1h, c2v, c2h, curve); i >= 0;
         i = scan.scanex(v, h, c1v, c1h, c2v, c2h, curve)) {
      if (i == 0) {
        point(v, h);
        text += " m";
        continue;
      }
      text += ' ';
      if (curve) {
        point(c1v, c1h);
        text += ' ';
        point(c2v, c2h);
        text += ' ';
      }
      point(v, h);
      text += curve ? " c" : " l";
    }
    scan.scaend();
    text += " h ";
  };
  if ((object->flags() & TavDB::kObjCompound) != 0) {
    for (const auto& member : object->members()) path(member.get());
  } else if ((object->flags() & TavDB::kObjPath) != 0) {
    path(object);
  }
  return text;
}
