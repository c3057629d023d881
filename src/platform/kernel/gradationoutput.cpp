#include "platform/kernel/gradationoutput.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include "platform/kernel/job.h"
#include "platform/tav_error.h"

namespace {

// One colour of the gradient: an ink share 0..1 per channel.
using Inks = std::vector<double>;

struct Stop {
  double position;
  double midpoint;  // offset from the position to the 50 % mix with the next stop
  Inks inks;
};

double share(std::uint8_t pct) { return pct == kPercentUntouched ? 0.0 : std::min(pct, std::uint8_t(100)) / 100.0; }

// The mix of a segment at fraction f, bent so that the midpoint ratio x
// gives 50 %; x of 0 or 1 makes the segment a hard edge.
double bend(double f, double x) {
  if (!(x > 0)) return f > 0 ? 1.0 : 0.0;
  if (!(x < 1)) return f < 1 ? 0.0 : 1.0;
  if (x >= 0.5) return std::pow(f, std::log(0.5) / std::log(x));
  return 1.0 - std::pow(1.0 - f, std::log(0.5) / std::log(1.0 - x));
}

}  // namespace

GradationOutput::GradationOutput(const jobstr* job, int separationMode)
    : mJob(job), mSeparationMode(separationMode) {}

void GradationOutput::SetSeparationMapping(const std::int32_t* mapping, int channels) {
  mMapping.clear();
  if (mapping == nullptr) return;
  mMapping.assign(mapping, mapping + std::max(channels, 0));
}

bool GradationOutput::MakeOutput(const Paint& paint, double top, double left, std::int32_t height,
                                 std::int32_t width, double step) {
  if (mSink == nullptr || height < 1 || width < 1 || !(step > 0)) return true;
  const bool cmyk = mSeparationMode == -1;
  const std::size_t channels = cmyk ? 4 : mMapping.size();
  if (channels == 0) return true;

  auto inksOf = [&](std::uint16_t colour) {
    Inks inks(channels, 0.0);
    const std::uint8_t* pct = colsep(mJob, colour);
    if (pct == nullptr) return inks;
    if (cmyk) {
      double c, m, y, k;
      sepcmyk(mJob, pct, c, m, y, k);
      inks = {c / 100, m / 100, y / 100, k / 100};
    } else {
      for (std::size_t i = 0; i < channels; ++i) {
        const int sep = mMapping[i];
        inks[i] = sep >= 0 && sep < kMaxSeparations ? share(pct[sep]) : 0.0;
      }
    }
    return inks;
  };

  // The stops and the position of a point (job units) along the gradient.
  std::vector<Stop> stops;
  std::function<double(double, double)> position;
  const double sv = paint.start.v, sh = paint.start.h;
  if (paint.type == kPaintLinear) {
    const double dv = double(paint.end.v) - sv, dh = double(paint.end.h) - sh;
    const double len2 = dv * dv + dh * dh;
    stops = {{0, 0.5, inksOf(paint.colour)}, {1, 0, inksOf(paint.colour2)}};
    position = [=](double v, double h) { return len2 > 0 ? ((v - sv) * dv + (h - sh) * dh) / len2 : 0.0; };
  } else if (paint.type == kPaintRadial) {
    const double cv = (sv + paint.end.v) / 2, ch = (sh + paint.end.h) / 2;
    const double r = std::hypot(double(paint.end.v) - sv, double(paint.end.h) - sh) / 2;
    stops = {{0, r / 2, inksOf(paint.colour2)}, {r, 0, inksOf(paint.colour)}};
    position = [=](double v, double h) { return std::hypot(v - cv, h - ch); };
  } else if (paint.type == kPaintGradation && !paint.steps.empty()) {
    for (const GradationStep& s : paint.steps) stops.push_back({double(s.position), double(s.midpoint), inksOf(s.colour)});
    // Job offsets back into gradation space through the inverse matrix.
    double a = paint.matrix[0], b = paint.matrix[1], c = paint.matrix[2], d = paint.matrix[3];
    double det = a * d - b * c;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) {
      a = d = 1;
      b = c = 0;
      det = 1;
    }
    // Offsets (gv, gh) lie at (a gv + b gh, c gv + d gh): the inverse.
    auto toGradation = [=](double v, double h, double& gh, double& gv) {
      const double dv = v - sv, dh = h - sh;
      gv = (d * dv - b * dh) / det;
      gh = (a * dh - c * dv) / det;
    };
    switch (paint.gradationForm) {
      case Paint::kGradHorizontal:
        position = [=](double v, double h) { double gh, gv; toGradation(v, h, gh, gv); return gh; };
        break;
      case Paint::kGradVertical:
        position = [=](double v, double h) { double gh, gv; toGradation(v, h, gh, gv); return gv; };
        break;
      case Paint::kGradCircular: {
        const double r = std::max(1.0, double(paint.gradationBox.right) - paint.gradationBox.left) / 2;
        double fh = paint.focus.h, fv = paint.focus.v;
        const double fl = std::hypot(fh, fv);
        if (fl > 0.99 * r) {  // a focus on or outside the rim is pulled inside
          fh *= 0.99 * r / fl;
          fv *= 0.99 * r / fl;
        }
        const double qa = r * r - (fh * fh + fv * fv);
        // The circle through the point, of the family growing from the focus
        // (radius 0) to the rim (radius r about the centre): s × r.
        position = [=](double v, double h) {
          double gh, gv;
          toGradation(v, h, gh, gv);
          const double wh = gh - fh, wv = gv - fv;
          const double wf = wh * fh + wv * fv;
          const double s = (wf + std::sqrt(std::max(0.0, wf * wf + qa * (wh * wh + wv * wv)))) / qa;
          return s * r;
        };
        break;
      }
      case Paint::kGradOther: {
        // Rectangles about the start, shaped like the box: the position is
        // the distance across along h, so that the box's edge lies at half
        // its width (as a circular gradation's rim does).
        const double w = std::max(1.0, double(paint.gradationBox.right) - paint.gradationBox.left);
        const double boxHeight = double(paint.gradationBox.bottom) - paint.gradationBox.top;
        const double aspect = boxHeight > 0 ? w / boxHeight : 1.0;
        position = [=](double v, double h) {
          double gh, gv;
          toGradation(v, h, gh, gv);
          return std::max(std::fabs(gh), std::fabs(gv) * aspect);
        };
        break;
      }
      default:
        throw TavSys::Error(TavSys::kResultAbandoned, "PDF/OBJECT NOT SUPPORTED YET",
                            "a gradation form that cannot be drawn")
            .with("__OBJECTKIND__", "a gradation of an unknown form");
    }
  } else {
    return true;
  }

  auto colourAt = [&](double pos, Inks& out) {
    if (pos <= stops.front().position) {
      out = stops.front().inks;
      return;
    }
    for (std::size_t k = 0; k + 1 < stops.size(); ++k) {
      const Stop& s0 = stops[k];
      const Stop& s1 = stops[k + 1];
      if (pos >= s1.position) continue;
      const double gap = s1.position - s0.position;
      const double g = gap > 0 ? bend((pos - s0.position) / gap, s0.midpoint / gap) : 1.0;
      for (std::size_t i = 0; i < channels; ++i) out[i] = s0.inks[i] + (s1.inks[i] - s0.inks[i]) * g;
      return;
    }
    out = stops.back().inks;
  };

  const std::size_t w = std::size_t(width);
  std::vector<std::uint8_t> row(w * channels);
  Inks inks(channels);
  for (std::int32_t y = 0; y < height; ++y) {
    const double v = top + (y + 0.5) * step;
    for (std::size_t x = 0; x < w; ++x) {
      colourAt(position(v, left + (double(x) + 0.5) * step), inks);
      for (std::size_t i = 0; i < channels; ++i) {
        row[i * w + x] = std::uint8_t(std::clamp(std::lround(inks[i] * 255.0), 0L, 255L));
      }
    }
    for (std::size_t i = 0; i < channels; ++i) {
      if (!mSink->Write(row.data() + i * w, w)) return false;
    }
  }
  return true;
}

bool degisalltra(const jobstr* job, const Paint& paint) {
  std::vector<std::uint16_t> colours;
  if (paint.type == kPaintGradation) {
    for (const GradationStep& s : paint.steps) colours.push_back(s.colour);
  } else {
    colours = {paint.colour, paint.colour2};
  }
  for (std::uint16_t colour : colours) {
    const std::uint8_t* pct = colsep(job, colour);
    if (pct == nullptr) continue;
    for (int sep = 0; sep < kMaxSeparations; ++sep) {
      if (pct[sep] != kPercentUntouched) return false;
    }
  }
  return true;
}
