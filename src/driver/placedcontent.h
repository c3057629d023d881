#pragma once
// The content of a placed PDF page on its way into a form of the written
// file: streamed through as it is decoded (memory holds one token at a time
// and the encoded result, however far the page's data inflate), with what
// the file's default configuration hides left out and what consumers refuse
// mended or refused with the reason.
#include <set>
#include <string>
#include <vector>

// qpdf's Pipeline and QPDFObjectHandle come through pdflib.h, which includes
// QPDF.hh before them as clang's C++20 needs.
#include "platform/pdflib.h"

namespace TavPDF {

// What a content stream was found to hold.
struct PlacedContentReport {
  // The first flaw that cannot be mended (a resource the content names and
  // its resources lack); "" when none.
  std::string flaw;
  // q/Q or BMC/BDC/EMC that did not balance: an unmatched Q or EMC was left
  // out, or what was left open was closed at the end; or something that is
  // no token (a string or inline image without its end) was left out.
  bool mended = false;
  // The XObjects the content draws, by resource name.
  std::set<std::string> drawn;
};

// Streams content `parts` (streams, decoded one after the other, joined
// with a line end) through to `out`, which is finished at the end: marked
// content and forms under optional content that `doc`'s default
// configuration hides are left out, whitespace and comments between tokens
// are reduced to one blank or line end, q/Q and BMC/BDC/EMC are balanced,
// and the names of resources are looked up in `resources`. Throws
// TavSys::Error when a part cannot be decoded, and when the export is
// cancelled (key empty, detail "cancelled").
PlacedContentReport FilterPlacedContent(GADoc& doc, const std::vector<QPDFObjectHandle>& parts,
                                        QPDFObjectHandle resources, Pipeline& out);

// Checks the forms that a content drawing `drawn` with `resources` draws,
// and the forms they draw: a form that draws itself (directly or through
// others), forms nested deeper than kMaxPlacedFormDepth, or a resource a
// form names and lacks is refused (TavSys::Error, detail = the reason); a
// form whose q/Q or BMC/BDC/EMC do not balance is given balanced content.
inline constexpr int kMaxPlacedFormDepth = 64;
void CheckPlacedForms(GADoc& doc, QPDFObjectHandle resources, const std::set<std::string>& drawn);

}  // namespace TavPDF
