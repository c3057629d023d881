#pragma once
// Pending resource lists. While a content stream is open nothing else may be
// written into the file, yet the page writer meets colour spaces, shadings,
// objects and nested jobs that need indirect objects or clean-up. PdfPending
// collects them; PdfPending::writePending writes them after the page (or
// form) and enters their names into the resource dictionaries handed to it.
//
// The output handler owns one PdfPending (pdfouthan::mPending, made by
// GetPendingLists), shared by every page writer of the file. The lists are not
// emptied by writePending: a later page names every colour space and shading
// registered so far. Each object behind them is written once per file and its
// reference reused by later pages.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pdfwriter/pdfobjects.h"

class ColorSpace;
struct jobstr;
namespace TavDB {
class Object;
}

namespace TavPDF {

class pdfouthan;
class PdfColorSpaces;

// A shading (axial or radial; colour/shading.h). The shading list owns the
// shadings handed to it.
class PDFShadingType;
// Builds the shading dictionary (colour/shading.h).
PDFDictionary* WriteShadingDictionary(const PDFShadingType& shading, pdfouthan* handler,
                                      PdfColorSpaces* pageColorSpaces);

// A list of deferred elements of one kind. The template keeps the pointers;
// whether they are owned is said by each derived list.
template <class T>
class PdfPendingList {
 public:
  // Writes one element; the default writes nothing.
  virtual void writeElement(pdfouthan* /*handler*/, T* /*element*/, std::size_t /*index*/,
                            PDFDictionary* /*first*/, PDFDictionary* /*second*/) {}
  virtual ~PdfPendingList() = default;
  // Appends; returns the new element's index.
  virtual std::size_t add(T* element) {
    mElements.push_back(element);
    return mElements.size() - 1;
  }

  std::size_t size() const { return mElements.size(); }
  bool empty() const { return mElements.empty(); }
  T* get(std::size_t index) const { return index < mElements.size() ? mElements[index] : nullptr; }

 protected:
  std::vector<T*> mElements;
};

// Objects made indirect whose writing waits until the page's content stream
// is closed. The references are registry-owned; each is written once.
class PdfIndRefList : public PdfPendingList<PDFIndirectReference> {
 public:
  void writeElement(pdfouthan* handler, PDFIndirectReference* element, std::size_t index,
                    PDFDictionary* first, PDFDictionary* second) override;
  // Writes every reference not written by this list yet.
  void writeAll(pdfouthan* handler);

 private:
  std::size_t mWritten = 0;  // elements [0, mWritten) are in the file
};

// Shadings of the pages. Owns every shading handed to add, including those
// set aside because an equal one was listed before.
class PdfShadingList : public PdfPendingList<PDFShadingType> {
 public:
  ~PdfShadingList() override;
  // Takes ownership. The index of the first listed shading equal to the new
  // one (the new one is then set aside), else of the new one, appended.
  std::size_t add(PDFShadingType* shading) override;
  // Builds, writes (once per file) and returns the reference of shading index.
  void writeElement(pdfouthan* handler, PDFShadingType* element, std::size_t index,
                    PDFDictionary* shadingResources, PDFDictionary* unused) override;
  void setColorSpaces(PdfColorSpaces* colorSpaces) { mColorSpaces = colorSpaces; }
  // The reference written for shading index, null before.
  PDFIndirectReference* reference(std::size_t index) const {
    return index < mReferences.size() ? mReferences[index] : nullptr;
  }

 private:
  std::vector<PDFShadingType*> mSetAside;      // owned
  std::vector<PDFIndirectReference*> mReferences;  // registry-owned, per index
  // Indices of the listed shadings by hash: a page of many gradients finds an
  // equal shading without comparing it with every other.
  std::unordered_multimap<std::size_t, std::size_t> mByHash;
  PdfColorSpaces* mColorSpaces = nullptr;      // not owned (the same PdfPending's)
};

// The resource name of shading index i: "Sh" and i.
std::string ShadingResourceName(std::size_t index);

// Keeps a job's own object tree while another tree stands in for it (a
// nested job written from a changed copy of its tree), and puts it back.
class JobSpaSetter {
 public:
  explicit JobSpaSetter(jobstr* job) : mJob(job) {}
  ~JobSpaSetter();
  JobSpaSetter(const JobSpaSetter&) = delete;
  JobSpaSetter& operator=(const JobSpaSetter&) = delete;

  // Makes tree the job's tree. The job's own tree is kept for restore (only
  // the first call keeps one; later stand-ins are simply replaced).
  void set(std::unique_ptr<TavDB::Object> tree);
  // Whether a stand-in is in place.
  bool changed() const { return mSaved != nullptr; }
  // Deletes the stand-in and gives the job its own tree back.
  void restore();
  jobstr* job() const { return mJob; }

 private:
  jobstr* mJob;                            // not owned
  std::unique_ptr<TavDB::Object> mSaved;   // the job's own tree while a stand-in is in place
};

// A nested job kept open until the pending lists are closed, with the setter
// that restores its tree.
struct JobWithSpaSetter {
  std::shared_ptr<jobstr> job;             // shared with the job's picture record
  std::unique_ptr<JobSpaSetter> setter;    // may be null
};

// Nested jobs (one-ups) whose trees are put back when the lists are closed.
// Owns its entries.
class PdfJobList : public PdfPendingList<JobWithSpaSetter> {
 public:
  ~PdfJobList() override;
  // Restores every job's tree, releases the jobs and empties the list.
  void flushJobs();
};

// The colour spaces used by the pages: clones of the spaces the page writers
// registered, each with the references of its written parts.
class PdfColorSpaces {
 public:
  struct Entry {
    std::unique_ptr<ColorSpace> space;          // a clone, owned
    std::vector<PDFIndirectReference*> parts;   // registry-owned; null until written
  };

  virtual ~PdfColorSpaces();

  // The index of the entry whose colour space equals space, or -1.
  std::ptrdiff_t find(const ColorSpace& space) const;
  // Registers a clone unless an equal space is registered; returns whether
  // an equal one was found, and the entry's index.
  std::pair<bool, std::size_t> registerColorSpace(const ColorSpace& space);
  // The reference of part n of the registered space equal to space; null with
  // a developer diagnostic when the space is not registered or the part not
  // written yet.
  PDFIndirectReference* getIndRef(const ColorSpace& space, int part) const;
  // The reference of part n of space, registering the space and writing the
  // part (made indirect and written at once) when that has not happened yet.
  // Null when the part has no colour-space array or cannot be written.
  PDFIndirectReference* ensureIndRef(pdfouthan* handler, const ColorSpace& space, int part);
  // The written part entered under this resource name, or null. A name
  // stands for one colour space in every ColorSpace dictionary of the file.
  PDFIndirectReference* writtenByName(const std::string& name) const {
    const auto found = mWrittenByName.find(name);
    return found != mWrittenByName.end() ? found->second : nullptr;
  }
  // Writes every part not written yet (made indirect and written at once) and
  // enters every written part under its resource name into colorSpaces.
  void writeAll(pdfouthan* handler, PDFDictionary* colorSpaces);

  std::size_t size() const { return mEntries.size(); }
  const Entry& entry(std::size_t index) const { return mEntries.at(index); }

 private:
  std::vector<Entry> mEntries;
  std::unordered_map<std::string, PDFIndirectReference*> mWrittenByName;  // registry-owned
};

// The pending lists of a document. Polymorphic; owns its four lists.
class PdfPending {
 public:
  PdfPending();
  virtual ~PdfPending();
  PdfPending(const PdfPending&) = delete;
  PdfPending& operator=(const PdfPending&) = delete;

  // See PdfColorSpaces::registerColorSpace.
  std::pair<bool, std::size_t> registerColorSpace(const ColorSpace& space) {
    return mColorSpaces->registerColorSpace(space);
  }
  // The same for a pointer; null registers nothing and gives (false, size()).
  std::pair<bool, std::size_t> registerColorSpace(const ColorSpace* space) {
    if (space == nullptr) return {false, mColorSpaces->size()};
    return mColorSpaces->registerColorSpace(*space);
  }
  // Takes ownership; the shading's index (its resource is ShadingResourceName).
  std::size_t addShading(std::unique_ptr<PDFShadingType> shading);
  // Keeps a nested job open until closeJobs.
  void addJob(std::shared_ptr<jobstr> job, std::unique_ptr<JobSpaSetter> setter);
  // Restores and releases the nested jobs.
  void closeJobs() { mJobs->flushJobs(); }
  // Defers writing an object made indirect until writePending.
  void addIndirect(PDFIndirectReference* reference) { mIndRefs->add(reference); }

  // After a page or form: writes what is pending and names it in the
  // resource dictionaries (ColorSpace entries into colorSpaces, a "Shading"
  // dictionary into resources when there are shadings).
  void writePending(pdfouthan* handler, PDFDictionary* colorSpaces, PDFDictionary* resources);

  PdfColorSpaces& colorSpaces() { return *mColorSpaces; }
  PdfShadingList& shadings() { return *mShadings; }
  PdfIndRefList& indirectReferences() { return *mIndRefs; }
  PdfJobList& jobs() { return *mJobs; }

 private:
  std::unique_ptr<PdfColorSpaces> mColorSpaces;
  std::unique_ptr<PdfShadingList> mShadings;
  std::unique_ptr<PdfIndRefList> mIndRefs;
  std::unique_ptr<PdfJobList> mJobs;
};

// The handler's pending lists, made on first use; the handler deletes them.
PdfPending* GetPendingLists(pdfouthan& handler);
// Deletes the handler's pending lists (closing their jobs); called by the
// handler's destructor.
void DeletePendingLists(pdfouthan& handler);

}  // namespace TavPDF
