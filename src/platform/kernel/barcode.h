#pragma once
// Barcodes of the job model: the barcode creator's record that tags a group of
// paths and texts as a barcode (its symbology and parameter list), and the
// creator itself, which draws a symbol with libzint when the job file gives
// the record without the drawn objects.
//
// A barcode group carries the creator record of class 0x1030000; a barcode
// edited after it was made also carries a record of class 0x10E0000. The
// parameter list is the kernel's list of 260-byte entries (an id and a
// 256-byte value); the model keeps each value typed and its text bounded.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/geometry.h"

struct jobstr;
namespace TavDB {
class Object;
}

inline constexpr std::uint32_t kBarcodeCreatorClass = 0x1030000;
inline constexpr std::uint32_t kBarcodeEditedClass = 0x10E0000;
inline constexpr std::uint32_t kCreatorClassMask = 0xFFFF0000;

// Parameter ids of the barcode creator's list.
enum BarcodeParameterId : std::uint32_t {
  kBarCode = 2,                 // text: the data
  kBarMagnification = 3,        // integer: thousandths; negative = the default (1.0)
  kBarWidthReduction = 4,       // integer: job units
  kBarHeight = 5,               // integer: job units; 0 = the symbology's height
  kBarFont = 8,                 // byte: 0 = the default font, 1 = the text's own font
  kBarCornerMarks = 9,          // byte; GS1 DataBar-14: its form (kDataBar...)
  kBarQuietZone = 10,           // byte
  kBarLightMarginIndicator = 11,  // byte
  kBarLeftMargin = 12,          // integer: job units
  kBarRightMargin = 13,         // integer: job units
  kBarTextHidden = 14,          // byte
  kBarBorders = 17,             // byte
  kBarLeftAngularBracket = 23,  // byte
  kBarModuleSize = 37,          // integer: job units
  kBarErrorCorrection = 40,     // byte 0..3
  kBarMinSymbolSize = 41,       // byte: symbol size + 1
  kBarAddCheckDigit = 44,       // byte
  kBarDataMatrixType = 45,      // integer: kDataMatrix...
  kBarWhiteBox = 46,            // byte
};

// Forms of GS1 DataBar-14 (type 29), kept in parameter 9.
enum DataBarForm : std::int32_t {
  kDataBarOmni = 0, kDataBarTruncated = 1, kDataBarStacked = 2, kDataBarStackedOmni = 3
};
// DataMatrix symbol types (parameter 45).
enum DataMatrixType : std::int32_t { kDataMatrixAuto = 0, kDataMatrixSquare = 1, kDataMatrixRectangle = 2 };

// One entry of the parameter list. In the kernel's file each entry is a u32 id
// and a 256-byte value read as an int32, a byte or NUL-terminated text; here
// the value is typed and a text holds at most kTextBytes bytes.
struct BarcodeParameter {
  static constexpr std::size_t kEntryBytes = 260;
  static constexpr std::size_t kTextBytes = 255;  // the 256-byte field keeps its NUL
  enum class Kind : std::uint8_t { kInteger, kByte, kText };

  std::uint32_t id = 0;
  Kind kind = Kind::kInteger;
  std::int32_t value = 0;   // integer, or byte 0..255
  std::string text;         // kText only

  static BarcodeParameter Integer(std::uint32_t id, std::int32_t value);
  static BarcodeParameter Byte(std::uint32_t id, std::uint8_t value);
  // Throws std::length_error for a text longer than kTextBytes.
  static BarcodeParameter Text(std::uint32_t id, std::string text);
};

// The barcode creator's record (class 0x1030000) of a barcode group.
class barCreator {
 public:
  barCreator(int type, std::vector<BarcodeParameter> parameters)
      : mType(type), mParameters(std::move(parameters)) {}

  int GetType() const { return mType; }
  const std::vector<BarcodeParameter>& GetParameters() const { return mParameters; }
  // The first entry with the id, or null.
  const BarcodeParameter* Find(std::uint32_t id) const;
  // The data text (parameter 2), empty when there is none.
  const std::string& GetCode() const;

 private:
  int mType;
  std::vector<BarcodeParameter> mParameters;
};

// The creator records of an object (null / false when it has none).
const barCreator* GetBarcodeCreator(const TavDB::Object* object);
bool HasBarcodeEditCreator(const TavDB::Object* object);

// The symbology name of a type code ("EAN-13", ...); empty for a code without
// one. Type 29 is named by its form (parameter 9).
std::string BarcodeSymbologyName(int type, const barCreator* creator = nullptr);
// The type code of a symbology name as the job file gives it (29 for both
// DataBar-14 names); -1 for an unknown name.
int BarcodeTypeFromName(std::string_view name);
// Whether the type code names the symbology (the codes of one symbology share
// its name: 6 and 43 are both EAN-13).
bool BarcodeTypeHasName(int type, std::string_view name);
bool IsGS1DataBarExpanded(int type);

// The text of a DataMatrix symbol type (parameter 45).
std::string GetDatamatrixSymbolTypeString(std::int32_t value);

// The font of the human-readable text when the barcode names none (a stand-in
// for the symbologies' own OCR-B).
inline constexpr const char* kBarcodeDefaultFont = "NimbusMonoPS-Regular";

// What a barcode needs to be made: the creator's record and where and how the
// symbol is drawn.
struct BarcodeDrawing {
  TavDB::tv_point at;          // top left corner of the symbol, quiet zones included
  std::uint16_t paint = 0;     // bars and text
  std::uint16_t whitePaint = 0;  // the white box; 0 = none is painted
  std::string font;            // font of the human-readable text
  double angle = 0;            // degrees, clockwise on the page, about `at`
};

// The SONAME of libzint, found when the engine was built; it is loaded when a
// job first checks or draws a barcode. Tests name another library in its
// place (a missing one, or one without the encoder's functions) to see the
// barcode refused with the loader's reason.
std::string BarcodeEncoderLibrary();
void SetBarcodeEncoderLibrary(std::string soname);

// Whether libzint can draw the symbology of a type code.
bool BarcodeCanBeDrawn(int type);
// Checks the data and options of a record against the symbology; nullopt when
// libzint encodes them, else libzint's reason (or ours, for lengths libzint
// would read as another symbology).
std::optional<std::string> CheckBarcodeData(const barCreator& creator, int ppi);
// Draws the symbol into the (empty) group: a first sub-group holding the white
// box rectangle, a compound path of the bars and one text per human-readable
// string, in job units, turned by the angle; the group's matrix and origin
// then say how it was turned. Throws TavSys::Error when libzint refuses the data.
void DrawBarcode(jobstr* job, TavDB::Object* group, const barCreator& creator,
                 const BarcodeDrawing& drawing);

// The kernel's code function: the text that stands for a barcode's data in
// its parameter dictionary; null (the default) when the host has none, and
// then the data text itself is used. nonStandard reports a non-standard AI 01
// encodation.
using BarcodeCodeFunction = std::string (*)(const barCreator& creator, bool& nonStandard);
extern BarcodeCodeFunction gGetBarcodeCodeFunction;
// The row width of a stacked GS1 DataBar Expanded symbol for a code; null when
// the host has none.
using GS1DataBarExpandedStackedRowWidthFunction = int (*)(const std::string& code);
extern GS1DataBarExpandedStackedRowWidthFunction gGetGS1DataBarExpandedStackedRowWidthFunction;
