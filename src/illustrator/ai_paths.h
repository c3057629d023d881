#pragma once
// The direction each sub-path of a compound path is written in. Illustrator
// fills a compound path with the non-zero rule, while the job's compound
// paths mean even-odd: a sub-path lying inside an odd number of the others
// is a hole. Writing outlines counter-clockwise and holes clockwise makes
// both rules agree, whichever way the job's sub-paths run.
#include <vector>

namespace TavDB {
class Object;
}

namespace TavIllu {

// Per sub-path: 1 when it is to be scanned backwards (point scan mode 1),
// else 0. An open sub-path is always 1.
std::vector<int> SubPathDirections(const std::vector<const TavDB::Object*>& subPaths);

}  // namespace TavIllu
