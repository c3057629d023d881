#pragma once
// The JDF export: a JDF imposition ticket written into the folder of the
// target, with one PDF file per placed artwork and per group of marks, and
// placed PDF files copied there or referred to where they lie.
#include "platform/kernel/geometry.h"

struct jobstr;
class PDFSettings;
class PDFFileNameHandler;
class JDFFolderOutput;

// Writes the job through the folder output: the per-object files first, the
// ticket last, and the folder receives them only when the ticket is complete.
// The settings are expected with a neutral layout (Portrait, no mirror, no
// distortion); the layout matrix carries the layout into the ticket.
// Results: 0 when everything was written; 1 when the job holds what a JDF
// export cannot write, when the export was cancelled, or when some
// per-object file could not be written (each such file was named in a
// message); a file error when the ticket could not be written. Whenever the
// result is not 0 the folder is left as it was.
int exportJDF(jobstr* job, PDFSettings& settings, bool refreshSeparationMap, PDFFileNameHandler* handler,
              JDFFolderOutput& output, bool copyPDF, bool collectMarks,
              const TavDB::tv_matrixtyp<double>& layout);
