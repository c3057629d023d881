#pragma once
// The export entry points the host calls: one PDF export of a job, the
// one-time initialisation with the link-parameter event handler, the ink
// remapping check, and the size estimates for maximum file size and previews.
//
// Results of OutputPDFDocument: 0 written; 1 abandoned with a message (no
// separations, a check, a cancel, a failure of the written file); -1 ink
// remapping problems without force; -2 a placed PDF 1.4 page that cannot be
// made PDF 1.3 compatible; -5 objects not allowed in normalized output; a
// file error code (TavSys::kFileErrorBase + errno) when the file could not
// be created or written. Whatever the result, an existing target is replaced
// only by a complete file, and no temporary file is left behind.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tavpdf/PDFSettings.h"
#include "tavpdf/export.h"

struct jobstr;
class XMPlInk;
struct MarksSettings;

// The host's naming of files: told of every file produced, asked for the JDF
// target and the document's author. Every operation has a neutral default.
class TAVPDF_EXPORT PDFFileNameHandler {
 public:
  virtual ~PDFFileNameHandler();
  virtual void FileProduced(const TavSys::FileSpec& file);
  virtual TavSys::FileSpec GetJDFTarget(const TavSys::FileSpec& target);
  virtual std::string GetAuthor();
};

using PDFInkCallback = std::function<int(std::string, jobstr*, XMPlInk&)>;

// Exports one job as a PDF file at target (see the results above). The
// settings record is the caller's; the job is changed only for the call.
TAVPDF_EXPORT int OutputPDFDocument(jobstr* job, PDFSettings& settings, MarksSettings& marks,
                                    bool refreshSeparationMap, bool force,
                                    PDFFileNameHandler* handler, TavSys::FileSpec& target,
                                    PDFInkCallback inkCallback,
                                    std::vector<TavSys::FileSpec>* producedFiles);

// Set by an export when something used a non-separable blend mode; read (and
// reset) by OutputPDFDocument's warning. Process-wide.
extern TAVPDF_EXPORT int pdfHasNonSeparableBlendmodes;

// Mirrors the distortion and dot-gain settings into the job's link parameters.
TAVPDF_EXPORT void UpdatePDFLinkParameters(jobstr& job, const PDFSettings& settings);

// Maximum-size configuration: estimates the file size and, when it exceeds
// settings.MaxSize (KB), chooses JPEG compression and a downsampling
// resolution. Returns the last estimate in KB (0 for a null job).
TAVPDF_EXPORT int CalculateMaxSizeConfiguration(jobstr* job, PDFSettings& settings, bool warn);
// The preview resolution (10..72 ppi) whose preview takes about kb kilobytes;
// 0 for a null job or an empty art box.
TAVPDF_EXPORT int CalculatePPI(const jobstr* job, int kb);
// The preview size in KB (at least 100) at a resolution (above 72 taken as
// 72); 0 for a null job, an empty art box or a resolution of 0 or less.
TAVPDF_EXPORT int CalculateSize(const jobstr* job, int ppi);

namespace TavPDF {
// Registers the link-parameter event handler (once per process).
TAVPDF_EXPORT void pdfoutini();
// The remap problem bits of the job (0 = none); when not 0, message receives
// the localized explanation (left untouched otherwise).
TAVPDF_EXPORT int CheckSeparationRemapping(jobstr* job, std::u16string& message);
}  // namespace TavPDF
