#pragma once
// Where an object of a job stands in its job file, so that a message can
// name it as the user wrote it: the object's kind and name, the job file and
// the JSON pointer of its place ("/objects/0/objects/3").
//
// The loader records the object lists it reads (the top-level "objects" and
// each pattern's "objects") in jobstr::fileLists. An object has a place when
// its parent chain ends in one of those lists and its way down follows
// members the file gave: copies the export makes, flattened trees and the
// marks layer the export puts on top have none.
#include <string>

#include "platform/kernel/tavdb.h"
#include "platform/tav_error.h"

struct jobstr;

namespace TavKernel {

// The JSON pointer of the object in its job file; "" when it has none. An
// object inside a barcode group whose members the engine drew has the
// group's place.
std::string JobFilePlace(const jobstr* job, const TavDB::Object* object);

// The object for a message: its kind and name and, when it has a place, the
// job file and the place:
//   the path "logo" (front-panel.json: /objects/2)
//   a compound path (label.json: /objects/0/objects/4)
//   the text "Earl Grey"                     (a copy: no place)
std::string DescribeJobObject(const jobstr* job, const TavDB::Object* object);

// The kind of an object as the job file calls it ("path", "compound path",
// "text", "group", "layer"; "barcode" and "paint-map group" for those groups).
std::string JobObjectKind(const TavDB::Object& object);

// Names, in an error whose message has the placeholder "__OBJECT__", the
// object it arose in. Called on the way out of every object a walk writes:
// the innermost object keeps the name, unless it has no place in the job
// file (a copy the export made) and one around it has.
void NameObjectInError(TavSys::Error& error, const jobstr* job, const TavDB::Object* object);

}  // namespace TavKernel
