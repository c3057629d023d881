#pragma once
// Jobs for the Illustrator tests, built in code: CMYK in slots 0..3, spot
// inks after them, ppi 72 (a job unit is a point), a media box of 100 × 100.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"

namespace aitest {

class Job {
 public:
  Job();
  int spot(const std::string& name, std::uint8_t c, std::uint8_t m, std::uint8_t y, std::uint8_t k);
  // A flat paint of (slot, percentage) pairs; other inks untouched (255).
  std::uint16_t paint(std::initializer_list<std::pair<int, int>> inks);
  // A closed rectangle (top, left, bottom, right in job units).
  static std::unique_ptr<TavDB::Object> rect(int top, int left, int bottom, int right,
                                             std::uint16_t paint);
  // A path of n points on a zigzag line.
  static std::unique_ptr<TavDB::Object> zigzag(int n, std::uint16_t paint);
  TavDB::Object* add(std::unique_ptr<TavDB::Object> o);
  jobstr* get() { return job_.get(); }
  jobstr& job() { return *job_; }

 private:
  std::unique_ptr<jobstr> job_;
};

// The Illustrator 3.2 text of a job.
std::string write32(const jobstr* job, bool traps = false, int* result = nullptr);

}  // namespace aitest
