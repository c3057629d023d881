#pragma once
// Writing one PDF file: the checks of the job against the settings, the edit
// log and certification broadcasts, the writer run, and the move of the
// complete file onto its target.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel/geometry.h"
#include "tavpdf/OutputPDF.h"

namespace TavDB {
class Object;
}

namespace TavPDF {

// Output file type code given to the system when the file is created.
inline constexpr int kPdfFileType = 3044;

// Result codes of the export beyond 0, 1 and the file errors.
enum ExportResult : int {
  kExportRemapProblem = -1,
  kExportPlacedPdf14 = -2,
  kExportInvalidForNormalized = -5,
};

// Writes the job as a PDF file at *target. tree (null: the job's own),
// mediaBox and trimBox (null: the job's) and screenValue/screenNumber go to
// the output handler unchanged. The ink callback (may be null) is moved into
// the handler. The file is written beside the target under a temporary name
// (in a temporary folder when PDFSettings::msUseTempFolder is set) and moved
// over the target only when everything succeeded, the second passes (placed
// PDF pages embedded, remapped inks renamed) included; on any other result
// the target is left as it was and no temporary file remains. That holds for
// kExportPlacedPdf14 too: a file whose placed pages stayed references would
// show them empty.
int WritePDFFile(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                 PDFFileNameHandler* handler, bool force, TavSys::FileSpec* target,
                 TavDB::Object* tree, const TavSys::tv_rectangle* mediaBox,
                 const TavSys::tv_rectangle* trimBox, std::uint64_t screenValue,
                 std::uint32_t screenNumber, bool archive, PDFInkCallback* inkCallback,
                 std::vector<TavSys::FileSpec>* producedFiles);

// After an export: when something used a non-separable blend mode
// (pdfHasNonSeparableBlendmodes) and a used process ink is not named exactly
// as its process colour, warns once and leaves the flag at 1, else sets it to
// 0. In batch mode it does nothing.
void WarnNonSeparableBlendModes(const jobstr* job);

// Shows the message about objects a normalized PDF cannot hold (by batch
// mode), naming the first of them (`objects`, VisitorSearchObjects::Offenders::Text).
void ReportInvalidNormalizedObjects(const std::string& objects);
// Updates the date of the job's certified-PDF info when certified PDF is on.
void FixCertifiedPDFDate(jobstr* job);

// The text of the maximum-size warning's two values: "6.84 MB" and "4.88 MB"
// for 7,000 and 5,000 KB. sizeKB is scaled by 1/1024 while above 1024 (four
// times at most); maxKB is given in the same unit.
void FormatMaxSizeTexts(double sizeKB, double maxKB, std::string& sizeText, std::string& maxText);

}  // namespace TavPDF

namespace TavPDF {

// The JDF road of an export: the edit-log entry, the job and settings
// prepared for the JDF writer (separations disabled as the settings say,
// origin at the media box's lower left corner, a neutral layout whose matrix
// goes to the ticket instead), put back afterwards whatever it returns.
// *target receives the folder output's current file (the ticket once it is
// written), and producedFiles (may be null) the per-object PDFs produced.
int OutputJDFDocument(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                      PDFFileNameHandler* handler, TavSys::FileSpec* target,
                      std::vector<TavSys::FileSpec>* producedFiles);

}  // namespace TavPDF

class genoutfil;

namespace TavPDF {

// The JDF folder's per-object PDF files: a full export pass into a temporary
// file whose bytes are then handed to the sink (its PutByte), in order. The
// bytes are handed on only when the export succeeded; the temporary file is
// removed in every case. Results: those of WritePDFFile, or a file error
// when the temporary file cannot be made or read back.
// The picture road writes the job with the handler's 64-bit screen value.
int OutputPicturePDFToSink(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                           PDFFileNameHandler* handler, genoutfil& sink, std::uint64_t screenValue,
                           std::uint32_t screenNumber);
// The marks road writes only the marks group (copies of the marks, owned by
// the caller), with its box as media and trim box.
int OutputMarksPDFToSink(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                         PDFFileNameHandler* handler, genoutfil& sink, TavDB::Object* marks);

}  // namespace TavPDF
