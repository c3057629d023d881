#pragma once
// The bookkeeping under the object model: the module-wide registry that owns
// every PDF object, and the cross-reference table of one output handler.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "pdfwriter/pdfobjects.h"

namespace TavPDF {

// One list of every live PDF object of the process. Objects are recorded when
// allocated and owned here until deleteAll, which the export driver calls once
// after deleting the output handler. One export at a time; no lock.
//
// Small objects come from the registry's own arena (large blocks carved in
// turn), because a document holds very many of them and frees them all at
// once: a small object deleted before the sweep is destroyed at once, its
// memory is reused after the sweep. Builds with AddressSanitizer take every
// object from the ordinary heap so that misuse of a freed object is caught.
class PdfObjectRegistry {
 public:
  static PdfObjectRegistry& instance() { return sInstance; }

  // The sweep: destroys and frees every recorded object exactly once, streams
  // first, then the rest, and empties the registry.
  static void deleteAll();
  // Number of objects recorded and not yet freed.
  std::size_t liveCount() const { return mLive; }

  // Used by PDFBaseClass's allocation functions.
  void* allocateObject(std::size_t size) {
    // The common case: a small object with room left in the arena block.
    // Arena blocks are taken in steps of kArenaStep bytes, so that every
    // object is aligned as the ordinary heap would align it.
    const std::size_t step = (size + kArenaStep - 1) & ~(kArenaStep - 1);
    if (kUseArena && step <= kArenaMaxObject && mArenaLeft >= step &&
        mSlots.size() < mSlots.capacity()) {
      void* block = mArenaNext;
      mArenaNext += step;
      mArenaLeft -= step;
      mSlots.push_back(reinterpret_cast<std::uintptr_t>(block) | kArenaTag);
      ++mLive;
      return block;
    }
    return allocateSlow(size);
  }
  // Forgets the block and frees it (or leaves arena memory to the sweep);
  // false when the registry never recorded it (the caller frees it then).
  bool releaseObject(void* block);
  // Notes that a recorded object is a stream (PDFStream's constructor), so
  // that the sweep can take the streams first without asking every object.
  void noteStream(const void* object);

  ~PdfObjectRegistry();
  PdfObjectRegistry(const PdfObjectRegistry&) = delete;
  PdfObjectRegistry& operator=(const PdfObjectRegistry&) = delete;

 private:
  constexpr PdfObjectRegistry() = default;
  void sweep();
  // Finds the block's slot (searching from the end, near the last hit first
  // in a large registry); -1 when it is not recorded.
  std::ptrdiff_t findSlot(const void* block);
  void* allocateFromArena(std::size_t size);
  void* allocateSlow(std::size_t size);
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool kUseArena = false;
#else
  static constexpr bool kUseArena = true;
#endif
  static constexpr std::size_t kArenaMaxObject = 256;
  static constexpr std::size_t kArenaStep = alignof(std::max_align_t);
  static constexpr std::uintptr_t kArenaTag = 1;
  static PdfObjectRegistry sInstance;

  // A slot holds the block's address; bit 0 marks arena memory. A freed
  // object's slot is 0, never removed.
  std::vector<std::uintptr_t> mSlots;
  std::vector<std::size_t> mStreamSlots;  // slots holding streams, in order
  std::vector<void*> mArenaBlocks;        // given up by the sweep
  std::vector<void*> mSpareBlocks;        // kept for the next document
  char* mArenaNext = nullptr;
  std::size_t mArenaLeft = 0;
  std::ptrdiff_t mLastHit = -1;
  std::size_t mLive = 0;
  bool mSweeping = false;
  const void* mBeingSwept = nullptr;
  bool mBeingSweptInArena = false;
};

// One numbered object: its reference and where its header was written.
struct PdfXrefEntry {
  static constexpr std::uint64_t kUnwritten = ~std::uint64_t{0};
  PDFIndirectReference* reference = nullptr;  // registry-owned
  // kUnwritten until the object's header is written (no file reaches it).
  std::uint64_t offset = kUnwritten;
  bool written() const { return offset != kUnwritten; }
};

// Numbers the objects made indirect (entry i belongs to object i + 1) and
// writes the cross-reference section. Owned by one output handler; it owns its
// entries, the references stay with the registry.
class PdfXrefTable {
 public:
  std::size_t GetEntryCount() const { return mCount; }
  PdfXrefEntry* GetEntry(std::size_t index) {
    return &mBlocks[index / kBlockEntries][index % kBlockEntries];
  }
  // Records where an entry's object header was written.
  void RecordOffset(PdfXrefEntry* entry, std::uint64_t offset) {
    if (!entry->written()) ++mWritten;
    if (offset > mLargestOffset) mLargestOffset = offset;
    entry->offset = offset;
  }

 private:
  friend PDFIndirectReference* NewIndirectReference(PdfXrefTable* table,
                                                    PDFDictionaryValue* object);
  friend std::int64_t WriteXrefTable(PdfXrefTable* table, pdfoutfil* file);
  // Entries live in blocks that never move, because references point to them.
  static constexpr std::size_t kBlockEntries = 4096;
  PdfXrefEntry& Append();
  std::vector<std::unique_ptr<PdfXrefEntry[]>> mBlocks;
  std::size_t mCount = 0;
  std::size_t mWritten = 0;             // entries whose object was written
  std::uint64_t mLargestOffset = 0;     // of every offset recorded
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
