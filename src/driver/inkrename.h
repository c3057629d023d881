#pragma once
// Ink renaming in the written file: with the separation disabler, inks that
// the job's separation map sends onto another ink are renamed in the file
// just written (above all inside placed PDF pages copied into it): to the
// ink they are mapped onto, or to "None" when that ink is not output. The
// private ink lists (PieceInfo) of the document and of forms follow.
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/pdflib.h"

struct jobstr;

namespace TavPDF {

// Renames the inks of the private ink lists: the Catalog's PieceInfo inPDF
// Inks and the Colors lists of forms' PieceInfo.
class RenamePieceInfo : public GOVDefaultChange {
 public:
  explicit RenamePieceInfo(GADoc& doc) : mDoc(doc) {}
  bool Change(GADoc& doc) override;
  bool Change(GADict& form) override;

  std::map<std::string, std::string> mRenames;  // old ink name -> new
  GADoc& mDoc;                                  // where new names are made
};

// Adds a rename, or replaces the new name of one already there.
void SetPieceInfoRenames(RenamePieceInfo& visitor, const std::string& oldName, const std::string& newName);
// Renames the array's names that are old names; non-zero when one changed.
int RenameNamesInArray(RenamePieceInfo& visitor, GAArray array);
// Moves every value kept under an old name to the new name; non-zero when one moved.
int RenameKeysInDict(RenamePieceInfo& visitor, GADict dictionary);

// The renaming pass over the written file (saved in place, through a new file
// beside it, only when something changed). 0 done; 1 when the file could not
// be read, renamed or saved (each problem shown; `reason`, when given,
// receives the first).
int RenameInksInWrittenFile(const jobstr* job, const TavSys::FileSpec& file, std::string* reason = nullptr);
// The same over a file that `save` puts in place of the written one.
int RenameInksInWrittenFile(const jobstr* job, const PassFile& file, std::string* reason = nullptr);

}  // namespace TavPDF
