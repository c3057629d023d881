#pragma once
// The stroke description of an object: the outline drawn along its path with
// a width, joins, caps and dashes, in the paint of the stroke. The walker
// makes one while it writes an object that has a stroke.
#include <cstdint>

class genoutfil;

namespace TavDB {
class Object;
}

class strokeinfo_t {
 public:
  // Stroke types of writeStrokeInfo: the operator syntax to write.
  static constexpr int kPdfStroke = 1;
  static constexpr int kIllustratorStroke = 2;

  // The stroke of object (none when it has none). The object is not owned and
  // must outlive the description.
  explicit strokeinfo_t(const TavDB::Object* object);

  // The stroke width in job units; 0 = no stroke.
  double value() const { return width_; }
  // The object whose outline is stroked, or null.
  const TavDB::Object* getGenerator() const { return generator_; }
  std::uint16_t paint() const { return paint_; }
  // Whether the line lies on the centre of the outline (the only stroke the
  // stroke operators draw); inside and outside strokes do not.
  bool isSymmetricStroke() const { return generator_ != nullptr && position_ == 0; }
  // Whether the stroke can be written with the format's stroke operators: a
  // symmetric stroke of some width.
  bool canOuputAsStroke() const;
  // Whether a writer of the stroke type paints the stroke itself, so that a
  // fill of the same path must not be painted again.
  bool strokeCanBeProcessed(int strokeType) const;
  // Line width, join, cap, miter limit and dash, each as its operator; the
  // width and dashes converted to points at the current database resolution.
  void writeStrokeInfo(int strokeType, genoutfil& sink) const;

  int strokeType = kPdfStroke;

 private:
  const TavDB::Object* generator_ = nullptr;  // not owned
  double width_ = 0;
  std::uint16_t paint_ = 0;
  int position_ = 0;  // TavDB::Stroke::Position
};
