#include "walker_support.h"

#include <sstream>

#include "platform/kernel/colorspace.h"

namespace walkertest {

void RecordingProof::WriteColorSpaceColor(ColorSpace* space, const std::uint16_t*, int, int) {
  std::string line = "ColorSpace";
  for (int i = 0; space != nullptr && i < space->GetSepCount(); ++i) {
    line += " " + std::to_string(space->GetSepSorted(i));
  }
  log(line);
}

void RecordingProof::WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y,
                                                std::uint8_t k, int slot, std::uint8_t tint) {
  std::string line = "Color";
  for (int v : {int(c), int(m), int(y), int(k), slot, int(tint)}) line += " " + std::to_string(v);
  log(line);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

namespace {
bool isEvent(const std::string& l) { return l.size() >= 2 && l.front() == '<' && l.back() == '>'; }
}  // namespace

std::vector<std::string> events(const std::string& text) {
  std::vector<std::string> out;
  for (const auto& l : lines(text)) {
    if (isEvent(l)) out.push_back(l.substr(1, l.size() - 2));
  }
  return out;
}

std::vector<std::string> operatorLines(const std::string& text) {
  std::vector<std::string> out = lines(text);
  std::erase_if(out, isEvent);
  return out;
}

JobBuilder::JobBuilder() : job_(std::make_unique<jobstr>()) {
  jobstr& j = *job_;
  j.ppi = 72;
  j.origin = {0, 0};
  const char* names[4] = {"Cyan", "Magenta", "Yellow", "Black"};
  for (int i = 0; i < 4; ++i) {
    Separation& s = j.separations[i];
    s.exists = true;
    s.name = names[i];
    s.process = i;
    s.cmyk = {0, 0, 0, 0};
    s.cmyk[i] = 100;
    s.used = true;
  }
  j.inkCount = 4;
  // Paint 2 is the "no fill" paint the walker gives open paths.
  j.colours.resize(7);
  j.paints.resize(7);
  j.colours[2].exists = true;
  j.paints[2].exists = true;
  j.paints[2].colour = 2;
}

int JobBuilder::addSpot(const std::string& name, std::uint8_t c, std::uint8_t m, std::uint8_t y,
                        std::uint8_t k) {
  jobstr& j = *job_;
  const int slot = j.inkCount++;
  Separation& s = j.separations[slot];
  s.exists = true;
  s.name = name;
  s.process = -1;
  s.cmyk = {c, m, y, k};
  s.used = true;
  return slot;
}

std::uint16_t JobBuilder::colour(std::initializer_list<std::pair<int, int>> inks) {
  Colour c;
  for (auto [slot, pct] : inks) c.pct[slot] = static_cast<std::uint8_t>(pct);
  return job_->addColour(c);
}

std::uint16_t JobBuilder::flat(std::uint16_t colour) {
  Paint p;
  p.type = kPaintFlat;
  p.colour = colour;
  return job_->addPaint(p);
}

std::unique_ptr<TavDB::Object> JobBuilder::path(std::initializer_list<std::pair<int, int>> points,
                                                std::uint16_t paint, bool open) {
  auto p = TavDB::Object::create(TavDB::ObjectKind::Path);
  for (auto [v, h] : points) p->points().push_back({v, h, TavDB::PathPoint::kLine});
  if (open) p->setProperties(TavDB::kObjOpenPath, true);
  p->setPaint(paint, false);
  p->recalcBounds();
  return p;
}

std::unique_ptr<TavDB::Object> JobBuilder::rect(int top, int left, int bottom, int right,
                                                std::uint16_t paint) {
  return path({{top, left}, {top, right}, {bottom, right}, {bottom, left}}, paint);
}

std::unique_ptr<TavDB::Object> JobBuilder::list(TavDB::ObjectKind kind, const std::string& name) {
  auto o = TavDB::Object::create(kind);
  if (!name.empty()) o->extraMut().name = name;
  return o;
}

std::unique_ptr<TavDB::Object> JobBuilder::layer(const std::string& name) {
  return list(TavDB::ObjectKind::Layer, name);
}

TavDB::Object* JobBuilder::add(std::unique_ptr<TavDB::Object> object) {
  return job_->spatialTree->addontop(std::move(object));
}

}  // namespace walkertest
