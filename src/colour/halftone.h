#pragma once
// Halftones: every screen of the job becomes a Type 5 halftone with one
// Type 1 halftone per ink (entered under the ink's output name, or "Black"
// in separated output) and a default. In normalized output the halftones
// keep the screen's own dot, curves and extended screening values in
// private keys. Values without a PDF form are replaced by defaults, and the
// user is told (each message once per document).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct jobstr;
struct ScreeningDictionary;
class PDFSettings;

namespace TavPDF {

class PDFDictionary;
class PDFIndirectReference;
class PDFName;
class PDFProof;
class pdfouthan;

// The Type 5 halftone of a screen, not yet written (its Type 1 halftones
// are); null for a screen without a PDF form. Records it with the writer's
// SetScreenHalftone (proof may be null). angleMessageShown: the flag of the
// "unknown angle" message. No stream may be open.
PDFDictionary* BuildSeparationHalftone(pdfouthan* handler, PDFProof* proof, jobstr* job, int screen,
                                       const PDFSettings& settings, bool* angleMessageShown);

// A Type 5 halftone for the job's inks when no screen is known: 120 lpi,
// the process angles, round dots. Not yet written.
PDFDictionary* BuildDefaultHalftone(pdfouthan* handler, jobstr* job, const PDFSettings& settings);

// Enters "Vorn_HTs" in target: one << /Name /HT >> per (screen name,
// halftone), the first default-named one (exactly, else ignoring case, else
// the first entry) marked /Default true.
void BuildNamedHalftoneArray(PDFDictionary* target,
                             const std::vector<std::pair<std::string, PDFIndirectReference*>>& list);

// The screen's angle for the ink; an unknown angle (-360) gives 45 for a
// spot ink or the process angle, with a message the first time (*shown).
double CheckScreenAngle(jobstr* job, int separation, double angle, bool* shown);

// The PDF spot function for an extended screen's dot shape name.
PDFName* MapDotShapeToSpotFunction(const std::string& dotShape);

// Whether a screen name is one of the localized names of the default
// screen: exactly, or ignoring case (Latin letters, accented ones included).
bool isDefaultName(const std::string& name);
bool isDefaultNameIgnoreCase(const std::string& name);

// The dictionary under key; made and entered when missing and create is set.
PDFDictionary* GetOrCreateSubDictionary(PDFDictionary* dictionary, const std::string& key, bool create);

// Writes an extended screen's values for one ink into target (the private
// "QEL_Halftone" dictionary). Always true.
bool BuildExtendedHalftoneDictionary(PDFDictionary* target, const ScreeningDictionary& values);

// Whether text is a program a Type 4 (PostScript calculator) function may
// hold: one procedure of numbers, calculator operators and procedures used
// by if and ifelse.
bool IsType4Program(std::string_view text);

}  // namespace TavPDF
