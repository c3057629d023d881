// deps: tv_jdf tv_driver tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel tv_platform
// A job read from arbitrary bytes, split into marks groups and placed objects
// and written as a JDF ticket (without its files). Nothing may crash, and the
// ticket must be well-formed XML in UTF-8 whatever names and texts the job holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "jdf/jdfplaced.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "settings/settings_access.h"

namespace {

class StringStream : public Xml::OutStream {
 public:
  void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
  void flush() override {}
  int status() const override { return 0; }
  std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TavGen::ScopedMessagesDisabler quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<jobstr> job;
  try {
    job = TavKernel::loadJobFromMemory(text, "/nonexistent-tavpdf-fuzz", "fuzz.json");
  } catch (const TavSys::Error&) {
    return 0;  // refused by the loader: not this target's concern
  }
  TavDB::ScopedCurrentJob current(job.get());
  PDFSettings settings = TavPDF::SettingsForFlavour("JDF");
  for (const bool collect : {false, true}) {
    JDFDocument document(job.get(), settings, true, false, collect, nullptr);
    TavSys::tv_rectangle box;
    getbox(job.get(), kMediaBox, box);
    JDFSheet* sheet = document.writeJDFLayout(box, "fuzz", {0, 1, -1, 0, 0, 0});
    collectJDFPlacedObjects(*sheet, job.get());
    StringStream out;
    document.toStream(out);
    pugi::xml_document read;
    if (!TavSys::IsValidUTF8(out.text) || !read.load_string(out.text.c_str())) std::abort();
  }
  return 0;
}
