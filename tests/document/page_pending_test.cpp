// The pending resource lists: colour spaces, shadings and deferred objects of
// a document, written once and named in the resources of every later page;
// nested jobs whose trees are put back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "colour/colorspaces.h"
#include "document_support.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfpending.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernelfile.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace {

using namespace TavPDF;

const char* kTwoSpots = R"(
  "boxes": {"media": [0, 0, 100, 100]},
  "inks": [{"name": "Cyan", "process": "cyan"},
           {"name": "Spot One", "cmyk": [0, 50, 100, 0]},
           {"name": "Spot Two", "cmyk": [100, 0, 0, 0]}],
  "objects": [{"kind": "layer", "name": "L", "objects": []}]
)";

// A test shading: equal when its key is equal; counts the dictionaries it built.
class KeyShading : public PDFShadingType {
 public:
  KeyShading(int key, int* built) : mKey(key), mBuilt(built) {}
  bool isEqual(const PDFShadingType& other) const override {
    const auto* o = dynamic_cast<const KeyShading*>(&other);
    return o != nullptr && o->mKey == mKey;
  }
  PDFDictionary* WriteShadingDictionary(pdfouthan*, PdfColorSpaces*) override {
    ++*mBuilt;
    auto* d = new PDFDictionary();
    d->Set("ShadingType", new PDFInteger(2));
    d->Set("Key", new PDFInteger(mKey));
    return d;
  }

 private:
  int mKey;
  int* mBuilt;
};

class PendingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job = doctest::makeJob(kTwoSpots);
    handler = std::make_unique<pdfouthan>(&file, kPdf14);
    handler->mJob = job.get();
    handler->mSettings = &settings;
    handler->writeHeader();
  }
  void TearDown() override {
    handler.reset();
    PdfObjectRegistry::deleteAll();
  }
  int countInFile(const std::string& text) {
    const std::string& bytes = file.contents();
    int n = 0;
    for (auto at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1)) ++n;
    return n;
  }

  PDFSettings settings = doctest::testSettings();
  TavSys::fil file;
  std::unique_ptr<jobstr> job;
  std::unique_ptr<pdfouthan> handler;
};

TEST_F(PendingTest, ColourSpacesAreRegisteredOnceAndNamedOnEveryPage) {
  PdfPending* pending = GetPendingLists(*handler);
  ASSERT_EQ(pending, GetPendingLists(*handler));  // one per document
  CsSeparation one(job.get(), 1, false);
  CsSeparation sameAgain(job.get(), 1, false);
  CsSeparation two(job.get(), 2, false);
  EXPECT_EQ(pending->registerColorSpace(one), std::make_pair(false, std::size_t{0}));
  EXPECT_EQ(pending->registerColorSpace(sameAgain), std::make_pair(true, std::size_t{0}));
  EXPECT_EQ(pending->registerColorSpace(&two), std::make_pair(false, std::size_t{1}));
  EXPECT_EQ(pending->registerColorSpace(nullptr).first, false);
  EXPECT_EQ(pending->colorSpaces().size(), 2u);

  std::vector<std::string> debug;
  auto previous = TavSys::setDebugSink([&](std::string_view t) { debug.emplace_back(t); });
  EXPECT_EQ(pending->colorSpaces().getIndRef(one, 0), nullptr);
  CsSeparation unknown(job.get(), 0, false);
  EXPECT_EQ(pending->colorSpaces().getIndRef(unknown, 0), nullptr);
  TavSys::setDebugSink(previous);
  ASSERT_EQ(debug.size(), 2u);
  EXPECT_EQ(debug[0], "<PdfColorSpaces::getIndRef> no pdfinref available");
  EXPECT_EQ(debug[1], "<PdfColorSpaces::getIndRef> colorspace not registered");

  // First page: both spaces are written and named.
  auto* page1 = new PDFDictionary();
  auto* resources1 = new PDFDictionary();
  pending->writePending(handler.get(), page1, resources1);
  const std::string nameOne = one.pdfGetName(0), nameTwo = two.pdfGetName(0);
  ASSERT_NE(page1->Get(nameOne), nullptr);
  ASSERT_NE(page1->Get(nameTwo), nullptr);
  PDFIndirectReference* refOne = pending->colorSpaces().getIndRef(sameAgain, 0);
  EXPECT_EQ(page1->Get(nameOne), refOne);
  // No shadings: no Shading resource.
  EXPECT_EQ(resources1->Get("Shading"), nullptr);

  // A later page names them again with the same objects, written only once.
  auto* page2 = new PDFDictionary();
  pending->writePending(handler.get(), page2, new PDFDictionary());
  EXPECT_EQ(page2->Get(nameOne), refOne);
  EXPECT_EQ(countInFile("/Separation /Spot#20One"), 1);
  EXPECT_EQ(countInFile("/Separation /Spot#20Two"), 1);
}

TEST_F(PendingTest, EqualShadingsShareOneIndexAndOneObject) {
  PdfPending* pending = GetPendingLists(*handler);
  int built = 0;
  EXPECT_EQ(pending->addShading(std::make_unique<KeyShading>(7, &built)), 0u);
  EXPECT_EQ(pending->addShading(std::make_unique<KeyShading>(9, &built)), 1u);
  EXPECT_EQ(pending->addShading(std::make_unique<KeyShading>(7, &built)), 0u);
  EXPECT_EQ(pending->shadings().size(), 2u);
  EXPECT_EQ(ShadingResourceName(1), "Sh1");

  for (int page = 0; page < 2; ++page) {
    auto* resources = new PDFDictionary();
    pending->writePending(handler.get(), new PDFDictionary(), resources);
    auto* shading = dynamic_cast<PDFDictionary*>(resources->Get("Shading"));
    ASSERT_NE(shading, nullptr);
    EXPECT_EQ(shading->Size(), 2u);
    EXPECT_EQ(shading->Get("Sh0"), pending->shadings().reference(0));
    EXPECT_EQ(shading->Get("Sh1"), pending->shadings().reference(1));
  }
  // Each shading dictionary is built and written once for the whole file.
  EXPECT_EQ(built, 2);
  EXPECT_EQ(countInFile("/ShadingType 2"), 2);
}

TEST_F(PendingTest, DeferredObjectsAreWrittenOnceAfterThePage) {
  PdfPending* pending = GetPendingLists(*handler);
  PDFIndirectReference* deferred = handler->makeIndirect(new PDFName("DeferredMarker"));
  pending->addIndirect(deferred);
  EXPECT_EQ(countInFile("/DeferredMarker"), 0);
  pending->writePending(handler.get(), new PDFDictionary(), new PDFDictionary());
  pending->writePending(handler.get(), new PDFDictionary(), new PDFDictionary());
  EXPECT_EQ(countInFile("/DeferredMarker"), 1);
  EXPECT_EQ(handler->finishFile(), 0);  // every numbered object was written
}

TEST_F(PendingTest, NestedJobsGetTheirTreesBack) {
  std::shared_ptr<jobstr> nested = doctest::makeJob(kTwoSpots);
  TavDB::Object* own = jobGetSpahan(nested.get());
  auto setter = std::make_unique<JobSpaSetter>(nested.get());
  setter->set(TavDB::spanew());
  setter->set(TavDB::spanew());  // a second stand-in replaces the first
  EXPECT_NE(jobGetSpahan(nested.get()), own);
  EXPECT_TRUE(setter->changed());

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
  const std::string samples = bytes.substr(start + 8, 16);
  EXPECT_EQ(samples, std::string("\x00\x00\x00\x00"
                                 "\x00\x80\xFF\x00"
                                 "\xFF\x00\x00\x00"
                                 "\xFF\x80\xFF\x00", 16));
  EXPECT_EQ(bytes.substr(start + 24, 11), "\r\nendstream");
  EXPECT_NE(bytes.find("/Domain [ 0  1  0  1  ]"), std::string::npos);
  EXPECT_NE(bytes.find("/Size [ 2  2  ]"), std::string::npos);
  // No separation, or so many that the samples would not fit, is refused.
  EXPECT_THROW(WriteSampledTintFunction(*handler, 0, separations), TavSys::Error);
  const std::vector<int> many(17, 1);
  EXPECT_THROW(WriteSampledTintFunction(*handler, 17, many.data()), TavSys::Error);
}

}  // namespace
