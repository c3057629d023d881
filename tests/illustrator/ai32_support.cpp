#include "ai32_support.h"

#include "illustrator/illustrator32.h"

namespace aitest {

Job::Job() : job_(std::make_unique<jobstr>()) {
  jobstr& j = *job_;
  j.ppi = 72;
  j.name = "test";
  j.boxes[kMediaBox] = TavDB::tv_box{0, 0, 100, 100};
  const char* names[4] = {"Cyan", "Magenta", "Yellow", "Black"};
  for (int i = 0; i < 4; ++i) {
    Separation& s = j.separations[i];
    s.exists = true;
    s.name = names[i];
    s.process = i;
    s.cmyk[i] = 100;
  }
  j.inkCount = 4;
}

int Job::spot(const std::string& name, std::uint8_t c, std::uint8_t m, std::uint8_t y,
              std::uint8_t k) {
  const int slot = job_->inkCount++;
  Separation& s = job_->separations[slot];
  s.exists = true;
  s.name = name;
  s.process = -1;
  s.cmyk = {c, m, y, k};
  return slot;
}

std::uint16_t Job::paint(std::initializer_list<std::pair<int, int>> inks) {
  Colour c;
  for (auto [slot, pct] : inks) c.pct[slot] = static_cast<std::uint8_t>(pct);
  Paint p;
  p.colour = job_->addColour(c);
  return job_->addPaint(p);
}

std::unique_ptr<TavDB::Object> Job::rect(int top, int left, int bottom, int right,
                                         std::uint16_t paint) {
  auto p = TavDB::Object::create(TavDB::ObjectKind::Path);
  for (auto [v, h] : {std::pair{top, left}, {top, right}, {bottom, right}, {bottom, left}}) {
    p->points().push_back({v, h, TavDB::PathPoint::kLine});
  }
  p->setPaint(paint);
  p->recalcBounds();
  return p;
}

std::unique_ptr<TavDB::Object> Job::zigzag(int n, std::uint16_t paint) {
  auto p = TavDB::Object::create(TavDB::ObjectKind::Path);
  for (int i = 0; i < n; ++i) p->points().push_back({(i % 2) * 10, i, TavDB::PathPoint::kLine});
  p->setPaint(paint);
  p->recalcBounds();
  return p;
}

TavDB::Object* Job::add(std::unique_ptr<TavDB::Object> o) {
  return job_->spatialTree->addontop(std::move(o));
}

std::string write32(const jobstr* job, bool traps, int* result) {
  TavDB::ScopedCurrentJob current(job);
  std::string out;
  const int r = TavIllu::WriteIllustrator32(job, job->name, traps, out);
  if (result != nullptr) *result = r;
  return out;
}

}  // namespace aitest
