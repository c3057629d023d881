#include "driver/inkrename.h"

#include <set>

#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/tav_error.h"

namespace TavPDF {

namespace {

// The library's complaints while the inks are renamed: shown, and counted.
class PDFLibErrorReporter : public GOErrorReporter {
 public:
  void Report(const std::string& message) override {
    if (mCount++ == 0) mFirst = message;
    TavGen::message(TavGen::kError, 1, "PDF/CANNOT RENAME INKS", {{"__REASON__", message}});
  }
  int Count() const { return mCount; }
  const std::string& First() const { return mFirst; }

 private:
  int mCount = 0;
  std::string mFirst;
};

}  // namespace

void SetPieceInfoRenames(RenamePieceInfo& visitor, const std::string& oldName, const std::string& newName) {
  visitor.mRenames[oldName] = newName;
}

int RenameNamesInArray(RenamePieceInfo& visitor, GAArray array) {
  int changed = 0;
  for (int i = 0; i < array.GetLength(); ++i) {
    auto found = visitor.mRenames.find(array.GetName(i));
    if (!array.Get(i).IsName() || found == visitor.mRenames.end()) continue;
    array.Put(i, GAName(visitor.mDoc, found->second));
    changed = 1;
  }
  return changed;
}

int RenameKeysInDict(RenamePieceInfo& visitor, GADict dictionary) {
  if (!dictionary.IsValid()) return 0;
  // Keys are looked at as they were: a value moved to a new name is not
  // moved again by a rename of that name.
  std::map<std::string, GAObject> moved;
  for (const auto& [from, to] : visitor.mRenames) {
    if (!dictionary.Has(from)) continue;
    moved[to] = dictionary.Get(from);
    dictionary.Remove(from);
  }
  for (const auto& [to, value] : moved) dictionary.Put(to, value);
  return moved.empty() ? 0 : 1;
}

bool RenamePieceInfo::Change(GADoc& doc) {
  const GAArray inks = doc.GetCatalog().GetDict("PieceInfo").GetDict("inPDF").GetArray("Inks");
  if (inks.GetLength() < 2) return false;
  bool changed = RenameNamesInArray(*this, inks.GetArray(1)) != 0;
  if (inks.GetLength() > 4) {
    const GADict extra = inks.GetDict(4);
    if (extra.IsValid()) {
      changed = RenameNamesInArray(*this, extra.GetDict("MixingHints").GetArray("PrintingOrder")) != 0 || changed;
      changed = RenameKeysInDict(*this, extra.GetDict("inpd:InkTypes")) != 0 || changed;
    }
  }
  return changed;
}

bool RenamePieceInfo::Change(GADict& form) {
  if (mRenames.empty()) return false;
  const GAArray colors = form.GetDict("PieceInfo").GetDict("VornPNPDFO").GetDict("Private").GetArray("Colors");
  bool changed = false;
  for (int i = 0; i < colors.GetLength(); ++i) {
    const GAArray entry = colors.GetArray(i);
    GAArray space = entry.GetArray(0);
    if (space.GetLength() < 2) continue;
    if (space.GetName(0) == "Separation") {
      auto found = mRenames.find(space.GetName(1));
      if (found != mRenames.end()) {
        space.Put(1, GAName(mDoc, found->second));
        changed = true;
      }
      changed = RenameKeysInDict(*this, entry.GetDict(2)) != 0 || changed;
    } else {
      const GAArray names = space.GetArray(1);
      const int n = names.GetLength();
      changed = RenameNamesInArray(*this, names) != 0 || changed;
      changed = RenameKeysInDict(*this, entry.GetDict(n + 1)) != 0 || changed;
    }
  }
  return changed;
}

int RenameInksInWrittenFile(const jobstr* job, const TavSys::FileSpec& file, std::string* reason) {
  return RenameInksInWrittenFile(job, PassFile::AtPath(file.path()), reason);
}

int RenameInksInWrittenFile(const jobstr* job, const PassFile& file, std::string* reason) {
  if (job == nullptr) return 0;
  PDFLibErrorReporter reporter;
  GOErrorReporterScope scope(&reporter);
  // The first problem is the cause the caller names.
  struct TellReason {
    const PDFLibErrorReporter& reporter;
    std::string* reason;
    ~TellReason() {
      if (reason != nullptr) *reason = reporter.First();
    }
  } tell{reporter, reason};
  try {
    GADoc doc(file.path);
    GOVChangeRenameSpot spots;
    RenamePieceInfo pieceInfo(doc);
    bool changed = false;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int target = seppdftyp(job).GetMappedTo(slot);
      if (GetSeparationName(job, slot).empty() || target < 0 || GetSeparationName(job, target).empty()) continue;
      const std::string& from = GetSeparationName(job, slot);
      const std::string& to = GetSeparationName(job, target);
      if (from == to) continue;
      if (!seppdftyp::NeedsOutputting(job, target)) {
        spots.AddRemap(from, "None");
      } else {
        spots.AddRemap(from, to);
        SetPieceInfoRenames(pieceInfo, from, to);
      }
      changed = true;
    }
    if (changed) {
      GOVTable table;
      table.Append(&spots);
      table.Append(&pieceInfo);
      GOVActor::GetInstance().Run(doc, table);
    }
    // A colour that could not be renamed would print on an ink that is not
    // to be output: such a file is not saved.
    if (reporter.Count() != 0) return 1;
    if (doc.IsDirty()) file.save(doc);
    return reporter.Count() != 0 ? 1 : 0;
  } catch (const TavSys::Error& e) {
    reporter.Report(e.detail().empty() ? e.text() : e.detail());
  } catch (const std::exception& e) {
    reporter.Report(e.what());
  }
  return 1;
}

}  // namespace TavPDF
