#include "pdfwriter/pdfpending.h"

#include <algorithm>

#include "colour/shading.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/system.h"

namespace TavPDF {

// ---- deferred indirect objects ----------------------------------------------

void PdfIndRefList::writeElement(pdfouthan* handler, PDFIndirectReference* element,
                                 std::size_t /*index*/, PDFDictionary* /*first*/,
                                 PDFDictionary* /*second*/) {
  handler->writeObject(element);
}

void PdfIndRefList::writeAll(pdfouthan* handler) {
  // Writing an element may defer further objects: walk by index, not by
  // iterator, so that they are written in the same pass.
  while (mWritten < mElements.size()) {
    const std::size_t index = mWritten++;
    writeElement(handler, mElements[index], index, nullptr, nullptr);
  }
}

// ---- shadings ------------------------------------------------------------------

std::string ShadingResourceName(std::size_t index) { return "Sh" + std::to_string(index); }

PdfShadingList::~PdfShadingList() {
  for (PDFShadingType* shading : mSetAside) delete shading;
  for (PDFShadingType* shading : mElements) delete shading;
}

std::size_t PdfShadingList::add(PDFShadingType* shading) {
  if (shading == nullptr) {
    TavSys::debug("<PdfShadingList::add> no shading");
    return mElements.size();
  }
  const std::size_t hash = shading->hash();
  const auto [first, last] = mByHash.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (mElements[it->second]->isEqual(*shading)) {
      mSetAside.push_back(shading);
      return it->second;
    }
  }
  mElements.push_back(shading);
  mReferences.push_back(nullptr);
  mByHash.emplace(hash, mElements.size() - 1);
  return mElements.size() - 1;
}

void PdfShadingList::writeElement(pdfouthan* handler, PDFShadingType* element, std::size_t index,
                                  PDFDictionary* shadingResources, PDFDictionary* /*unused*/) {
  if (index >= mReferences.size() || element == nullptr) return;
  if (mReferences[index] == nullptr) {
    PDFDictionary* dictionary = WriteShadingDictionary(*element, handler, mColorSpaces);
    if (dictionary == nullptr) return;
    mReferences[index] = handler->makeIndirect(dictionary);
    handler->writeObject(mReferences[index]);
  }
  if (shadingResources != nullptr) {
    shadingResources->Set(ShadingResourceName(index), mReferences[index]);
  }
}

// ---- nested jobs -------------------------------------------------------------------

JobSpaSetter::~JobSpaSetter() = default;

void JobSpaSetter::set(std::unique_ptr<TavDB::Object> tree) {
  std::unique_ptr<TavDB::Object> previous = jobSetSpahan(mJob, std::move(tree));
  // The first stand-in keeps the job's own tree; a later one replaces only
  // the stand-in before it, which is deleted here.
  if (!mSaved) mSaved = std::move(previous);
}

void JobSpaSetter::restore() {
  if (!mSaved) return;
  // jobSetSpahan hands back the stand-in, deleted at the end of the statement.
  jobSetSpahan(mJob, std::move(mSaved));
}

PdfJobList::~PdfJobList() { flushJobs(); }

void PdfJobList::flushJobs() {
  for (JobWithSpaSetter* entry : mElements) {
    if (entry->setter) entry->setter->restore();
    delete entry;  // releases our hold on the job
  }
  mElements.clear();
}

// ---- colour spaces --------------------------------------------------------------

PdfColorSpaces::~PdfColorSpaces() = default;

std::ptrdiff_t PdfColorSpaces::find(const ColorSpace& space) const {
  for (std::size_t i = 0; i < mEntries.size(); ++i) {
    if (*mEntries[i].space == space) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::pair<bool, std::size_t> PdfColorSpaces::registerColorSpace(const ColorSpace& space) {
  const std::ptrdiff_t found = find(space);
  if (found >= 0) return {true, static_cast<std::size_t>(found)};
  Entry entry;
  entry.space.reset(space.Clone());
  // Eight slots cover the parts of most spaces; a space of more parts (a
  // multi-separation space has one per ink) gets one slot per part.
  entry.parts.assign(std::max(8, entry.space->pdfGetNumParts()), nullptr);
  mEntries.push_back(std::move(entry));
  return {false, mEntries.size() - 1};
}

PDFIndirectReference* PdfColorSpaces::getIndRef(const ColorSpace& space, int part) const {
  const std::ptrdiff_t found = find(space);
  if (found < 0) {
    TavSys::debug("<PdfColorSpaces::getIndRef> colorspace not registered");
    return nullptr;
  }
  const Entry& entry = mEntries[static_cast<std::size_t>(found)];
  if (part < 0 || static_cast<std::size_t>(part) >= entry.parts.size() ||
      entry.parts[static_cast<std::size_t>(part)] == nullptr) {
    TavSys::debug("<PdfColorSpaces::getIndRef> no pdfinref available");
    return nullptr;
  }
  return entry.parts[static_cast<std::size_t>(part)];
}

PDFIndirectReference* PdfColorSpaces::ensureIndRef(pdfouthan* handler, const ColorSpace& space,
                                                   int part) {
  const std::size_t index = registerColorSpace(space).second;
  Entry& entry = mEntries[index];
  if (part < 0 || part >= entry.space->pdfGetNumParts()) return nullptr;
  if (static_cast<std::size_t>(part) >= entry.parts.size()) {
    entry.parts.resize(static_cast<std::size_t>(part) + 1, nullptr);
  }
  PDFIndirectReference*& slot = entry.parts[static_cast<std::size_t>(part)];
  if (slot == nullptr && handler != nullptr) {
    PDFArray* array = entry.space->pdfGetColorSpace(handler, part);
    if (array == nullptr) return nullptr;
    slot = handler->makeIndirect(array);
    handler->writeObject(slot);
    mWrittenByName.emplace(entry.space->pdfGetName(part), slot);
  }
  return slot;
}

void PdfColorSpaces::writeAll(pdfouthan* handler, PDFDictionary* colorSpaces) {
  for (Entry& entry : mEntries) {
    const int parts = entry.space->pdfGetNumParts();
    if (parts > 0 && static_cast<std::size_t>(parts) > entry.parts.size()) {
      entry.parts.resize(static_cast<std::size_t>(parts), nullptr);
    }
    for (int i = 0; i < parts; ++i) {
      PDFIndirectReference*& slot = entry.parts[static_cast<std::size_t>(i)];
      const std::string name = entry.space->pdfGetName(i);
      if (slot == nullptr) {
        PDFArray* array = entry.space->pdfGetColorSpace(handler, i);
        if (array == nullptr) continue;  // a device space needs no resource
        slot = handler->makeIndirect(array);
        handler->writeObject(slot);
        mWrittenByName.emplace(name, slot);
      }
      if (colorSpaces != nullptr) colorSpaces->Set(name, slot);
    }
  }
}

// ---- the document's lists ----------------------------------------------------------

PdfPending::PdfPending()
    : mColorSpaces(std::make_unique<PdfColorSpaces>()),
      mShadings(std::make_unique<PdfShadingList>()),
      mIndRefs(std::make_unique<PdfIndRefList>()),
      mJobs(std::make_unique<PdfJobList>()) {
  mShadings->setColorSpaces(mColorSpaces.get());
}

PdfPending::~PdfPending() {
  // The jobs first: their trees go back before anything else is released.
  mJobs->flushJobs();
  mColorSpaces.reset();
  mShadings.reset();
  mIndRefs.reset();
  mJobs.reset();
}

std::size_t PdfPending::addShading(std::unique_ptr<PDFShadingType> shading) {
  return mShadings->add(shading.release());
}

void PdfPending::addJob(std::shared_ptr<jobstr> job, std::unique_ptr<JobSpaSetter> setter) {
  mJobs->add(new JobWithSpaSetter{std::move(job), std::move(setter)});
}

void PdfPending::writePending(pdfouthan* handler, PDFDictionary* colorSpaces,
                              PDFDictionary* resources) {
  if (handler == nullptr) return;
  mColorSpaces->writeAll(handler, colorSpaces);
  if (!mShadings->empty()) {
    auto* shadingResources = new PDFDictionary();
    for (std::size_t i = 0; i < mShadings->size(); ++i) {
      mShadings->writeElement(handler, mShadings->get(i), i, shadingResources, nullptr);
    }
    if (resources != nullptr && shadingResources->Size() > 0) {
      resources->Set("Shading", shadingResources);
    }
  }
  mIndRefs->writeAll(handler);
}

PdfPending* GetPendingLists(pdfouthan& handler) {
  if (handler.mPending == nullptr) handler.mPending = new PdfPending();
  return handler.mPending;
}

void DeletePendingLists(pdfouthan& handler) {
  delete handler.mPending;
  handler.mPending = nullptr;
}

}  // namespace TavPDF
