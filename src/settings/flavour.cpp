// The preference table of the global settings and the flavour snapshots
// (factory values, check point, current values) over it.
#include "tavpdf/Flavour.h"

#include "platform/popup.h"

namespace TavPDF {
namespace {

using TavGen::FourCharCode;
using TavGen::PreferenceEntry;
using Row = PreferenceEntry;

constexpr std::uint16_t kLong = TavGen::kPrefLong;
constexpr std::uint16_t kDouble = TavGen::kPrefDouble;
constexpr std::uint16_t kFile = TavGen::kPrefFileRef;
constexpr std::uint16_t kPopup = TavGen::kPrefPopup;
constexpr std::uint16_t kBool = TavGen::kPrefBoolean;

}  // namespace

// Rows point at the fields of gPDFSettings; the addresses are constants, so
// the table is complete before any code of the library runs.
constinit const PreferenceEntry pdfprftab[kPreferenceRowCount + 1] = {
    Row("NormalizedOutput", &gPDFSettings.NormalizedOutput, FourCharCode("Norm"), 25168, kBool),
    Row("OptimizeWhiteObjects", &gPDFSettings.OptimizeWhiteObjects, FourCharCode("OWhi"), 25292, kBool),
    Row("SeparatedOutput", &gPDFSettings.SeparatedOutput, FourCharCode("Sepa"), 25289, kBool),
    Row("CompositeOnPageOne", &gPDFSettings.CompositeOnPageOne, FourCharCode("Cmp1"), 25293, kBool),
    Row("FlattenOverprints", &gPDFSettings.FlattenOverprints, FourCharCode("PFlO"), 25243, kBool),
    Row("FlattenBlackOverprint", &gPDFSettings.FlattenBlackOverprint, FourCharCode("PFbo"), 25244, kBool),
    Row("IgnorePlacedOverprints", &gPDFSettings.IgnorePlacedOverprints, FourCharCode("IgPO"), 26056, kBool),
    Row("VectorizeOpacity", &gPDFSettings.VectorizeOpacity, FourCharCode("VcOp"), 25339, kBool),
    Row("CompressPages", &gPDFSettings.CompressPages, FourCharCode("CmPg"), 3104, kBool),
    Row("CompressImages", &gPDFSettings.CompressImages, FourCharCode("CmIm"), 3115, kLong),
    Row("VectorizeText", &gPDFSettings.VectorizeText, FourCharCode("VcTx"), 3105, kBool),
    Row("SubsetThreshhold", &gPDFSettings.SubsetThreshhold, FourCharCode("Fsst"), 25044, kLong),
    Row("MaxPathSize", &gPDFSettings.MaxPathSize, FourCharCode("PtSz"), 3092, kLong),
    Row("DownsampleResolution", &gPDFSettings.DownsampleResolution, FourCharCode("Sre2"), 3094, kLong),
    Row("DownsampleUseMinimum", &gPDFSettings.DownsampleUseMinimum, FourCharCode("DSMi"), 27202, kBool),
    Row("DownsampleFromPPI", &gPDFSettings.DownsampleFromPPI, FourCharCode("DSfP"), 27201, kLong),
    Row("UseDownsampling", &gPDFSettings.UseDownsampling, FourCharCode("Suse"), 11680, kBool),
    Row("UseAveraging", &gPDFSettings.UseAveraging, FourCharCode("Savg"), 11681, kBool),
    Row("DownsamplingFor1BitImages", &gPDFSettings.DownsamplingFor1BitImages, FourCharCode("1btd"), 25336, kBool),
    Row("AddNotes", &gPDFSettings.AddNotes, FourCharCode("Note"), 4910, kBool),
    Row("AddThumbnail", &gPDFSettings.AddThumbnail, FourCharCode("Thum"), 4911, kBool),
    Row("AddNonPrintingLayers", &gPDFSettings.AddNonPrintingLayers, FourCharCode("Lnpr"), 3144, kBool),
    Row("UsePictureCache", &gPDFSettings.UsePictureCache, FourCharCode("Picc"), 4916, kBool),
    Row("OutputGradientsAsImages", &gPDFSettings.OutputGradientsAsImages, FourCharCode("GaIm"), 25515, kBool),
    Row("GenerateJDF", &gPDFSettings.GenerateJDF, FourCharCode("JdfG"), 30141, kBool),
    Row("JDFCopyPDF", &gPDFSettings.JDFCopyPDF, FourCharCode("JdfC"), 27208, kBool),
    Row("JDFCollectMarks", &gPDFSettings.JDFCollectMarks, FourCharCode("JdCM"), 10510, kBool),
    Row("EnableFlattening", &gPDFSettings.EnableFlattening, FourCharCode("PFlE"), 27199, kBool),
    Row("IncludeStandardPreview", &gPDFSettings.IncludeStandardPreview, FourCharCode("Rpri"), 26035, kBool),
    Row("IncludePreview", &gPDFSettings.IncludePreview, FourCharCode("Ppri"), 27165, kBool),
    Row("IncludeSeparatedPreview", &gPDFSettings.IncludeSeparatedPreview, FourCharCode("Spri"), 26053, kBool),
    Row("PreviewAntiAliasing", &gPDFSettings.PreviewAntiAliasing, FourCharCode("SpAA"), 10509, kBool),
    Row("IncludeVornPreview", &gPDFSettings.IncludeVornPreview, FourCharCode("VoPr"), 25297, kBool),
    Row("PreviewResolution", &gPDFSettings.PreviewResolution, FourCharCode("Pprr"), 27166, kLong),
    Row("MaxSize", &gPDFSettings.MaxSize, FourCharCode("MaxS"), 27161, kLong),
    Row("MaxSizeEnabled", &gPDFSettings.MaxSizeEnabled, FourCharCode("MaxE"), 27011, kBool),
    Row("IncludeScreening", &gPDFSettings.IncludeScreening, FourCharCode("IScr"), 27012, kBool),
    Row("ScreenRegistration", &gPDFSettings.ScreenRegistration, FourCharCode("ScrR"), 25337, kPopup),
    Row("IncludeLayers", &gPDFSettings.IncludeLayers, FourCharCode("ILay"), 27013, kBool),
    Row("OutputFullyTransparentObjects", &gPDFSettings.OutputFullyTransparentObjects, FourCharCode("TraO"), 34038, kBool),
    Row("AddRegistrationMarks", &gPDFSettings.AddRegistrationMarks, FourCharCode("RGma"), 20000, kBool),
    Row("ForceOpaqueSeparationsToKnockout", &gPDFSettings.ForceOpaqueSeparationsToKnockout, FourCharCode("NoOO"), 26052, kBool),
    Row("Orientation", &gPDFSettings.Orientation, FourCharCode("Orie"), 25119, kPopup),
    Row("VerticalDistortion", &gPDFSettings.VerticalDistortion, FourCharCode("DstV"), 25120, kDouble),
    Row("HorizontalDistortion", &gPDFSettings.HorizontalDistortion, FourCharCode("DstH"), 25121, kDouble),
    Row("Mirror", &gPDFSettings.Mirror, FourCharCode("Mirr"), 25122, kBool),
    Row("EnableDotgain", &gPDFSettings.EnableDotgain, FourCharCode("Dotg"), 25124, kBool),
    Row("AddCMYKSeparations", &gPDFSettings.AddCMYKSeparations, FourCharCode("PckS"), 25279, kBool),
    Row("ProcessCMYKFlags", &gPDFSettings.ProcessCMYKFlags, FourCharCode("cmyk"), 25347, kBool),
    Row("DotgainFile", &gPDFSettings.DotgainFile, FourCharCode("DotF"), 4132, kFile),
    Row("ImageClipping", &gPDFSettings.ImageClipping, FourCharCode("IClp"), 26059, kBool),
    Row("UseColormanagement", &gPDFSettings.UseColormanagement, FourCharCode("Cmmt"), 25129, kBool),
    Row("UseSeparationDisabler", &gPDFSettings.UseSeparationDisabler, FourCharCode("NoSp"), 25130, kBool),
    Row("CertifyInkCoverage", &gPDFSettings.CertifyInkCoverage, FourCharCode("CInk"), 26061, kBool),
    Row("LinkType", &gPDFSettings.LinkType, FourCharCode("PLnk"), 25288, kLong),
    Row("EmbedImages", &gPDFSettings.EmbedImages, FourCharCode("PemI"), 33084, kBool),
    Row("CopyLinksToOutput", &gPDFSettings.CopyLinksToOutput, FourCharCode("CpLn"), 25340, kBool),
    Row("SaveImageLinks", &gPDFSettings.SaveImageLinks, FourCharCode("SvLi"), 25342, kBool),
    Row("Flavour", &gPDFSettings.Flavour, FourCharCode("Flav"), 27162, kLong),
    Row("ImageAlternate", &gPDFSettings.ImageAlternate, FourCharCode("ImAl"), 26049, kBool),
    Row("CertifiedEnabled", &gPDFSettings.CertifiedEnabled, FourCharCode("CerE"), 27206, kBool),
    Row("CertifiedIncrementalSave", &gPDFSettings.CertifiedIncrementalSave, FourCharCode("CerI"), 30100, kBool),
    Row("CertifiedUseEmbeddedProfile", &gPDFSettings.CertifiedUseEmbeddedProfile, FourCharCode("CerQ"), 30120, kBool),
    Row("CertifiedOutputProfile", &gPDFSettings.CertifiedOutputProfile, FourCharCode("CerP"), 30058, kFile),
    Row("IsolateOneUp", &gPDFSettings.IsolateOneUp, FourCharCode("Iso1"), 34039, kBool),
    Row("AddPageBoxes", &gPDFSettings.AddPageBoxes, FourCharCode("PgBx"), 34040, kBool),
    Row(),
};

namespace {

// Snapshot accessors. A popup row's int is the value of its selected item; it
// is restored as an item index, which is the same number for the popups of
// the settings record (their values equal their indexes).
int getInt(const PreferenceEntry& row) {
  if (row.type() == TavGen::kPrefPopup) {
    return static_cast<const TavGen::PopupDataModel*>(row.value())->GetValue();
  }
  return *static_cast<const std::int32_t*>(row.value());
}

void setInt(const PreferenceEntry& row, const int& value) {
  if (row.type() == TavGen::kPrefPopup) {
    static_cast<TavGen::PopupDataModel*>(row.value())->SetSelection(value);
  } else {
    *static_cast<std::int32_t*>(row.value()) = value;
  }
}

double getDouble(const PreferenceEntry& row) { return *static_cast<const double*>(row.value()); }
void setDouble(const PreferenceEntry& row, const double& value) {
  *static_cast<double*>(row.value()) = value;
}

TavSys::filref getFile(const PreferenceEntry& row) {
  return *static_cast<const TavSys::filref*>(row.value());
}
void setFile(const PreferenceEntry& row, const TavSys::filref& value) {
  *static_cast<TavSys::filref*>(row.value()) = value;
}

constexpr std::uint32_t kFlavourKey = FourCharCode("Flav");

}  // namespace

Flavour::MenuSettings::MenuSettings(const PreferenceEntry* table) : mTable(table) { Rebuild(); }

Flavour::MenuSettings::~MenuSettings() = default;

void Flavour::MenuSettings::Rebuild() {
  mSettings.clear();
  if (mTable == nullptr) return;
  for (const PreferenceEntry* row = mTable; !row->isEnd(); ++row) {
    // The flavour number belongs to the host, never to a snapshot; rows
    // without a field have nothing to capture.
    if (row->key() == kFlavourKey || row->value() == nullptr) continue;
    switch (row->type()) {
      case TavGen::kPrefLong:
      case TavGen::kPrefPopup:
      case TavGen::kPrefBoolean:
        mSettings.push_back(std::make_unique<MenuSetting<int>>(row, &getInt, &setInt));
        break;
      case TavGen::kPrefDouble:
        mSettings.push_back(std::make_unique<MenuSetting<double>>(row, &getDouble, &setDouble));
        break;
      case TavGen::kPrefFileRef:
      case TavGen::kPrefFileRefAlias:
        mSettings.push_back(std::make_unique<MenuSetting<TavSys::filref>>(row, &getFile, &setFile));
        break;
      default: break;
    }
  }
}

void Flavour::MenuSettings::SaveAll() {
  for (auto& setting : mSettings) setting->Save();
}

void Flavour::MenuSettings::RestoreAll() const {
  for (const auto& setting : mSettings) setting->Restore();
}

Flavour::Flavour(const PreferenceEntry* table)
    : mFactory(std::make_shared<MenuSettings>(table)),
      mCheckPoint(std::make_shared<MenuSettings>(table)),
      mCurrent(std::make_shared<MenuSettings>(table)) {}

Flavour::~Flavour() = default;

void Flavour::RestoreFactoryDefaults() const { mFactory->RestoreAll(); }

void Flavour::RestoreCurrent() const { mCurrent->RestoreAll(); }

void Flavour::SaveCurrent() { mCurrent->SaveAll(); }

void Flavour::SaveCheckPoint() {
  // The check point captures the live values of now. It is rebuilt in place
  // (the three lists share one table), so copies sharing it see it too.
  mCheckPoint->Rebuild();
}

void Flavour::RestoreCheckPoint() {
  mCheckPoint->RestoreAll();
  mCurrent->SaveAll();
}

}  // namespace TavPDF
