#pragma once
// libtiff, which reads placed TIFF pictures and maps and writes the
// flattener's gray planes, is loaded when a job first opens a TIFF file: the
// codecs it pulls in (Lerc, zstd, JBIG, WebP, LZMA, libdeflate) are bound
// only by the processes that use them.
#include <tiffio.h>

#include "platform/latelibrary.h"

namespace TavSys {

// The functions of libtiff the engine calls.
struct TiffFunctions {
  decltype(&::TIFFOpen) open;
  decltype(&::TIFFOpenExt) openExt;
  decltype(&::TIFFOpenOptionsAlloc) openOptionsAlloc;
  decltype(&::TIFFOpenOptionsFree) openOptionsFree;
  decltype(&::TIFFOpenOptionsSetErrorHandlerExtR) openOptionsSetErrorHandlerExtR;
  decltype(&::TIFFOpenOptionsSetWarningHandlerExtR) openOptionsSetWarningHandlerExtR;
  decltype(&::TIFFOpenOptionsSetMaxSingleMemAlloc) openOptionsSetMaxSingleMemAlloc;
  decltype(&::TIFFClose) close;
  decltype(&::TIFFGetField) getField;
  decltype(&::TIFFGetFieldDefaulted) getFieldDefaulted;
  decltype(&::TIFFSetField) setField;
  decltype(&::TIFFIsCODECConfigured) isCodecConfigured;
  decltype(&::TIFFIsTiled) isTiled;
  decltype(&::TIFFTileSize) tileSize;
  decltype(&::TIFFScanlineSize) scanlineSize;
  decltype(&::TIFFComputeTile) computeTile;
  decltype(&::TIFFReadEncodedTile) readEncodedTile;
  decltype(&::TIFFReadScanline) readScanline;
  decltype(&::TIFFWriteScanline) writeScanline;
  decltype(&::TIFFDefaultStripSize) defaultStripSize;
};

// libtiff by the SONAME the build found, loaded on the first Get. Tests name
// another library in its place (SetName) to see TIFF files refused.
LateLibrary<TiffFunctions>& TiffLibrary();

}  // namespace TavSys
