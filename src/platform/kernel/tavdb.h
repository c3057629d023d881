#pragma once
// The document database: the job's object tree (the "spatial tree"), its
// flags word, point scans, list scans and visitors.
//
// Tree shape: the spatial tree's root is a plain list (flags kObjList). Its
// members are layers, groups, compound paths, paths and texts in drawing order
// (first member drawn first, the last one lies on top). Layers, groups and
// compound paths hold members of their own; a compound path holds paths.
//
// Ownership: every object is owned by its parent (members are held as
// std::unique_ptr). A tree's root is owned by the job (jobSetSpahan) or by
// whoever holds the std::unique_ptr returned by the factories below. Raw
// Object pointers handed out are non-owning and stay valid until the object
// is removed (objrem) or its tree is deleted.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/kernel/geometry.h"

struct jobstr;
class barCreator;

namespace TavDB {

// The kernel's 32-bit flags word of an object. Kind bits are set by the
// model; the state bits (hidden, locked, ...) come from the job file and may
// be changed with Tagged::setProperties.
inline constexpr std::uint32_t kObjCompound = 0x80000000u;    // compound path (also kObjList)
inline constexpr std::uint32_t kObjLayer = 0x40000000u;       // layer (also kObjList)
inline constexpr std::uint32_t kObjGroup = 0x20000000u;       // group (also kObjList)
inline constexpr std::uint32_t kObjLocked = 0x08000000u;      // locked
inline constexpr std::uint32_t kObjTextCarrier = 0x04000000u; // carries texts (its text members)
inline constexpr std::uint32_t kObjTextCarrier2 = 0x00400000u;// carries texts (linked text)
inline constexpr std::uint32_t kObjTrap = 0x01000000u;        // trap object
inline constexpr std::uint32_t kObjHidden = 0x00800000u;      // hidden
inline constexpr std::uint32_t kObjOpenPath = 0x00100000u;    // open path: neither closed nor filled
inline constexpr std::uint32_t kObjNonPrinting = 0x00040000u; // non-printing
inline constexpr std::uint32_t kObjExcluded = 0x00020000u;    // excluded: never counted nor written
inline constexpr std::uint32_t kObjText = 0x00000020u;        // text
inline constexpr std::uint32_t kObjPath = 0x00000008u;        // path
inline constexpr std::uint32_t kObjList = 0x00000002u;        // list of objects (has members)
// Bits that name the kind of an object; setProperties never changes them.
inline constexpr std::uint32_t kObjKindBits =
    kObjCompound | kObjLayer | kObjGroup | kObjText | kObjPath | kObjList;

enum class ObjectKind : std::uint8_t { List, Layer, Group, Compound, Path, Text };

// One entry of a path's point list. A straight segment ends in a kLine point;
// a Bezier segment is stored as two kControl points followed by its kCurve end
// point. The first point of a path is a kLine point (the move-to).
struct PathPoint {
  enum Type : std::uint8_t { kLine = 0, kControl = 1, kCurve = 2 };
  std::int32_t v = 0;
  std::int32_t h = 0;
  Type type = kLine;
};
static_assert(sizeof(PathPoint) == 12, "path points are stored compactly");

// A stroke (outline) drawn along an object's outline.
struct Stroke {
  enum Join : std::uint8_t { kMiterJoin = 0, kRoundJoin = 1, kBevelJoin = 2 };
  enum Cap : std::uint8_t { kButtCap = 0, kRoundCap = 1, kSquareCap = 2 };
  enum Position : std::uint8_t { kCentre = 0, kInside = 1, kOutside = 2 };
  double width = 0;             // job units; 0 = no stroke
  std::uint16_t paint = 0;      // paint index of the stroke
  Join join = kMiterJoin;
  Cap cap = kButtCap;
  Position position = kCentre;
  double miterLimit = 4;
  std::vector<double> dash;     // job units, on/off lengths; empty = solid
  double dashPhase = 0;
};

// One run of text: plain characters with their attributes. Layout is done by
// the text services from these data.
struct TextRun {
  std::string text;             // UTF-8
  std::string font;             // PostScript font name ("NimbusSans-Regular")
  double size = 12;             // points
  std::uint16_t paint = 0;      // paint index of the characters
  double tracking = 0;          // 1/1000 em added after each character
  double horizontalScale = 100; // percent
  double rise = 0;              // points, upwards
  double wordSpacing = 0;       // 1/1000 em added to each space
  bool underline = false;       // a rule under the characters
};

// A text object: where and how its runs are set.
struct TextData {
  enum Align : std::uint8_t { kLeft = 0, kCentre = 1, kRight = 2, kJustify = 3 };
  // Start of the first baseline, job units; a text box's top left corner; a
  // text along a path: the path's first point.
  tv_point start;
  double matrix[4] = {1, 0, 0, 1};  // a b c d applied to the letters about start
  double width = 0;             // frame width in job units (0 = unframed, one line per paragraph)
  // Text box: with a width, the box's height in job units (0 = no box). The
  // box's lines hang from its top; lines below its bottom are not set.
  double height = 0;
  double leading = 0;           // points between baselines; 0 = 1.2 × size
  Align align = kLeft;
  // Per-character mode: every character is shown on its own, with its own
  // text matrix (as justified text is).
  bool perCharacter = false;
  std::vector<TextRun> runs;    // "\n" inside a run text starts a new line
  // Text along a path: the course of the baseline (job units, a path's
  // points, open); empty for a text that is not set along a path. Such a
  // text is one line, without matrix or frame.
  std::vector<PathPoint> path;
  bool isBox() const { return height > 0 && width > 0; }
  bool isAlongPath() const { return path.size() >= 2; }
};

// Rarely used object data, allocated only for the objects that carry some.
struct ObjectExtra {
  std::string name;             // object or layer name, UTF-8
  std::unique_ptr<Stroke> stroke;
  // Object matrix (2×2) and origin, for objects placed with a transformation.
  bool hasMatrix = false;
  double matrix[4] = {1, 0, 0, 1};
  tv_point origin;
  // Classification the kernel keeps for objects and layers.
  std::string mark;             // registration mark kind ("crop", "registration", ...); empty = none
  bool cad = false;             // CAD (die-cut) object
  bool cadStroke = false;       // made a CAD stroke by a stroke creator (TavricLib::IsCADStroke)
  bool cadLayer = false;        // structured CAD layer
  bool trapLayer = false;       // layer holding traps
  bool stationNumber = false;   // the station-number text
  bool paintMapGroup = false;   // a group standing for one picture map (isPaimapGroup)
  bool fileList = false;        // a list the job file's objects were read into (jobstr::fileLists); copies do not keep it
  int boxCreator = 0;           // 10 trimmable box, 11 bleeding box, 0 none
  bool staggeredCut = false;    // cutting group of a staggered step and repeat
  bool staggeredAllInks = true; // its options: all separations enabled ...
  std::uint64_t staggeredInks = 0;  // ... or those of these slots (bit = slot)
  // A barcode group: the barcode creator's record (shared by copies) and
  // whether the barcode was edited after it was made (platform/kernel/barcode.h).
  std::shared_ptr<const barCreator> barcode;
  bool barcodeEdited = false;
  // A region the transparency flattener composed: its paint is the final
  // colour of the place, opaque inks already applied.
  bool composed = false;
};

class Tagged {
 public:
  std::uint32_t flags() const { return flags_; }
  // True when every bit of mask is set.
  bool checkProperties(std::uint32_t mask) const { return (flags_ & mask) == mask; }
  // Sets or clears the bits of mask; the kind bits are kept.
  void setProperties(std::uint32_t mask, bool on);

 protected:
  explicit Tagged(std::uint32_t flags) : flags_(flags) {}
  std::uint32_t flags_;
};

class Object : public Tagged {
 public:
  // A new object of a kind, without members, points or extras.
  static std::unique_ptr<Object> create(ObjectKind kind);
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  ObjectKind kind() const { return kind_; }
  bool isList() const { return (flags_ & kObjList) != 0; }

  std::uint16_t paint() const { return paint_; }
  // notify is accepted for the kernel's signature; the model has no observers.
  void setPaint(std::uint16_t paint, bool notify = false);

  // Bounding rectangle in job units (top, left, bottom, right), kept by the
  // model: computed from the points (control points included) or the members.
  const tv_box& bounds() const { return bounds_; }
  void setBounds(const tv_box& box) { bounds_ = box; }
  // Recomputes this object's bounds from its points or members (not deeper).
  void recalcBounds();

  Object* parent() const { return parent_; }
  // Members in drawing order.
  std::size_t memberCount() const { return members_.size(); }
  Object* member(std::size_t i) const { return members_[i].get(); }
  std::span<const std::unique_ptr<Object>> members() const { return members_; }
  // Appends child on top (drawn last); returns it. The object must be a list.
  Object* addontop(std::unique_ptr<Object> child);
  // Detaches a member; null when child is not a member.
  std::unique_ptr<Object> detach(const Object* child);
  // Index of a member, or -1.
  std::ptrdiff_t indexOf(const Object* child) const;

  // Path points (paths only).
  const std::vector<PathPoint>& points() const { return points_; }
  std::vector<PathPoint>& points() { return points_; }
  bool isOpenPath() const { return (flags_ & kObjOpenPath) != 0; }

  const ObjectExtra* extra() const { return extra_.get(); }
  ObjectExtra& extraMut();  // creates the extras on first use
  const std::string& name() const;
  const Stroke* stroke() const { return extra_ ? extra_->stroke.get() : nullptr; }
  // A text's data (texts only; null for other objects). It is held by the
  // object itself, not among the extras: a job of many texts would otherwise
  // allocate the extras for every text.
  const TextData* text() const { return text_.get(); }
  TextData* textMut() { return text_.get(); }
  void setText(std::unique_ptr<TextData> text) { text_ = std::move(text); }

 protected:
  explicit Object(ObjectKind kind);

 private:
  friend std::unique_ptr<Object> objdup(const Object* object);
  friend std::unique_ptr<Object> objdupnomembers(const Object* object);
  ObjectKind kind_;
  std::uint16_t paint_ = 0;
  tv_box bounds_;
  Object* parent_ = nullptr;  // not owned
  std::vector<std::unique_ptr<Object>> members_;
  std::vector<PathPoint> points_;
  std::unique_ptr<ObjectExtra> extra_;
  std::unique_ptr<TextData> text_;
};

// A layer: an object of kind Layer (flags kObjLayer | kObjList).
class Layer : public Object {
 public:
  Layer() : Object(ObjectKind::Layer) {}
  // UTF-8 layer name.
  const std::string& getName() const { return name(); }
};

// ---- Tree editing -----------------------------------------------------------

// A deep copy of object with its members, points and extras; parentless and
// owned by the caller. (objdupall is the same: copies always include members.)
std::unique_ptr<Object> objdup(const Object* object);
std::unique_ptr<Object> objdupall(const Object* object);
// A copy of the object's own state (flags, paint, bounds, points, extras)
// without its members; owned by the caller.
std::unique_ptr<Object> objdupnomembers(const Object* object);
// A new empty group, owned by the caller.
std::unique_ptr<Object> gronew();
// A new empty spatial tree (a plain list), owned by the caller.
std::unique_ptr<Object> spanew();
// Appends child on top of list (kObjList); returns the child, now owned by list.
Object* addontop(Object* list, std::unique_ptr<Object> child);
// Removes object from its parent and deletes it. A parentless object must be
// released with its std::unique_ptr instead; objrem ignores it (returns false).
bool objrem(Object* object);

// ---- Measures --------------------------------------------------------------

// Number of stored points of a path, or of all paths inside a list.
std::size_t pointcount(const Object* object);
// Size of a path for progress weighting (its point count; members summed).
std::size_t patsiz(const Object* object);
// Bounds of everything in the tree that is not excluded; an empty tree gives
// an all-zero box.
tv_box measureall(const Object* tree);

// ---- Traversal ---------------------------------------------------------------

// Members of a list in order, through each member's next link.
class queryseq {
 public:
  Object* quebeg(const Object* list);  // first member or null
  Object* next();                       // next member or null
 private:
  const Object* list_ = nullptr;
  std::size_t index_ = 0;
};

// Point scan of a path. scanex delivers, for each segment end point, its
// vertical and horizontal coordinates, the two control points (equal to the
// segment's start and end for straight segments) and whether it is a curve; it
// returns the index of the point (>= 0), and -1 after the last point.
// Mode 1 scans the path backwards (segments reversed, control points swapped).
class scan {
 public:
  void scabeg(const Object* path, int mode = 0, int limit = -1);
  int scanex(std::int32_t& v, std::int32_t& h, std::int32_t& c1v, std::int32_t& c1h,
             std::int32_t& c2v, std::int32_t& c2h, bool& curve);
  void scaend();

 private:
  const std::vector<PathPoint>* points_ = nullptr;
  bool reverse_ = false;
  std::size_t pos_ = 0;   // next stored index to read
  int count_ = 0;         // points delivered
  int limit_ = -1;
};

// List scan over the objects inside a root (the root itself is not returned).
//   ini(root, kind, descendMask, descendValue, selectMask, selectValue)
// An object qualifies when (flags & kind) != 0 and (flags & selectMask) ==
// selectValue. Qualifying objects are returned in tree (drawing) order and are
// not entered; a list that does not qualify is entered when (flags &
// descendMask) == descendValue. nexhig returns the qualifying objects from the
// top down (reverse drawing order) instead. The two-mask form ini(root, kind,
// excluded) is ini(root, kind, excluded, 0, excluded, 0).
// The tree must not be changed while a scan is under way.
class ListScan {
 public:
  ListScan() = default;
  ListScan(const Object* root, std::uint32_t kind, std::uint32_t descendMask,
           std::uint32_t descendValue, std::uint32_t selectMask, std::uint32_t selectValue) {
    ini(root, kind, descendMask, descendValue, selectMask, selectValue);
  }
  // The two-mask form: objects with a bit of `excluded` are neither returned nor entered.
  ListScan(const Object* root, std::uint32_t kind, std::uint32_t excluded) {
    ini(root, kind, excluded);
  }
  void ini(const Object* root, std::uint32_t kind, std::uint32_t descendMask,
           std::uint32_t descendValue, std::uint32_t selectMask, std::uint32_t selectValue);
  void ini(const Object* root, std::uint32_t kind, std::uint32_t excluded) {
    ini(root, kind, excluded, 0, excluded, 0);
  }
  Object* next();
  Object* nexhig();

 private:
  bool qualifies(const Object* o) const;
  bool enters(const Object* o) const;
  struct Frame { const Object* list; std::size_t index; };
  std::vector<Frame> stack_;
  std::vector<Object*> high_;  // filled on the first nexhig
  bool highReady_ = false;
  const Object* root_ = nullptr;
  std::uint32_t kind_ = 0, descendMask_ = 0, descendValue_ = 0, selectMask_ = 0, selectValue_ = 0;
};

// Visitor over a tree, built with four masks (descendMask, descendValue,
// visitMask, visitValue). AcceptVisitor(root, v) visits root's members (or the
// root itself when it is not a plain list) in drawing order:
//   - an object with (flags & visitMask) != visitValue is skipped together with
//     everything inside it;
//   - otherwise its Visit operation by kind is called (compound, group, path,
//     text; layers go to VisitLayer of TVObjectVisitor, and are entered
//     without a call by a plain ObjectVisitor);
//   - a visited list is entered when the visit returned true and (flags &
//     descendMask) == descendValue.
// The Visit operations return false by default (do not enter).
class ObjectVisitor {
 public:
  ObjectVisitor(std::uint32_t descendMask, std::uint32_t descendValue, std::uint32_t visitMask,
                std::uint32_t visitValue)
      : descendMask_(descendMask), descendValue_(descendValue), visitMask_(visitMask),
        visitValue_(visitValue) {}
  virtual ~ObjectVisitor() = default;
  virtual bool VisitCompound(Object& compound);
  virtual bool VisitGroup(Object& group);
  virtual bool VisitPath(Object& path);
  virtual bool VisitText(Object& text);

  // Set by a visit to end the whole walk early.
  void stop() { stopped_ = true; }
  bool stopped() const { return stopped_; }

  std::uint32_t descendMask() const { return descendMask_; }
  std::uint32_t descendValue() const { return descendValue_; }
  std::uint32_t visitMask() const { return visitMask_; }
  std::uint32_t visitValue() const { return visitValue_; }

 protected:
  friend void AcceptVisitor(Object* root, ObjectVisitor& visitor);
  // How a layer is visited; a plain visitor enters it without a call.
  virtual bool visitLayerNode(Layer&) { return true; }

 private:
  std::uint32_t descendMask_, descendValue_, visitMask_, visitValue_;
  bool stopped_ = false;
};

// A visitor that also sees layers.
class TVObjectVisitor : public ObjectVisitor {
 public:
  using ObjectVisitor::ObjectVisitor;
  virtual bool VisitLayer(Layer& layer);  // default false: not entered

 protected:
  bool visitLayerNode(Layer& layer) override { return VisitLayer(layer); }
};

void AcceptVisitor(Object* root, ObjectVisitor& visitor);

// ---- Resolution --------------------------------------------------------------

// Job units per inch of the current database (the job made current with
// ScopedCurrentJob); of the given job. Always > 0: the loader refuses other values.
int getppi();
int getppi(const jobstr* job);

// Makes a job the current database for the lifetime of the scope (nests; the
// previous one comes back on destruction). With no current job getppi() is 72.
class ScopedCurrentJob {
 public:
  explicit ScopedCurrentJob(const jobstr* job);
  ~ScopedCurrentJob();
  ScopedCurrentJob(const ScopedCurrentJob&) = delete;
  ScopedCurrentJob& operator=(const ScopedCurrentJob&) = delete;

 private:
  const jobstr* previous_;
};
const jobstr* currentJob();

}  // namespace TavDB
