// The stream filters over an in-memory file: encodings that decode back to
// the input, block boundaries, cancel, and filter failures.
#include <gtest/gtest.h>
#include <zlib.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <random>
#include <sstream>

#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "sinks.h"

namespace {

using namespace TavPDF;

// Inflates a complete zlib stream; fails the test (and returns what it got)
// when the stream is damaged or does not end.
std::string inflateAll(const std::string& compressed) {
  z_stream z{};
  EXPECT_EQ(inflateInit(&z), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  char buffer[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
    if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  EXPECT_TRUE(rc == Z_STREAM_END && z.avail_in == 0)
      << "zlib stream damaged or not ended, rc " << rc;
  inflateEnd(&z);
  return out;
}

std::string randomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Runs bytes through the filter the name chooses; returns what reached the
// file. Data go in pieces of `piece` bytes (0: one byte at a time).
std::string encode(const char* filterName, const std::string& data, std::size_t piece = 1000,
                   bool* finished = nullptr, int* fileStatus = nullptr) {
  TavSys::fil memory;
  pdfoutfil file(&memory);
  PDFName name(filterName);
  pdfoutfilter* sink = CreateOutputFilter(&file, &name);
  if (piece == 0) {
    for (const char c : data) sink->PutByte(static_cast<std::uint8_t>(c));
  } else {
    for (std::size_t at = 0; at < data.size(); at += piece) {
      sink->PutBytes(data.data() + at, std::min(piece, data.size() - at));
    }
  }
  const bool ok = sink->Finish();
  if (finished != nullptr) *finished = ok;
  if (fileStatus != nullptr) *fileStatus = file.status();
  if (sink != &file) delete sink;
  return memory.contents();
}

// Decodes data through qpdf's decoder for the filter the name gives.
std::string qpdfDecode(const char* filter, const std::string& encoded) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf, encoded);
  stream.getDict().replaceKey("/Filter", QPDFObjectHandle::newName(std::string("/") + filter));
  auto data = stream.getStreamData(qpdf_dl_all);
  return {reinterpret_cast<const char*>(data->getBuffer()), data->getSize()};
}

TEST(Filters, AsciiHexBreaksAfter520InputBytes) {
  std::string hex;
  for (int i = 0; i < 520; ++i) hex += "0F";
  EXPECT_EQ(encode("ASCIIHexDecode", std::string(519, '\x0F'), 0), hex.substr(2) + ">");
  EXPECT_EQ(encode("ASCIIHexDecode", std::string(520, '\x0F'), 7), hex + "\n>");
  EXPECT_EQ(encode("ASCIIHexDecode", ""), ">");
}

TEST(Filters, Ascii85DecodesBackAndEndsWithItsMarker) {
  for (std::size_t n : {0u, 1u, 2u, 3u, 4u, 5u, 71u, 1000u}) {
    const std::string data = randomBytes(n, static_cast<unsigned>(n));
    const std::string text = encode("ASCII85Decode", data);
    EXPECT_EQ(text.substr(text.size() - 2), "~>");
    EXPECT_EQ(qpdfDecode("ASCII85Decode", text), data) << n << " bytes";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 72u);
  }
  // A group of four zero bytes is the single character z.
  EXPECT_EQ(encode("ASCII85Decode", std::string(8, '\0')), "zz~>");
}

TEST(Filters, FlateRoundTripsAcrossBlockBoundaries) {
  // An empty stream is still a complete zlib stream (inflateAll insists).
  for (std::size_t n : {0u, 1u, 8191u, 8192u, 8193u, 16384u, 1048576u}) {
    const std::string data = randomBytes(n, 7u + static_cast<unsigned>(n));
    bool finished = false;
    const std::string z = encode("FlateDecode", data, 3000, &finished);
    EXPECT_TRUE(finished) << n;
    EXPECT_EQ(inflateAll(z), data) << n << " bytes";
  }
  // Byte by byte as well, with compressible text.
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + " 0 m\n";
  EXPECT_EQ(inflateAll(encode("FlateDecode", text, 0)), text);
}

// A page's content reaches the Flate filter in short pieces: every length up
// to past the short-piece limit, at every offset within a block and across
// the blocks' ends, compresses the very bytes given, as does the same data in
// large pieces.
TEST(Filters, FlateTakesShortPiecesOfEveryLengthWhole) {
  const std::string data = randomBytes(100000, 34u);
  for (std::size_t piece : {1u, 3u, 7u, 8u, 9u, 63u, 64u, 65u}) {
    EXPECT_EQ(inflateAll(encode("FlateDecode", data, piece)), data) << piece << "-byte pieces";
  }
  TavSys::fil memory;
  pdfoutfil file(&memory);
  PDFName name("FlateDecode");
  pdfoutfilter* sink = CreateOutputFilter(&file, &name);
  std::size_t at = 0;
  for (std::size_t length = 0; at < data.size(); length = (length + 1) % 70) {
    const std::size_t n = std::min(length, data.size() - at);
    sink->PutBytes(data.data() + at, n);
    at += n;
  }
  EXPECT_TRUE(sink->Finish());
  delete sink;
  EXPECT_EQ(memory.contents(), encode("FlateDecode", data, 100000));
}

TEST(Filters, EncodedDataPassThroughAndAnUnknownFilterIsAFailureOfTheFile) {
  const std::string jpeg = "\xFF\xD8\xFF\xE0 jpeg bytes \x00\x01";
  EXPECT_EQ(encode("DCTDecode", jpeg), jpeg);
  TavSys::fil memory;
  pdfoutfil file(&memory);
  EXPECT_EQ(CreateOutputFilter(&file, nullptr), &file);
  EXPECT_EQ(file.status(), 0);
  TavGen::MessageCapture capture;
  bool finished = true;
  int status = 0;
  EXPECT_EQ(encode("LZWDecode", "abc", 1000, &finished, &status), "abc");
  EXPECT_FALSE(finished);
  EXPECT_NE(status, 0);
  ASSERT_EQ(capture.count("PDF/ERROR IN FILE FORMAT"), 1);
  EXPECT_EQ(capture.messages()[0].severity, 3);
  EXPECT_EQ(capture.messages()[0].volatility, 0);

  // A Filter entry that is not a name (an array of filters) is refused too.
  auto* array = new PDFArray;
  array->Add(new PDFName("FlateDecode"));
  EXPECT_EQ(CreateOutputFilter(&file, array), &file);
  EXPECT_NE(file.status(), 0);
  PdfObjectRegistry::deleteAll();
}

TEST(Filters, CancelDropsBlocksAndStillEndsTheZlibStream) {
  TavSys::Progress::resetCancel();
  // The cancel comes while the stream is half written.
  int asked = 0;
  TavSys::Progress::setCancelHook([&] { return ++asked > 3; });
  std::string text;
  for (int i = 0; i < 40000; ++i) text += std::to_string(i) + " " + std::to_string(i) + " l\n";
  bool finished = true;
  int status = 0;
  const std::string z = encode("FlateDecode", text, text.size(), &finished, &status);
  TavSys::Progress::setCancelHook({});
  TavSys::Progress::resetCancel();
  // The first three blocks made it, the rest was dropped; the zlib stream ends.
  EXPECT_EQ(inflateAll(z), text.substr(0, 3 * 8192));
  // The stream lacks data: not a success, though no message is due.
  EXPECT_FALSE(finished);
  EXPECT_EQ(status, TavSys::kResultAbandoned);
}

}  // namespace
