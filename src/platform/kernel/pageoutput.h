#pragma once
// Kernel and core services that the document and page-dictionary writers
// need: the layout matrix of orientation, mirror and distortion, rectangles
// transformed about a point, the product's creator text, the binary-output
// flag and PDF date texts.
#include <cstdint>
#include <string>

#include "platform/kernel/geometry.h"
#include "platform/system.h"

// The layout matrix of an output: orientation (0 turn right, 1 portrait,
// 2 turn left, 3 upside down; any other value is portrait), mirror and the
// vertical and horizontal distortion in percent. It acts on job points given
// vertical coordinate first (v' = a·v + c·h, h' = b·v + d·h, job axes: v
// down, h right), so that transforming a job rectangle with it about the
// job's origin gives the rectangle that the output matrix of the same layout
// produces in points. The last two arguments are kept for the kernel's
// signature and must be 0.
TavDB::tv_matrixtyp<double> getLayoutMatrix(int orientation, bool mirror, double distortionV,
                                            double distortionH, int reserved1, int reserved2);

namespace TavCore {
// The rectangle (top, left, bottom, right) transformed by the four linear
// values of a matrix acting on (v, h) about the point `about` (vertical
// first), as the bounding rectangle of its four transformed corners.
TavSys::tv_rectangle TransformRectangle(const TavSys::tv_rectangle& rect, TavDB::tv_point about,
                                        double a, double b, double c, double d);

// A PDF date text "D:YYYYMMDDHHmmSSZ" (UTC) of a point in time.
std::string CreatePDFStringFromDateTime(const TavSys::DateTime& when);
}  // namespace TavCore

namespace TavricLib {
// The product's creator text, written as the documents' Creator and Producer.
const std::string& GetTavricCreator();
}  // namespace TavricLib

struct jobstr;

// Prepares the separations for writing: with useSeparationDisabler, every
// enabled separation that the job's separation disabler keeps out of the
// output is disabled (sepEnableAll undoes it). The export driver calls it
// before a document, the document writer again after separated output has
// enabled every ink. The separation map is always current, so
// refreshSeparationMap asks for nothing more.
void DisableUnoutputSeparations(jobstr* job, bool useSeparationDisabler, bool refreshSeparationMap);
// An ink the separation map sends onto another one prints on that ink's
// plate, so its own output parameters are switched off: it takes the dot-gain
// curve of the ink it is mapped onto (Separation::parametersOf). Part of
// DisableUnoutputSeparations; JobStateGuard puts the parameters back.
void DisableSeparationParameters(jobstr* job);

// Non-zero (the default): the output carries real dates. Zero: dates are
// those of time 0, for output that must not change from run to run.
extern int filsavall;
