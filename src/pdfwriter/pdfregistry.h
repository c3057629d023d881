#pragma once
// The bookkeeping under the object model: the module-wide registry that owns
// every PDF object, and the cross-reference table of one output handler.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "pdfwriter/pdfobjects.h"

namespace TavPDF {

// One list of every live PDF object of the process. Objects are recorded when
// allocated and owned here until deleteAll, which the export driver calls once
// after deleting the output handler. One export at a time; no lock.
class PdfObjectRegistry {
 public:
  static PdfObjectRegistry& instance();

  // The sweep: destroys and frees every recorded object exactly once, streams
  // first, then the rest, and empties the registry.
  static void deleteAll();
  // Number of objects recorded and not yet freed.
  std::size_t liveCount() const { return mLive; }

  // Used by PDFBaseClass's allocation functions.
  void recordObject(void* block);
  // Clears the block's slot; false when the registry never recorded it.
  bool forgetObject(void* block);
  bool isSweeping() const { return mSweeping; }
  const void* objectBeingSwept() const { return mBeingSwept; }

  ~PdfObjectRegistry();
  PdfObjectRegistry(const PdfObjectRegistry&) = delete;
  PdfObjectRegistry& operator=(const PdfObjectRegistry&) = delete;

 private:
  PdfObjectRegistry() = default;
  void sweep();

  std::vector<void*> mSlots;  // a freed object's slot is null, never removed
  std::ptrdiff_t mLastHit = -1;
  std::size_t mLive = 0;
  bool mSweeping = false;
  void* mBeingSwept = nullptr;
};

// One numbered object: its reference and where its header was written.
struct PdfXrefEntry {
  PDFIndirectReference* reference = nullptr;  // registry-owned
  std::uint64_t offset = 0;
  bool written = false;  // false until the object's header is written
};

// Numbers the objects made indirect (entry i belongs to object i + 1) and
// writes the cross-reference section. Owned by one output handler; it owns its
// entries, the references stay with the registry.
class PdfXrefTable {
 public:
  std::size_t GetEntryCount() const { return mEntries.size(); }
  PdfXrefEntry* GetEntry(std::size_t index) { return &mEntries[index]; }

 private:
  friend PDFIndirectReference* NewIndirectReference(PdfXrefTable* table,
                                                    PDFDictionaryValue* object);
  std::deque<PdfXrefEntry> mEntries;  // stable addresses; references point here
};

// The largest offset a cross-reference entry can hold (ten digits).
constexpr std::uint64_t kMaxXrefOffset = 9'999'999'999ULL;

// A new reference numbered entry count + 1, with a new unwritten entry.
PDFIndirectReference* NewIndirectReference(PdfXrefTable* table, PDFDictionaryValue* object);
// Records where the object's header was written; a reference without an entry
// is looked up by number (no effect when no entry matches).
void SetObjectOffset(PdfXrefTable* table, PDFIndirectReference* reference,
                     std::uint64_t offset);

// Results of WriteXrefTable below zero.
enum XrefResult : std::int64_t {
  kXrefUnwrittenObject = -1,  // an object was made indirect but never written
  kXrefOffsetTooLarge = -2,   // an offset does not fit the ten digits of an entry
};
// Writes "\nxref\n", then (when every object was written and every offset fits)
// the subsection and its entries. Returns the offset of "xref", or a negative
// XrefResult after which nothing more was written.
std::int64_t WriteXrefTable(PdfXrefTable* table, pdfoutfil* file);

}  // namespace TavPDF
