// Where an object stands in its job file, as messages name it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/kernel/jobfile.h"
#include "platform/kernel/objectplace.h"
#include "platform/tav_error.h"

namespace {

const char* kJob = R"({"ppi": 720, "boxes": {"media": [0, 0, 7200, 7200]},
  "inks": [{"name": "Black", "process": "black"}],
  "colours": [{"id": 1, "inks": {"Black": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "pattern", "pattern": 4}],
  "patterns": [{"id": 9, "kind": "softMask", "objects": [
                 {"kind": "path", "paint": 10, "points": [[0, 0], [0, 50], [50, 50]]}]},
               {"id": 4, "cell": [0, 0, 100, 100], "objects": [
                 {"kind": "path", "paint": 10, "points": [[0, 0], [0, 50], [50, 50]]},
                 {"kind": "path", "name": "dot", "paint": 10, "points": [[60, 60], [60, 90], [90, 90]]}]}],
  "objects": [
    {"kind": "layer", "name": "Art", "objects": [
      {"kind": "path", "paint": 10, "points": [[0, 0], [0, 100], [100, 100]]},
      {"kind": "group", "name": "title", "objects": [
        {"kind": "compound", "paint": 11, "objects": [
          {"kind": "path", "points": [[0, 0], [0, 10], [10, 10]]},
          {"kind": "path", "name": "hole", "points": [[2, 2], [2, 8], [8, 8]]}]},
        {"kind": "text", "name": "Earl Grey", "at": [500, 500],
         "runs": [{"text": "Earl Grey", "font": "NimbusSans-Bold", "size": 20, "paint": 10}]}]}]},
    {"kind": "group", "name": "EAN", "at": [1000, 2000], "barcode": {"symbology": "EAN-13", "data": "501234567890", "paint": 10}}]})";

}  // namespace

// Objects read from the file have their JSON pointer, those of pattern cells
// included; objects the engine made (a copy, one put on top of the tree, the
// lines it drew for a barcode) have none or their barcode's.
TEST(ObjectPlace, ObjectsNameTheirPlaceInTheJobFile) {
  auto job = TavKernel::loadJobFromMemory(kJob, std::filesystem::temp_directory_path(), "tea.json");
  TavDB::Object* tree = jobGetSpahan(job.get());
  TavDB::Object* art = tree->member(0);
  TavDB::Object* title = art->member(1);
  TavDB::Object* barcode = tree->member(1);
  ASSERT_GT(barcode->memberCount(), 0u);
  const auto copy = TavDB::objdup(title);
  TavDB::Object* added = TavDB::addontop(tree, TavDB::objdup(art->member(0)));
  const struct {
    const char* what;
    const TavDB::Object* object;
    const char* place;
    const char* description;
  } cases[] = {
      {"a layer", art, "/objects/0", "the layer \"Art\" (tea.json: /objects/0)"},
      {"an unnamed path in it", art->member(0), "/objects/0/objects/0", "a path (tea.json: /objects/0/objects/0)"},
      {"a compound path", title->member(0), "/objects/0/objects/1/objects/0",
       "a compound path (tea.json: /objects/0/objects/1/objects/0)"},
      {"a path of the compound", title->member(0)->member(1), "/objects/0/objects/1/objects/0/objects/1",
       "the path \"hole\" (tea.json: /objects/0/objects/1/objects/0/objects/1)"},
      {"a text", title->member(1), "/objects/0/objects/1/objects/1",
       "the text \"Earl Grey\" (tea.json: /objects/0/objects/1/objects/1)"},
      {"a pattern's object, by the pattern's place in the file", job->patterns[4].objects->member(1),
       "/patterns/1/objects/1", "the path \"dot\" (tea.json: /patterns/1/objects/1)"},
      {"a soft mask's object", job->patterns[9].objects->member(0), "/patterns/0/objects/0",
       "a path (tea.json: /patterns/0/objects/0)"},
      {"the barcode", barcode, "/objects/1", "the barcode \"EAN\" (tea.json: /objects/1)"},
      {"a line the engine drew for it", barcode->member(0), "/objects/1", "the barcode \"EAN\" (tea.json: /objects/1)"},
      {"a copy the export made", copy.get(), "", "the group \"title\""},
      {"a member of the copy", copy->member(1), "", "the text \"Earl Grey\""},
      {"an object put on top of the file's", added, "", "a path"},
      {"the tree itself", tree, "", "an object list"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TavKernel::JobFilePlace(job.get(), c.object), c.place);
    EXPECT_EQ(TavKernel::DescribeJobObject(job.get(), c.object), c.description);
  }
  // A tree swapped in for the export's time is no file's.
  std::unique_ptr<TavDB::Object> mine = jobSetSpahan(job.get(), TavDB::objdup(tree));
  EXPECT_EQ(TavKernel::JobFilePlace(job.get(), jobGetSpahan(job.get())->member(0)), "");
  jobSetSpahan(job.get(), std::move(mine));
  EXPECT_EQ(TavKernel::JobFilePlace(job.get(), art), "/objects/0");
}

// An error whose message names an object gets the innermost object that has
// a place; an error whose message does not is left alone.
TEST(ObjectPlace, ErrorsNameTheInnermostObjectWithAPlace) {
  auto job = TavKernel::loadJobFromMemory(kJob, std::filesystem::temp_directory_path(), "tea.json");
  TavDB::Object* title = jobGetSpahan(job.get())->member(0)->member(1);
  const auto copy = TavDB::objdup(title->member(1));
  TavSys::Error refusal(1, "PDF/OBJECT NOT SUPPORTED YET");
  refusal.with("__OBJECTKIND__", "a pattern fill");
  TavKernel::NameObjectInError(refusal, job.get(), copy.get());  // a copy: named, no place
  EXPECT_EQ(*refusal.value("__OBJECT__"), "the text \"Earl Grey\"");
  TavKernel::NameObjectInError(refusal, job.get(), title->member(1));  // the object itself
  TavKernel::NameObjectInError(refusal, job.get(), title);              // the group around it
  EXPECT_EQ(refusal.text(),
            "The job contains a pattern fill in the text \"Earl Grey\" (tea.json: /objects/0/objects/1/objects/1), "
            "which this version cannot write to PDF yet; the export was stopped.");
  TavSys::Error other(1, "PDF/GRADATION TOO LARGE");
  TavKernel::NameObjectInError(other, job.get(), title);
  EXPECT_EQ(other.value("__OBJECT__"), nullptr);
}
