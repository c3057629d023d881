#include "pdfwriter/pdfregistry.h"

#include <algorithm>
#include <new>

#include "pdfwriter/pdfoutfil.h"
#include "platform/system.h"

namespace TavPDF {

// ---------------------------------------------------------------------------
// The registry

PdfObjectRegistry& PdfObjectRegistry::instance() {
  static PdfObjectRegistry registry;
  return registry;
}

PdfObjectRegistry::~PdfObjectRegistry() {
  // Objects of an export that was never swept are freed at process exit.
  sweep();
}

void PdfObjectRegistry::deleteAll() { instance().sweep(); }

void PdfObjectRegistry::recordObject(void* block) {
  mSlots.push_back(block);
  ++mLive;
}

bool PdfObjectRegistry::forgetObject(void* block) {
  if (block == nullptr) return false;
  const auto count = static_cast<std::ptrdiff_t>(mSlots.size());
  auto found = [&](std::ptrdiff_t i) {
    mSlots[static_cast<std::size_t>(i)] = nullptr;
    mLastHit = i;
    --mLive;
    return true;
  };
  // Objects are mostly freed soon after they were made, or near the last one
  // freed: search a window around the last hit first, then everything from
  // the end backwards.
  if (count > 20000 && mLastHit >= 0) {
    const std::ptrdiff_t high = std::min(count - 1, mLastHit + 2000);
    const std::ptrdiff_t low = std::max<std::ptrdiff_t>(mLastHit - 2000, 0);
    for (std::ptrdiff_t i = high; i >= low; --i) {
      if (mSlots[static_cast<std::size_t>(i)] == block) return found(i);
    }
  }
  for (std::ptrdiff_t i = count - 1; i >= 0; --i) {
    if (mSlots[static_cast<std::size_t>(i)] == block) return found(i);
  }
  return false;
}

void PdfObjectRegistry::sweep() {
  if (mSweeping) return;
  mSweeping = true;
  // Each live slot is destroyed exactly once through its virtual destructor; a
  // block deleted by another object's destructor meanwhile clears its own slot
  // (PDFBaseClass::operator delete). Streams go first, so that an overriding
  // stream destructor still finds its dictionary alive.
  for (int pass = 0; pass < 2; ++pass) {
    // Objects made by destructors during the sweep are appended and swept too.
    for (std::size_t i = 0; i < mSlots.size(); ++i) {
      void* block = mSlots[i];
      if (block == nullptr) continue;
      auto* object = static_cast<PDFBaseClass*>(block);
      if (pass == 0 && dynamic_cast<PDFStream*>(object) == nullptr) continue;
      mSlots[i] = nullptr;
      --mLive;
      mBeingSwept = block;
      delete object;
      mBeingSwept = nullptr;
    }
  }
  mSlots.clear();
  mSlots.shrink_to_fit();
  mLastHit = -1;
  mLive = 0;
  mSweeping = false;
}

// ---------------------------------------------------------------------------
// The cross-reference table

PDFIndirectReference* NewIndirectReference(PdfXrefTable* table, PDFDictionaryValue* object) {
  auto* reference = new PDFIndirectReference;
  table->mEntries.emplace_back();
  PdfXrefEntry& entry = table->mEntries.back();
  entry.reference = reference;
  reference->mNumber = static_cast<std::uint32_t>(table->mEntries.size());
  reference->mTable = table;
  reference->mEntry = &entry;
  reference->mObject = object;
  return reference;
}

void SetObjectOffset(PdfXrefTable* table, PDFIndirectReference* reference,
                     std::uint64_t offset) {
  if (reference == nullptr) return;
  PdfXrefEntry* entry = reference->GetEntry();
  if (entry == nullptr && table != nullptr) {
    const std::uint32_t number = reference->GetObjectNumber();
    if (number >= 1 && number <= table->GetEntryCount()) entry = table->GetEntry(number - 1);
  }
  if (entry == nullptr) return;
  entry->offset = offset;
  entry->written = true;
}

std::int64_t WriteXrefTable(PdfXrefTable* table, pdfoutfil* file) {
  noroutfil& out = file->text();
  out << "\n";
  const std::uint64_t sectionOffset = file->Tell();
  out << "xref\n";
  const std::size_t count = table->GetEntryCount();
  for (std::size_t i = 0; i < count; ++i) {
    const PdfXrefEntry* entry = table->GetEntry(i);
    if (!entry->written) return kXrefUnwrittenObject;
    if (entry->offset > kMaxXrefOffset) return kXrefOffsetTooLarge;
  }
  out << 0.0 << static_cast<double>(count + 1) << "\n" << "0000000000 65535 f ";
  // Each entry takes 20 bytes with the blank and line feed that end it.
  char line[20] = {'\n', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0',
                   ' ', '0', '0', '0', '0', '0', ' ', 'n', ' '};
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t offset = table->GetEntry(i)->offset;
    for (int digit = 10; digit >= 1; --digit) {
      line[digit] = static_cast<char>('0' + offset % 10);
      offset /= 10;
    }
    out.PutBytes(line, sizeof line);
  }
  return static_cast<std::int64_t>(sectionOffset);
}

}  // namespace TavPDF
