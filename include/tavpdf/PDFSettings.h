#pragma once
// The export settings record: one record tells every writer of the library
// how to export (compression, downsampling, previews, flattening, screening,
// layers, normalized or separated output, JDF, distortion, certification,
// image links), with the presets of the flavours and the PDF version rules.
//
// The fields keep their order and widths: the host and the preference table
// (TavPDF::pdfprftab) depend on them. Fields of the "int32 bool" kind hold 0
// or 1 and are tested against zero.
#include <cstdint>

#include "platform/files.h"
#include "platform/popup.h"
#include "tavpdf/export.h"

class TAVPDF_EXPORT PDFSettings {
 public:
  // Flavour 1 with the common defaults (not the Press defaults).
  PDFSettings();
  PDFSettings(const PDFSettings&);
  PDFSettings(PDFSettings&&) noexcept;
  PDFSettings& operator=(const PDFSettings&);
  PDFSettings& operator=(PDFSettings&&) noexcept;
  ~PDFSettings();

  // Every field but Flavour gets its common default; both file references
  // are cleared, Orientation selects "Portrait", ScreenRegistration "Continuous".
  void SetCommonDefaults();

  // Flavour presets. Each starts from its base preset and stores its own
  // values on top; none of them changes Flavour.
  void SetCustomFlavourDefaults();
  void SetPressFlavourDefaults();
  void SetViewingFlavourDefaults();
  void SetReaderFlavourDefaults();
  void SetJDFFlavourDefaults();
  void SetNormalizedFlavourDefaults();
  void SetNormalizedEmbeddedFlavourDefaults();
  void SetSeparatedFlavourDefaults();
  // Separated and normalized without previews; no flavour number leads here.
  void SetVistamoFlavourDefaults();

  // The preset of a flavour number 0..9 (4 and 6 are read as Press); any other
  // number leaves the record as it is. Flavour is not changed.
  void ResetFlavourToFactoryDefaults(int flavour);
  // Flavours 4 and 6 are obsolete: they become 1 (Press) with its preset.
  void CheckForObsoleteFlavours();
  // Brings the record into line with its flavour and sets PDFCompatibility to
  // the lowest PDF version that the settings need.
  void VerifyCompatibility();

  // The distortion in percent as the user entered it.
  double GetUIDistortionH() const { return HorizontalDistortion; }
  double GetUIDistortionV() const { return VerticalDistortion; }
  // The distortion every geometric use applies: none in normalized output,
  // where the workflow distorts later.
  double GetInternalDistortionH() const { return NormalizedOutput != 0 ? 0.0 : HorizontalDistortion; }
  double GetInternalDistortionV() const { return NormalizedOutput != 0 ? 0.0 : VerticalDistortion; }

  // Optional content (layers) needs PDF 1.5.
  bool RequiresToBeAtLeastPDF15() const { return IncludeLayers != 0; }
  // Only flattened output without the normalized data can go down to PDF 1.3.
  bool RequiresToBeAtLeastPDF14() const { return !(EnableFlattening != 0 && NormalizedOutput == 0); }

  // Non-zero: the export writes into a temporary folder and copies the result
  // to the target. Zero when the library is loaded; the host sets it.
  static std::int32_t msUseTempFolder;

  // Values of PDFCompatibility.
  enum : std::int32_t { kPDF14 = 0, kPDF13 = 1, kPDF15 = 2 };

  std::int32_t Flavour;                       // 'Flav' flavour number
  std::int32_t CompressPages;                 // 'CmPg'
  std::int32_t OutputGradientsAsImages;       // 'GaIm'
  std::int32_t ImageAlternate;                // 'ImAl'
  std::int32_t CertifiedEnabled;              // 'CerE'
  std::int32_t CertifiedIncrementalSave;      // 'CerI'
  std::int32_t CertifiedUseEmbeddedProfile;   // 'CerQ'
  TavSys::filref CertifiedOutputProfile;      // 'CerP'
  TavGen::PopupDataModel Orientation;         // 'Orie' 0 turn right, 1 portrait, 2 turn left, 3 upside down
  double VerticalDistortion;                  // 'DstV' percent
  double HorizontalDistortion;                // 'DstH' percent
  std::int32_t Mirror;                        // 'Mirr'
  std::int32_t EnableDotgain;                 // 'Dotg'
  TavSys::filref DotgainFile;                 // 'DotF'
  std::int32_t UseColormanagement;            // 'Cmmt'
  std::int32_t UseSeparationDisabler;         // 'NoSp'
  std::int32_t CertifyInkCoverage;            // 'CInk'
  std::int32_t SaveImageLinks;                // 'SvLi'
  std::int32_t LinkType;                      // 'PLnk'
  std::int32_t EmbedImages;                   // 'PemI'
  std::int32_t CopyLinksToOutput;             // 'CpLn'
  std::int32_t ImageClipping;                 // 'IClp'
  std::int32_t OutputFullyTransparentObjects; // 'TraO'
  std::int32_t NormalizedOutput;              // 'Norm'
  std::int32_t AddPageBoxes;                  // 'PgBx'
  std::int32_t SeparatedOutput;               // 'Sepa'
  std::int32_t OptimizeWhiteObjects;          // 'OWhi'
  std::int32_t CompositeOnPageOne;            // 'Cmp1'
  std::int32_t CMYKOnOnePage;                 // process separations on one page
  std::int32_t MaxPathSize;                   // 'PtSz' most points of one path
  std::int32_t SpareSetting1;                 // carried, not read
  std::int32_t SpareSetting2;                 // carried, not read
  std::int32_t DownsampleResolution;          // 'Sre2' ppi
  std::int32_t UseDownsampling;               // 'Suse'
  std::int32_t UseAveraging;                  // 'Savg'
  std::int32_t DownsampleFromPPI;             // 'DSfP'
  std::int32_t DownsampleUseMinimum;          // 'DSMi'
  std::int32_t DownsamplingFor1BitImages;     // '1btd'
  std::int32_t CompressImages;                // 'CmIm'
  std::int32_t PDFCompatibility;              // 0 PDF 1.4, 1 PDF 1.3, 2 PDF 1.5
  std::int32_t VectorizeText;                 // 'VcTx'
  std::int32_t SubsetThreshhold;              // 'Fsst'
  std::int32_t AddNotes;                      // 'Note'
  std::int32_t AddThumbnail;                  // 'Thum'
  std::int32_t AddNonPrintingLayers;          // 'Lnpr'
  std::int32_t UsePictureCache;               // 'Picc'
  std::int32_t AddRegistrationMarks;          // 'RGma'
  std::int32_t GenerateJDF;                   // 'JdfG'
  std::int32_t JDFCopyPDF;                    // 'JdfC'
  std::int32_t JDFCollectMarks;               // 'JdCM'
  std::int32_t EnableFlattening;              // 'PFlE'
  std::int32_t FlattenOverprints;             // 'PFlO'
  std::int32_t FlattenBlackOverprint;         // 'PFbo'
  std::int32_t ForceOpaqueSeparationsToKnockout;  // 'NoOO'
  std::int32_t VectorizeOpacity;              // 'VcOp'
  std::int32_t IgnorePlacedOverprints;        // 'IgPO'
  std::int32_t MaxSizeEnabled;                // 'MaxE'
  std::int32_t MaxSize;                       // 'MaxS' kilobytes
  std::int32_t IncludeStandardPreview;        // 'Rpri'
  std::int32_t IncludePreview;                // 'Ppri' 1: PreviewResolution is a resolution
  std::int32_t IncludeSeparatedPreview;       // 'Spri'
  std::int32_t PreviewAntiAliasing;           // 'SpAA'
  std::int32_t PreviewResolution;             // 'Pprr'
  std::int32_t IncludeScreening;              // 'IScr'
  std::int32_t UseDefaultScreen;              // screen falls back to "Default_Screen"
  TavGen::PopupDataModel ScreenRegistration;  // 'ScrR' 0 continuous, 1 reset for each external file
  std::int32_t IncludeLayers;                 // 'ILay'
  std::int32_t AddCMYKSeparations;            // 'PckS'
  std::int32_t ProcessCMYKFlags;              // 'cmyk'
  std::int32_t IncludeVornPreview;            // 'VoPr'
  std::int32_t IncludePrivateData;            // private halftone, link and barcode data
  std::int32_t IsolateOneUp;                  // 'Iso1'
};

// The process-wide settings, constructed when the library is loaded (Flavour
// 1, common defaults) before any other static object of the library; the
// preference table points into its fields.
extern TAVPDF_EXPORT PDFSettings gPDFSettings;

namespace TavPDF {

// Flavour numbers as the host stores them in PDFSettings::Flavour.
enum FlavourNumber : int {
  kFlavourCustom = 0,
  kFlavourPress = 1,
  kFlavourViewing = 2,
  kFlavourReader = 3,
  kFlavourObsolete4 = 4,
  kFlavourJDF = 5,
  kFlavourObsolete6 = 6,
  kFlavourNormalized = 7,
  kFlavourSeparated = 8,
  kFlavourNormalizedEmbedded = 9,
};

// Whether the host offers the flavour number: true for 0, 1, 2, 5, 6, 7, 8, 9.
TAVPDF_EXPORT bool FlavourExists(int flavour);

}  // namespace TavPDF
