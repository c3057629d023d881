#pragma once
// The Illustrator 5.0 / 7.0 writer: a backend of the output walker that
// writes the job in Illustrator's PostScript dialect. The walker decides
// what is drawn; this backend writes paths with process and custom colours,
// compound paths, groups and layers, gradients (defined once in the set-up,
// used by fills), texts, placed EPS files and, in version 7.0, raster
// pictures and maps as embedded hexadecimal images.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pagewriter/genproof.h"
#include "platform/genoutfil.h"

namespace TavSys {
class fil;
class FileSpec;
}  // namespace TavSys
struct texcaltyp;
namespace TavDB {
struct TextData;
}

namespace TavIllu {

// Rows of a raster image as hexadecimal text: two lower-case digits a byte,
// 30 bytes to a line, each line beginning with "%" (a PostScript comment, so
// that a reader that does not know the image passes over its data). The
// image was announced with its row count; a picture whose file ends early is
// completed with blank rows when the handler ends, so that a reader never
// takes the file's next lines for image data.
class IlluProofImageHandler final : public proofimghan {
 public:
  // The stream is not owned. rowBytes: bytes of one row; blank: the value of
  // a sample without ink.
  IlluProofImageHandler(genoutfil& out, std::int64_t rows, std::size_t rowBytes, std::uint8_t blank)
      : mOut(out), mRowsDue(rows), mRowBytes(rowBytes), mBlank(blank) {}
  int WriteRows(const std::uint8_t* row, int pixels, int planes) override;
  // Writes the blank rows still owed.
  void Complete();

 private:
  void writeHex(const std::uint8_t* bytes, std::size_t count);

  genoutfil& mOut;
  std::int64_t mRowsDue;
  std::int64_t mRowsWritten = 0;
  std::size_t mRowBytes;
  std::uint8_t mBlank;
};

class illoutjob : public genproof {
 public:
  // Illustrator modes: 2 writes version 7.0, every other mode 5.0.
  static constexpr int kVersion7Mode = 2;
  // Paths with more points are split before they are written.
  static constexpr int kMaxPathPoints = 10000;

  // The file is not owned and stays open. factor: the downsampling factor
  // of raster images (1 or less: none).
  illoutjob(jobstr* job, int mode, int traps, TavSys::fil* file, int factor, bool keepInvisible);
  ~illoutjob() override;

  // Writes the whole document: header, set-up, page and trailer. Returns 0;
  // 1 when something was left out with an error message (the rest is
  // written); -2 when the user cancelled (the text is then incomplete).
  int WriteDocument();

  bool IsVersion7() const { return mMode == kVersion7Mode; }
  // Whether the set-up defines the gradient of a paint (fills refer to it).
  bool HasGradientDefinition(int paint) const { return mGradientDefinitions.count(paint) != 0; }

  // A multistep gradation seen as an Illustrator gradient: a straight line
  // in points from the end of ramp position 0 (the last step) to the end of
  // ramp position 100 (the first step), and per step its ramp position and
  // the midpoint towards the step before it. Only gradations whose colour
  // runs along parallel lines (horizontal and vertical forms, through any
  // regular matrix) whose steps lie in order and apart can be.
  struct GradationAxis {
    bool usable = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::vector<double> ramp;      // per step, 100 for the first down to 0 for the last
    std::vector<double> midpoint;  // per step, percent of the way from the step before
    std::vector<double> x, y;      // per step, where it lies on the line
  };
  GradationAxis AnalyseGradation(const Paint& paint) const;

  // ---- walker operations ------------------------------------------------------
  genoutfil& GetOutputStream() override { return mOut; }
  int SetLocked(int locked) override;
  double GetImageDownsampleFactor(int resolution, int scale, double ratio) override;
  proofimghan* outpixbegin(const TavSys::filref* source, const paityp* paint,
                           const TavDB::tv_matrixtyp<double>& matrix, int resolution, int scale,
                           int word1, int word2, double rows, double samplesPerRow, int channels,
                           int colourModel, const std::int32_t* channelMapping, bool flag,
                           ColorSpace* part) override;
  void outpixend(proofimghan* handler) override;
  int outpixrow(proofimghan* handler, const std::uint8_t* row, int samplesPerRow,
                int channels) override;
  void SetOverprint(bool on) override;
  void WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y, std::uint8_t k,
                                  int slot, std::uint8_t tint) override;
  int WritePaintColor(std::uint16_t paint, int pass) override;
  int OutputPlacedEPS(TavDB::Object* object) override;
  int OutputPlacedJob(TavDB::Object* object) override;
  int OutputPlacedPixels(TavDB::Object* object) override;
  int OutputPlacedPDF(TavDB::Object* object) override;
  void OutputMap(TavDB::Object* object) override;
  bool IsClippedFill(TavDB::Object* object) override;
  void OutputFillContent(TavDB::Object* object) override;
  void WriteStrokeOperator(bool closed) override;
  void OutputPath(const TavDB::Object* path, int scanMode, int mode, double* progressCount,
                  double progressTotal) override;
  void OutputCompoundPath(TavDB::Object* compound, int mode) override;
  void OutputPatternFill(TavDB::Object* object) override;
  void OutputText(TavDB::Object* object) override;
  void BeginCompoundPath(TavDB::Object* object, int kind) override;
  void EndCompoundPath(int kind) override;
  void BeginGroup() override;
  void EndGroup() override;
  int BeginLayer(TavDB::Layer* layer) override;
  void EndLayer() override;

 private:
  // ---- document parts (illoutjob.cpp) ----
  void WriteHeader();
  void WriteBoundingBox();
  void WriteFontList();
  void WriteCustomColours();
  // ---- gradients (ai_gradients.cpp) ----
  // The gradient definitions of the set-up: one per gradient paint.
  void WriteGradientDefinitions();
  // A stop's colour and its colour style (3 custom colour, else 1).
  void WriteGradientStop(std::uint16_t colour);
  void OutputLinearGradient(TavDB::Object* object, const Paint& paint, int index);
  void OutputRadialGradient(TavDB::Object* object, const Paint& paint, int index);
  void OutputGradationFill(TavDB::Object* object, const Paint& paint, int index);
  // A gradient that cannot be written as one: the object in a flat colour.
  void OutputFlatFallback(TavDB::Object* object, std::uint16_t colour);
  // The shape of a pattern fill, after the fill's colour or gradient.
  void OutputPatternShape(TavDB::Object* object);
  // ---- texts (ai_texts.cpp) ----
  // Whether the text can be written with its fonts: installed fonts, flat
  // paints of one colour operator each, characters of the file's 8-bit
  // encoding (ISO 8859-1). Other texts are written as their outlines.
  bool TextFitsFile(const TavDB::Object* text);
  // Opens a text object at the position of the calculator's last letter,
  // with the calculator's current parameters.
  void BeginTextObject(const texcaltyp* calc, const TavDB::TextData& text);
  // Closes the open string and, when one is open, the text object.
  void EndTextString();
  void EndTextObject();
  // A text box as an area text, a text along a path as a path text.
  void OutputTextInItsForm(TavDB::Object* text);
  // The colour, alignment, font and leading, scale, tracking, hyphenation,
  // word spacing and rise (0 unless `rise`) of the calculator's characters.
  void WriteTextSettings(const texcaltyp* calc, const TavDB::TextData& text, int alignment, bool rise);
  void WriteTextColour(const texcaltyp* calc);
  void WriteTextFont(const texcaltyp* calc, const TavDB::TextData& text);
  // The rules (underlines) the signal completed, as paths in their paint;
  // then all of them drawn after the text.
  void addTextRules(texcaltyp* calc, int code, std::vector<std::unique_ptr<TavDB::Object>>& rules);
  void OutputTextRules(std::vector<std::unique_ptr<TavDB::Object>>& rules);
  // ---- messages ----
  // Says once per kind and file that objects of the kind were left out.
  void ReportLeftOut(const std::string& what);
  void ReportIncomplete(const std::string& reason);
  // Says that a paint's transparency (opacity, blend mode, soft mask) is
  // left out.
  void ReportTransparency(std::uint16_t paint);
  // Writes the colour operator that the last colour asked for ("k", "x";
  // upper case for a stroke) and a line feed.
  void WriteColourOperator();

  noroutfil mOut;
  // A text string "(" has been opened and not yet closed; a text object.
  bool mTextOpen = false;
  bool mTextObjectOpen = false;
  bool mOverprint = false;
  int mMode;
  int mFactor;
  const char* mColourOperator = nullptr;
  // The image being written (owned), or null.
  IlluProofImageHandler* mImage = nullptr;
  std::vector<std::string> mLeftOut;
  bool mIncomplete = false;
  // The paints whose gradients the set-up defines.
  std::set<int> mGradientDefinitions;
  static constexpr const char* kGradientRamps =
      "the colour ramps of gradients that are no Illustrator gradient (each is filled with its start colour)";
};

// Writes the job as an Illustrator 5.0 or 7.0 file (mode 2: 7.0). The file
// is written beside the target and moved onto it only when complete: a
// failure or a cancel leaves the target as it was. Returns 0; 1 when the
// file was written but something could not be (an error message said what);
// -2 when cancelled; TavSys::kFileErrorBase + errno when the file could not
// be created or written, or another engine error code after its message.
int WriteIllustrator57(jobstr* job, int mode, int traps, const TavSys::FileSpec& file, int factor,
                       bool keepInvisible);

}  // namespace TavIllu
