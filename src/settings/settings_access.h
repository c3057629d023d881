#pragma once
// Access to the settings record by field name and to the flavours by name,
// for the command line: `--flavour NAME`, `--flavour-file FILE` and
// `--set Field=Value` of the export command, and `tavpdf flavours`.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "tavpdf/Flavour.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

// A flavour as the command line names it.
struct FlavourInfo {
  int number;         // the Flavour number; -1 for Vistamo, which has none
  const char* name;   // "Press", "NormalizedEmbedded", ...
  const char* description;
};

// Every flavour, by number (0 to 9), then Vistamo.
std::span<const FlavourInfo> FlavourList();

// A flavour by its name (without regard to case) or its number ("7"); null
// when there is none. The obsolete numbers 4 and 6 are found (as themselves).
const FlavourInfo* FindFlavour(std::string_view nameOrNumber);

// A record holding the preset of the flavour: Flavour set to its number (0
// for Vistamo), its factory values, obsolete numbers turned into Press.
// VerifyCompatibility is left to the caller, after its own changes.
PDFSettings SettingsForFlavour(const FlavourInfo& flavour);
// The same by name or number; throws TavSys::Error ("PDF/UNKNOWN FLAVOUR")
// when there is no such flavour.
PDFSettings SettingsForFlavour(std::string_view nameOrNumber);

// Reads a flavour file into a record instead of gPDFSettings; results as
// LoadFlavourFromFile. The record is changed only on success.
int LoadFlavourFileIntoSettings(const TavSys::FileSpec& source, PDFSettings& settings);
// The same over the bytes of a flavour file already in memory; `label` names
// them in messages.
int LoadFlavourBytesIntoSettings(std::string_view bytes, std::string_view label, PDFSettings& settings);
// Writes a record as a flavour file; results as SaveFlavourToFile.
int SaveSettingsToFlavourFile(const TavSys::FileSpec& target, const PDFSettings& settings);

// The fields of the record by name.
enum class SettingKind { Boolean, Long, Double, FileRef, Popup };

struct SettingField {
  const char* name;      // the field name, "NormalizedOutput"
  SettingKind kind;
  std::uint32_t key;     // preference key, 0 for the fields without a row
  std::int32_t PDFSettings::*intField = nullptr;
  double PDFSettings::*doubleField = nullptr;
  TavSys::filref PDFSettings::*fileField = nullptr;
  TavGen::PopupDataModel PDFSettings::*popupField = nullptr;
  // Accepted range: inclusive for Long, exclusive for Double.
  double minimum = 0;
  double maximum = 0;
};

// The 72 fields in record order.
std::span<const SettingField> SettingFields();
// A field by name, without regard to case; null when there is none.
const SettingField* FindSettingField(std::string_view name);

// The value as text: "1"/"0" for Boolean fields, decimal numbers, the path of
// a file reference ("" when cleared), the selected item's value and text of a
// popup ("1 (Portrait)").
std::string FormatSettingValue(const PDFSettings& settings, const SettingField& field);

// Sets a field from text, checking type and range first; the record is left
// untouched when the text does not fit. Boolean: true/false/1/0/yes/no/on/off;
// Long: a decimal integer in range; Double: a finite decimal number in range;
// file reference: a path ("" clears it); popup: an item's value or its text.
// Throws TavSys::Error ("PDF/BAD SETTING VALUE") on failure.
void SetSettingValue(PDFSettings& settings, const SettingField& field, std::string_view text);

// A field whose value lies outside its accepted range, however it got
// there (a flavour file, the host): the value as text and the reason.
struct SettingOutOfRange {
  const SettingField* field;
  std::string value;
  std::string reason;
};
// Every Boolean, Long and Double field of the record outside the range that
// SetSettingValue accepts, in record order.
std::vector<SettingOutOfRange> SettingsOutOfRange(const PDFSettings& settings);

// Applies "Field=Value" (the field name without regard to case). Throws
// TavSys::Error ("PDF/UNKNOWN SETTING", "PDF/BAD SETTING VALUE").
void ApplySettingOverride(PDFSettings& settings, std::string_view assignment);

}  // namespace TavPDF
