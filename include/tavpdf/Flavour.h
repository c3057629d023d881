#pragma once
// Flavour presets as the host keeps them: snapshots of the fields that a
// preference table names (factory values, a check point, current values), the
// preference table of the global settings, and the XML flavour files.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/preference.h"
#include "tavpdf/PDFSettings.h"
#include "tavpdf/export.h"

namespace TavPDF {

// The preference table of gPDFSettings: 66 rows, one per editable field, and
// the end row (type TavGen::kPrefEnd, id 0). Constant; built without any
// code running at load time.
inline constexpr int kPreferenceRowCount = 66;
extern TAVPDF_EXPORT const TavGen::PreferenceEntry pdfprftab[kPreferenceRowCount + 1];

class TAVPDF_EXPORT Flavour {
 public:
  // Snapshots of the fields one preference table names, in table order.
  class MenuSettings {
   public:
    // A snapshot of one field.
    class BasicMenuSetting {
     public:
      explicit BasicMenuSetting(const TavGen::PreferenceEntry* row) : mRow(row) {}
      virtual ~BasicMenuSetting() = default;
      BasicMenuSetting(const BasicMenuSetting&) = delete;
      BasicMenuSetting& operator=(const BasicMenuSetting&) = delete;
      // Reads the live field into the snapshot.
      virtual void Save() = 0;
      // Writes the snapshot back into the live field.
      virtual void Restore() const = 0;
      const TavGen::PreferenceEntry* row() const { return mRow; }

     protected:
      const TavGen::PreferenceEntry* mRow;  // a row of a static table, not owned
    };

    // T is int (Long, Boolean and popup rows), double or TavSys::filref.
    template <class T>
    class MenuSetting final : public BasicMenuSetting {
     public:
      using Getter = T (*)(const TavGen::PreferenceEntry&);
      using Setter = void (*)(const TavGen::PreferenceEntry&, const T&);
      // Captures the live value at once.
      MenuSetting(const TavGen::PreferenceEntry* row, Getter getter, Setter setter)
          : BasicMenuSetting(row), mGetter(getter), mSetter(setter) {
        Save();
      }
      void Save() override {
        if (mRow != nullptr) mValue = mGetter(*mRow);
      }
      void Restore() const override {
        if (mRow != nullptr) mSetter(*mRow, mValue);
      }
      const T& value() const { return mValue; }

     private:
      T mValue{};
      Getter mGetter;
      Setter mSetter;
    };

    // Builds one snapshot per qualifying row of the table (the 'Flav' row and
    // rows of types without a snapshot are passed over); a null table gives
    // an empty list.
    explicit MenuSettings(const TavGen::PreferenceEntry* table);
    ~MenuSettings();
    MenuSettings(const MenuSettings&) = delete;
    MenuSettings& operator=(const MenuSettings&) = delete;

    void SaveAll();
    void RestoreAll() const;
    // Drops every snapshot and builds the list again from the same table.
    void Rebuild();

    const TavGen::PreferenceEntry* table() const { return mTable; }
    std::size_t size() const { return mSettings.size(); }
    const BasicMenuSetting& at(std::size_t index) const { return *mSettings.at(index); }

   private:
    const TavGen::PreferenceEntry* mTable;  // static table, not owned
    std::vector<std::unique_ptr<BasicMenuSetting>> mSettings;  // owned snapshots
  };

  // Builds the three lists from the table, each holding the live values now.
  explicit Flavour(const TavGen::PreferenceEntry* table);
  // Copies share the three lists of their source (a SaveCurrent through one is
  // seen by the other); the lists are freed with the last Flavour that holds them.
  Flavour(const Flavour&) = default;
  Flavour& operator=(const Flavour&) = default;
  ~Flavour();

  void RestoreFactoryDefaults() const;
  void RestoreCurrent() const;
  void SaveCurrent();
  // The check point takes the live values of now.
  void SaveCheckPoint();
  // Restores the check point and makes the restored values current.
  void RestoreCheckPoint();

  const MenuSettings& factoryValues() const { return *mFactory; }
  const MenuSettings& checkPoint() const { return *mCheckPoint; }
  const MenuSettings& currentValues() const { return *mCurrent; }

 private:
  std::shared_ptr<MenuSettings> mFactory;
  std::shared_ptr<MenuSettings> mCheckPoint;
  std::shared_ptr<MenuSettings> mCurrent;
};

// Result codes of the flavour-file functions. Loading answers 0, 2 or 4 (a
// message says what was wrong); saving answers 0, 1 or a file error code
// (TavSys::kFileErrorBase + errno).
enum FlavourFileResult : int {
  kFlavourFileOk = 0,
  kFlavourFileCannotMake = 1,     // save: the document could not be made
  // load: the file cannot be read, is not well-formed XML, is too large or
  // too deep, declares entities or refers outside itself, or holds a number
  // that is not finite or does not fit 32 bits, a menu value without an
  // item, or a path with control characters
  kFlavourFileRefused = 2,
  kFlavourFileNoActivity = 4,     // load: no export-PDF activity (or not an activities document)
};

// Writes the live values of the fields the table points at as an XML
// activities document with its document type. The target is replaced only
// when the whole file was written; on failure an existing file is left as it
// was. 0, kFlavourFileCannotMake or a file error code; failures are also shown
// as messages.
TAVPDF_EXPORT int SaveFlavourToFile(const TavSys::FileSpec& target,
                                    const TavGen::PreferenceEntry* table);

// Reads a flavour file into the fields the table points at, as the file
// format reads it: preferences of keys the table does not have are passed
// over, a Boolean other than "True" reads as 0, a number that does not read
// cleanly as its leading digits (0 when there are none). What was passed over
// or read that way is told in one warning. A file refused (see
// kFlavourFileRefused) changes nothing and an error message names the reason.
// 0 when values were read, else kFlavourFileRefused or kFlavourFileNoActivity.
TAVPDF_EXPORT int LoadFlavourFromFile(const TavSys::FileSpec& source,
                                      const TavGen::PreferenceEntry* table);

}  // namespace TavPDF
