#include "core/tools/CCmdList.h"

namespace tarnvale {

bool CCmdList::IsMonitorCommand(std::string_view line) {
  for (std::string_view word : kMonitorCommandWords) {
    if (line.find(word) != std::string_view::npos) return true;
  }
  return false;
}

void CCmdList::AddCommand(const std::string& line) {
  if (!IsMonitorCommand(line)) return;
  entries_.push_back(line);
  cursor_ = entries_.size() - 1;
}

void CCmdList::Reset() {
  if (entries_.empty()) {
    cursor_.reset();
  } else {
    cursor_ = entries_.size() - 1;
  }
}

std::string CCmdList::GetPrev() {
  if (entries_.empty() || !cursor_) return {};
  std::string entry = entries_[*cursor_];
  if (*cursor_ > 0) --*cursor_;
  return entry;
}

std::string CCmdList::GetNext() {
  if (entries_.empty() || !cursor_) return {};
  std::string entry = entries_[*cursor_];
  if (*cursor_ + 1 < entries_.size()) ++*cursor_;
  return entry;
}

}  // namespace tarnvale
