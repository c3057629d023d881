#pragma once
// The kernel's colour-space interface: a colour-space object says which inks
// (separations) of a job it covers, how a page names it, which PDF colour
// space stands behind the name and how a tint vector becomes colour
// operators. The PDF side of the concrete spaces lives in colour/.
//
// The order of the virtual operations below is part of the interface: the
// PDF classes override them slot by slot, so new operations go at the end.
//
// Tint vectors are 16-bit values indexed by separation number 0..63: 25600 is
// 100 %, 0 is 0 %, 65280 means "undefined" (the separation is not painted).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct jobstr;
class seppdftyp;

namespace TavPDF {
class pdfoutfilter;
class pdfouthan;
class PDFArray;
}  // namespace TavPDF

class CsMasked;
class CsDeviceN;

// Four-character class tags: the bytes of the integer, most significant first.
constexpr int MakeColorSpaceTag(char a, char b, char c, char d) {
  return static_cast<int>((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
                          (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
                          (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
                          static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

namespace TavColor {
constexpr int kMaxSeparations = 64;
// Separation numbers with a meaning of their own.
constexpr int kAllSeparations = -1;  // registration colour: every ink
constexpr int kNoSeparation = -2;
}  // namespace TavColor

class ColorSpace {
 public:
  static constexpr int kClassMasked = MakeColorSpaceTag('M', 'A', 'S', 'K');

  virtual ~ColorSpace();
  virtual int GetClassID() const = 0;
  // PostScript output is not part of this engine; the slots are kept so that
  // the operations after them stay where the PDF classes expect them.
  virtual void psWriteColorSpace() const;
  virtual void psWriteSeps(const unsigned short* tints) const;
  // Resource name of a part in a page's ColorSpace dictionary.
  virtual std::string pdfGetName(int part);
  // The colour of the tints as an array of reals (new object, owned by the
  // PDF object registry); null when the space has no such form.
  virtual TavPDF::PDFArray* pdfGetSepsArray(const unsigned short* tints) const;
  virtual int pdfGetNumParts() const;
  // The PDF colour-space array of a part (owned by the registry), or null
  // when the part is a device space that needs none.
  virtual TavPDF::PDFArray* pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const;
  virtual bool pdfHasColorSpaceArray(int part) const;
  // One byte per component, 0..255 ink.
  virtual void SepsToBuffer(unsigned char* out, const unsigned short* tints) const;
  // Same class and IsEqual.
  virtual bool operator==(const ColorSpace& other) const;
  virtual bool IsEqual(const ColorSpace& other) const;
  // This space as a DeviceN space (of any class derived from it), or null:
  // the comparisons ask for every colour written, where a cast costs more.
  virtual const CsDeviceN* AsDeviceN() const { return nullptr; }
  // A new object of the same class; the caller owns it.
  virtual ColorSpace* Clone() const = 0;
  // Name of the transfer-function graphics state for this space, if any.
  virtual bool pdfGetTRName(std::string& name) const;
  virtual bool IsDeviceGray() const;
  virtual bool IsDeviceRGB() const;
  virtual bool IsDeviceCMYK() const;
  virtual bool IsDeviceN() const;
  virtual bool IsMultiSep() const;
  virtual int GetSepCount() const;
  virtual bool InColorSpace(int sep) const;
  virtual bool IsEmpty() const;
  virtual void Unite(const ColorSpace& other);
  virtual void Intersect(const ColorSpace& other);
  virtual void Differ(const ColorSpace& other);
  virtual void SetSeparationUse(int sep, bool use);
  // Separation number of the i-th covered separation in the job's order of
  // use; -1 when there is none.
  virtual int GetSepSorted(int i) const;
  // Part `part` as a colour space of its own (new object, owned by the
  // caller), or null when there is no such part.
  virtual CsMasked* pdfGetPart(int part);
  virtual void pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints);
  virtual void pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints);
  // Fill colour of one part; false when nothing was written.
  virtual bool pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                     int part);

  // Transfer-function graphics states (dot gain) are selected with colours.
  static void SetUseTRDotgain(bool use);
  static bool smUseTRDotgain;
};

// A colour space over the separations of one job.
class CsMasked : public ColorSpace {
 public:
  CsMasked(const jobstr* job, bool noTransfer);
  CsMasked(const CsMasked&) = default;
  CsMasked& operator=(const CsMasked&) = default;

  int GetClassID() const override;
  bool IsEqual(const ColorSpace& other) const override;
  CsMasked* pdfGetPart(int part) override;

  const jobstr* GetJob() const { return mJob; }
  bool GetOverprint() const { return mOverprint != 0; }
  void SetOverprint(bool on) { mOverprint = on ? 1 : 0; }
  bool GetNoTransfer() const { return mNoTransfer != 0; }

 protected:
  const jobstr* mJob;  // not owned; the job outlives every colour space made for it
  std::uint8_t mOverprint = 0;
  std::uint8_t mNoTransfer = 0;
};

// Gray on one separation.
class CsDeviceGray : public CsMasked {
 public:
  static constexpr int kClassID = MakeColorSpaceTag('G', 'R', 'A', 'Y');

  CsDeviceGray(const jobstr* job, bool noTransfer);
  CsDeviceGray(const jobstr* job, int sep, bool noTransfer);
  CsDeviceGray(const CsDeviceGray&) = default;

  int GetClassID() const override;
  void SepsToBuffer(unsigned char* out, const unsigned short* tints) const override;
  bool IsEqual(const ColorSpace& other) const override;
  ColorSpace* Clone() const override;
  bool IsDeviceGray() const override;
  int GetSepCount() const override;
  bool InColorSpace(int sep) const override;
  int GetSepSorted(int i) const override;

  int GetSeparation() const { return mSep; }

 protected:
  std::int32_t mSep = TavColor::kAllSeparations;
};

// An arbitrary set of separations of a job, kept as a use mask over the
// separation numbers together with the job's order of use.
class CsDeviceN : public CsMasked {
 public:
  static constexpr int kClassID = MakeColorSpaceTag('D', 'E', 'V', 'N');

  struct Options {
    // Write a DeviceN space even without spot inks, padding with /None.
    bool forceDeviceN = false;
    // Select no transfer-function graphics state for this space.
    bool noTransfer = false;
    // Colourants per PDF colour space: 8 below PDF 1.5, 27 from 1.5.
    int maxColorants = 8;
    // A part of one colourant may be written as a Separation space.
    bool allowSeparationCS = false;
  };

  // The separations of the job whose tint lies in [low, high] (the undefined
  // tint never does).
  CsDeviceN(const jobstr* job, const unsigned short* tints, unsigned short low,
            unsigned short high, const Options& options,
            std::shared_ptr<seppdftyp> sepData = {});
  // One separation; a negative number gives an empty space to which
  // separations are added with SetSeparationUse.
  CsDeviceN(const jobstr* job, int sep, const Options& options,
            std::shared_ptr<seppdftyp> sepData = {});
  CsDeviceN(const CsDeviceN&) = default;

  int GetClassID() const override;
  void SepsToBuffer(unsigned char* out, const unsigned short* tints) const override;
  bool IsEqual(const ColorSpace& other) const override;
  const CsDeviceN* AsDeviceN() const override { return this; }
  ColorSpace* Clone() const override;
  bool IsDeviceN() const override;
  int GetSepCount() const override;
  bool InColorSpace(int sep) const override;
  void Unite(const ColorSpace& other) override;
  void Intersect(const ColorSpace& other) override;
  void Differ(const ColorSpace& other) override;
  void SetSeparationUse(int sep, bool use) override;
  int GetSepSorted(int i) const override;

  // Covers process inks only (and is neither forced to DeviceN nor told to
  // name its process inks as colourants).
  bool IsPureCMYK() const;
  // Names the process inks as DeviceN (or Separation) colourants instead of
  // writing DeviceCMYK: under overprint mode 1 a DeviceCMYK 0 leaves its ink
  // alone, a colourant at 0 knocks it out.
  void NameProcessInksAsColorants(bool on) { mProcessAsColorants = on ? 1 : 0; }
  bool NamesProcessInksAsColorants() const { return mProcessAsColorants != 0; }
  void AllowSeparationCSOutput(bool allow) { mAllowSeparationCS = allow ? 1 : 0; }
  bool GetAllowSeparationCSOutput() const { return mAllowSeparationCS != 0; }
  bool GetForceDeviceN() const { return mForceDeviceN != 0; }
  int GetMaxColorants() const { return mMaxColorants; }
  // Set by whoever builds the space when some tint was undefined or out of
  // range; the space itself does not read it.
  bool HasUndefinedTints() const { return mUndefinedTints != 0; }
  void SetUndefinedTints(bool on) { mUndefinedTints = on ? 1 : 0; }
  const std::shared_ptr<seppdftyp>& GetSeparationData() const { return mSepData; }

 protected:
  // Separation number at sorted slot i (negative for an empty slot). Asked
  // for every slot of every colour written: inline.
  int SepAtSlot(int slot) const {
    return (slot >= 0 && slot < TavColor::kMaxSeparations) ? mSepList[slot] : -1;
  }
  virtual void pdfOutputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints, bool stroke);
  virtual bool ForceSepOff(const jobstr* job, int sep) const;

  std::uint8_t mUse[TavColor::kMaxSeparations] = {};
  std::int32_t mSepList[TavColor::kMaxSeparations];
  std::uint8_t mForceDeviceN = 0;
  std::int32_t mMaxColorants = 8;
  std::uint8_t mAllowSeparationCS = 0;
  std::uint8_t mUndefinedTints = 0;
  std::uint8_t mProcessAsColorants = 0;
  std::shared_ptr<seppdftyp> mSepData;  // shared with the page writer

 private:
  // GetSepCount's answer once asked (-1 before): the writers ask for every
  // colour they set. Whatever changes mUse sets it back to -1.
  mutable std::int32_t mSepCount = -1;
};

// The separation of each component of an image drawn in part 0 of the space:
// four (C, M, Y, K; -1 where the job lacks the ink) when the space is written
// as DeviceCMYK, else the covered separations in their order.
std::vector<int> ImageComponentSeparations(const jobstr* job, ColorSpace& space);
