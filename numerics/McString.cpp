#include "numerics/McString.h"

#include <cstring>

McString::McString(const char* text) { Assign(text); }

McString::McString(const McString& other) { Assign(other.text_); }

McString& McString::operator=(const char* text) {
  if (text != nullptr && text == text_) return *this;
  // Copy before freeing, so a text that points into this string stays valid.
  char* copy = nullptr;
  if (text != nullptr) {
    size_t n = std::strlen(text) + 1;
    copy = new char[n];
    std::memcpy(copy, text, n);
  }
  delete[] text_;
  text_ = copy;
  return *this;
}

McString& McString::operator=(const McString& other) {
  if (&other == this) return *this;
  return *this = other.text_;
}

McString::~McString() {
  delete[] text_;
  text_ = nullptr;
}

int McString::Length() const { return text_ ? static_cast<int>(std::strlen(text_)) : 0; }

void McString::Assign(const char* text) {
  if (text == nullptr) return;
  size_t n = std::strlen(text) + 1;
  text_ = new char[n];
  std::memcpy(text_, text, n);
}
