#pragma once
// The PDF object library: existing PDF files opened, walked, changed and
// saved again (the written file in the export's second pass, the placed PDF
// files it embeds). A thin layer over qpdf: objects are qpdf object handles,
// a document owns its QPDF.
//
// Failures of the layer itself are thrown as TavSys::Error; what qpdf says
// while it reads (warnings about damaged files it repaired) goes to the error
// reporter installed with GOErrorReporter::SetInstance, so that the caller can
// count it. qpdf's own exceptions are turned into TavSys::Error where the
// layer reads a file (opening, stream data, saving).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// qpdf 11.3's JSON header does not compile as C++20 under clang over
// libstdc++ (a vector of JSON is a member inside JSON itself, and the
// vector's destructor is constexpr there). The engine uses none of qpdf's
// JSON: under clang its declaration stands in for that header. This header
// comes before any other qpdf header in the engine's sources.
#if defined(__clang__) && !defined(JSON_HH)
#define JSON_HH
class JSON;
#endif
#include <qpdf/QPDF.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFObjectHandle.hh>

namespace TavSys {
class OutputFile;
}

class GADoc;
class GADict;
class GAArray;

// ---- errors -------------------------------------------------------------------------

// Where the library's complaints go. One reporter is installed at a time
// (process-wide; the export runs one pass at a time).
class GOErrorReporter {
 public:
  virtual ~GOErrorReporter() = default;
  // One complaint (UTF-8), with the file it concerns when known.
  virtual void Report(const std::string& message) = 0;
  // Installs a reporter (null: none); returns the one installed before.
  static GOErrorReporter* SetInstance(GOErrorReporter* reporter);
  static GOErrorReporter* GetInstance();
};

// Installs a reporter for a scope and puts the previous one back.
class GOErrorReporterScope {
 public:
  explicit GOErrorReporterScope(GOErrorReporter* reporter)
      : mPrevious(GOErrorReporter::SetInstance(reporter)) {}
  ~GOErrorReporterScope() { GOErrorReporter::SetInstance(mPrevious); }
  GOErrorReporterScope(const GOErrorReporterScope&) = delete;
  GOErrorReporterScope& operator=(const GOErrorReporterScope&) = delete;

 private:
  GOErrorReporter* mPrevious;
};

// ---- input streams ------------------------------------------------------------------

class GInStream {
 public:
  virtual ~GInStream() = default;
  // Reads up to n bytes; the count read, or -1 at the end.
  virtual long Read(unsigned char* buffer, long n) = 0;
  virtual std::unique_ptr<GInStream> Clone() const = 0;
  // Starts again at the beginning.
  virtual void Reset() = 0;
};

// A stream over bytes held in memory (its own copy).
class GMemoryInStream : public GInStream {
 public:
  explicit GMemoryInStream(std::string bytes) : mBytes(std::move(bytes)) {}
  long Read(unsigned char* buffer, long n) override;
  std::unique_ptr<GInStream> Clone() const override;
  void Reset() override { mAt = 0; }

 private:
  std::string mBytes;
  std::size_t mAt = 0;
};

// ---- objects ------------------------------------------------------------------------

// Any object of a document. Objects are handles: copies name the same object.
class GAObject {
 public:
  GAObject() = default;
  explicit GAObject(QPDFObjectHandle handle) : mHandle(std::move(handle)) {}
  // New direct values; reals are written as the engine writes every number.
  static GAObject Real(double value);
  static GAObject Integer(long long value);
  static GAObject Bool(bool value);
  static GAObject Name(std::string_view name);

  // False for a missing entry (and for the null object).
  bool IsValid() const { return mHandle.isInitialized() && !mHandle.isNull(); }
  bool IsDict() const { return mHandle.isDictionary() || mHandle.isStream(); }
  bool IsArray() const { return mHandle.isArray(); }
  bool IsStream() const { return mHandle.isStream(); }
  bool IsName() const { return mHandle.isName(); }
  bool IsString() const { return mHandle.isString(); }
  bool IsNumber() const { return mHandle.isNumber(); }
  bool IsIndirect() const { return mHandle.isIndirect(); }
  // A name without its slash ("" when not a name).
  std::string GetName() const;
  // A string's bytes ("" when not a string).
  std::string GetString() const;
  // A number's value (0 when not a number).
  double GetNumber() const { return mHandle.isNumber() ? mHandle.getNumericValue() : 0.0; }
  // The dictionary of a dictionary or of a stream; invalid otherwise.
  GADict GetDict() const;
  GAArray GetArray() const;

  QPDFObjectHandle& Handle() { return mHandle; }
  QPDFObjectHandle& Handle() const { return mHandle; }

 protected:
  // qpdf's handle queries are not const; a handle is a reference anyway.
  mutable QPDFObjectHandle mHandle;
};

class GADict : public GAObject {
 public:
  GADict() = default;
  explicit GADict(QPDFObjectHandle handle) : GAObject(std::move(handle)) {}
  // A new direct dictionary.
  static GADict New();

  // Keys are given without their slash.
  bool Has(std::string_view key) const;
  GAObject Get(std::string_view key) const;
  GADict GetDict(std::string_view key) const { return Get(key).GetDict(); }
  GAArray GetArray(std::string_view key) const;
  std::string GetName(std::string_view key) const { return Get(key).GetName(); }
  void Put(std::string_view key, const GAObject& value);
  void Remove(std::string_view key);
  // The keys, without slashes, in the dictionary's order.
  std::vector<std::string> Keys() const;
};

class GAArray : public GAObject {
 public:
  GAArray() = default;
  explicit GAArray(QPDFObjectHandle handle) : GAObject(std::move(handle)) {}
  // A new direct array.
  static GAArray New();
  void Append(const GAObject& value);
  int GetLength() const { return mHandle.isArray() ? mHandle.getArrayNItems() : 0; }
  GAObject Get(int index) const;
  GAArray GetArray(int index) const { return Get(index).GetArray(); }
  GADict GetDict(int index) const { return Get(index).GetDict(); }
  std::string GetName(int index) const { return Get(index).GetName(); }
  void Put(int index, const GAObject& value);
};

// Names are not bound to a document in qpdf; the document argument keeps the
// library's call shape.
class GAName : public GAObject {
 public:
  GAName(GADoc& doc, std::string_view name);
  bool operator==(std::string_view name) const { return GetName() == name; }
};

class GAStream : public GAObject {
 public:
  GAStream() = default;
  explicit GAStream(QPDFObjectHandle handle) : GAObject(std::move(handle)) {}
  // A new stream of the document with the dictionary's entries and the bytes
  // of `data` (read to its end). With `flate` the bytes are stored
  // Flate-encoded (the dictionary's own Filter and DecodeParms are replaced).
  GAStream(GADoc& doc, const GADict& dictionary, GInStream& data, bool flate);
  // The same with the bytes that `produce` writes into the pipeline it is
  // given, stored Flate-encoded as they come: memory holds the encoded data
  // only, however long the decoded data are.
  GAStream(GADoc& doc, const GADict& dictionary, const std::function<void(Pipeline&)>& produce);

  // The stream's data with every standard filter undone. Throws TavSys::Error
  // when a filter cannot be undone or the data cannot be read.
  std::string GetDecodedData() const;
};

// ---- documents ----------------------------------------------------------------------

// The pages of a document are addressed from 0.
class GOPage {
 public:
  GOPage() = default;
  explicit GOPage(QPDFObjectHandle page) : mPage(std::move(page)) {}
  GADict GetGADict() const { return GADict(mPage); }
  // The box of a kind: 0 media, 1 crop (the media box when the page has none).
  // Four numbers: left, bottom, right, top.
  std::vector<double> GetPageBox(int kind) const;
  // The page's quarter turns clockwise (Rotate / 90, 0..3).
  int GetRotation() const;

 private:
  QPDFObjectHandle mPage;
};

class GADoc {
 public:
  // Opens a file. Throws TavSys::Error (key "PDF/CANNOT READ PDF FILE" with
  // "__FILENAME__" and "__REASON__") when qpdf cannot read it or it is encrypted.
  explicit GADoc(const std::filesystem::path& path);
  ~GADoc();
  GADoc(const GADoc&) = delete;
  GADoc& operator=(const GADoc&) = delete;

  const std::filesystem::path& GetPath() const { return mPath; }
  // The pages. A page tree listing more than kMaxPageTreeEntries pages (all
  // its nodes' Kids together), nested deeper than kMaxPageTreeDepth or
  // holding itself is refused (the error of the constructor) before its
  // pages are gathered.
  static constexpr std::size_t kMaxPageTreeEntries = 100000;
  static constexpr int kMaxPageTreeDepth = 256;
  int GetNumPages();
  // A page by index; throws TavSys::Error (same key) outside 0..count-1.
  GOPage GetPage(int index);
  GADict GetCatalog();
  GADict GetTrailer();

  // Whether anything was changed through the library since opening.
  bool IsDirty() const { return mDirty; }
  void SetDirty() { mDirty = true; }

  // Writes the document to `path` (its own path included) the way the engine
  // writes every file: a new file that replaces the old one only once
  // complete, so that a failure leaves the file as it was. Stream data are
  // kept as they are. Throws TavSys::Error.
  void Save(const std::filesystem::path& path);
  // Writes the document into an output that the caller commits (or gives
  // up). Throws TavSys::Error.
  void Save(TavSys::OutputFile& output);

  // Passes qpdf's collected warnings to the installed reporter.
  void ReportWarnings();
  // A new indirect object in this document from a direct one.
  GAObject MakeIndirect(const GAObject& object);
  QPDF& Qpdf() { return *mQpdf; }

 private:
  std::filesystem::path mPath;
  std::unique_ptr<QPDF> mQpdf;
  std::vector<QPDFObjectHandle> mPages;
  bool mPagesRead = false;
  bool mDirty = false;
};

// A complete file that a pass reads and may write again: `path` opens it
// for reading (for a file without a name yet, a name of the open file under
// /proc), names relative to it start in `folder`, and `save` puts a document
// in its place.
struct PassFile {
  std::filesystem::path path;
  std::filesystem::path folder;
  std::function<void(GADoc&)> save;
  // A file of its own name, saved under that name.
  static PassFile AtPath(const std::filesystem::path& file);
};

// Copies an object of another document into `into`, with every object it
// refers to; what was copied from one source document once is copied once
// (qpdf keeps the copy map per source document).
GAObject CloneInto(GADoc& into, GADoc& from, const GAObject& object);

// ---- visitors -----------------------------------------------------------------------

// A visitor that is told about what a document or a page reaches. The walk
// visits every object once; a visitor may not change the objects it is shown
// (changes are collected and made afterwards).
class GOVDefault {
 public:
  virtual ~GOVDefault() = default;
  // An entry of an XObject resource dictionary.
  virtual void VisitXObject(GADict& xobjects, const std::string& name, GAObject& xobject);
  // A graphics-state parameter dictionary of an ExtGState resource dictionary.
  virtual void VisitExtGState(GADict& state);
  // The transparency group attributes of a page or a form (S /Transparency).
  virtual void VisitGroup(GADict& group);
  // The dictionary of an image XObject.
  virtual void VisitImage(GADict& image);
};

// Walks everything reachable from the root (the Parent entries of pages are
// not followed, nor the keys given as skipped at the root).
void GOVWalk(const GAObject& root, GOVDefault& visitor, const std::set<std::string>& skippedAtRoot = {});

// A visitor that may change what it is shown; each operation answers whether
// it changed something.
class GOVDefaultChange {
 public:
  virtual ~GOVDefaultChange() = default;
  // The document as a whole (after every object was shown).
  virtual bool Change(GADoc& doc);
  // A Form XObject (its stream dictionary).
  virtual bool Change(GADict& form);
  // A Separation or DeviceN colour-space array.
  virtual bool ChangeColorSpace(GADoc& doc, GAArray& space);
};

// The spot-ink renamer: Separation and DeviceN colourants (and the keys of a
// DeviceN space's Colorants, the ink lists and keys of its MixingHints) are
// renamed by the remap table. A name is renamed at most once. A DeviceN space
// that would name an ink twice (other than None) is left as it is and
// reported: it cannot be written validly.
class GOVChangeRenameSpot : public GOVDefaultChange {
 public:
  GOVChangeRenameSpot() = default;
  // Adds or replaces the new name of an ink (UTF-8 both).
  void AddRemap(const std::string& oldName, const std::string& newName);
  bool ChangeColorSpace(GADoc& doc, GAArray& space) override;

 private:
  std::map<std::string, std::string> mRemap;
  // Name arrays and attribute dictionaries shared by several DeviceN spaces
  // are renamed once.
  std::set<QPDFObjGen> mRenamedParts;
};

class GOVTable {
 public:
  void Append(GOVDefaultChange* visitor) { mVisitors.push_back(visitor); }
  const std::vector<GOVDefaultChange*>& Visitors() const { return mVisitors; }

 private:
  std::vector<GOVDefaultChange*> mVisitors;  // not owned
};

// Runs change visitors over every object a document reaches, in table order
// per object, then over the document; marks the document dirty when a
// visitor changed something.
class GOVActor {
 public:
  static GOVActor& GetInstance();
  void Run(GADoc& doc, GOVTable& table);
};
