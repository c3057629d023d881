#include "platform/kernel/xmpcomposer.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include <pugixml.hpp>

#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"

namespace TavricLib {

namespace {

std::string number(double value) {
  char buffer[32];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  std::string text(buffer, result.ptr);
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

pugi::xml_node seq(pugi::xml_node parent, const char* name) {
  return parent.append_child(name).append_child("rdf:Seq");
}

}  // namespace

XMPComposer::XMPComposer(jobstr* job, const TavSys::FileSpec& file, bool linked, int /*reserved1*/,
                         int /*reserved2*/)
    : mJob(job), mFile(file), mLinked(linked) {
  // The job's CAD data name the file its drawing came from.
  if (const CADData* cad = job != nullptr ? job->GetCADData() : nullptr) {
    XMPCadRegistration& reg = mLib.cadReg();
    reg.fileName = cad->file;
    reg.angle = static_cast<int>(std::lround(cad->registrationAngle));
    reg.xOffset = cad->registrationOffsetH;
    reg.yOffset = cad->registrationOffsetV;
  }
}

void XMPComposer::SetPDFOutSettings(bool addCMYKSeparations, bool /*copyLinks*/,
                                    SeparationNameCallback names, bool /*screenRegistration*/,
                                    bool processCMYKFlags, bool useSeparationDisabler,
                                    bool /*addNonPrintingLayers*/, int /*reserved*/,
                                    bool /*includePrivateData*/) {
  mAddCMYK = addCMYKSeparations;
  mNames = std::move(names);
  mProcessCMYKFlags = processCMYKFlags;
  mUseDisabler = useSeparationDisabler;
}

void XMPComposer::SetDistortion(double horizontal, double vertical) {
  mDistortionH = horizontal;
  mDistortionV = vertical;
}

bool XMPComposer::MatchXMPInkName(int separation, std::string& name) const {
  if (mJob == nullptr || separation < 0 || separation >= kMaxSeparations) return false;
  const Separation& sep = mJob->separations[static_cast<std::size_t>(separation)];
  if (!sep.exists || sep.xmpName.empty()) return false;
  name = sep.xmpName;
  return true;
}

void XMPComposer::BuildXMPData() {
  mLib.inks().clear();
  if (mJob == nullptr) return;
  // The inks the file carries: those used by the job (and the process inks
  // when they are always added), less those the separation disabler keeps out.
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int sep = sepsoruse(mJob, slot, true);
    if (sep < 0) continue;
    const bool process = sepiscmyk(mJob, sep) >= 0;
    const bool used = (sepisused(mJob, sep, false) & kSepUsed) != 0;
    if (!used && !(process && mAddCMYK)) continue;
    if (mUseDisabler && !seppdftyp::NeedsOutputting(mJob, sep)) continue;
    XMPlInk ink;
    ink.separation = sep;
    ink.process = process;
    ink.name = mNames ? mNames(sep)
                      : (mProcessCMYKFlags ? sepnamcmykpoiUTF8(mJob, sep) : GetSeparationName(mJob, sep));
    MatchXMPInkName(sep, ink.name);
    std::uint8_t c = 0, m = 0, y = 0, k = 0;
    sepcmyk_(mJob, sep, c, m, y, k);
    ink.cmyk[0] = c / 100.0;
    ink.cmyk[1] = m / 100.0;
    ink.cmyk[2] = y / 100.0;
    ink.cmyk[3] = k / 100.0;
    if (mInkCallback) mInkCallback(mFile.GetFullPathUTF8(), mJob, ink);
    mLib.inks().push_back(ink);
  }

  pugi::xml_document document;
  pugi::xml_node meta = document.append_child("x:xmpmeta");
  meta.append_attribute("xmlns:x") = "adobe:ns:meta/";
  pugi::xml_node rdf = meta.append_child("rdf:RDF");
  rdf.append_attribute("xmlns:rdf") = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
  pugi::xml_node description = rdf.append_child("rdf:Description");
  description.append_attribute("rdf:about") = "";
  description.append_attribute("xmlns:dc") = "http://purl.org/dc/elements/1.1/";
  description.append_attribute("xmlns:xmp") = "http://ns.adobe.com/xap/1.0/";
  description.append_attribute("xmlns:xmpTPg") = "http://ns.adobe.com/xap/1.0/t/pg/";
  description.append_attribute("xmlns:xmpG") = "http://ns.adobe.com/xap/1.0/g/";
  description.append_attribute("xmlns:tavpdf") = "http://ns.tavpdf.example/xmp/1.0/";
  description.append_child("dc:format").text() = "application/pdf";
  pugi::xml_node title = description.append_child("dc:title").append_child("rdf:Alt");
  pugi::xml_node titleText = title.append_child("rdf:li");
  titleText.append_attribute("xml:lang") = "x-default";
  titleText.text() = filnamcle(mJob).c_str();
  description.append_child("xmp:CreatorTool").text() = GetTavricCreator().c_str();
  description.append_child("tavpdf:Separated").text() = mSeparated ? "True" : "False";
  description.append_child("tavpdf:LinkedPictures").text() = mLinked ? "True" : "False";
  description.append_child("tavpdf:DistortionH").text() = number(mDistortionH).c_str();
  description.append_child("tavpdf:DistortionV").text() = number(mDistortionV).c_str();

  pugi::xml_node plates = seq(description, "xmpTPg:PlateNames");
  pugi::xml_node colorants = seq(description, "xmpTPg:Colorants");
  for (const XMPlInk& ink : mLib.GetInks()) {
    plates.append_child("rdf:li").text() = ink.name.c_str();
    pugi::xml_node swatch = colorants.append_child("rdf:li");
    swatch.append_attribute("rdf:parseType") = "Resource";
    swatch.append_child("xmpG:swatchName").text() = ink.name.c_str();
    swatch.append_child("xmpG:mode").text() = "CMYK";
    swatch.append_child("xmpG:type").text() = ink.process ? "PROCESS" : "SPOT";
    static const char* const kChannels[4] = {"xmpG:cyan", "xmpG:magenta", "xmpG:yellow",
                                             "xmpG:black"};
    for (int i = 0; i < 4; ++i) {
      swatch.append_child(kChannels[i]).text() = number(ink.cmyk[i] * 100.0).c_str();
    }
  }

  std::ostringstream out;
  out << "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n";
  document.save(out, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  out << "<?xpacket end=\"w\"?>";
  mPacket = out.str();
}

}  // namespace TavricLib
