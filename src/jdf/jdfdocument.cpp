#include "jdf/jdfdocument.h"

#include <algorithm>
#include <cstdio>

#include "driver/writepdf.h"
#include "jdf/jdfoutput.h"
#include "jdf/jdfplaced.h"
#include "pdfwriter/layout.h"
#include "platform/files.h"
#include "platform/genoutfil.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"

namespace {

// Identifiers are unique over the life of the process, so that tickets
// written one after the other never share one.
unsigned long long gNextLink = 0;

std::unique_ptr<JDFElement> element(const char* name) { return std::make_unique<JDFElement>(name); }

const char* colorType(const jobstr* job, int sep) {
  if (separationIsOpaque(job, sep)) return "Opaque";
  if (separationIsTechnical(job, sep)) return "DieLine";
  if (separationIsVarnish(job, sep)) return "Transparent";
  return "Normal";
}

std::string timeStamp() {
  const TavSys::DateTime now = TavSys::DateTime::Now();
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02d-%02dT%02d:%02d:%02d+00:00", now.year(), now.month(), now.day(),
                now.hour(), now.minute(), now.second());
  return text;
}

std::string fileName(const jobstr* job, int picture) {
  const TavSys::filref* file = picfilref(job, picture);
  return file ? file->toFileSpec().GetFileNameUTF8() : std::to_string(picture);
}

}  // namespace

std::string JDFLinkID(Xml::Element& element) {
  const std::string& id = element.getAttributeValue("ID");
  if (id.size() > 4 && id.starts_with("Link") &&
      id.find_first_not_of("0123456789", 4) == std::string::npos)
    return id;
  std::string fresh = "Link" + std::to_string(gNextLink++);
  element.setAttribute("ID", fresh);
  return fresh;
}

std::string JDFMatrixText(const TavDB::tv_matrixtyp<double>& m) {
  std::string text;
  const double values[] = {m.a, m.b, m.c, m.d, m.e, m.f};
  for (double v : values) {
    if (!text.empty()) text += ' ';
    TavNumber::appendFixed(text, v, 6);
  }
  return text;
}

std::string JDFBoxText(const jobstr* job, const TavSys::tv_rectangle& rect) {
  const TavDB::tv_point origin = getOriginalOrigin(job);
  const double toPoints = 72.0 / TavDB::getppi(job);
  const double values[] = {(rect.left - origin.h) * toPoints, (origin.v - rect.bottom) * toPoints,
                           (rect.right - origin.h) * toPoints, (origin.v - rect.top) * toPoints};
  std::string text;
  for (double v : values) {
    if (!text.empty()) text += ' ';
    TavNumber::appendFixed(text, v, 6);
  }
  return text;
}

void XmlOutputStream::write(const void* data, std::size_t size) { mSink.PutBytes(data, size); }

// ---- JDFSheet ------------------------------------------------------------------

JDFSheet::JDFSheet(JDFDocument& document, const std::string& name, const TavDB::tv_matrixtyp<double>& layout,
                   const TavSys::tv_rectangle& box)
    : JDFElement("Sheet"), mDocument(document), mLayout(layout), mBox(box) {
  setAttribute("Name", name);
  setAttribute("Class", "Parameter");
  mSurface = addChild(element("Surface"));
  mSurface->setAttribute("Side", "Front");
  mSurface->setAttribute("SurfaceContentsBox", document.layoutBox(box, layout));
}

JDFSheet::~JDFSheet() = default;

// ---- JDFDocument ------------------------------------------------------------

JDFDocument::JDFDocument(jobstr* job, PDFSettings& settings, bool refreshSeparationMap, bool copyPDF,
                         bool collectMarks, PDFFileNameHandler* handler)
    : mJob(job), mSettings(settings), mRefreshSeparationMap(refreshSeparationMap), mCopyPDF(copyPDF),
      mCollectMarks(collectMarks), mHandler(handler) {
  JDFPlacedObject::ResetCounters();
  Xml::Element* root = setRoot(element("JDF"));
  JDFLinkID(*root);
  root->setAttribute("Type", "Imposition");
  root->setAttribute("JobID", job->description);
  root->setAttribute("Status", "Waiting");
  root->setAttribute("Version", "1.3");
  root->setAttribute("xmlns", kJDFNamespace);

  Xml::Element* created = root->addChild(element("AuditPool"))->addChild(element("Created"));
  created->setAttribute("Author", TavSys::Uni16CharToUTF8(TavSys::GetApplicationName()));
  created->setAttribute("TimeStamp", timeStamp());

  if (!job->customerInfo.empty()) {
    Xml::Element* info = root->addChild(element("CustomerInfo"));
    for (const auto& [name, value] : job->customerInfo) info->setAttribute(name, value);
  }
  writeJDFColorPool();
}

JDFElement* JDFDocument::findOrAdd(Xml::Element& parent, const char* name) {
  if (auto* found = dynamic_cast<JDFElement*>(parent.getElement(name))) return found;
  return parent.addChild(element(name));
}

void JDFDocument::writeJDFColorPool() {
  JDFElement* pool = findOrAdd(*getRoot(), "ResourcePool");
  auto control = element("ColorantControl");
  JDFLinkID(*control);
  control->setAttribute("Class", "Parameter");
  control->setAttribute("Status", "Available");
  Xml::Element* params = control->addChild(element("ColorantParams"));
  Xml::Element* order = control->addChild(element("ColorantOrder"));
  Xml::Element* poolRef = control->addChild(element("ColorPoolRef"));

  auto colorPool = element("ColorPool");
  poolRef->setAttribute("rRef", JDFLinkID(*colorPool));
  colorPool->setAttribute("Class", "Parameter");
  colorPool->setAttribute("Status", "Available");
  pool->addChild(std::move(control));
  mColorPool = pool->addChild(std::move(colorPool));

  for (int sep = 0; sep < kMaxSeparations; ++sep) {
    if ((sepisused(mJob, sep) & kSepUsed) == 0) continue;
    const std::string& name = GetSeparationName(mJob, sep);
    Xml::Element* color = mColorPool->addChild(element("Color"));
    color->setAttribute("Name", name);
    color->setAttribute("ColorType", colorType(mJob, sep));
    std::uint8_t cmyk[4];
    sepcmyk(mJob, sep, cmyk[0], cmyk[1], cmyk[2], cmyk[3]);
    std::string values;
    for (std::uint8_t v : cmyk) {
      if (!values.empty()) values += ' ';
      TavNumber::appendFixed(values, v / 100.0, 2);
    }
    color->setAttribute("CMYK", values);
    params->addChild(element("SeparationSpec"))->setAttribute("Name", name);
    order->addChild(element("SeparationSpec"))->setAttribute("Name", name);
  }
}

JDFSheet* JDFDocument::writeJDFLayout(const TavSys::tv_rectangle& box, const std::string& baseName,
                                      const TavDB::tv_matrixtyp<double>& layout) {
  Xml::Element* root = getRoot();
  JDFElement* pool = findOrAdd(*root, "ResourcePool");
  JDFElement* layoutElement = findOrAdd(*pool, "Layout");
  const std::string layoutId = JDFLinkID(*layoutElement);
  layoutElement->setAttribute("Class", "Parameter");
  layoutElement->setAttribute("Locked", "false");
  layoutElement->setAttribute("Status", "Available");
  layoutElement->setAttribute("Automated", "false");

  Xml::Element* link = findOrAdd(*root, "ResourceLinkPool")->addChild(element("LayoutLink"));
  link->setAttribute("rRef", layoutId);
  link->setAttribute("Usage", "Input");

  JDFElement* signature = findOrAdd(*layoutElement, "Signature");
  signature->setAttribute("Name", "Imposition");
  return signature->addChild(std::make_unique<JDFSheet>(*this, baseName, layout, box));
}

std::string JDFDocument::layoutBox(const TavSys::tv_rectangle& rect,
                                   const TavDB::tv_matrixtyp<double>& layout) const {
  // The corners in points from the job's origin through the whole layout
  // matrix, its move included.
  const TavDB::tv_point origin = getOriginalOrigin(mJob);
  const double toPoints = 72.0 / TavDB::getppi(mJob);
  double lo[2] = {0, 0}, hi[2] = {0, 0};
  bool first = true;
  for (const double v : {rect.top, rect.bottom}) {
    for (const double h : {rect.left, rect.right}) {
      double x = 0, y = 0;
      layout.Transform((h - origin.h) * toPoints, (origin.v - v) * toPoints, x, y);
      lo[0] = first ? x : std::min(lo[0], x);
      lo[1] = first ? y : std::min(lo[1], y);
      hi[0] = first ? x : std::max(hi[0], x);
      hi[1] = first ? y : std::max(hi[1], y);
      first = false;
    }
  }
  std::string text;
  for (double v : {lo[0], lo[1], hi[0], hi[1]}) {
    if (!text.empty()) text += ' ';
    TavNumber::appendFixed(text, v, 6);
  }
  return text;
}

std::unique_ptr<JDFElement> JDFDocument::runListEntry(int run, const std::string& url, int pages) const {
  auto entry = element("RunList");
  entry->setAttribute("Run", run);
  entry->setAttribute("Pages", pages);
  Xml::Element* layoutElement = entry->addChild(element("LayoutElement"));
  layoutElement->addChild(element("FileSpec"))->setAttribute("URL", url);
  layoutElement->addChild(element("ColorPoolRef"))->setAttribute("rRef", JDFLinkID(*mColorPool));
  return entry;
}

int JDFDocument::writeJDFRunLists(JDFOutput& output) {
  Xml::Element* root = getRoot();
  JDFElement* pool = findOrAdd(*root, "ResourcePool");
  JDFElement* links = findOrAdd(*root, "ResourceLinkPool");
  auto runList = [&](const char* status, bool input, const char* usage) {
    Xml::Element* list = pool->addChild(element("RunList"));
    const std::string id = JDFLinkID(*list);
    list->setAttribute("Class", "Parameter");
    if (input) list->setAttribute("Locked", "false");
    list->setAttribute("Status", status);
    if (input) list->setAttribute("PartIDKeys", "Run");
    Xml::Element* link = links->addChild(element("RunListLink"));
    link->setAttribute("rRef", id);
    link->setAttribute("Usage", input ? "Input" : "Output");
    if (usage) link->setAttribute("ProcessUsage", usage);
    return list;
  };
  Xml::Element* documentList = runList("Available", true, "Document");
  Xml::Element* marksList = runList("Available", true, "Marks");
  runList("Unavailable", false, nullptr);

  std::vector<JDFSheet*> sheets;
  if (Xml::Element* layout = pool->getElement("Layout")) {
    if (Xml::Element* signature = layout->getElement("Signature")) {
      for (std::size_t i = 0; i < signature->getChildCount(); ++i)
        if (auto* sheet = dynamic_cast<JDFSheet*>(signature->getElement(i))) sheets.push_back(sheet);
    }
  }

  int failures = 0;
  TavSys::Progress sheetProgress(static_cast<double>(sheets.size()), "JDF");
  for (JDFSheet* sheet : sheets) {
    flushMarkGroups(*sheet, nullptr);
    TavSys::Progress progress(static_cast<double>(sheet->placedObjects.size()), "JDF");
    // The marks first, then the pictures.
    for (const bool marksPass : {true, false}) {
      for (const auto& placed : sheet->placedObjects) {
        if ((placed->typeTag() == JDFTag("mark")) != marksPass) continue;
        std::unique_ptr<JDFElement> entry = placed->write(output);
        if (TavSys::Progress::isCanceled()) return -1;
        progress.step();
        if (entry) {
          (marksPass ? marksList : documentList)->addChild(std::move(entry));
          continue;
        }
        ++failures;
        // A file error is told with the system's reason; any other failure
        // was told by the export that wrote the file.
        const int error = output.lastError();
        const std::string reason = error > TavSys::kFileErrorBase ? TavSys::GetFileErrorMessage(error)
                                                                   : "see the message before this one";
        if (marksPass) {
          TavGen::message(TavGen::kError, 1, "JDF/COULD NOT WRITE MARKS",
                          {{"__FILE__", output.baseName() + "_marks" + std::to_string(placed->sequence()) + ".pdf"},
                           {"__REASON__", reason}});
        } else {
          const auto& picture = static_cast<const JDFPicture&>(*placed);
          TavGen::message(TavGen::kError, 1, "JDF/COULD NOT WRITE PICTURE",
                          {{"__FILE__", fileName(mJob, picture.picture())}, {"__REASON__", reason}});
        }
      }
    }
    sheet->placedObjects.clear();
    sheetProgress.step();
  }
  return failures;
}

int JDFDocument::writeObjectPDF(genoutfil& sink, bool marks, jobstr* job, TavDB::Object* group) {
  JDFPlacedObject::ResetCounters();
  if (marks) return TavPDF::OutputMarksPDFToSink(job, mSettings, mRefreshSeparationMap, mHandler, sink, group);
  return TavPDF::OutputPicturePDFToSink(job, mSettings, mRefreshSeparationMap, mHandler, sink, 0, kNoScreen);
}
