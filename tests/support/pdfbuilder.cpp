#include "pdfbuilder.h"

#include <cstdio>
#include <stdexcept>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace tavtest {

namespace {
std::string referenceText(QPDFObjectHandle o) {
  return std::to_string(o.getObjectID()) + " " + std::to_string(o.getGeneration()) + " R";
}
}  // namespace

PdfBuilder::PdfBuilder() : pdf_(std::make_unique<QPDF>()) { pdf_->emptyPDF(); }

PdfBuilder::~PdfBuilder() = default;

std::string PdfBuilder::object(const std::string& syntax) {
  return referenceText(pdf_->makeIndirectObject(QPDFObjectHandle::parse(pdf_.get(), syntax)));
}

std::string PdfBuilder::stream(const std::string& dictionary, const std::string& data) {
  QPDFObjectHandle s = pdf_->newStream(data);
  QPDFObjectHandle dict = QPDFObjectHandle::parse(pdf_.get(), dictionary);
  for (const auto& [key, value] : dict.getDictAsMap()) s.getDict().replaceKey(key, value);
  return referenceText(s);
}

void PdfBuilder::page(const std::string& keys, const std::vector<std::string>& contents, double width,
                      double height) {
  QPDFObjectHandle page = QPDFObjectHandle::parse(
      pdf_.get(), "<< /Type /Page /MediaBox [0 0 " + std::to_string(width) + " " + std::to_string(height) + "] " +
                      keys + " >>");
  QPDFObjectHandle parts = QPDFObjectHandle::newArray();
  for (const std::string& c : contents) parts.appendItem(pdf_->newStream(c));
  if (contents.size() == 1) {
    page.replaceKey("/Contents", parts.getArrayItem(0));
  } else if (!contents.empty()) {
    page.replaceKey("/Contents", parts);
  }
  QPDFPageDocumentHelper(*pdf_).addPage(QPDFPageObjectHelper(pdf_->makeIndirectObject(page)), false);
}

void PdfBuilder::catalog(const std::string& key, const std::string& syntax) {
  pdf_->getRoot().replaceKey(key, QPDFObjectHandle::parse(pdf_.get(), syntax));
}

void PdfBuilder::put(const std::string& reference, const std::string& key, const std::string& syntax) {
  int id = 0, generation = 0;
  if (std::sscanf(reference.c_str(), "%d %d R", &id, &generation) != 2) {
    throw std::runtime_error("PdfBuilder: " + reference + " is no reference");
  }
  QPDFObjectHandle target = pdf_->getObjectByID(id, generation);
  QPDFObjectHandle dict = target.isStream() ? target.getDict() : target;
  if (!dict.isDictionary()) throw std::runtime_error("PdfBuilder: " + reference + " is no dictionary");
  dict.replaceKey(key, QPDFObjectHandle::parse(pdf_.get(), syntax));
}

void PdfBuilder::write(const std::filesystem::path& file, bool encrypt) {
  try {
    QPDFWriter w(*pdf_, file.c_str());
    w.setStaticID(true);
    w.setCompressStreams(true);
    w.setDecodeLevel(qpdf_dl_none);
    if (encrypt) {
      w.setR6EncryptionParameters("", "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
    }
    w.write();
  } catch (const std::exception& e) {
    throw std::runtime_error("PdfBuilder: " + std::string(e.what()));
  }
}

}  // namespace tavtest
