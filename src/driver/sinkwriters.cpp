// Per-object PDF files of the JDF folder, written through a temporary file.
#include <cerrno>
#include <fstream>

#include "driver/writepdf.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/files.h"
#include "platform/genoutfil.h"
#include "platform/kernel/tavdb.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace TavPDF {

namespace {

// Copies the file's bytes into the sink; 0, or a file error when it cannot be read.
int copyToSink(const std::filesystem::path& file, genoutfil& sink) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    TavSys::debug("Cannot open tempfile");
    return TavSys::kFileErrorBase + ENOENT;
  }
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    const std::streamsize n = in.gcount();
    for (std::streamsize i = 0; i < n; ++i) sink.PutByte(static_cast<std::uint8_t>(buffer[i]));
  }
  return in.bad() ? TavSys::kFileErrorBase + EIO : 0;
}

template <class Write>
int throughTemporaryFile(genoutfil& sink, Write write) {
  std::unique_ptr<TavSys::TempFolder> folder;
  try {
    folder = std::make_unique<TavSys::TempFolder>();
  } catch (const TavSys::Error& e) {
    TavSys::debug("Cannot create tempfile");
    return e.code();
  }
  TavSys::FileSpec temp(folder->path() / "object.pdf");
  const int result = write(temp);
  if (result != 0) return result;  // a failed file never reaches the folder
  return copyToSink(temp.path(), sink);
}

}  // namespace

int OutputPicturePDFToSink(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                           PDFFileNameHandler* handler, genoutfil& sink, std::uint64_t screenValue,
                           std::uint32_t screenNumber) {
  return throughTemporaryFile(sink, [&](TavSys::FileSpec& temp) {
    return WritePDFFile(job, settings, refreshSeparationMap, handler, false, &temp, nullptr, nullptr,
                        nullptr, screenValue, screenNumber, true, nullptr, nullptr);
  });
}

int OutputMarksPDFToSink(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                         PDFFileNameHandler* handler, genoutfil& sink, TavDB::Object* marks) {
  if (!marks) return TavSys::kResultAbandoned;
  const TavDB::tv_box& b = marks->bounds();
  const TavSys::tv_rectangle box{static_cast<double>(b.top), static_cast<double>(b.left),
                                 static_cast<double>(b.bottom), static_cast<double>(b.right)};
  return throughTemporaryFile(sink, [&](TavSys::FileSpec& temp) {
    return WritePDFFile(job, settings, refreshSeparationMap, handler, false, &temp, marks, &box, &box, 0,
                        kNoScreen, false, nullptr, nullptr);
  });
}

}  // namespace TavPDF
