#pragma once
// The Illustrator 3.2 writer: the job's paths and compound paths with their
// flat colours and strokes, as a self-contained Illustrator 3.2 document.
#include <string>
#include <string_view>
#include <vector>

struct jobstr;

namespace TavIllu {

// Paths with this many points or more are too complex for Illustrator's preview.
inline constexpr int kComplexPathPoints = 16384;

// Appends the document to `out`. Trap objects are written only with `traps`.
// Returns 0, or 1 when some path has kComplexPathPoints points or more (the
// path is written whole all the same). What the file cannot hold (texts,
// gradients' ramps, pictures, ...) is named in `leftOut`, once each, as the
// text of "ILLUSTRATOR/OBJECTS LEFT OUT". The job is only read.
int WriteIllustrator32(const jobstr* job, std::string_view title, bool traps, std::string& out,
                       std::vector<std::string>* leftOut = nullptr);

}  // namespace TavIllu
