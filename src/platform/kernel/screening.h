#pragma once
// Screening data of the kernel: the values of an extended screen for one ink
// (ScreeningDictionary) and the dot-shape tables of classic and extended
// screens. The tables' contents are this engine's own.
#include <cstdint>
#include <string>

struct jobstr;

// The screening values of one ink of an extended screen. Absent numbers are
// -1, absent texts empty.
struct ScreeningDictionary {
  double Resolution = -1.0;
  std::string AngleFamily;    // "fm..." selects frequency-modulated screening
  std::string DotShape;       // "Concentric..." selects concentric dots
  std::int32_t Ruling = -1;
  std::int32_t Noise = -1;
  std::int32_t FMSize = -1;
  std::string Rosettes;
  double Angle = -1.0;
  std::string ExtraCurve;
  std::string CellType;
  double CellSize = -1.0;
  double CellCentredStart = -1.0, CellCentredMinCell = -1.0, CellCentredFullAt = -1.0,
         CellCentredMaxCell = -1.0, CellCentredEnd = -1.0;
  std::string HybridType;
  std::string HybridMeasuredOn;
  double QuantumPoint = -1.0, FMMinDot = -1.0, AMStart = -1.0, FMEnd = -1.0, AMMinDot = -1.0,
         FMStepDown = -1.0;
  std::string EndAdjust;
  std::string RangeMeasuredOn;
  double MinDotValue = -1.0, MinDotAt = -1.0;
  std::string ActionBelowMin;
  double MaxDotValue = -1.0, MaxDotAt = -1.0;
  std::string ActionAboveMax;
  double Ring = -1.0, Space = -1.0;
  std::int32_t Grade = -1;
};

// Fills `values` with the screening values of an extended screen for the
// separation (its angle from the screen's angle for the ink, -1 when
// unknown). False when the screen is not an extended screen or the slot
// holds no ink.
bool getScreenDictionaryValuesForPDF(const jobstr* job, int separation, int screen,
                                     ScreeningDictionary& values, bool forPdf);

// The private key of a dot shape that PDF has no spot function for (a named
// dot the workflow's own screening knows); "" when the code has none.
void getVornDotShapeKey(int code, std::string& key);
// The spot function of a dot shape as a PostScript calculator procedure
// ("{ ... }"); "" when the code has none.
std::string getPSProcDotShape(int code);
// A readable name of a dot-shape code, for messages.
std::string ScreenGetDotName(int code);
// The workflow's short name of an extended screen's dot (angle family and
// dot shape); "" when there is none.
std::string MapDotShapeToRastovarMnemonic(const std::string& angleFamily, const std::string& dotShape);
