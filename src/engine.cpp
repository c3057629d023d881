// The shared engine library is the union of the subsystem libraries; this
// file only gives the target a source of its own and the library version.
#include "tavpdf/export.h"

extern "C" TAVPDF_EXPORT const char* tavpdfVersion() { return "0.1.0"; }
