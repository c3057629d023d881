#pragma once
// The XMP composer of normalized output: collects the inks a written file
// carries and composes the file's XMP packet (an x:xmpmeta document with the
// title, the creator tool, the distortion and the plates and colorants of the
// file), handing every ink to the host's ink callback on the way.
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"

struct jobstr;

// One ink of a written file as the XMP data describe it.
class XMPlInk {
 public:
  std::string name;          // output name of the ink
  int separation = -1;       // the job's separation number
  bool process = false;      // cyan, magenta, yellow or black
  double cmyk[4] = {0, 0, 0, 0};  // CMYK equivalent, 0..1
};

// The CAD (die-cut) file a job's drawing comes from, as the composer
// registers it for the workflow.
struct XMPCadRegistration {
  std::string fileName;  // empty: no CAD file
  int angle = 0;         // degrees
  double xOffset = 0;    // millimetres
  double yOffset = 0;
};

class XMPlib {
 public:
  const std::vector<XMPlInk>& GetInks() const { return mInks; }
  std::vector<XMPlInk>& inks() { return mInks; }
  const XMPCadRegistration& GetCadReg() const { return mCadReg; }
  XMPCadRegistration& cadReg() { return mCadReg; }

 private:
  std::vector<XMPlInk> mInks;
  XMPCadRegistration mCadReg;
};

namespace TavricLib {

class XMPComposer {
 public:
  // Receives the output file's path (UTF-8), the job and each ink.
  using InkCallback = std::function<int(std::string, jobstr*, XMPlInk&)>;
  // The output name of a separation.
  using SeparationNameCallback = std::function<std::string(int separation)>;

  // job: not owned, outlives the composer. linked: pictures are linked.
  XMPComposer(jobstr* job, const TavSys::FileSpec& file, bool linked, int reserved1,
              int reserved2);

  void InstallInkCallback(InkCallback callback) { mInkCallback = std::move(callback); }
  void SetSeparated(bool separated) { mSeparated = separated; }
  void SetPDFOutSettings(bool addCMYKSeparations, bool copyLinks, SeparationNameCallback names,
                         bool screenRegistration, bool processCMYKFlags,
                         bool useSeparationDisabler, bool addNonPrintingLayers, int reserved,
                         bool includePrivateData);
  // The list of produced files (the caller's; may be null).
  void SetFerrixOutput(std::vector<TavSys::FileSpec>* files) { mProducedFiles = files; }
  // Scale factors of the output ((percent + 100) / 100).
  void SetDistortion(double horizontal, double vertical);

  // The name the XMP data use for a separation: the job's XMP name of the
  // ink when it has one; false (name untouched) otherwise.
  bool MatchXMPInkName(int separation, std::string& name) const;
  std::string GetXMPInkName(const XMPlInk& ink) const { return ink.name; }

  // The path under which a linked picture file is referred to from the
  // written file: its full path (UTF-8).
  std::string MakePicturePath(const std::string& fullPath) const { return fullPath; }

  // Collects the inks (calling the ink callback for each) and composes the packet.
  void BuildXMPData();
  // The packet composed by BuildXMPData; empty before.
  const std::string& RetrieveXMPData() const { return mPacket; }
  XMPlib& GetXMPLib() { return mLib; }
  const XMPlib& GetXMPLib() const { return mLib; }

 private:
  jobstr* mJob;
  TavSys::FileSpec mFile;
  bool mLinked;
  bool mSeparated = false;
  bool mAddCMYK = false;
  bool mUseDisabler = false;
  bool mProcessCMYKFlags = false;
  SeparationNameCallback mNames;
  InkCallback mInkCallback;
  std::vector<TavSys::FileSpec>* mProducedFiles = nullptr;
  double mDistortionH = 1;
  double mDistortionV = 1;
  XMPlib mLib;
  std::string mPacket;
};

}  // namespace TavricLib
