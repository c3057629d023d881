#pragma once
// Export of the host's open job as an Illustrator file.
#include "tavpdf/export.h"

struct jobstr;
namespace TavSys {
class FileSpec;
}

// Illustrator export modes.
enum IllustratorMode : int {
  kIllustrator32 = 0,  // Illustrator 3.2: paths and compound paths with their colours
  kIllustrator5 = 1,   // Illustrator 5.0 (so is every mode other than 0 and 2)
  kIllustrator7 = 2,   // Illustrator 7.0: also raster pictures and maps
};

// Writes the job to `file` in the format of `mode`. With `traps` non-zero,
// trap objects are written too; `factor` (the downsampling factor of raster
// images) and `keepInvisible` steer the Illustrator 5/7 writer. The job is
// only read. The file is written beside the target and moved onto it when
// complete: a failure or a cancel leaves the target as it was.
//
// Result: 0 written; 1 written, but with a message: in mode 0 some paths are
// too complex for previews in Illustrator (a warning), in the other modes
// something could not be written (an error said what, "ILLUSTRATOR FILE NOT
// COMPLETELY WRITTEN" followed); -2 cancelled, nothing written;
// TavSys::kFileErrorBase + errno when the file could not be created or
// written (a message was shown, nothing was written); another engine result
// after its message when the export was abandoned.
TAVPDF_EXPORT int outputIllustratorFile(jobstr* job, const TavSys::FileSpec& file, int mode,
                                        int traps, int factor, bool keepInvisible);
