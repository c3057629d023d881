// Flavour files: the values of a preference table as an XML activities
// document. Files come from users and other installations: the reader reads
// them as the format does (passing over what it does not know, with a note),
// but refuses what is unsafe (entities, outside references, oversize or deep
// documents, numbers that are not finite or do not fit, menu values without
// an item) before it changes anything.
#include "settings/flavour_file.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <variant>

#include "platform/messages.h"
#include "platform/popup.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "settings/settings_access.h"
#include "tavpdf/Flavour.h"

namespace TavPDF {
namespace {

using TavGen::PreferenceEntry;

constexpr char kRootName[] = "qel.activities";
constexpr char kActivityName[] = "qel.activity";
constexpr char kExportPdfKey[] = "PDFo";
// Popup values from here on are four-character codes, below they are numbers.
constexpr std::int32_t kFirstFourCharValue = 0x1000000;

std::string clip(std::string_view text) {
  constexpr std::size_t kMax = 60;
  if (text.size() <= kMax) return std::string(text);
  return std::string(text.substr(0, kMax)) + "...";
}

// ---------------------------------------------------------------- writing

void writePreference(pugi::xml_node activity, const PreferenceEntry& row, void* field) {
  pugi::xml_node pref = activity.append_child("Preference");
  pref.append_attribute("Key") = TavGen::FourCharCodeToString(row.key()).c_str();
  pref.append_attribute("Name") = row.name() != nullptr ? row.name() : "";
  switch (row.type()) {
    case TavGen::kPrefLong:
      pref.append_attribute("Type") = "Long";
      pref.text() = std::to_string(*static_cast<const std::int32_t*>(field)).c_str();
      break;
    case TavGen::kPrefDouble:
      pref.append_attribute("Type") = "Double";
      pref.text() = Xml::FormatDouble(*static_cast<const double*>(field)).c_str();
      break;
    case TavGen::kPrefFileRef:
    case TavGen::kPrefFileRefAlias:
      pref.append_attribute("Type") = "URL";
      pref.text() = static_cast<const TavSys::filref*>(field)->toFileURL().c_str();
      break;
    case TavGen::kPrefPopup: {
      pref.append_attribute("Type") = "Enumeration";
      const auto* popup = static_cast<const TavGen::PopupDataModel*>(field);
      auto valueText = [](std::int32_t value) {
        return value < kFirstFourCharValue ? std::to_string(value)
                                           : TavGen::FourCharCodeToString(static_cast<std::uint32_t>(value));
      };
      for (int i = 0; i < popup->GetItemCount(); ++i) {
        pugi::xml_node item = pref.append_child("ValueDescription");
        item.append_attribute("Key") = valueText(popup->GetItemValue(i)).c_str();
        item.text() = popup->GetItemText(i);
      }
      pref.append_child("Value").text() = valueText(popup->GetValue()).c_str();
      break;
    }
    case TavGen::kPrefBoolean:
      pref.append_attribute("Type") = "Boolean";
      pref.text() = *static_cast<const std::int32_t*>(field) != 0 ? "True" : "False";
      break;
    default: activity.remove_child(pref); break;
  }
}

// Writes the text so that the target is replaced only by a complete file.
void writeFileSafely(const std::filesystem::path& target, const std::string& text) {
  TavSys::OutputFile out(target);
  out.writeAll(text);
  out.commit();
}

// ---------------------------------------------------------------- reading

// A value read from a file, checked and waiting to be stored.
struct StagedValue {
  const PreferenceEntry* row;
  void* field;
  std::variant<std::int32_t, double, TavSys::filref> value;
};

// A reason why a preference cannot be loaded; empty when there is none.
struct Problem {
  std::string key;    // message key
  std::vector<std::pair<std::string, std::string>> placeholders;
  explicit operator bool() const { return !key.empty(); }
};

bool parseNumber(std::string_view text, double& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(out);
}

// The XML library's integer conversion: an optional sign and the digits that
// begin the text (after blanks); 0 when there are none. False when the number
// does not fit 32 bits.
bool leadingInteger(std::string_view text, std::int32_t& out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec == std::errc::result_out_of_range) return false;
  if (r.ec != std::errc()) value = 0;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

// The XML library's double conversion: the number that begins the text, 0
// when there is none.
double leadingDouble(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() ? value : 0.0;
}

class Loader {
 public:
  Loader(std::string label, const PreferenceEntry* table, const FieldResolver& resolve)
      : label_(std::move(label)), table_(table), resolve_(resolve) {}

  int run(const pugi::xml_document& doc) {
    int result = kFlavourFileNoActivity;
    for (const pugi::xml_node activity : activities(doc)) {
      if (std::string_view(activity.attribute("Key").value()) != kExportPdfKey) continue;
      const pugi::xml_node general = activity.child("GeneralPreferences");
      if (!general) {
        readPreferences(activity);
        result = kFlavourFileOk;
      } else {
        const pugi::xml_node link = general.find_node([](pugi::xml_node n) {
          return n.type() == pugi::node_element && std::string_view(n.attribute("Key").value()) == kExportPdfKey;
        });
        if (link && std::string_view(link.attribute("Type").value()) == "Link") {
          readPreferences(link);
          result = kFlavourFileOk;
        }
      }
      if (problem_) break;
    }
    if (problem_) {
      problem_.placeholders.emplace_back("__FILE__", label_);
      TavGen::message(TavGen::kError, 1, problem_.key, problem_.placeholders);
      return kFlavourFileRefused;
    }
    if (result != kFlavourFileOk) {
      TavGen::message(TavGen::kError, 1, "PDF/FLAVOUR FILE NO ACTIVITY", {{"__FILE__", label_}});
      return result;
    }
    // Everything was read and checked: only now are the fields changed.
    for (const StagedValue& staged : staged_) store(staged);
    if (!passedOver_.empty()) {
      constexpr std::size_t kShown = 8;
      std::string items;
      for (std::size_t i = 0; i < passedOver_.size() && i < kShown; ++i) items += (i ? "; " : "") + passedOver_[i];
      if (passedOver_.size() > kShown) items += "; and " + std::to_string(passedOver_.size() - kShown) + " more";
      TavGen::message(TavGen::kWarning, 1, "PDF/FLAVOUR FILE PASSED OVER", {{"__FILE__", label_}, {"__ITEMS__", items}});
    }
    return kFlavourFileOk;
  }

 private:
  // Every activity element at any depth, in document order (no recursion).
  static std::vector<pugi::xml_node> activities(const pugi::xml_document& doc) {
    std::vector<pugi::xml_node> found;
    std::vector<pugi::xml_node> stack{doc.document_element()};
    while (!stack.empty()) {
      const pugi::xml_node node = stack.back();
      stack.pop_back();
      if (!node) continue;
      if (std::string_view(node.name()) == kActivityName) found.push_back(node);
      std::vector<pugi::xml_node> children;
      for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) children.push_back(c);
      }
      stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return found;
  }

  void readPreferences(pugi::xml_node parent) {
    for (pugi::xml_node pref = parent.child("Preference"); pref && !problem_;
         pref = pref.next_sibling("Preference")) {
      readPreference(pref);
    }
  }

  void setProblem(const PreferenceEntry* row, std::string_view keyText, std::string_view value,
                  std::string reason) {
    problem_.key = "PDF/FLAVOUR FILE BAD VALUE";
    problem_.placeholders = {{"__KEY__", clip(keyText)},
                             {"__NAME__", row != nullptr && row->name() != nullptr ? row->name() : ""},
                             {"__VALUE__", clip(value)},
                             {"__REASON__", std::move(reason)}};
  }

  // A value the file format reads in its own way, told to the user.
  void note(std::string_view keyText, std::string what) {
    passedOver_.push_back("\"" + clip(keyText) + "\" " + std::move(what));
  }

  void readPreference(pugi::xml_node pref) {
    const std::string_view keyText = pref.attribute("Key").value();
    const PreferenceEntry* row = TavGen::FindPreferenceEntry(table_, TavGen::StringToFourCharCode(keyText));
    if (row == nullptr) {
      note(keyText, "(a key this version does not know)");
      return;
    }
    void* field = resolve_(*row);
    if (field == nullptr) return;
    const pugi::xml_node valueNode = pref.child("Value");
    std::string text = valueNode ? valueNode.child_value() : pref.child_value();
    boost::algorithm::trim(text);
    auto bad = [&](std::string reason) { setProblem(row, keyText, text, std::move(reason)); };

    switch (row->type()) {
      case TavGen::kPrefLong: {
        double number = 0;
        std::int32_t value = 0;
        if (parseNumber(text, number)) {
          // Checked as a double before it is narrowed to 32 bits.
          const double rounded = std::round(number);
          if (rounded < std::numeric_limits<std::int32_t>::min() ||
              rounded > std::numeric_limits<std::int32_t>::max()) {
            return bad("it does not fit a 32-bit integer");
          }
          value = static_cast<std::int32_t>(rounded);
        } else if (isNonFinite(text)) {
          return bad("it is not a finite number");
        } else {
          if (!leadingInteger(text, value)) return bad("it does not fit a 32-bit integer");
          note(keyText, "\"" + clip(text) + "\" read as " + std::to_string(value));
        }
        staged_.push_back({row, field, value});
        return;
      }
      case TavGen::kPrefDouble: {
        double number = 0;
        if (!parseNumber(text, number)) {
          if (isNonFinite(text)) return bad("it is not a finite number");
          number = leadingDouble(text);
          if (!std::isfinite(number)) return bad("it is not a finite number");
          note(keyText, "\"" + clip(text) + "\" read as " + Xml::FormatDouble(number));
        }
        staged_.push_back({row, field, number});
        return;
      }
      case TavGen::kPrefFileRef:
      case TavGen::kPrefFileRefAlias: {
        for (unsigned char c : text) {
          if (c < 0x20) return bad("it contains control characters");
        }
        if (text.empty()) {
          staged_.push_back({row, field, TavSys::filref()});
        } else if (std::string_view(pref.attribute("Type").value()) == "URL") {
          const TavSys::FileSpec spec = TavSys::FileSpec::FromFileURL(text);
          if (!spec.IsValid()) {
            note(keyText, "(not a local file URL)");
            return;
          }
          // Escapes may stand for bytes the text itself could not carry.
          const std::string path = spec.GetFullPathUTF8();
          for (unsigned char c : path) {
            if (c < 0x20) return bad("it escapes control characters");
          }
          if (!TavSys::IsValidUTF8(path)) return bad("it escapes bytes that are not UTF-8");
          staged_.push_back({row, field, TavSys::filref(path)});
        } else {
          staged_.push_back({row, field, TavSys::filref(text)});
        }
        return;
      }
      case TavGen::kPrefPopup: {
        const auto* popup = static_cast<const TavGen::PopupDataModel*>(field);
        std::int32_t value = 0;
        if (valueNode && popup->GetItemValue(0) >= kFirstFourCharValue) {
          value = static_cast<std::int32_t>(TavGen::StringToFourCharCode(text));
        } else if (!leadingInteger(text, value)) {
          return bad("it does not fit a 32-bit integer");
        }
        if (popup->IndexOfValue(value) < 0) return bad("no item of the menu has this value");
        staged_.push_back({row, field, value});
        return;
      }
      case TavGen::kPrefBoolean: {
        const bool on = boost::algorithm::iequals(text, "True");
        if (!on && !boost::algorithm::iequals(text, "False")) note(keyText, "\"" + clip(text) + "\" read as False");
        staged_.push_back({row, field, std::int32_t{on ? 1 : 0}});
        return;
      }
      default: return;  // a row type without a file form
    }
  }

  // Text that reads as a number that is not finite ("nan", "-inf").
  static bool isNonFinite(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && !std::isfinite(value);
  }

  static void store(const StagedValue& staged) {
    switch (staged.row->type()) {
      case TavGen::kPrefPopup:
        static_cast<TavGen::PopupDataModel*>(staged.field)->SetValue(std::get<std::int32_t>(staged.value));
        break;
      case TavGen::kPrefDouble: *static_cast<double*>(staged.field) = std::get<double>(staged.value); break;
      case TavGen::kPrefFileRef:
      case TavGen::kPrefFileRefAlias:
        *static_cast<TavSys::filref*>(staged.field) = std::get<TavSys::filref>(staged.value);
        break;
      default: *static_cast<std::int32_t*>(staged.field) = std::get<std::int32_t>(staged.value); break;
    }
  }

  std::string label_;
  const PreferenceEntry* table_;
  const FieldResolver& resolve_;
  std::vector<StagedValue> staged_;
  std::vector<std::string> passedOver_;
  Problem problem_;
};

int reportParseFailure(const Xml::ParseResult& parsed, const std::string& label) {
  if (parsed.status == Xml::ParseStatus::FileError) {
    TavGen::message(TavGen::kError, 1, "PDF/FLAVOUR FILE UNREADABLE",
                    {{"__FILE__", label}, {"__REASON__", parsed.detail}});
    // A file that cannot be read is, to the caller, a file that does not
    // parse; the message tells the two apart.
    return kFlavourFileRefused;
  }
  const char* key = parsed.status == Xml::ParseStatus::ExternalReference ? "PDF/FLAVOUR FILE EXTERNAL REFERENCE"
                                                                         : "PDF/FLAVOUR FILE NOT XML";
  TavGen::message(TavGen::kError, 1, key, {{"__FILE__", label}, {"__REASON__", parsed.detail}});
  return kFlavourFileRefused;
}

}  // namespace

Xml::Dtd BuildActivitiesDtd() {
  using P = Xml::Dtd::Presence;
  Xml::Dtd dtd(kRootName);
  dtd.AddElement("qel.activities", "(qel.activity | Conditional)*");
  dtd.AddAttribute("qel.activities", "Version", P::Default, "1.0");
  dtd.AddAttribute("qel.activities", "ShowOnlyConditionals", P::Default, "False");
  dtd.AddElement("qel.activity", "(Preference | Conditional)*");
  dtd.AddAttribute("qel.activity", "Key", P::Required);
  dtd.AddAttribute("qel.activity", "Name", P::Implied);
  dtd.AddAttribute("qel.activity", "LocalizedName", P::Implied);
  dtd.AddAttribute("qel.activity", "Label", P::Implied);
  dtd.AddAttribute("qel.activity", "UniqueID", P::Implied);
  dtd.AddAttribute("qel.activity", "Version", P::Default, "2.0");
  dtd.AddElement("Conditional", "(qel.activity | Preference)*");
  dtd.AddAttribute("Conditional", "Parameter", P::Required);
  dtd.AddAttribute("Conditional", "Value", P::Required);
  dtd.AddAttribute("Conditional", "IsDefault", P::Default, "False");
  dtd.AddElement("Preference", "(#PCDATA | Preference | Value | ValueDescription)*");
  dtd.AddAttribute("Preference", "Key", P::Required);
  dtd.AddAttribute("Preference", "Name", P::Implied);
  dtd.AddAttribute("Preference", "LocalizedName", P::Implied);
  dtd.AddAttribute("Preference", "Type", P::Required);
  dtd.AddAttribute("Preference", "Public", P::Implied);
  dtd.AddAttribute("Preference", "Content", P::Implied);
  dtd.AddAttribute("Preference", "Expression", P::Implied);
  dtd.AddElement("ValueDescription", "(#PCDATA)");
  dtd.AddAttribute("ValueDescription", "Key", P::Required);
  dtd.AddAttribute("ValueDescription", "LocalizedName", P::Implied);
  dtd.AddElement("Value", "(#PCDATA)");
  return dtd;
}

int SaveFlavour(const TavSys::FileSpec& target, const PreferenceEntry* table, const FieldResolver& resolve) {
  const std::string label = target.GetFullPathUTF8();
  if (!target.IsValid()) {
    TavGen::message(TavGen::kError, 1, "PDF/CANNOT WRITE FLAVOUR FILE",
                    {{"__FILE__", label}, {"__REASON__", "no file name"}});
    return kFlavourFileCannotMake;
  }
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child(kRootName);
  root.append_attribute("Version") = "1.0";
  pugi::xml_node activity = root.append_child(kActivityName);
  activity.append_attribute("Name") = "Export PDF";
  activity.append_attribute("Key") = kExportPdfKey;
  activity.append_attribute("Version") = "2.0";
  BuildActivitiesDtd().AttachTo(doc);

  {
    Xml::FloatPrecisionScope precision(6);
    std::set<std::uint32_t> written;  // a key is written once: the first row wins
    for (const PreferenceEntry* row = table; row != nullptr && !row->isEnd(); ++row) {
      void* field = resolve(*row);
      if (field == nullptr || !written.insert(row->key()).second) continue;
      writePreference(activity, *row, field);
    }
  }

  try {
    writeFileSafely(target.path(), Xml::ToString(doc));
  } catch (const TavSys::Error& e) {
    TavGen::message(TavGen::kError, 1, "PDF/CANNOT WRITE FLAVOUR FILE",
                    {{"__FILE__", label}, {"__REASON__", TavSys::GetFileErrorMessage(e.code())}});
    return e.code();
  }
  return kFlavourFileOk;
}

int LoadFlavour(const TavSys::FileSpec& source, const PreferenceEntry* table, const FieldResolver& resolve) {
  const std::string label = source.GetFullPathUTF8();
  pugi::xml_document doc;
  const Xml::ParseResult parsed = Xml::DocumentReader().ParseFile(source, doc);
  if (!parsed) return reportParseFailure(parsed, label);
  return Loader(label, table, resolve).run(doc);
}

int LoadFlavourFromBytes(std::string_view bytes, std::string_view label, const PreferenceEntry* table,
                         const FieldResolver& resolve) {
  pugi::xml_document doc;
  const Xml::ParseResult parsed = Xml::DocumentReader().ParseBuffer(bytes, doc);
  if (!parsed) return reportParseFailure(parsed, std::string(label));
  return Loader(std::string(label), table, resolve).run(doc);
}

namespace {
void* rowField(const PreferenceEntry& row) { return row.value(); }

// The exported functions answer with results, never with exceptions. Saving
// passes file error codes on; loading keeps to its own result codes.
template <class Work>
int guarded(Work work, int failure, bool passErrorCodes) noexcept {
  try {
    return work();
  } catch (const TavSys::Error& e) {
    TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
    return passErrorCodes && e.code() != 0 ? e.code() : failure;
  } catch (const std::exception& e) {
    TavSys::debug(std::string("<flavour file> ") + e.what());
    return failure;
  }
}
}  // namespace

int SaveFlavourToFile(const TavSys::FileSpec& target, const PreferenceEntry* table) {
  return guarded([&] { return SaveFlavour(target, table, &rowField); }, kFlavourFileCannotMake, true);
}

int LoadFlavourFromFile(const TavSys::FileSpec& source, const PreferenceEntry* table) {
  return guarded([&] { return LoadFlavour(source, table, &rowField); }, kFlavourFileRefused, false);
}

}  // namespace TavPDF
