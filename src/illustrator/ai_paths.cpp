#include "illustrator/ai_paths.h"

#include <algorithm>

#include "platform/kernel/tavdb.h"

namespace TavIllu {

namespace {

// End points of a path with the vertical axis turned up (x = h, y = -v), so
// that "clockwise" means what it means on the page, with their bounds.
struct Outline {
  struct Pt {
    double x, y;
  };
  std::vector<Pt> pts;
  double minX = 0, minY = 0, maxX = 0, maxY = 0;

  explicit Outline(const TavDB::Object* path) {
    for (const auto& p : path->points()) {
      if (p.type != TavDB::PathPoint::kControl) pts.push_back({double(p.h), -double(p.v)});
    }
    if (pts.empty()) return;
    minX = maxX = pts.front().x;
    minY = maxY = pts.front().y;
    for (const Pt& q : pts) {
      minX = std::min(minX, q.x);
      maxX = std::max(maxX, q.x);
      minY = std::min(minY, q.y);
      maxY = std::max(maxY, q.y);
    }
  }

  bool encloses(const Pt& t) const {
    if (pts.empty() || t.x < minX || t.x > maxX || t.y < minY || t.y > maxY) return false;
    bool in = false;
    for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
      const Pt& a = pts[i];
      const Pt& b = pts[j];
      if ((a.y > t.y) != (b.y > t.y) && t.x < (b.x - a.x) * (t.y - a.y) / (b.y - a.y) + a.x) in = !in;
    }
    return in;
  }

  bool clockwise() const {
    double area = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const Pt& p = pts[i];
      const Pt& q = pts[(i + 1) % pts.size()];
      area += p.x * q.y - q.x * p.y;
    }
    return area < 0;
  }
};

// A hole: its first point lies inside an odd number of the other sub-paths.
bool isHole(const std::vector<Outline>& outlines, std::size_t index) {
  if (outlines[index].pts.empty()) return false;
  const Outline::Pt t = outlines[index].pts.front();
  int inside = 0;
  for (std::size_t k = 0; k < outlines.size(); ++k) {
    if (k != index && outlines[k].encloses(t)) ++inside;
  }
  return inside % 2 == 1;
}

}  // namespace

std::vector<int> SubPathDirections(const std::vector<const TavDB::Object*>& subPaths) {
  std::vector<Outline> outlines;
  outlines.reserve(subPaths.size());
  for (const TavDB::Object* p : subPaths) outlines.emplace_back(p);
  std::vector<int> directions(subPaths.size(), 0);
  for (std::size_t i = 0; i < subPaths.size(); ++i) {
    directions[i] =
        subPaths[i]->isOpenPath() ? 1 : (isHole(outlines, i) != outlines[i].clockwise() ? 1 : 0);
  }
  return directions;
}

}  // namespace TavIllu
