#include "platform/kernel/barcode.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/latelibrary.h"
#include "platform/tav_error.h"

BarcodeCodeFunction gGetBarcodeCodeFunction = nullptr;
GS1DataBarExpandedStackedRowWidthFunction gGetGS1DataBarExpandedStackedRowWidthFunction = nullptr;

BarcodeParameter BarcodeParameter::Integer(std::uint32_t id, std::int32_t value) {
  return BarcodeParameter{id, Kind::kInteger, value, {}};
}

BarcodeParameter BarcodeParameter::Byte(std::uint32_t id, std::uint8_t value) {
  return BarcodeParameter{id, Kind::kByte, value, {}};
}

BarcodeParameter BarcodeParameter::Text(std::uint32_t id, std::string text) {
  if (text.size() > kTextBytes) throw std::length_error("a barcode parameter text holds at most 255 bytes");
  return BarcodeParameter{id, Kind::kText, 0, std::move(text)};
}

const BarcodeParameter* barCreator::Find(std::uint32_t id) const {
  for (const BarcodeParameter& p : mParameters)
    if (p.id == id) return &p;
  return nullptr;
}

const std::string& barCreator::GetCode() const {
  static const std::string none;
  const BarcodeParameter* p = Find(kBarCode);
  return p != nullptr ? p->text : none;
}

const barCreator* GetBarcodeCreator(const TavDB::Object* object) {
  return object != nullptr && object->extra() != nullptr ? object->extra()->barcode.get() : nullptr;
}

bool HasBarcodeEditCreator(const TavDB::Object* object) {
  return object != nullptr && object->extra() != nullptr && object->extra()->barcodeEdited;
}

namespace {

// One symbology: its type codes, its name and how libzint draws it.
struct Symbology {
  int type;
  const char* name;
  int zint;         // 0: libzint cannot draw it
  int inputMode;    // libzint's input mode
  double moduleMM;  // nominal module (narrow bar) width at magnification 1
};

constexpr int kGS1 = GS1_MODE | GS1PARENS_MODE;

constexpr Symbology kSymbologies[] = {
    {0, "ITF-16", 0, DATA_MODE, 1.016},
    {1, "ITF-14", BARCODE_ITF14, DATA_MODE, 1.016},
    {2, "CODE-39", BARCODE_CODE39, DATA_MODE, 0.3005},
    {4, "UPC-E", BARCODE_UPCE, DATA_MODE, 0.33},
    {5, "UPC-A", BARCODE_UPCA, DATA_MODE, 0.33},
    {6, "EAN-13", BARCODE_EANX, DATA_MODE, 0.33},
    {43, "EAN-13", BARCODE_EANX, DATA_MODE, 0.33},
    {7, "EAN-8", BARCODE_EANX, DATA_MODE, 0.33},
    {9, "GS1_128", BARCODE_GS1_128, kGS1, 1.0},
    {10, "CODE-128", BARCODE_CODE128, UNICODE_MODE, 1.0},
    {11, "INT_2_OF_5", BARCODE_C25INTER, DATA_MODE, 1.016},
    {12, "LAETUS_PHARMA", BARCODE_PHARMA, DATA_MODE, 0.5},
    {27, "LAETUS_PHARMA", BARCODE_PHARMA, DATA_MODE, 0.35},
    {18, "SICK", 0, DATA_MODE, 0.5},
    {28, "DATAMATRIX", BARCODE_DATAMATRIX, UNICODE_MODE, 0.5},
    {38, "DATAMATRIX", BARCODE_DATAMATRIX, UNICODE_MODE, 0.5},
    {29, "GS1_DataBar-14", BARCODE_DBAR_OMN, DATA_MODE, 0.33},
    {31, "QR", BARCODE_QRCODE, UNICODE_MODE, 0.5},
    {37, "GS1_DataMatrix", BARCODE_DATAMATRIX, kGS1, 0.5},
    {39, "GS1_DataMatrix", BARCODE_DATAMATRIX, kGS1, 0.5},
    {44, "GS1_DataBar-Expanded", BARCODE_DBAR_EXP, kGS1, 0.33},
    {45, "GS1_DataBar-Expanded_Stacked", BARCODE_DBAR_EXPSTK, kGS1, 0.33},
};

const Symbology* FindSymbology(int type) {
  for (const Symbology& s : kSymbologies)
    if (s.type == type) return &s;
  return nullptr;
}

std::int32_t ValueOf(const barCreator& creator, std::uint32_t id, std::int32_t fallback = 0) {
  const BarcodeParameter* p = creator.Find(id);
  return p != nullptr && p->kind != BarcodeParameter::Kind::kText ? p->value : fallback;
}

// The magnification as the parameter dictionary reads it: thousandths, a
// value of 0 or below (no usable size) counting as the default of 1.0.
double Magnification(const barCreator& creator) {
  const std::int32_t v = ValueOf(creator, kBarMagnification, 1000);
  return v > 0 ? v / 1000.0 : 1.0;
}

// The module (narrow bar) width of the symbol in job units.
double ModuleJobUnits(const barCreator& creator, const Symbology& s, int ppi) {
  const std::int32_t module = ValueOf(creator, kBarModuleSize, 0);
  if (module > 0) return module;
  double mm = s.moduleMM * Magnification(creator);
  // A Code 39 of default size has its own, thinner narrow bar.
  if (s.type == 2 && ValueOf(creator, kBarMagnification, 1000) <= 0) mm = 0.191;
  return mm * ppi / 25.4;
}

// The encoder's functions the creator calls.
struct ZintFunctions {
  decltype(&::ZBarcode_Create) create;
  decltype(&::ZBarcode_Delete) destroy;
  decltype(&::ZBarcode_Encode) encode;
  decltype(&::ZBarcode_Buffer_Vector) bufferVector;
};

bool FindZintFunctions(void* library, ZintFunctions& f, std::string& why) {
  using TavSys::FindLibraryFunction;
  return FindLibraryFunction(library, "ZBarcode_Create", f.create, why) &&
         FindLibraryFunction(library, "ZBarcode_Delete", f.destroy, why) &&
         FindLibraryFunction(library, "ZBarcode_Encode", f.encode, why) &&
         FindLibraryFunction(library, "ZBarcode_Buffer_Vector", f.bufferVector, why);
}

// libzint is loaded when a job first checks or draws a barcode.
TavSys::LateLibrary<ZintFunctions>& Zint() {
  static TavSys::LateLibrary<ZintFunctions> library(TAV_ZINT_SONAME, FindZintFunctions);
  return library;
}

// Deletes through the encoder's own function, which it keeps.
struct ZintDeleter {
  void (*destroy)(zint_symbol*) = nullptr;
  void operator()(zint_symbol* s) const { destroy(s); }
};
using ZintSymbol = std::unique_ptr<zint_symbol, ZintDeleter>;

// Digits only, of one of the given lengths: libzint would read another length
// as another symbology (7 digits given as EAN-13 make an EAN-8).
std::optional<std::string> CheckDigits(const std::string& data, std::initializer_list<std::size_t> lengths,
                                       const char* name) {
  const bool digits = !data.empty() && std::all_of(data.begin(), data.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  const bool length = std::find(lengths.begin(), lengths.end(), data.size()) != lengths.end();
  if (digits && length) return std::nullopt;
  std::string list;
  for (std::size_t n : lengths) list += (list.empty() ? "" : " or ") + std::to_string(n);
  return std::string(name) + " takes " + list + " digits";
}

struct Encoded {
  ZintSymbol symbol;
  std::string error;  // libzint's reason; empty on success
};

// Encodes the record's data with libzint, options set from the parameters.
Encoded Encode(const barCreator& creator, const Symbology& s, double module, bool forDrawing) {
  Encoded out;
  const ZintFunctions* zint = Zint().Get(out.error);
  if (zint == nullptr) {
    out.error = "the barcode encoder cannot be loaded: " + out.error;
    return out;
  }
  const std::string& data = creator.GetCode();
  auto make = [&](int sizeOption) {
    ZintSymbol z(zint->create(), ZintDeleter{zint->destroy});
    if (!z) throw std::bad_alloc();
    z->symbology = s.zint;
    z->input_mode = s.inputMode;
    z->show_hrt = ValueOf(creator, kBarTextHidden) != 0 ? 0 : 1;
    z->scale = 0.5f;  // one vector unit per module
    if (ValueOf(creator, kBarQuietZone) != 0 || ValueOf(creator, kBarWhiteBox) != 0)
      z->output_options |= BARCODE_QUIET_ZONES;
    const std::int32_t height = ValueOf(creator, kBarHeight);
    if (height > 0 && module > 0) {
      z->height = float(std::max(1.0, height / module));
    } else {
      z->output_options |= COMPLIANT_HEIGHT;
    }
    const bool checkDigit = ValueOf(creator, kBarAddCheckDigit) != 0;
    switch (s.type) {
      case 2:
      case 11: z->option_2 = checkDigit ? 1 : 0; break;
      case 29: {
        const std::int32_t form = ValueOf(creator, kBarCornerMarks);
        if (form == kDataBarStacked) z->symbology = BARCODE_DBAR_STK;
        if (form == kDataBarStackedOmni) z->symbology = BARCODE_DBAR_OMNSTK;
        if (form == kDataBarTruncated) {
          z->output_options &= ~COMPLIANT_HEIGHT;
          z->height = 13;
        }
        break;
      }
      case 31: {
        const std::int32_t level = ValueOf(creator, kBarErrorCorrection, -1);
        if (level >= 0 && level <= 3) z->option_1 = level + 1;
        z->option_2 = sizeOption;
        break;
      }
      case 28: case 37: case 38: case 39:
        z->option_2 = sizeOption;
        if (ValueOf(creator, kBarDataMatrixType) == kDataMatrixSquare) z->option_3 = DM_SQUARE;
        break;
      default: break;
    }
    const int rc = zint->encode(z.get(), reinterpret_cast<const unsigned char*>(data.data()),
                                   int(data.size()));
    return std::make_pair(rc, std::move(z));
  };
  // The sizes to try: the smallest symbol of at least the minimum size that
  // holds the data (libzint takes a size as exact).
  std::vector<int> sizes{0};
  const std::int32_t minimum = ValueOf(creator, kBarMinSymbolSize) - 1;
  const bool matrix = s.type == 28 || s.type == 37 || s.type == 38 || s.type == 39;
  if (matrix && ValueOf(creator, kBarDataMatrixType) == kDataMatrixRectangle) {
    sizes = {25, 26, 27, 28, 29, 30};  // the rectangular DataMatrix sizes
  } else if (minimum > 0 && (matrix || s.type == 31)) {
    sizes.clear();
    const int last = s.type == 31 ? 40 : 24;
    for (int size = std::min<int>(minimum, last); size <= last; ++size) sizes.push_back(size);
  }
  for (int size : sizes) {
    auto [rc, z] = make(size);
    if (rc < ZINT_ERROR) {
      out.symbol = std::move(z);
      out.error.clear();
      break;
    }
    if (out.error.empty()) out.error = z->errtxt;
  }
  if (out.symbol && forDrawing) {
    const int rc = zint->bufferVector(out.symbol.get(), 0);
    if (rc >= ZINT_ERROR || out.symbol->vector == nullptr) {
      out.error = out.symbol->errtxt;
      out.symbol.reset();
    }
  }
  return out;
}

std::optional<std::string> CheckLengths(const Symbology& s, const std::string& data) {
  switch (s.type) {
    case 6: case 43: return CheckDigits(data, {12, 13}, "EAN-13");
    case 7: return CheckDigits(data, {7, 8}, "EAN-8");
    case 5: return CheckDigits(data, {11, 12}, "UPC-A");
    case 4: return CheckDigits(data, {6, 7, 8}, "UPC-E");
    case 1: return CheckDigits(data, {13, 14}, "ITF-14");
    default: return std::nullopt;
  }
}

// Turns everything of a drawn barcode about the origin and records the turn
// as the group's matrix (x runs with h, y with v; x' = a x + c y, y' = b x + d y).
void Turn(TavDB::Object* group, const TavDB::tv_point& origin, double degrees) {
  const double r = degrees * 3.14159265358979323846 / 180.0;
  const double a = std::cos(r), b = std::sin(r), c = -b, d = a;
  auto turn = [&](std::int32_t& v, std::int32_t& h) {
    const double x = double(h) - origin.h, y = double(v) - origin.v;
    h = std::int32_t(std::lround(origin.h + a * x + c * y));
    v = std::int32_t(std::lround(origin.v + b * x + d * y));
  };
  std::vector<TavDB::Object*> todo{group};
  std::vector<TavDB::Object*> order;
  while (!todo.empty()) {
    TavDB::Object* o = todo.back();
    todo.pop_back();
    order.push_back(o);
    for (const auto& m : o->members()) todo.push_back(m.get());
  }
  // Innermost first, so that each list's bounds see its turned members.
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    TavDB::Object* o = *it;
    if (degrees != 0) {
      for (TavDB::PathPoint& p : o->points()) turn(p.v, p.h);
      if (o->text() != nullptr) {
        TavDB::TextData& t = *o->textMut();
        turn(t.start.v, t.start.h);
        t.matrix[0] = a;
        t.matrix[1] = b;
        t.matrix[2] = c;
        t.matrix[3] = d;
        // The bounds of a turned text: its unturned box, turned.
        TavDB::tv_box box = o->bounds();
        std::int32_t v[4] = {box.top, box.top, box.bottom, box.bottom};
        std::int32_t h[4] = {box.left, box.right, box.left, box.right};
        TavDB::tv_box out{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        for (int k = 0; k < 4; ++k) {
          turn(v[k], h[k]);
          out = {std::min(out.top, v[k]), std::min(out.left, h[k]), std::max(out.bottom, v[k]),
                 std::max(out.right, h[k])};
        }
        o->setBounds(out);
      }
    }
    if (o->kind() != TavDB::ObjectKind::Text) o->recalcBounds();
  }
  TavDB::ObjectExtra& x = group->extraMut();
  x.hasMatrix = true;
  x.matrix[0] = a;
  x.matrix[1] = b;
  x.matrix[2] = c;
  x.matrix[3] = d;
  x.origin = origin;
}

}  // namespace

std::string BarcodeSymbologyName(int type, const barCreator* creator) {
  if (type == 29 && creator != nullptr && ValueOf(*creator, kBarCornerMarks) == kDataBarStackedOmni)
    return "GS1_DataBar-14_Stacked_Omni";
  const Symbology* s = FindSymbology(type);
  return s != nullptr ? s->name : "";
}

int BarcodeTypeFromName(std::string_view name) {
  if (name == "GS1_DataBar-14_Stacked_Omni") return 29;
  for (const Symbology& s : kSymbologies)
    if (name == s.name) return s.type;
  return -1;
}

bool BarcodeTypeHasName(int type, std::string_view name) {
  const Symbology* s = FindSymbology(type);
  if (s == nullptr) return false;
  return name == s->name || (type == 29 && name == "GS1_DataBar-14_Stacked_Omni");
}

bool IsGS1DataBarExpanded(int type) { return type == 44 || type == 45; }

std::string GetDatamatrixSymbolTypeString(std::int32_t value) {
  switch (value) {
    case kDataMatrixSquare: return "Square";
    case kDataMatrixRectangle: return "Rectangle";
    default: return "Auto";
  }
}

// The GS1 elements of fixed length that end in a mod-10 check digit: SSCC
// (00), GTIN (01, 02) and the global location numbers (410 to 417).
static std::optional<std::string> CheckGS1CheckDigits(const std::string& data) {
  for (std::size_t at = data.find('('); at != std::string::npos;) {
    const std::size_t close = data.find(')', at);
    if (close == std::string::npos) return std::nullopt;  // libzint says what is wrong
    const std::string ai = data.substr(at + 1, close - at - 1);
    const std::size_t next = data.find('(', close);
    const std::string value = data.substr(close + 1, next == std::string::npos ? std::string::npos : next - close - 1);
    at = next;
    std::size_t length = 0;
    if (ai == "00") length = 18;
    if (ai == "01" || ai == "02") length = 14;
    if (ai.size() == 3 && ai >= "410" && ai <= "417") length = 13;
    if (length == 0 || value.size() != length ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;  // not checked here, or a length libzint refuses
    }
    // From the right, the digits before the check digit weigh 3, 1, 3, ...
    int sum = 0;
    for (std::size_t i = 0; i + 1 < length; ++i) sum += (value[length - 2 - i] - '0') * (i % 2 == 0 ? 3 : 1);
    const char expected = char('0' + (10 - sum % 10) % 10);
    if (value.back() != expected) {
      return "the check digit of (" + ai + ")" + value + " is " + std::string(1, value.back()) + ", where " +
             std::string(1, expected) + " belongs";
    }
  }
  return std::nullopt;
}

bool BarcodeCanBeDrawn(int type) {
  const Symbology* s = FindSymbology(type);
  return s != nullptr && s->zint != 0;
}

std::string BarcodeEncoderLibrary() { return Zint().Name(); }

void SetBarcodeEncoderLibrary(std::string soname) { Zint().SetName(std::move(soname)); }

std::optional<std::string> CheckBarcodeData(const barCreator& creator, int ppi) {
  const Symbology* s = FindSymbology(creator.GetType());
  if (s == nullptr || s->zint == 0) return std::nullopt;  // nothing to check it with
  if (auto bad = CheckLengths(*s, creator.GetCode())) return bad;
  if ((s->inputMode & GS1_MODE) != 0) {
    if (auto bad = CheckGS1CheckDigits(creator.GetCode())) return bad;
  }
  const double module = ModuleJobUnits(creator, *s, ppi);
  if (module < 1) return std::string("the module is narrower than one job unit");
  if (ValueOf(creator, kBarWidthReduction) >= module)
    return std::string("the bar width reduction is not narrower than a module");
  Encoded e = Encode(creator, *s, module, false);
  if (!e.symbol) return e.error;
  return std::nullopt;
}

void DrawBarcode(jobstr* job, TavDB::Object* group, const barCreator& creator,
                 const BarcodeDrawing& drawing) {
  const Symbology* s = FindSymbology(creator.GetType());
  if (s == nullptr || s->zint == 0)
    throw TavSys::Error(TavSys::kResultAbandoned, "", "the symbology cannot be drawn");
  const int ppi = TavDB::getppi(job);
  const double module = ModuleJobUnits(creator, *s, ppi);
  Encoded e = Encode(creator, *s, module, true);
  if (!e.symbol) throw TavSys::Error(TavSys::kResultAbandoned, "", e.error);
  const zint_vector& v = *e.symbol->vector;
  const double unit = module;  // job units per vector unit (one module)
  // Turned any way about `at`, the symbol must stay inside the job's coordinates.
  const double reach = std::hypot(double(v.width), double(v.height)) * unit;
  if (!(reach + std::max(std::abs(double(drawing.at.v)), std::abs(double(drawing.at.h))) < 1e9))
    throw TavSys::Error(TavSys::kResultAbandoned, "", "the symbol is too large for the job's coordinates");
  auto at = [&](double x, double y) {
    return TavDB::tv_point{std::int32_t(std::lround(drawing.at.v + y * unit)),
                           std::int32_t(std::lround(drawing.at.h + x * unit))};
  };
  auto rectangle = [&](double x, double y, double w, double h, std::uint16_t paint) {
    auto path = TavDB::Object::create(TavDB::ObjectKind::Path);
    const TavDB::tv_point a = at(x, y), b = at(x + w, y + h);
    path->points() = {{a.v, a.h, TavDB::PathPoint::kLine}, {a.v, b.h, TavDB::PathPoint::kLine},
                      {b.v, b.h, TavDB::PathPoint::kLine}, {b.v, a.h, TavDB::PathPoint::kLine}};
    path->setPaint(paint);
    path->recalcBounds();
    return path;
  };

  // The white box: the whole symbol, quiet zones and text included.
  auto box = TavDB::gronew();
  box->addontop(rectangle(0, 0, v.width, v.height, drawing.whitePaint != 0 ? drawing.whitePaint
                                                                           : kPaintNoFill));
  box->recalcBounds();
  group->addontop(std::move(box));

  // The bars (and modules) as one shape, each narrowed by the reduction.
  auto bars = TavDB::Object::create(TavDB::ObjectKind::Compound);
  bars->setPaint(drawing.paint);
  const double reduction = ValueOf(creator, kBarWidthReduction) / unit;
  for (const zint_vector_rect* r = v.rectangles; r != nullptr; r = r->next) {
    if (r->colour != -1) continue;  // drawn in a background colour: nothing to print
    bars->addontop(rectangle(r->x + reduction / 2, r->y, r->width - reduction, r->height, drawing.paint));
  }
  bars->recalcBounds();
  if (bars->memberCount() > 0) group->addontop(std::move(bars));

  // The human-readable text, one text per string of the symbol.
  for (const zint_vector_string* t = v.strings; t != nullptr; t = t->next) {
    auto text = TavDB::Object::create(TavDB::ObjectKind::Text);
    auto data = std::make_unique<TavDB::TextData>();
    data->start = at(t->x, t->y);
    data->align = t->halign == 1   ? TavDB::TextData::kLeft
                  : t->halign == 2 ? TavDB::TextData::kRight
                                   : TavDB::TextData::kCentre;
    TavDB::TextRun run;
    run.text.assign(reinterpret_cast<const char*>(t->text), std::size_t(std::max(0, t->length)));
    run.font = drawing.font;
    run.size = t->fsize * unit * 72.0 / ppi;
    run.paint = drawing.paint;
    data->runs.push_back(std::move(run));
    const std::int32_t em = std::int32_t(std::lround(t->fsize * unit));
    const std::int32_t half = std::int32_t(std::lround(t->width * unit / 2));
    text->setBounds({data->start.v - em, data->start.h - half, data->start.v + em / 4,
                     data->start.h + half});
    text->setText(std::move(data));
    group->addontop(std::move(text));
  }
  Turn(group, drawing.at, drawing.angle);
}
