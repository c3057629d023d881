#pragma once
// The second pass over a written file: placed PDF pages, written as reference
// XObjects while the pages were written (a Form XObject whose Ref names the
// file and the page), are replaced by Form XObjects made from the pages
// themselves. Each page is converted once however often it is placed.
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/pdflib.h"

namespace TavPDF {

class PDFProof;

// Where the resolver's complaints go: information, warnings and errors.
class OPIErrorReporter {
 public:
  virtual ~OPIErrorReporter() = default;
  virtual void ReportInfo(const std::string& message) = 0;
  virtual void ReportWarning(const std::string& message) = 0;
  virtual void ReportError(const std::string& message) = 0;
};

// Counts the errors. Each one is also shown (severity 3) naming the placed
// file it concerns, so that the user learns which file stopped the export.
class NilErrorReporter : public OPIErrorReporter {
 public:
  void ReportInfo(const std::string&) override {}
  void ReportWarning(const std::string&) override {}
  void ReportError(const std::string& message) override;
  int GetErrorCount() const { return mErrors; }
  // The file the next errors concern (its name is shown with them).
  void SetCurrentFile(std::string name) { mFile = std::move(name); }

 private:
  int mErrors = 0;
  std::string mFile;
  std::set<std::string> mShown;  // files whose first complaint was shown
};

// The library's error reporter during the pass: hands every complaint to the
// sink as an error and notes that the resolver met one.
class OpiResolverErrorReporter : public GOErrorReporter {
 public:
  explicit OpiResolverErrorReporter(OPIErrorReporter* sink);
  void Report(const std::string& message) override;
  static bool ResolverReportedError();

 private:
  OPIErrorReporter* mSink;  // not owned
};

// Several input streams read as one, in order.
class MultipleInStream : public GInStream {
 public:
  explicit MultipleInStream(std::vector<std::unique_ptr<GInStream>> parts) : mParts(std::move(parts)) {}
  long Read(unsigned char* buffer, long n) override;
  std::unique_ptr<GInStream> Clone() const override;
  void Reset() override;

 private:
  std::vector<std::unique_ptr<GInStream>> mParts;
  std::size_t mCurrent = 0;
};

// Finds PDF 1.4 transparency in what a page reaches: blend modes other than
// Normal and Compatible, soft masks, constant alpha other than 1, images with
// soft masks, transparency groups.
class PDF13CompabilityCheckVisitor : public GOVDefault {
 public:
  void VisitExtGState(GADict& state) override;
  void VisitGroup(GADict& group) override;
  void VisitImage(GADict& image) override;
  bool FoundTransparency() const { return mTransparency; }

 private:
  bool mTransparency = false;
};

// One converted reference: the holder's put, made after the walk. The same
// list is the cache of converted pages.
struct PendingPut {
  std::string path;     // the placed file as the reference names it
  std::string name;     // the resource name
  GADict dictionary;    // the XObject dictionary that holds it
  GAStream stream;      // the new Form XObject
  int page = 0;
};

// Walks the written file's XObjects, converting every reference XObject.
class RefFinderVisitor : public GOVDefault {
 public:
  // `folder`: where the placed files that references name relatively lie.
  RefFinderVisitor(GADoc& output, std::filesystem::path folder, NilErrorReporter& errors, bool pdf13Check,
                   bool overlap, bool isolateOneUp);
  void VisitXObject(GADict& xobjects, const std::string& name, GAObject& xobject) override;

  bool TransparencyFound() const { return mTransparencyFound; }
  bool Pdf13Check() const { return mPdf13Check; }
  bool Overlap() const { return mOverlap; }
  bool IsolateOneUp() const { return mIsolateOneUp; }
  void SetTransparencyFound() { mTransparencyFound = true; }
  std::vector<PendingPut>& GetPendingPuts() { return mPuts; }
  GADoc& GetOutput() { return mOutput; }
  NilErrorReporter& GetErrors() { return mErrors; }
  // The placed document of a path, opened once; throws TavSys::Error.
  GADoc& OpenPlaced(const std::string& path);

 private:
  GADoc& mOutput;
  std::filesystem::path mFolder;
  NilErrorReporter& mErrors;
  bool mPdf13Check;
  bool mTransparencyFound = false;
  bool mOverlap;
  bool mIsolateOneUp;
  std::vector<PendingPut> mPuts;
  std::map<std::string, std::unique_ptr<GADoc>> mPlaced;
  std::set<std::string> mFailed;  // placed files that could not be read
  std::set<QPDFObjGen> mRefused;  // references already found unusable
};

// Replaces the reference XObjects of the written file by their pages and
// saves it in place (through a new file beside it) when something changed.
// 0 done (also when there was nothing to do); -2 with pdf13Check when a
// placed page uses PDF 1.4 transparency (the file left as written); -1 when
// a placed page could not be embedded (each problem shown with its file; the
// file left as written).
int resolvePlacedPdfReferences(const TavSys::FileSpec& file, bool pdf13Check, bool overlap, bool isolateOneUp);
// The same over a file that `save` puts in place of the written one.
int resolvePlacedPdfReferences(const PassFile& file, bool pdf13Check, bool overlap, bool isolateOneUp);

// Converts one reference XObject; false with no result when the stream is not
// a reference or its page cannot be converted (then reported).
bool convertReferenceXObject(RefFinderVisitor& visitor, const GAObject& reference, GAStream& result);

// Removes the private VornPNName key from every XObject of the resources,
// and from the XObjects of their own resources.
void stripPrivateNameKeys(GADict resources);

// The page's content without what lies in optional content that the file's
// default configuration hides (marked-content sections and forms drawn under
// a hidden group or membership dictionary).
std::string RemoveHiddenOCMDLayers(GADoc& doc, const GADict& page, const std::string& content);

// Whether the transfer curves a placed PDF carries for the job's inks equal
// the export's dot-gain tables (true when there is nothing to compare).
bool PlacedPdfDotgainMatches(PDFProof& writer, const TavSys::filref& file);

}  // namespace TavPDF
