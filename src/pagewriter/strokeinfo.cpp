#include "pagewriter/strokeinfo.h"

#include "platform/genoutfil.h"
#include "platform/kernel/tavdb.h"

strokeinfo_t::strokeinfo_t(const TavDB::Object* object) {
  const TavDB::Stroke* stroke = object != nullptr ? object->stroke() : nullptr;
  if (stroke == nullptr || !(stroke->width > 0)) return;
  generator_ = object;
  width_ = stroke->width;
  paint_ = stroke->paint;
  position_ = stroke->position;
}

bool strokeinfo_t::canOuputAsStroke() const {
  return generator_ != nullptr && width_ > 0 && isSymmetricStroke();
}

bool strokeinfo_t::strokeCanBeProcessed(int type) const {
  return canOuputAsStroke() && (type == kPdfStroke || type == kIllustratorStroke);
}

void strokeinfo_t::writeStrokeInfo(int type, genoutfil& sink) const {
  if (generator_ == nullptr || (type != kPdfStroke && type != kIllustratorStroke)) return;
  const TavDB::Stroke& s = *generator_->stroke();
  const double toPoints = 72.0 / TavDB::getppi();
  sink << width_ * toPoints << "w\n";
  sink << int(s.join) << "j\n";
  sink << int(s.cap) << "J\n";
  sink << (s.miterLimit >= 1 ? s.miterLimit : 1.0) << "M\n";
  sink << "[";
  for (double d : s.dash) sink << d * toPoints;
  sink << "]" << s.dashPhase * toPoints << "d\n";
}
