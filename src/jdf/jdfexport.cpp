#include "jdf/jdfexport.h"

#include <cerrno>
#include <filesystem>

#include "jdf/jdfdocument.h"
#include "jdf/jdfoutput.h"
#include "jdf/jdfplaced.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/tav_error.h"

namespace {

int ticketFailure(JDFFolderOutput& output, const TavSys::FileSpec& ticket, int error) {
  output.discard();
  TavGen::message(TavGen::kBatchError, 1, "JDF/COULD NOT WRITE JDF FILE",
                  {{"__FILE__", ticket.GetFullPathUTF8()}, {"__REASON__", TavSys::GetFileErrorMessage(error)}});
  return error;
}

}  // namespace

int exportJDF(jobstr* job, PDFSettings& settings, bool refreshSeparationMap, PDFFileNameHandler* handler,
              JDFFolderOutput& output, bool copyPDF, bool collectMarks,
              const TavDB::tv_matrixtyp<double>& layout) {
  const int reporter = TavricCore::RegisterReporter(TavCore::GetLocalizedUni16String("JDF/REPORTER").utf8());
  TavricCore::ErrorReporterScopeGuard reporterGuard(reporter);

  const std::string ticketName = output.baseName() + ".jdf";
  // A target that cannot become the ticket is refused before anything is
  // written: no name, a folder in its place, or no folder to hold it.
  const std::filesystem::path folder = output.target().path().parent_path();
  const TavSys::FileSpec ticket(folder / ticketName);
  std::error_code ec;
  if (output.baseName().empty()) return ticketFailure(output, ticket, TavSys::kFileErrorBase + EINVAL);
  if (std::filesystem::is_directory(ticket.path(), ec)) return ticketFailure(output, ticket, TavSys::kFileErrorBase + EISDIR);
  if (!std::filesystem::is_directory(folder.empty() ? std::filesystem::path(".") : folder, ec))
    return ticketFailure(output, ticket, TavSys::kFileErrorBase + ENOENT);

  JDFDocument document(job, settings, refreshSeparationMap, copyPDF, collectMarks, handler);
  TavSys::tv_rectangle box;
  getbox(job, kMediaBox, box);
  // The sheet's name is at most 127 bytes, cut between characters.
  JDFSheet* sheet = document.writeJDFLayout(box, Utf8Prefix(output.baseName(), 127), layout);
  if (!collectJDFPlacedObjects(*sheet, job)) return TavSys::kResultAbandoned;

  const int failures = document.writeJDFRunLists(output);
  if (failures != 0) {
    // Cancelled, or a file the ticket would name is missing (each one was
    // named in a message): a ticket without it would send the job to press
    // incomplete, so the folder stays as it was.
    output.discard();
    return TavSys::kResultAbandoned;
  }

  genoutfil* stream = nullptr;
  if (output.openFile(ticketName, kJDFTicketFile, stream) != JDFOutput::Opened::Stream)
    return ticketFailure(output, output.currentFileSpec(), output.lastError());
  XmlOutputStream xml(*stream);
  document.toStream(xml);
  int result = output.closeFile(true);
  if (result == 0) result = output.commit();
  if (result != 0) return ticketFailure(output, output.currentFileSpec(), result);
  return 0;
}
