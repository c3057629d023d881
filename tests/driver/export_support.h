#pragma once
// Running whole exports in the driver tests.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/kernel/exportkernel.h"
#include "platform/messages.h"
#include "tavpdf/OutputPDF.h"

namespace drivertest {

struct ExportRun {
  int result = 0;
  std::vector<TavGen::Message> messages;
  bool has(const std::string& key) const;
  // The first message of the key; throws when there is none.
  const TavGen::Message& message(const std::string& key) const;
  std::string keys() const;  // for failure messages
};

// Settings of a flavour, brought into line as the host does.
PDFSettings flavour(const std::string& name);

// OutputPDFDocument with the messages it showed.
ExportRun exportJob(jobstr* job, PDFSettings settings, const std::filesystem::path& target,
                    bool force = false);

// Files in a folder (names), to see that nothing is left behind.
std::vector<std::string> folderListing(const std::filesystem::path& folder);

// A small tmpfs mounted for one test (unmounted on destruction). mounted()
// is false where the process may not mount.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& where, int kilobytes);
  ~SmallDisk();
  bool mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return path_; }
  // Remounts read-only.
  bool makeReadOnly();

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
};

}  // namespace drivertest
