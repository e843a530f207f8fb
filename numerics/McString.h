#pragma once
// The program's owning character string: a heap copy of a zero-terminated text,
// or null for the empty string. Every operation that replaces the text frees
// the old copy first.
#include <string>

class McString {
 public:
  McString() = default;
  McString(const char* text);  // null gives the empty string
  McString(const std::string& text) : McString(text.c_str()) {}
  McString(const McString& other);
  McString& operator=(const char* text);  // null leaves it empty
  McString& operator=(const McString& other);  // self-assignment leaves it unchanged
  virtual ~McString();

  // Number of characters before the terminator; 0 for the empty string.
  virtual int Length() const;

  // The text, or "" for the empty string (never null).
  const char* c_str() const { return text_ ? text_ : ""; }
  std::string str() const { return c_str(); }

 private:
  void Assign(const char* text);
  char* text_ = nullptr;
};
