#include "pdfwriter/optionalcontent.h"

#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kLayerNonPrinting = 0x40000;
constexpr std::uint32_t kLayerHidden = 0x800000;
constexpr std::uint32_t kLayerLocked = 0x8000000;

PDFDictionary* Dictionary1(const char* key, PDFDictionaryValue* value) {
  auto* dictionary = new PDFDictionary();
  dictionary->Set(key, value);
  return dictionary;
}

}  // namespace

PDFDictionary* WriteOptionalContent(pdfouthan& handler) {
  const PDFSettings& settings = *handler.mSettings;
  TavDB::Object* tree =
      handler.mSpatialTree != nullptr ? handler.mSpatialTree : jobGetSpahan(handler.mJob);

  // The arrays grow with the layers actually written, so that they always
  // match the groups whatever the tree holds.
  auto* groups = new PDFArray();
  auto* on = new PDFArray();
  auto* off = new PDFArray();
  handler.mOptionalContentGroups = groups;

  TavDB::ListScan scan(tree, TavDB::kObjLayer, TavDB::kObjExcluded, 0, TavDB::kObjExcluded, 0);
  while (TavDB::Object* object = scan.next()) {
    const std::uint32_t flags = object->flags();
    const bool nonPrinting = (flags & kLayerNonPrinting) != 0;
    const bool hidden = (flags & kLayerHidden) != 0;
    if (nonPrinting && settings.AddNonPrintingLayers == 0) continue;

    auto* group = new PDFDictionary();
    group->Set("Type", new PDFName("OCG"));
    group->Set("Name", new PDFString(object->name()));
    auto* usage = new PDFDictionary();
    usage->Set("Print", Dictionary1("PrintState", new PDFName(nonPrinting || hidden ? "OFF" : "ON")));
    if (hidden) {
      // Hidden on screen, printed: what the layer does in the job.
      auto* view = Dictionary1("ViewState", new PDFName("OFF"));
      view->Set("PrintState", new PDFName("ON"));
      usage->Set("View", view);
    } else {
      usage->Set("View", Dictionary1("ViewState", new PDFName("ON")));
    }
    group->Set("Usage", usage);
    if (settings.NormalizedOutput != 0) {
      group->Set("VornPNLck", new PDFBool(object->checkProperties(kLayerLocked)));
    }
    PDFIndirectReference* reference = handler.makeIndirect(group);
    groups->Add(reference);
    handler.writeObject(reference);
    (nonPrinting || hidden ? off : on)->Add(reference);
  }

  PDFIndirectReference* groupsReference = handler.makeIndirect(groups);
  auto* configuration = new PDFDictionary();
  configuration->Set("OFF", off);
  configuration->Set("ON", on);
  configuration->Set("Order", groupsReference);
  auto* properties = new PDFDictionary();
  properties->Set("OCGs", groupsReference);
  properties->Set("D", configuration);
  handler.writeObject(groupsReference);
  return properties;
}

}  // namespace TavPDF
