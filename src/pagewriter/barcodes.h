#pragma once
// Barcodes in written documents: whether a barcode group may be written as a
// barcode form, and the dictionary of its parameters that the form's PieceInfo
// carries so that a later workflow step can make the symbol again.
#include <string>

#include "platform/kernel/geometry.h"

struct jobstr;
class barCreator;
namespace TavDB {
class Object;
}
namespace Fonts {
class FontFace;
}

namespace TavPDF {

class PDFDictionary;

// False for an object without a barcode creator, an edited barcode (with the
// message "PDF/BARCODE/MODIFIED BARCODE DETECTED"), a symbology the workflow
// cannot make again and a GS1 DataBar-14 other than the omnidirectional and
// stacked omnidirectional ones: such barcodes are written as ordinary graphics.
bool CheckBarcodeUnmodified(const TavDB::Object* object);

// Fills `dictionary` with the barcode's parameters (the group's creator
// record; angle in degrees). Conditions the workflow cannot reproduce are
// shown as messages; the dictionary is always completed.
void writeBarcodeParameters(jobstr* job, const TavDB::Object* group, const barCreator& creator,
                            double angle, PDFDictionary* dictionary);

// The rectangle of the first path of 4 or 5 points in the group's first
// sub-group (found false when there is none), and the font of the group's
// first text (empty when it has none).
struct BarcodeWhiteBoxAndFont {
  bool found = false;
  TavDB::tv_box box;
  std::string font;
};
BarcodeWhiteBoxAndFont GetBarcodeWhiteBoxAndFont(const TavDB::Object* group);
// The largest text size in the group's texts times the length of the text
// matrix's first row, in millimetres.
double GetBarcodeTextHeightMM(const TavDB::Object* group);
// The font's ascent at that text height, in millimetres.
double GetBarcodeFontAscent(const Fonts::FontFace& font, const TavDB::Object* group);

}  // namespace TavPDF
