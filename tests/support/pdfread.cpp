#include "support/pdfread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace tavtest {

Pdf::Pdf(const std::filesystem::path& file) { mPdf.processFile(file.string().c_str()); }

std::vector<double> numbers(QPDFObjectHandle array) {
  std::vector<double> out;
  if (!array.isArray()) return out;
  for (int i = 0; i < array.getArrayNItems(); ++i) out.push_back(array.getArrayItem(i).getNumericValue());
  return out;
}

std::string at(QPDFObjectHandle object, const std::string& path) {
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find('/', start + 1), path.size());
    const std::string step = path.substr(start, end - start);
    if (object.isArray()) {
      const std::string digits = step.substr(1);
      const bool isIndex =
          !digits.empty() && digits.size() < 9 && digits.find_first_not_of("0123456789") == std::string::npos;
      const int index = isIndex ? std::stoi(digits) : -1;
      object = index >= 0 && index < object.getArrayNItems() ? object.getArrayItem(index) : QPDFObjectHandle::newNull();
    } else {
      if (object.isStream()) object = object.getDict();
      object = object.isDictionary() ? object.getKey(step) : QPDFObjectHandle::newNull();
    }
    start = end;
  }
  if (object.isName()) return object.getName();
  if (object.isString()) return object.getUTF8Value();
  return object.isDictionary() || object.isArray() || object.isStream() ? object.unparse() : object.unparseResolved();
}

void expectValues(QPDFObjectHandle object, const std::vector<std::pair<std::string, std::string>>& expected) {
  for (const auto& [path, value] : expected) EXPECT_EQ(at(object, path), value) << path;
}

std::string streamData(QPDFObjectHandle stream, bool raw) {
  auto data = raw ? stream.getRawStreamData() : stream.getStreamData(qpdf_dl_all);
  return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

std::string pageContent(QPDFObjectHandle page) {
  std::string all;
  for (QPDFObjectHandle stream : QPDFPageObjectHelper(page).getPageContents()) all += streamData(stream);
  return all;
}

std::vector<std::string> unreachableObjects(const std::filesystem::path& file) {
  QPDF pdf;
  pdf.processFile(file.string().c_str());
  std::set<QPDFObjGen> reached;
  std::vector<QPDFObjectHandle> todo{pdf.getTrailer()};
  while (!todo.empty()) {
    QPDFObjectHandle object = todo.back();
    todo.pop_back();
    if (object.isIndirect() && !reached.insert(object.getObjGen()).second) continue;
    if (object.isStream()) object = object.getDict();
    if (object.isArray()) {
      for (int i = 0; i < object.getArrayNItems(); ++i) todo.push_back(object.getArrayItem(i));
    } else if (object.isDictionary()) {
      for (const std::string& key : object.getKeys()) todo.push_back(object.getKey(key));
    }
  }
  std::vector<std::string> out;
  for (QPDFObjectHandle object : pdf.getAllObjects()) {
    if (reached.count(object.getObjGen()) == 0) out.push_back(object.unparse() + " " + object.getTypeName());
  }
  return out;
}

}  // namespace tavtest
