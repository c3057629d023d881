#pragma once
// A recording backend of the output walker and a small builder of jobs, so
// that the traversal can be tested apart from any file format.
//
// The recorder writes everything into one text: the walker's own operators as
// they come, and every backend operation as a line in angle brackets
// ("<BeginGroup>", "<Color c m y k slot tint>"), so that a test sees the order
// of both.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pagewriter/genproof.h"
#include "platform/genoutfil.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "support/capture.h"

namespace walkertest {

using tavtest::StringSink;

class RecordingProof : public genproof {
 public:
  RecordingProof(jobstr* job, int writeTraps = 1, int maxPathPoints = 500000,
                 int separationMode = kCompositeProcess, bool keepInvisible = false)
      : genproof(job, 300, writeTraps, maxPathPoints, separationMode, keepInvisible) {}

  genoutfil& GetOutputStream() override { return sink; }
  std::string& text() { return sink.text; }

  // Layers whose hidden flag is set are skipped, as the real backends do.
  int BeginLayer(TavDB::Layer* layer) override {
    log("BeginLayer " + layer->getName());
    return (layer->flags() & TavDB::kObjHidden) != 0 ? 1 : 0;
  }
  void EndLayer() override { log("EndLayer"); }
  void BeginGroup() override { log("BeginGroup"); }
  void EndGroup() override { log("EndGroup"); }
  void BeginGroupMarker() override { log("BeginGroupMarker"); }
  void EndGroupMarker() override { log("EndGroupMarker"); }
  void BeginCompoundPath(TavDB::Object*, int kind) override { log("BeginCompoundPath " + std::to_string(kind)); }
  void EndCompoundPath(int kind) override { log("EndCompoundPath " + std::to_string(kind)); }
  void BeginTrap(TavDB::Object*, bool, bool) override { log("BeginTrap"); }
  void EndTrap() override { log("EndTrap"); }
  int SetLocked(int locked) override { log("SetLocked " + std::to_string(locked)); return 0; }
  void SetOverprint(bool on) override { log(on ? "Overprint 1" : "Overprint 0"); }
  void WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y, std::uint8_t k,
                                  int slot, std::uint8_t tint) override;
  void WriteColorSpaceColor(ColorSpace* space, const std::uint16_t*, int, int) override;
  void OutputText(TavDB::Object* object) override { log("Text " + object->name()); }
  void OutputPatternFill(TavDB::Object*) override {  // the stroke info is set while a stroke is filled
    log(GetStrokeInfo() != nullptr ? "PatternFill of a stroke" : "PatternFill");
  }
  void OutputMap(TavDB::Object*) override { log("Map"); }
  int OutputPlacedEPS(TavDB::Object*) override { log("PlacedEPS"); return 0; }
  int OutputPlacedPDF(TavDB::Object*) override { log("PlacedPDF"); return 7; }
  proofimghan* outpixbegin(const TavSys::filref*, const paityp*, const TavDB::tv_matrixtyp<double>&, int,
                           int, int, int, double, double, int, int, const std::int32_t*, bool,
                           ColorSpace*) override {
    log("outpixbegin");
    return nullptr;
  }
  void outpixend(proofimghan*) override { log("outpixend"); }
  int outpixrow(proofimghan*, const std::uint8_t*, int, int) override { return 0; }
  // Pieces of a split path report their size; with recordPieces off (very
  // long paths) only the size is kept, not the text.
  void OutputPath(const TavDB::Object* path, int scanMode, int mode, double* count,
                  double total) override {
    if (GetSplitSource() != nullptr) pieceSizes.push_back(TavDB::pointcount(path));
    genproof::OutputPath(path, scanMode, mode, count, total);
    if (GetSplitSource() != nullptr && !recordPieces) sink.text.clear();
  }

  void log(const std::string& line) { sink.text += "<" + line + ">\n"; }

  StringSink sink;
  std::vector<std::size_t> pieceSizes;
  bool recordPieces = true;
};

// The lines of a text.
std::vector<std::string> lines(const std::string& text);
// The events (lines in angle brackets) of a recorded text, without brackets.
std::vector<std::string> events(const std::string& text);
// The lines of a recorded text that are not events.
std::vector<std::string> operatorLines(const std::string& text);

// Builds jobs in code: CMYK process inks in slots 0..3 and optional spot inks
// after them, ppi 72 so that one job unit is one point.
class JobBuilder {
 public:
  JobBuilder();
  // A spot ink with its CMYK equivalent; returns its slot.
  int addSpot(const std::string& name, std::uint8_t c, std::uint8_t m, std::uint8_t y,
              std::uint8_t k);
  // A colour from (slot, percentage) pairs; every other ink is untouched (255).
  std::uint16_t colour(std::initializer_list<std::pair<int, int>> inks);
  // A flat paint of a colour.
  std::uint16_t flat(std::uint16_t colour);
  std::uint16_t flat(std::initializer_list<std::pair<int, int>> inks) { return flat(colour(inks)); }

  // A path through (v, h) points; closed unless open.
  static std::unique_ptr<TavDB::Object> path(std::initializer_list<std::pair<int, int>> points,
                                             std::uint16_t paint, bool open = false);
  // An axis-parallel rectangle, top-left corner first.
  static std::unique_ptr<TavDB::Object> rect(int top, int left, int bottom, int right,
                                             std::uint16_t paint);
  static std::unique_ptr<TavDB::Object> list(TavDB::ObjectKind kind, const std::string& name = {});
  static std::unique_ptr<TavDB::Object> layer(const std::string& name);

  // Appends an object to the job's tree; returns it.
  TavDB::Object* add(std::unique_ptr<TavDB::Object> object);
  jobstr& job() { return *job_; }
  jobstr* get() { return job_.get(); }

 private:
  std::unique_ptr<jobstr> job_;
};

// Sets or clears state flags on an object.
inline TavDB::Object* flag(TavDB::Object* o, std::uint32_t mask) {
  o->setProperties(mask, true);
  return o;
}

}  // namespace walkertest
