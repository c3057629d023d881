#include "platform/popup.h"

#include <cstring>

namespace TavGen {

bool PopupDataModel::operator==(const PopupDataModel& other) const {
  if (count_ != other.count_ || selection_ != other.selection_) return false;
  for (int i = 0; i < count_; ++i) {
    if (GetItemValue(i) != other.GetItemValue(i)) return false;
    if (std::strcmp(GetItemText(i), other.GetItemText(i)) != 0) return false;
  }
  return true;
}

}  // namespace TavGen
