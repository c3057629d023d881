#pragma once
// What the content stream being written has already set in the PDF graphics
// state, so that writers can leave out an operator that would set the same
// value again. One record serves the whole process: only one content stream
// is written at a time. It is reset whenever its knowledge may no longer be
// true: before a page, when any stream ends, around soft masks and
// transparency groups, and after every "Q".
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

class ColorSpace;

class PdfGraphicsState {
 public:
  // Overprint state: which of the page's overprint graphics states is in force.
  static constexpr int kOverprintOn = 0;       // after "/op1 gs"
  static constexpr int kOverprintOff = 1;      // after "/op0 gs"
  static constexpr int kOverprintUnknown = 2;
  static constexpr int kScreenUnknown = -2;

  // The process-wide record, created on first use and reset at once.
  static PdfGraphicsState& Instance();

  PdfGraphicsState();
  ~PdfGraphicsState();
  PdfGraphicsState(const PdfGraphicsState&) = delete;
  PdfGraphicsState& operator=(const PdfGraphicsState&) = delete;

  // Forgets everything: overprint unknown, colour keys, values and font -1,
  // transfer "Default", stroke description and colour spaces dropped, screen
  // unknown. Font size and colour-space values stay; they are read only
  // together with a valid font number or colour space.
  void Reset();

  int GetOverprintState() const { return mOverprintState; }
  void SetOverprintState(int state) { mOverprintState = state; }

  std::int32_t GetColorKey(bool stroke) const { return stroke ? mStrokeKey : mFillKey; }
  void SetColorKey(std::int32_t key, bool stroke) { (stroke ? mStrokeKey : mFillKey) = key; }
  // After a shading or pattern colour: the fill colour is unknown.
  void ForgetFillColor() { mFillKey = -1; }
  void ForgetFont() { mFontNumber = -1; }

  std::int32_t GetColorValue(bool stroke) const { return stroke ? mStrokeValue : mFillValue; }
  void SetColorValue(std::int32_t value, bool stroke) {
    (stroke ? mStrokeValue : mFillValue) = value;
  }

  // The colour space last set on a side (owned by the record), or null.
  const ColorSpace* GetColorSpace(bool stroke) const {
    return stroke ? mStrokeSpace.get() : mFillSpace.get();
  }
  std::int64_t GetColorSpaceValue(bool stroke) const {
    return stroke ? mStrokeSpaceValue : mFillSpaceValue;
  }
  // Keeps a clone of `space` (null forgets the side) with the value written.
  void SetColorSpace(const ColorSpace* space, std::int64_t value, bool stroke);
  // The same, taking over a space the caller no longer needs.
  void TakeColorSpace(std::unique_ptr<ColorSpace> space, std::int64_t value, bool stroke);

  std::int32_t GetFontNumber() const { return mFontNumber; }
  double GetFontSize() const { return mFontSize; }
  void SetFont(std::int32_t number, double size) {
    mFontNumber = number;
    mFontSize = size;
  }

  // Offers the stroke parameters about to be written. False when the same
  // parameters (by their ==) are in force already, so that the writer can
  // leave the stroke operators out; otherwise a copy is kept and true
  // returned. Any copyable type with == serves.
  template <class Stroke>
  bool SetStrokeInfo(const Stroke& stroke) {
    using Held = StrokeHolder<std::remove_cv_t<Stroke>>;
    if (auto* held = dynamic_cast<const Held*>(mStroke.get()); held && held->value == stroke)
      return false;
    mStroke = std::make_unique<Held>(stroke);
    return true;
  }
  bool HasStrokeInfo() const { return mStroke != nullptr; }

  std::int32_t GetScreen() const { return mScreen; }
  void SetScreen(std::int32_t selector) { mScreen = selector; }

  const std::string& GetTransferName() const { return mTransferName; }
  void SetTransferName(const std::string& name);

 private:
  struct StrokeBase {
    virtual ~StrokeBase() = default;
  };
  template <class T>
  struct StrokeHolder final : StrokeBase {
    explicit StrokeHolder(const T& v) : value(v) {}
    T value;
  };

  std::int32_t mOverprintState = kOverprintUnknown;
  std::int32_t mFillKey = -1;
  std::int32_t mStrokeKey = -1;
  std::int32_t mFillValue = -1;
  std::int32_t mStrokeValue = -1;
  std::int32_t mFontNumber = -1;
  double mFontSize = 0;
  std::unique_ptr<StrokeBase> mStroke;      // owned copy of the stroke parameters in force
  std::unique_ptr<ColorSpace> mStrokeSpace;  // owned clones
  std::unique_ptr<ColorSpace> mFillSpace;
  std::int64_t mStrokeSpaceValue = 0;
  std::int64_t mFillSpaceValue = 0;
  std::int32_t mScreen = kScreenUnknown;
  std::string mTransferName = "Default";
};
