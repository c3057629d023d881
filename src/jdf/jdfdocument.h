#pragma once
// The JDF ticket: an imposition of one sheet in the JDF 1.3 vocabulary,
// built in memory while the export runs and written last. The document's
// elements are made in a fixed order (root, audit pool, customer
// information, colour pool, layout, run lists), and every element that is
// referred to gets an identifier "Link<n>" from a counter that only grows
// over the life of the process.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/geometry.h"
#include "platform/xmlobject.h"

struct jobstr;
class PDFSettings;
class PDFFileNameHandler;
class genoutfil;
class JDFOutput;
class JDFMarks;
class JDFPlacedObject;
class JDFDocument;

namespace TavDB {
class Object;
}

inline constexpr const char* kJDFNamespace = "http://www.CIP4.org/JDFSchema_1_1";

// Every element the ticket makes.
class JDFElement : public Xml::Element {
 public:
  using Xml::Element::Element;
};

// The "Sheet" element with its "Surface", and what the export keeps per
// sheet while it collects and writes the placed objects.
class JDFSheet : public JDFElement {
 public:
  JDFSheet(JDFDocument& document, const std::string& name, const TavDB::tv_matrixtyp<double>& layout,
           const TavSys::tv_rectangle& box);
  ~JDFSheet() override;

  JDFDocument& document() const { return mDocument; }
  JDFElement* surface() const { return mSurface; }
  const TavDB::tv_matrixtyp<double>& layout() const { return mLayout; }
  const TavSys::tv_rectangle& box() const { return mBox; }

  // Marks groups still open, in the order they were made.
  std::vector<std::unique_ptr<JDFMarks>> openGroups;
  // Closed marks groups and pictures, in the order they were placed.
  std::vector<std::unique_ptr<JDFPlacedObject>> placedObjects;
  // Marks groups closed so far: the number of the next one.
  int closedGroups = 0;

 private:
  JDFDocument& mDocument;
  JDFElement* mSurface;  // owned by this element
  TavDB::tv_matrixtyp<double> mLayout;
  TavSys::tv_rectangle mBox;
};

class JDFDocument : public Xml::Document {
 public:
  // Makes the root, the audit pool, the customer information and the colour
  // pool; resets the picture and marks counters.
  JDFDocument(jobstr* job, PDFSettings& settings, bool refreshSeparationMap, bool copyPDF,
              bool collectMarks, PDFFileNameHandler* handler);

  jobstr* job() const { return mJob; }
  const PDFSettings& settings() const { return mSettings; }
  bool copyPDF() const { return mCopyPDF; }
  bool collectMarks() const { return mCollectMarks; }

  // The layout (one signature, one sheet with its front surface) for the
  // job's media box and the layout matrix; returns the sheet.
  JDFSheet* writeJDFLayout(const TavSys::tv_rectangle& box, const std::string& baseName,
                           const TavDB::tv_matrixtyp<double>& layout);
  // The document, marks and output run lists, then per sheet the marks files
  // and the picture files with their run-list entries. Returns the number of
  // placed objects whose files could not be written (each said so with a
  // message); stops early, returning -1, when the export is cancelled.
  int writeJDFRunLists(JDFOutput& output);

  // A run-list entry naming a file: "RunList" > "LayoutElement" > "FileSpec".
  std::unique_ptr<JDFElement> runListEntry(int run, const std::string& url, int pages) const;
  // A job rectangle through the layout matrix, as a box in points.
  std::string layoutBox(const TavSys::tv_rectangle& rect, const TavDB::tv_matrixtyp<double>& layout) const;

  // Writes the PDF of a marks group (the group's copies, on the group's box)
  // or of a placed artwork's job into the sink. 0 or the export's result.
  int writeObjectPDF(genoutfil& sink, bool marks, jobstr* job, TavDB::Object* group);

 private:
  void writeJDFColorPool();
  JDFElement* findOrAdd(Xml::Element& parent, const char* name);

  jobstr* mJob;  // the host's; not owned
  PDFSettings& mSettings;
  bool mRefreshSeparationMap;
  bool mCopyPDF;
  bool mCollectMarks;
  PDFFileNameHandler* mHandler;  // may be null; not owned
  JDFElement* mColorPool = nullptr;  // owned by the tree
};

// Hands the XML library's output to a byte stream (the ticket's file).
class XmlOutputStream final : public Xml::OutStream {
 public:
  explicit XmlOutputStream(genoutfil& sink) : mSink(sink) {}
  void write(const void* data, std::size_t size) override;
  void flush() override {}
  int status() const override { return 0; }  // the file keeps its own errors

 private:
  genoutfil& mSink;
};

// The element's identifier "Link<n>": the one it has, else a new one.
std::string JDFLinkID(Xml::Element& element);
// A matrix as "%f %f %f %f %f %f" (a, b, c, d, e, f).
std::string JDFMatrixText(const TavDB::tv_matrixtyp<double>& m);
// A rectangle of the job (top, left, bottom, right in job units) as the box
// "llx lly urx ury" in points from the job's origin.
std::string JDFBoxText(const jobstr* job, const TavSys::tv_rectangle& rect);
