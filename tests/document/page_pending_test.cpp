// The pending resource lists: colour spaces, shadings and deferred objects of
// a document, written once and named in the resources of every later page;
// nested jobs whose trees are put back.
#include <gtest/gtest.h>

#include "colour/colorspaces.h"
#include "colour/shading.h"
#include "document_support.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfpending.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernelfile.h"
#include "platform/tav_error.h"

namespace {

using namespace TavPDF;

const char* kTwoSpots = R"("boxes": {"media": [0, 0, 100, 100]}, "inks": [{"name": "Cyan", "process": "cyan"},
  {"name": "Spot One", "cmyk": [0, 50, 100, 0]}, {"name": "Spot Two", "cmyk": [100, 0, 0, 0]}], "objects": [])";

// An axial shading whose end lies at x = key.
std::unique_ptr<PDFShadingType> shadingTo(const ColorSpace& space, double key) {
  std::array<std::uint16_t, 64> from{}, to{};
  to.fill(kTintFull);
  return std::make_unique<PDFShadingType2>(TavricLib::Coord{0, 0}, TavricLib::Coord{key, 0}, &space,
                                           from.data(), to.data());
}

class PendingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler->mJob = job.get();
    handler->mSettings = &settings;
    handler->writeHeader();
  }
  void TearDown() override {
    handler.reset();
    PdfObjectRegistry::deleteAll();
  }
  int countInFile(const std::string& text) {
    int n = 0;
    for (auto at = file.contents().find(text); at != std::string::npos; at = file.contents().find(text, at + 1)) ++n;
    return n;
  }

  PDFSettings settings = doctest::testSettings();
  TavSys::fil file;
  std::unique_ptr<jobstr> job = doctest::makeJob(kTwoSpots);
  std::unique_ptr<pdfouthan> handler = std::make_unique<pdfouthan>(&file, kPdf14);
};

TEST_F(PendingTest, ResourcesAreWrittenOnceAndNamedOnEveryPage) {
  PdfPending* pending = GetPendingLists(*handler);
  ASSERT_EQ(pending, GetPendingLists(*handler));  // one per document
  // Colour spaces: equal ones share an index; nothing to name until written.
  CsSeparation one(job.get(), 1, false), sameAgain(job.get(), 1, false), two(job.get(), 2, false);
  EXPECT_EQ(pending->registerColorSpace(one), std::make_pair(false, std::size_t{0}));
  EXPECT_EQ(pending->registerColorSpace(sameAgain), std::make_pair(true, std::size_t{0}));
  EXPECT_EQ(pending->registerColorSpace(&two), std::make_pair(false, std::size_t{1}));
  EXPECT_EQ(pending->registerColorSpace(nullptr).first, false);
  // Asked for in turn, each finds its own entry.
  EXPECT_EQ(pending->registerColorSpace(one), std::make_pair(true, std::size_t{0}));
  EXPECT_EQ(pending->registerColorSpace(&two), std::make_pair(true, std::size_t{1}));
  EXPECT_EQ(pending->registerColorSpace(sameAgain), std::make_pair(true, std::size_t{0}));
  EXPECT_EQ(pending->registerColorSpace(&two), std::make_pair(true, std::size_t{1}));
  EXPECT_EQ(pending->colorSpaces().size(), 2u);
  EXPECT_EQ(pending->colorSpaces().getIndRef(one, 0), nullptr);
  EXPECT_EQ(pending->colorSpaces().getIndRef(CsSeparation(job.get(), 0, false), 0), nullptr);
  // Shadings: equal ones share an index and one object.
  EXPECT_EQ(pending->addShading(shadingTo(one, 7)), 0u);
  EXPECT_EQ(pending->addShading(shadingTo(two, 7)), 1u);
  EXPECT_EQ(pending->addShading(shadingTo(sameAgain, 7)), 0u);
  EXPECT_EQ(pending->shadings().size(), 2u);
  // Deferred objects wait for the end of the page.
  pending->addIndirect(handler->makeIndirect(new PDFName("DeferredMarker")));
  EXPECT_EQ(countInFile("/DeferredMarker"), 0);

  PDFIndirectReference* refOne = nullptr;
  for (int page = 0; page < 2; ++page) {
    SCOPED_TRACE(page);
    auto* dictionary = new PDFDictionary();
    auto* resources = new PDFDictionary();
    pending->writePending(handler.get(), dictionary, resources);
    if (page == 0) refOne = pending->colorSpaces().getIndRef(sameAgain, 0);
    EXPECT_NE(refOne, nullptr);
    EXPECT_EQ(dictionary->Get(one.pdfGetName(0)), refOne);
    EXPECT_NE(dictionary->Get(two.pdfGetName(0)), nullptr);
    auto* shading = dynamic_cast<PDFDictionary*>(resources->Get("Shading"));
    ASSERT_NE(shading, nullptr);
    EXPECT_EQ(shading->Size(), 2u);
    EXPECT_EQ(shading->Get("Sh0"), pending->shadings().reference(0));
    EXPECT_EQ(shading->Get(ShadingResourceName(1)), pending->shadings().reference(1));
  }
  EXPECT_EQ(ShadingResourceName(1), "Sh1");
  // Each object is built and written once for the whole file.
  EXPECT_EQ(countInFile("/Separation /Spot#20One"), 1);
  EXPECT_EQ(countInFile("/Separation /Spot#20Two"), 1);
  EXPECT_EQ(countInFile("/ShadingType 2"), 2);
  EXPECT_EQ(countInFile("/DeferredMarker"), 1);
  // Without shadings a page gets no Shading resource.
  PdfPending none;
  auto* resources = new PDFDictionary();
  none.writePending(handler.get(), new PDFDictionary(), resources);
  EXPECT_EQ(resources->Get("Shading"), nullptr);
  EXPECT_EQ(handler->finishFile(), 0);  // every numbered object was written
}

TEST_F(PendingTest, NestedJobsGetTheirTreesBack) {
  std::shared_ptr<jobstr> nested = doctest::makeJob(kTwoSpots);
  TavDB::Object* own = jobGetSpahan(nested.get());
  auto setter = std::make_unique<JobSpaSetter>(nested.get());
  setter->set(TavDB::spanew());
  setter->set(TavDB::spanew());  // a second stand-in replaces the first
  EXPECT_TRUE(setter->changed() && jobGetSpahan(nested.get()) != own);
  PdfPending* pending = GetPendingLists(*handler);
  pending->addJob(nested, std::move(setter));
  EXPECT_EQ(nested.use_count(), 2);  // kept open by the list
  pending->closeJobs();
  EXPECT_EQ(jobGetSpahan(nested.get()), own);
  EXPECT_EQ(nested.use_count(), 1);
  EXPECT_EQ(pending->jobs().size(), 0u);

  // Lists still holding a job restore it when the handler goes.
  auto again = std::make_unique<JobSpaSetter>(nested.get());
  again->set(TavDB::spanew());
  pending->addJob(nested, std::move(again));
  handler.reset();
  EXPECT_EQ(jobGetSpahan(nested.get()), own);
  EXPECT_EQ(nested.use_count(), 1);
}

TEST_F(PendingTest, SampledTintFunctionMixesTheSeparations) {
  // Spot One is 0/50/100/0 %, Spot Two 100/0/0/0 %: sample k mixes the inks
  // whose bits are set in k, each at full tint.
  const int separations[2] = {1, 2};
  PDFIndirectReference* function = WriteSampledTintFunction(*handler, 2, separations);
  ASSERT_NE(function, nullptr);
  const std::string& bytes = file.contents();
  const auto start = bytes.find("stream\r\n");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(bytes.substr(start + 8, 27), std::string("\x00\x00\x00\x00\x00\x80\xFF\x00\xFF\x00\x00\x00\xFF\x80\xFF\x00"
                                                   "\r\nendstream", 27));
  EXPECT_NE(bytes.find("/Domain [ 0  1  0  1  ]"), std::string::npos);
  EXPECT_NE(bytes.find("/Size [ 2  2  ]"), std::string::npos);
  // No separation, or so many that the samples would not fit, is refused.
  EXPECT_THROW(WriteSampledTintFunction(*handler, 0, separations), TavSys::Error);
  const std::vector<int> many(17, 1);
  EXPECT_THROW(WriteSampledTintFunction(*handler, 17, many.data()), TavSys::Error);
}

}  // namespace
