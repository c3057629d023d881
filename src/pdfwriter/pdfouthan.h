#pragma once
// The PDF output handler: the one object through which an export produces a
// PDF file. It owns the output file (over the caller's kernel file) and the
// cross-reference table, numbers indirect objects, writes them, opens and
// closes the one stream that may be open at a time, and finally writes the
// cross-reference section, the trailer and the end marker.
//
// Road of one file: createPdfOutHandler, writeHeader and the document's
// objects and streams (writeDocument), finishFile, delete the handler, then
// PdfObjectRegistry::deleteAll.
//
// Status: write errors, a failing stream filter, an object made indirect but
// never written and a file too large for the cross-reference format are not
// success. endStream reports the status of the stream it closed; finishFile
// returns the status of the whole file (0 only when it is complete and every
// byte reached the kernel file).
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/files.h"
#include "platform/kernel/geometry.h"
#include "platform/kernelfile.h"

// Types of the host and of other parts of the engine; the handler only keeps
// pointers to them.
struct jobstr;
class PDFSettings;
class XMPlInk;
class seppdftyp;
namespace TavDB {
class Object;
}
namespace TavricLib {
class XMPComposer;
}

namespace TavPDF {

class PdfPending;

// PDF version codes.
enum PdfVersionCode : std::uint32_t { kPdf13 = 19, kPdf14 = 20, kPdf15 = 21 };

// "No screen" for the screen number.
constexpr std::uint32_t kNoScreen = 65534;

// What endStream asks of the page writer whose deferred resources follow the
// stream it closes (the page writer implements it).
class PendingStreamFlusher {
 public:
  virtual ~PendingStreamFlusher() = default;
  virtual void FlushPendingStreams() = 0;
};

// Called whenever a stream is closed, before anything else of endStream: the
// content writers' graphics-state cache forgets what the closed stream had set.
// Process-wide; null (the default) calls nothing.
using StreamEndHook = void (*)();
void SetStreamEndHook(StreamEndHook hook);

// The ink callback handed to the XMP composer in normalized output.
using XMPInkCallback = std::function<int(std::string, jobstr*, XMPlInk&)>;

class pdfouthan {
 public:
  // versionCode: kPdf13, kPdf14 or kPdf15 (other values are taken as kPdf13).
  // The kernel file stays the caller's and stays open.
  pdfouthan(TavSys::fil* file, std::uint32_t versionCode);
  virtual ~pdfouthan();
  pdfouthan(const pdfouthan&) = delete;
  pdfouthan& operator=(const pdfouthan&) = delete;

  // "%PDF-1.x\n" by the version code, then "%" and four bytes above 0x7F with
  // no line end of their own (the line feed opening the first object ends it).
  void writeHeader();

  // Writes everything of the file but the cross-reference section and the
  // trailer's tail: header, information dictionary, document ID, catalog,
  // page tree and pages (one per separation in separated output), page
  // labels, optional content and metadata (pdfwriter/document.cpp). The flag
  // is the one the driver passed to DisableUnoutputSeparations; author may be
  // empty. Returns 0; TavSys::kResultAbandoned when the export was cancelled
  // while a page was written (no further page is written); or the file's
  // failure code. Throws TavSys::Error when a page writer gives up.
  int writeDocument(bool refreshSeparationMap, const std::string& author);

  // A new number for the object; nothing is written. The table is made on
  // first use.
  PDFIndirectReference* makeIndirect(PDFDictionaryValue* object);
  // "\n", records the offset, "n 0 obj\n", the object's Output, "\nendobj".
  // Null is ignored.
  void writeObject(PDFIndirectReference* reference);

  // Opens a stream (a null dictionary makes an empty one): its Length is an
  // indirect integer written right after the stream. Writes the object header,
  // the dictionary and "\r\nstream\r\n", and returns the sink for the data
  // (a filter chosen by the dictionary's "Filter", or the file itself). While
  // a stream is open already, returns null after the developer diagnostic
  // "Nested Streams !": the caller must not write.
  // With encoded set the data handed to the sink are already encoded as the
  // Filter says (copied from a buffer that was encoded when it was made): the
  // sink is the file itself.
  pdfoutfilter* beginStream(PDFDictionary* dictionary, bool encoded = false);
  // Finishes the sink, writes "\r\nendstream\nendobj" and the Length object,
  // lets the page writer (may be null) write its pending streams, and deletes
  // the sink unless it is the file. Returns the stream's reference; null when
  // no stream is open or the sink is null (developer diagnostic). *status (when
  // given) receives 0, or the file's failure code when the stream could not be
  // written completely.
  PDFIndirectReference* endStream(pdfoutfilter* sink, PendingStreamFlusher* writer = nullptr,
                                  int* status = nullptr);

  // The cross-reference section, the trailer (Size, Root, Info, ID) and
  // "\n%%EOF\n", then flushes the kernel file. Returns 0 for a complete file;
  // otherwise a file error code (TavSys::kFileErrorBase + errno) or
  // TavSys::kResultAbandoned (an object never written, a failed filter, or a
  // file too large for its cross-reference table: no trailer is written).
  int finishFile();
  // The first failure so far (0 when none), as finishFile would report it.
  int status() const;

  // Computes the document ID pair from the job's root path (UTF-8, may be
  // empty) and the current time, and sets it in the trailer.
  void setDocumentID(const std::string& rootPathUtf8);

  // True the first time it is asked about a message (by its key and values)
  // in this document: messages that every page or ink would repeat are
  // shown once.
  bool firstReport(const std::string& message) { return mMessagesShown.insert(message).second; }

  // Appends a (screen name, halftone reference) pair to the named halftones.
  void addNamedHalftone(const std::string& screenName, PDFIndirectReference* halftone);
  const std::vector<std::pair<std::string, PDFIndirectReference*>>& getNamedHalftones() const {
    return mNamedHalftones;
  }

  // The separation's output name: the kernel's name, or its CMYK-aware name
  // when the settings' ProcessCMYKFlags is set.
  void getSeparationName(std::string& name, jobstr* job, int separation) const;
  // The kernel's CMYK-aware name (process inks are "Cyan", "Magenta", ...).
  void getCMYKSeparationName(std::string& name, jobstr* job, int separation) const;
  // With the settings' UseSeparationDisabler set, the job's separation
  // disabler (shared with every page writer), else empty.
  std::shared_ptr<seppdftyp> getSeparationDisabler();

  // Copies the output FileSpec; 0 when it is usable, else 1.
  int getOutputFileSpec(TavSys::FileSpec& spec) const;

  PDFTrailer* getTrailer() const { return mTrailer.get(); }
  PdfXrefTable* getXrefTable() const { return mXrefTable.get(); }
  pdfoutfil* getFile() const { return mFile.get(); }
  std::uint32_t getVersionCode() const { return mVersionCode; }
  bool hasOpenStream() const { return mOpenStream != nullptr; }

  // Per-document state shared by the writers of the document. Later parts of
  // the writer fill what they need; the handler keeps it for one document.
  std::uint64_t mScreenValue = 0;       // handed on to the page's screen resource
  std::uint32_t mScreenNumber = kNoScreen;
  bool mPlacedPdfFlag = false;          // a placed PDF page is to replace its reference
  bool mNonSeparableBlendFlag = false;  // something used a non-separable blend mode
  bool mInvalidForNormalized = false;   // a one-up holds what normalized output refuses
  std::array<std::int32_t, 4> mProcessSeparations{-1, -1, -1, -1};  // C, M, Y, K
  std::string mCreatorOverride;
  std::string mCreationDateOverride;
  TavSys::FileSpec mOutputFileSpec;
  // The page writers' form cache; the handler deletes the values.
  std::map<std::int32_t, PDFBaseClass*> mFormCache;
  const PDFSettings* mSettings = nullptr;  // not owned
  bool mWriterFlag = false;                // handed to every page writer
  jobstr* mJob = nullptr;                  // the host's
  TavDB::Object* mSpatialTree = nullptr;   // the tree to write (null: the job's own)
  bool mHasMediaBox = false;
  TavSys::tv_rectangle mMediaBox;          // replaces the job's when mHasMediaBox
  bool mHasTrimBox = false;
  TavSys::tv_rectangle mTrimBox;           // replaces the job's when mHasTrimBox
  PDFArray* mOptionalContentGroups = nullptr;  // registry-owned; null until made
  TavDB::tv_matrixtyp<double> mBaseMatrix;  // identity at first
  std::array<std::array<std::uint8_t, 256>, 64> mDotGainSamples{};  // per separation slot
  std::array<PDFIndirectReference*, 64> mTransferFunctions{};       // per slot, registry-owned
  std::array<bool, 64> mTransferFunctionTried{};  // per slot: built, or known to have none
  bool mScreenAngleMessageShown = false;           // "unknown angle" said already
  // Owned; made only in normalized output (attached by the part that writes
  // the XMP data). Null until then.
  TavricLib::XMPComposer* mXMPComposer = nullptr;
  // The document-level pending resource lists (owned once that part exists).
  PdfPending* mPending = nullptr;
  XMPInkCallback mInkCallback;
  std::vector<TavSys::FileSpec>* mProducedFiles = nullptr;  // the caller's, may be null
  std::int32_t mPageCounter = -1;
  // What the progress calls the page being written ("Plate 2 of 5"); empty
  // for a document of one page.
  std::string mProgressLabel;
  // The job fonts written so far, shared by every content stream of the
  // document that shows them: per job, font id and set of codes used, the
  // font descriptor (with the font program) and the ToUnicode map, and the
  // Font dictionary per resource name (the dictionary names its resource).
  // The references are registry-owned.
  struct WrittenFont {
    PDFIndirectReference* descriptor = nullptr;
    PDFIndirectReference* toUnicode = nullptr;
    std::map<std::string, PDFIndirectReference*> dictionaries;
  };
  using WrittenFontKey = std::tuple<const jobstr*, std::int32_t, std::array<std::uint8_t, 256>>;
  std::map<WrittenFontKey, WrittenFont> mWrittenFonts;

 private:
  void writeObjectHeader(PDFIndirectReference* reference);

  std::unique_ptr<PdfXrefTable> mXrefTable;  // null until the first makeIndirect
  std::unique_ptr<PDFTrailer> mTrailer;
  PDFStream* mOpenStream = nullptr;           // registry-owned
  PDFIndirectReference* mOpenStreamRef = nullptr;
  PDFIndirectReference* mOpenLengthRef = nullptr;  // the open stream's Length object
  pdfoutfilter* mOpenSink = nullptr;  // the open stream's sink (owned until endStream)
  std::unique_ptr<pdfoutfil> mFile;
  std::uint32_t mVersionCode;
  std::vector<std::pair<std::string, PDFIndirectReference*>> mNamedHalftones;
  std::set<std::string> mMessagesShown;
  std::shared_ptr<seppdftyp> mSeparationDisabler;
};

// The version code for the settings' PDFCompatibility: 0 gives PDF 1.4, 2 gives
// PDF 1.5, any other value PDF 1.3.
std::uint32_t VersionCodeForCompatibility(int pdfCompatibility);

// Makes the handler of one document over the open kernel file. The settings,
// the job, the tree, the boxes and the list of produced files stay the
// caller's; the ink callback is moved in. mediaBox and trimBox may be null.
std::unique_ptr<pdfouthan> createPdfOutHandler(
    jobstr* job, TavDB::Object* spatialTree, const TavSys::tv_rectangle* mediaBox,
    TavSys::fil* file, const PDFSettings* settings, int pdfCompatibility,
    const TavSys::tv_rectangle* trimBox, const std::array<std::int32_t, 4>& processSeparations,
    std::uint64_t screenValue, std::uint32_t screenNumber, const TavSys::FileSpec& outputFile,
    XMPInkCallback inkCallback, bool writerFlag, std::vector<TavSys::FileSpec>* producedFiles);

// The two values of the document ID: the text folded into 16 bytes (byte i
// XORed into position i mod 16), and the same with one more byte appended (the
// low byte of `seconds`), each as 32 lower-case hex digits.
std::pair<std::string, std::string> MakeDocumentID(const std::string& text,
                                                   std::int64_t seconds);

}  // namespace TavPDF
