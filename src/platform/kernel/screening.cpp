#include "platform/kernel/screening.h"

#include <boost/algorithm/string/predicate.hpp>

#include "platform/kernel/job.h"

namespace {

struct DotShape {
  int code;
  const char* name;
  const char* key;        // private named dot, or null
  const char* procedure;  // PostScript calculator spot function, or null
};

// Codes 0 to 4 have PDF's own spot functions; 99 is the user's own text.
constexpr DotShape kDotShapes[] = {
    {0, "Simple", nullptr, nullptr},
    {1, "Simple round", nullptr, nullptr},
    {2, "Elliptical", nullptr, nullptr},
    {3, "Round", nullptr, nullptr},
    {4, "Line", nullptr, nullptr},
    {5, "Square", nullptr, "{ abs exch abs 2 copy lt { exch } if pop neg }"},
    {6, "Diamond", nullptr, "{ abs exch abs add 1 exch sub }"},
    {7, "Cross", nullptr, "{ abs exch abs 2 copy gt { exch } if pop neg }"},
    {8, "Vertical line", nullptr, "{ pop abs neg }"},
    {9, "Euclidean", nullptr,
     "{ abs exch abs 2 copy add 1 gt { 1 sub dup mul exch 1 sub dup mul add 1 sub } "
     "{ dup mul exch dup mul add 1 exch sub } ifelse }"},
    {20, "Chain", "TavChain", nullptr},
    {21, "Oval", "TavOval", nullptr},
    {22, "Grain", "TavGrain", nullptr},
    {99, "Custom", nullptr, nullptr},
};

const DotShape* findShape(int code) {
  for (const DotShape& s : kDotShapes) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

}  // namespace

bool getScreenDictionaryValuesForPDF(const jobstr* job, int separation, int screen,
                                     ScreeningDictionary& values, bool /*forPdf*/) {
  const Screen* s = screenpoi(job, screen);
  if (s == nullptr || s->kind != Screen::kExtended || !s->extended) return false;
  if (separation < 0 || separation >= kMaxSeparations || !job->separations[std::size_t(separation)].exists) {
    return false;
  }
  values = *s->extended;
  const double angle = s->angle[std::size_t(separation)];
  values.Angle = angle == -360.0 ? -1.0 : angle;
  return true;
}

void getVornDotShapeKey(int code, std::string& key) {
  const DotShape* s = findShape(code);
  key = s != nullptr && s->key != nullptr ? s->key : "";
}

std::string getPSProcDotShape(int code) {
  const DotShape* s = findShape(code);
  return s != nullptr && s->procedure != nullptr ? s->procedure : "";
}

std::string ScreenGetDotName(int code) {
  const DotShape* s = findShape(code);
  return s != nullptr ? s->name : "dot shape " + std::to_string(code);
}

std::string MapDotShapeToRastovarMnemonic(const std::string& angleFamily, const std::string& dotShape) {
  const bool fm = boost::algorithm::istarts_with(angleFamily, "fm");
  struct Mnemonic {
    const char* shape;
    const char* am;
    const char* fm;
  };
  static constexpr Mnemonic kMnemonics[] = {{"Round", "RND", "FMR"},      {"Elliptical", "ELL", nullptr},
                                            {"Ellipse", "ELL", nullptr},  {"Square", "SQR", "FMS"},
                                            {"Line", "LIN", nullptr},     {"Diamond", "DIA", nullptr},
                                            {"Concentric", "CON", nullptr}};
  for (const Mnemonic& m : kMnemonics) {
    if (!boost::algorithm::istarts_with(dotShape, m.shape)) continue;
    const char* mnemonic = fm ? m.fm : m.am;
    return mnemonic != nullptr ? mnemonic : "";
  }
  return "";
}
