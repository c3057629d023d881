#include "platform/tifflibrary.h"

namespace TavSys {

namespace {

bool FindTiffFunctions(void* library, TiffFunctions& f, std::string& why) {
  return FindLibraryFunction(library, "TIFFOpen", f.open, why) &&
         FindLibraryFunction(library, "TIFFOpenExt", f.openExt, why) &&
         FindLibraryFunction(library, "TIFFOpenOptionsAlloc", f.openOptionsAlloc, why) &&
         FindLibraryFunction(library, "TIFFOpenOptionsFree", f.openOptionsFree, why) &&
         FindLibraryFunction(library, "TIFFOpenOptionsSetErrorHandlerExtR", f.openOptionsSetErrorHandlerExtR, why) &&
         FindLibraryFunction(library, "TIFFOpenOptionsSetWarningHandlerExtR", f.openOptionsSetWarningHandlerExtR,
                             why) &&
         FindLibraryFunction(library, "TIFFOpenOptionsSetMaxSingleMemAlloc", f.openOptionsSetMaxSingleMemAlloc,
                             why) &&
         FindLibraryFunction(library, "TIFFClose", f.close, why) &&
         FindLibraryFunction(library, "TIFFGetField", f.getField, why) &&
         FindLibraryFunction(library, "TIFFGetFieldDefaulted", f.getFieldDefaulted, why) &&
         FindLibraryFunction(library, "TIFFSetField", f.setField, why) &&
         FindLibraryFunction(library, "TIFFIsCODECConfigured", f.isCodecConfigured, why) &&
         FindLibraryFunction(library, "TIFFIsTiled", f.isTiled, why) &&
         FindLibraryFunction(library, "TIFFTileSize", f.tileSize, why) &&
         FindLibraryFunction(library, "TIFFScanlineSize", f.scanlineSize, why) &&
         FindLibraryFunction(library, "TIFFComputeTile", f.computeTile, why) &&
         FindLibraryFunction(library, "TIFFReadEncodedTile", f.readEncodedTile, why) &&
         FindLibraryFunction(library, "TIFFReadScanline", f.readScanline, why) &&
         FindLibraryFunction(library, "TIFFWriteScanline", f.writeScanline, why) &&
         FindLibraryFunction(library, "TIFFDefaultStripSize", f.defaultStripSize, why);
}

}  // namespace

LateLibrary<TiffFunctions>& TiffLibrary() {
  static LateLibrary<TiffFunctions> library(TAV_TIFF_SONAME, FindTiffFunctions);
  return library;
}

}  // namespace TavSys
