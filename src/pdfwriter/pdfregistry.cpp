#include "pdfwriter/pdfregistry.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>

#include "pdfwriter/pdfoutfil.h"
#include "platform/system.h"

namespace TavPDF {

// ---------------------------------------------------------------------------
// The registry

// Constant-initialised: it exists before any static constructor could make
// an object, and the allocation path needs no guard.
constinit PdfObjectRegistry PdfObjectRegistry::sInstance;

namespace {

constexpr std::size_t kArenaBlockSize = 1u << 20;
constexpr std::uintptr_t kArenaTag = 1;
constexpr std::size_t kSpareBlocks = 64;

std::uintptr_t address(std::uintptr_t slot) { return slot & ~kArenaTag; }

}  // namespace

PdfObjectRegistry::~PdfObjectRegistry() {
  // Objects of an export that was never swept are freed at process exit.
  sweep();
  for (void* block : mSpareBlocks) ::operator delete(block);
}

void PdfObjectRegistry::deleteAll() { sInstance.sweep(); }

void* PdfObjectRegistry::allocateFromArena(std::size_t size) {
  // Arena blocks come from operator new (aligned to kArenaStep) and are carved
  // in whole steps, so every object starts aligned.
  size = (size + kArenaStep - 1) & ~(kArenaStep - 1);
  if (mArenaLeft < size) {
    if (!mSpareBlocks.empty()) {
      mArenaBlocks.push_back(mSpareBlocks.back());
      mSpareBlocks.pop_back();
    } else {
      mArenaBlocks.push_back(::operator new(kArenaBlockSize));
    }
    mArenaNext = static_cast<char*>(mArenaBlocks.back());
    mArenaLeft = kArenaBlockSize;
  }
  void* block = mArenaNext;
  mArenaNext += size;
  mArenaLeft -= size;
  return block;
}

void* PdfObjectRegistry::allocateSlow(std::size_t size) {
  if (kUseArena && size <= kArenaMaxObject) {
    void* block = allocateFromArena(size);
    mSlots.push_back(reinterpret_cast<std::uintptr_t>(block) | kArenaTag);
    ++mLive;
    return block;
  }
  void* block = ::operator new(size);
  mSlots.push_back(reinterpret_cast<std::uintptr_t>(block));
  ++mLive;
  return block;
}

std::ptrdiff_t PdfObjectRegistry::findSlot(const void* block) {
  const auto wanted = reinterpret_cast<std::uintptr_t>(block);
  const auto count = static_cast<std::ptrdiff_t>(mSlots.size());
  // Objects are mostly freed soon after they were made, or near the last one
  // freed: search a window around the last hit first, then everything from
  // the end backwards.
  if (count > 20000 && mLastHit >= 0) {
    const std::ptrdiff_t high = std::min(count - 1, mLastHit + 2000);
    const std::ptrdiff_t low = std::max<std::ptrdiff_t>(mLastHit - 2000, 0);
    for (std::ptrdiff_t i = high; i >= low; --i) {
      if (address(mSlots[static_cast<std::size_t>(i)]) == wanted) return i;
    }
  }
  for (std::ptrdiff_t i = count - 1; i >= 0; --i) {
    if (address(mSlots[static_cast<std::size_t>(i)]) == wanted) return i;
  }
  return -1;
}

bool PdfObjectRegistry::releaseObject(void* block) {
  if (block == nullptr) return true;
  if (mSweeping && block == mBeingSwept) {
    // The sweep cleared the slot already and frees arena memory in one go.
    if (!mBeingSweptInArena) ::operator delete(block);
    return true;
  }
  const std::ptrdiff_t i = findSlot(block);
  if (i < 0) return false;
  const std::uintptr_t slot = mSlots[static_cast<std::size_t>(i)];
  mSlots[static_cast<std::size_t>(i)] = 0;
  mLastHit = i;
  --mLive;
  if ((slot & kArenaTag) == 0) ::operator delete(block);
  return true;
}

void PdfObjectRegistry::noteStream(const void* object) {
  // The stream was recorded moments ago, behind at most the objects its
  // constructor's arguments made.
  const auto wanted = reinterpret_cast<std::uintptr_t>(object);
  for (std::size_t i = mSlots.size(); i-- > 0;) {
    if (address(mSlots[i]) == wanted) {
      mStreamSlots.push_back(i);
      return;
    }
  }
}

void PdfObjectRegistry::sweep() {
  if (mSweeping) return;
  mSweeping = true;
  // Each live slot is destroyed exactly once through its virtual destructor; a
  // block deleted by another object's destructor meanwhile clears its own slot
  // (PDFBaseClass::operator delete). Streams go first, so that an overriding
  // stream destructor still finds its dictionary alive.
  auto destroy = [this](std::size_t i) {
    const std::uintptr_t slot = mSlots[i];
    if (slot == 0) return;
    mSlots[i] = 0;
    --mLive;
    auto* object = reinterpret_cast<PDFBaseClass*>(address(slot));
    mBeingSwept = object;
    mBeingSweptInArena = (slot & kArenaTag) != 0;
    delete object;
    mBeingSwept = nullptr;
  };
  for (std::size_t k = 0; k < mStreamSlots.size(); ++k) destroy(mStreamSlots[k]);
  // Objects made by destructors during the sweep are appended and swept too.
  for (std::size_t i = 0; i < mSlots.size(); ++i) destroy(i);
  // The slot vector keeps its capacity for the next document.
  mSlots.clear();
  mStreamSlots.clear();
  // A few blocks are kept for the next document; the rest goes back.
  for (void* block : mArenaBlocks) {
    if (mSpareBlocks.size() < kSpareBlocks) {
      mSpareBlocks.push_back(block);
    } else {
      ::operator delete(block);
    }
  }
  mArenaBlocks.clear();
  mArenaNext = nullptr;
  mArenaLeft = 0;
  mLastHit = -1;
  mLive = 0;
  mSweeping = false;
}

// ---------------------------------------------------------------------------
// The cross-reference table

PdfXrefEntry& PdfXrefTable::Append() {
  if (mCount % kBlockEntries == 0) mBlocks.push_back(std::make_unique<PdfXrefEntry[]>(kBlockEntries));
  return mBlocks.back()[mCount++ % kBlockEntries];
}

PDFIndirectReference* NewIndirectReference(PdfXrefTable* table, PDFDictionaryValue* object) {
  auto* reference = new PDFIndirectReference;
  PdfXrefEntry& entry = table->Append();
  entry.reference = reference;
  reference->mNumber = static_cast<std::uint32_t>(table->mCount);
  reference->mTable = table;
  reference->mEntry = &entry;
  reference->mObject = object;
  return reference;
}

void SetObjectOffset(PdfXrefTable* table, PDFIndirectReference* reference,
                     std::uint64_t offset) {
  if (reference == nullptr) return;
  PdfXrefEntry* entry = reference->GetEntry();
  PdfXrefTable* owner = reference->GetTable();
  if (entry == nullptr && table != nullptr) {
    const std::uint32_t number = reference->GetObjectNumber();
    if (number >= 1 && number <= table->GetEntryCount()) entry = table->GetEntry(number - 1);
    owner = table;
  }
  if (entry == nullptr || owner == nullptr) return;
  owner->RecordOffset(entry, offset);
}

std::int64_t WriteXrefTable(PdfXrefTable* table, pdfoutfil* file) {
  noroutfil& out = file->text();
  out << "\n";
  const std::uint64_t sectionOffset = file->Tell();
  out << "xref\n";
  const std::size_t count = table->GetEntryCount();
  if (table->mWritten != count) return kXrefUnwrittenObject;
  if (table->mLargestOffset > kMaxXrefOffset) return kXrefOffsetTooLarge;
  out << 0.0 << static_cast<double>(count + 1) << "\n" << "0000000000 65535 f ";
  // Each entry takes 20 bytes with the blank and line feed that end it,
  // formatted straight into the kernel file.
  TavSys::fil* kernel = file->kernelFile();
  for (std::size_t i = 0; i < count; ++i) {
    char* line = reinterpret_cast<char*>(kernel->reserve(20));
    std::memcpy(line, "\n0000000000 00000 n ", 20);
    // The digits behind ten zeros: the last ten characters are the entry's.
    char digits[32] = "0000000000";
    const std::uint64_t offset = table->GetEntry(i)->offset;
    const char* end = std::to_chars(digits + 10, digits + sizeof digits, offset).ptr;
    std::memcpy(line + 1, end - 10, 10);
    kernel->commit(20);
  }
  return static_cast<std::int64_t>(sectionOffset);
}

}  // namespace TavPDF
