#include "jdf_support.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

#include "support/consumers.h"

namespace fs = std::filesystem;

namespace jdftest {

bool Export::has(const std::string& key) const {
  return std::any_of(messages.begin(), messages.end(), [&](const TavGen::Message& m) { return m.key == key; });
}

Export exportJdf(jobstr* job, PDFSettings& settings, const fs::path& target, PDFFileNameHandler* handler) {
  Export run;
  settings.GenerateJDF = 1;
  TavGen::MessageCapture capture;
  MarksSettings marks;
  run.ticket = TavSys::FileSpec(target);
  run.result = OutputPDFDocument(job, settings, marks, true, false, handler, run.ticket, {}, &run.produced);
  run.messages = capture.messages();
  return run;
}

pugi::xml_document readTicket(const fs::path& ticket) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(ticket.c_str());
  EXPECT_TRUE(parsed) << ticket << ": " << parsed.description();
  return doc;
}

fs::path fileOfURL(const fs::path& ticket, const std::string& url) {
  if (url.starts_with("file://")) return TavSys::FileSpec::FromFileURL(url).path();
  // A relative reference: the percent-encoded name of a file beside the ticket.
  return TavSys::FileSpec::FromFileURL("file://" + (ticket.parent_path() / "").string() + url).path();
}

void expectFolderSound(const fs::path& ticket) {
  const auto lint = tavtest::runProcess({"xmllint", "--noout", ticket.string()});
  EXPECT_EQ(lint.exitCode, 0) << lint.describe();
  const pugi::xml_document doc = readTicket(ticket);
  std::set<std::string> ids;
  for (const auto& n : doc.select_nodes("//@ID"))
    EXPECT_TRUE(ids.insert(n.attribute().value()).second) << "twice: " << n.attribute().value();
  for (const auto& n : doc.select_nodes("//@rRef")) EXPECT_TRUE(ids.count(n.attribute().value())) << n.attribute().value();
  for (const auto& n : doc.select_nodes("//FileSpec/@URL")) {
    const fs::path file = fileOfURL(ticket, n.attribute().value());
    ASSERT_TRUE(fs::exists(file)) << n.attribute().value();
    tavtest::expectPdfAcceptedByAllConsumers(file);
  }
  for (const auto& e : fs::directory_iterator(ticket.parent_path()))
    EXPECT_FALSE(e.path().extension() == ".tmp") << "left behind: " << e.path();
}

namespace {

std::vector<double> numbers(const std::string& text) {
  std::vector<double> out;
  std::istringstream in(text);
  for (double v; in >> v;) out.push_back(v);
  return out;
}

pugi::xml_node runList(const pugi::xml_document& doc, const char* usage) {
  const std::string id =
      doc.select_node(("//RunListLink[@ProcessUsage='" + std::string(usage) + "']").c_str()).node().attribute("rRef").value();
  return doc.select_node(("//RunList[@ID='" + id + "']").c_str()).node();
}

}  // namespace

void composeByTicket(const fs::path& ticket, const fs::path& out) {
  const pugi::xml_document doc = readTicket(ticket);
  const pugi::xml_node surface = doc.select_node("//Surface").node();
  QPDF pdf;
  pdf.emptyPDF();
  std::vector<std::unique_ptr<QPDF>> sources;  // alive until the file is written
  QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
  std::string content;
  for (pugi::xml_node object : surface.children()) {
    const std::string kind = object.name();
    const pugi::xml_node list = runList(doc, kind == "MarkObject" ? "Marks" : "Document");
    const pugi::xml_node entry = list.find_child_by_attribute("RunList", "Run", object.attribute("Ord").value());
    ASSERT_TRUE(entry) << kind << " Ord " << object.attribute("Ord").value() << " has no run-list entry";
    const fs::path file = fileOfURL(ticket, entry.child("LayoutElement").child("FileSpec").attribute("URL").value());
    auto& source = sources.emplace_back(std::make_unique<QPDF>());
    source->processFile(file.c_str());
    QPDFPageObjectHelper page = QPDFPageDocumentHelper(*source).getAllPages().at(entry.attribute("Pages").as_int());
    const auto media = page.getMediaBox().getArrayAsRectangle();
    const std::string key = "/Fx" + std::to_string(sources.size());
    xobjects.replaceKey(key, pdf.copyForeignObject(page.getFormXObjectForPage()));
    content += "q\n";
    if (const auto clip = numbers(object.attribute("ClipBox").value()); clip.size() == 4)
      content += std::to_string(clip[0]) + " " + std::to_string(clip[1]) + " " + std::to_string(clip[2] - clip[0]) +
                 " " + std::to_string(clip[3] - clip[1]) + " re W n\n";
    content += std::string(object.attribute("CTM").value()) + " cm\n";
    if (const char* path = object.attribute("SourceClipPath").value(); *path) content += std::string(path) + "W n\n";
    // The file's space starts at its media box's lower left corner.
    content += "1 0 0 1 " + std::to_string(-media.llx) + " " + std::to_string(-media.lly) + " cm " + key + " Do\nQ\n";
  }
  QPDFObjectHandle box = QPDFObjectHandle::newArray();
  for (double v : numbers(surface.attribute("SurfaceContentsBox").value())) box.appendItem(QPDFObjectHandle::newReal(v, 6));
  QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
  resources.replaceKey("/XObject", xobjects);
  QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
  page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
  page.replaceKey("/MediaBox", box);
  page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
  QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  QPDFWriter writer(pdf, out.c_str());
  writer.write();
}

void expectSamePlates(const fs::path& a, const fs::path& b) {
  const tavtest::Plates pa = tavtest::measurePlates(a), pb = tavtest::measurePlates(b);
  ASSERT_EQ(pa.coverage.size(), pb.coverage.size()) << pa.summary() << " / " << pb.summary();
  for (const auto& [ink, plate] : pa.plates) {
    const tavtest::Plate& other = pb.plate(ink);
    ASSERT_EQ(plate.samples.size(), other.samples.size()) << ink;
    // Pixels whose ink differs noticeably, against the pixels inked in either.
    std::size_t differing = 0, inked = 0;
    for (std::size_t i = 0; i < plate.samples.size(); ++i) {
      if (plate.samples[i] != 255 || other.samples[i] != 255) ++inked;
      if (std::abs(int(plate.samples[i]) - int(other.samples[i])) > 12) ++differing;
    }
    EXPECT_LE(differing, inked / 100) << ink << ": " << pa.summary() << " / " << pb.summary();
  }
}

}  // namespace jdftest
