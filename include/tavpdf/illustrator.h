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
  kIllustrator5 = 1,   // Illustrator 5.0 (not available in this version)
  kIllustrator7 = 2,   // Illustrator 7.0 (not available in this version)
};

// Writes the job to `file` in the format of `mode`. With `traps` non-zero,
// trap objects are written too; `factor` and `keepInvisible` steer the
// Illustrator 5/7 writer. The job is only read.
//
// Result: 0 written; 1 written, but some paths are too complex for previews in
// Illustrator (a warning was shown); kResultAbandoned (1) with a message is
// also the answer for a mode that is not available, in which case nothing is
// written; TavSys::kFileErrorBase + errno when the file could not be created
// (a message was shown, nothing was written).
TAVPDF_EXPORT int outputIllustratorFile(jobstr* job, const TavSys::FileSpec& file, int mode,
                                        int traps, int factor, bool keepInvisible);
