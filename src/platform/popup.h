#pragma once
// The data model of a popup menu of the general library: a fixed list of items,
// each with an integer value and a text, and the index of the selected item.
// Settings fields of the popup kind (orientation, screen registration) are
// such models; readers take the value of the selected item.
#include <cstdint>

namespace TavGen {

class PopupDataModel {
 public:
  // An empty model: no items, selection 0, value 0.
  constexpr PopupDataModel() = default;
  // `values` and `items` are static tables that the model refers to and never
  // owns: `items` is a null-terminated list of texts, `values` holds one value
  // per text. The selection is clamped to the items.
  constexpr PopupDataModel(const std::int32_t* values, const char* const* items, int selection)
      : values_(values), items_(items) {
    if (items_ != nullptr) {
      while (items_[count_] != nullptr) ++count_;
    }
    SetSelection(selection);
  }
  constexpr PopupDataModel(const PopupDataModel&) = default;
  constexpr PopupDataModel(PopupDataModel&&) = default;
  constexpr PopupDataModel& operator=(const PopupDataModel&) = default;
  constexpr PopupDataModel& operator=(PopupDataModel&&) = default;
  constexpr ~PopupDataModel() = default;

  constexpr int GetItemCount() const { return count_; }
  // The value and text of an item; 0 and "" for an index outside the items.
  constexpr std::int32_t GetItemValue(int index) const {
    return (index >= 0 && index < count_ && values_ != nullptr) ? values_[index] : 0;
  }
  constexpr const char* GetItemText(int index) const {
    return (index >= 0 && index < count_) ? items_[index] : "";
  }

  constexpr int GetSelection() const { return selection_; }
  // Selects an item by index; an index outside the items is ignored and the
  // result is false.
  constexpr bool SetSelection(int index) {
    if (index < 0 || index >= count_) return false;
    selection_ = index;
    return true;
  }
  // The value of the selected item (0 for an empty model).
  constexpr std::int32_t GetValue() const { return GetItemValue(selection_); }
  // Selects the first item with this value; a value no item has is ignored
  // and the result is false.
  constexpr bool SetValue(std::int32_t value) {
    const int index = IndexOfValue(value);
    return index >= 0 && SetSelection(index);
  }
  // The index of the first item with this value, -1 when none has it.
  constexpr int IndexOfValue(std::int32_t value) const {
    for (int i = 0; i < count_; ++i) {
      if (GetItemValue(i) == value) return i;
    }
    return -1;
  }

  // Two models are equal when they offer the same items and select the same one.
  bool operator==(const PopupDataModel& other) const;

 private:
  const std::int32_t* values_ = nullptr;  // static table, not owned
  const char* const* items_ = nullptr;    // static table, not owned
  int count_ = 0;
  int selection_ = 0;
};

}  // namespace TavGen
