#pragma once
// JDF exports for the tests, the ticket read back, the folder checked by real
// consumers, and the per-object files composed again by the ticket's CTMs.
#include <pugixml.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "driver_support.h"

namespace jdftest {

struct Export {
  int result = 0;
  std::vector<TavGen::Message> messages;
  std::vector<TavSys::FileSpec> produced;
  TavSys::FileSpec ticket;  // what the export reports as its file
  bool has(const std::string& key) const;
};

// OutputPDFDocument with GenerateJDF set in the settings.
Export exportJdf(jobstr* job, PDFSettings& settings, const std::filesystem::path& target,
                 PDFFileNameHandler* handler = nullptr);

// The ticket parsed (a failure of the test when it is not well-formed).
pugi::xml_document readTicket(const std::filesystem::path& ticket);
// The file a FileSpec URL of the ticket names.
std::filesystem::path fileOfURL(const std::filesystem::path& ticket, const std::string& url);

// The ticket passes xmllint, its identifiers are unique and every rRef names
// one; every FileSpec names a file that exists and each PDF among them passes
// every consumer; no temporary file is left in the folder.
void expectFolderSound(const std::filesystem::path& ticket);

// One page showing every MarkObject and ContentObject of the ticket's surface
// in order: each file's page drawn by its CTM, clipped by the ClipBox and the
// SourceClipPath, on the SurfaceContentsBox.
void composeByTicket(const std::filesystem::path& ticket, const std::filesystem::path& out);

// Each ink's plate of the two files differs by less than 1 % of the page
// (mean absolute difference), and both have the same inks.
void expectSamePlates(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace jdftest
