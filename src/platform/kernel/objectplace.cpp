#include "platform/kernel/objectplace.h"

#include <vector>

#include "platform/kernel/barcode.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"

namespace TavKernel {

namespace {

// The outermost barcode group the object lies in (not the object itself), or
// null: a barcode's members may have been drawn by the engine, so they are
// named by the group the file holds.
const TavDB::Object* barcodeAncestor(const TavDB::Object* object) {
  const TavDB::Object* found = nullptr;
  for (const TavDB::Object* up = object->parent(); up != nullptr; up = up->parent())
    if (GetBarcodeCreator(up) != nullptr) found = up;
  return found;
}

const jobstr::FileList* fileListOf(const jobstr& job, const TavDB::Object* root) {
  if (root->extra() == nullptr || !root->extra()->fileList) return nullptr;
  for (const jobstr::FileList& list : job.fileLists)
    if (list.list == root) return &list;
  return nullptr;
}

}  // namespace

std::string JobFilePlace(const jobstr* job, const TavDB::Object* object) {
  if (job == nullptr || object == nullptr) return {};
  if (const TavDB::Object* barcode = barcodeAncestor(object)) object = barcode;
  // Member indices from the object up to its root.
  std::vector<std::ptrdiff_t> indices;
  const TavDB::Object* at = object;
  for (; at->parent() != nullptr; at = at->parent()) {
    const std::ptrdiff_t index = at->parent()->indexOf(at);
    if (index < 0) return {};
    indices.push_back(index);
  }
  const jobstr::FileList* list = fileListOf(*job, at);
  // The root itself, or a member the export put on top of the file's.
  if (list == nullptr || indices.empty() || std::size_t(indices.back()) >= list->members) return {};
  std::string place = list->place;
  for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
    if (it != indices.rbegin()) place += "/objects";
    place += "/" + std::to_string(*it);
  }
  return place;
}

std::string JobObjectKind(const TavDB::Object& object) {
  switch (object.kind()) {
    case TavDB::ObjectKind::Layer: return "layer";
    case TavDB::ObjectKind::Group:
      if (GetBarcodeCreator(&object) != nullptr) return "barcode";
      if (isPaimapGroup(&object)) return "paint-map group";
      return "group";
    case TavDB::ObjectKind::Compound: return "compound path";
    case TavDB::ObjectKind::Path: return "path";
    case TavDB::ObjectKind::Text: return "text";
    case TavDB::ObjectKind::List: break;
  }
  return "object list";
}

std::string DescribeJobObject(const jobstr* job, const TavDB::Object* object) {
  if (object == nullptr) return {};
  if (const TavDB::Object* barcode = barcodeAncestor(object)) object = barcode;
  const std::string kind = JobObjectKind(*object);
  std::string text;
  if (!object->name().empty()) {
    text = "the " + kind + " \"" + object->name() + "\"";
  } else {
    const char first = kind.front();
    const bool vowel = first == 'a' || first == 'e' || first == 'i' || first == 'o' || first == 'u';
    text = (vowel ? "an " : "a ") + kind;
  }
  const std::string place = JobFilePlace(job, object);
  if (!place.empty()) {
    const TavSys::filref* file = filrefori(job);
    // The job file as the job was opened by (the way the loader names it).
    text += " (" + (file != nullptr ? file->toFileSpec().path().string() + ": " : std::string()) + place + ")";
  }
  return text;
}

void NameObjectInError(TavSys::Error& error, const jobstr* job, const TavDB::Object* object) {
  if (object == nullptr || error.key().empty()) return;
  if (TavCore::GetLocalizedUTF8String(error.key()).find("__OBJECT__") == std::string::npos) return;
  // The place found so far, kept beside the text (no message shows it).
  constexpr std::string_view kPlace = "__OBJECTPLACE__";
  const std::string* known = error.value(kPlace);
  if (known != nullptr && !known->empty()) return;
  std::string place = JobFilePlace(job, object);
  if (known != nullptr && place.empty()) return;
  error.set("__OBJECT__", DescribeJobObject(job, object));
  error.set(kPlace, std::move(place));
}

}  // namespace TavKernel
