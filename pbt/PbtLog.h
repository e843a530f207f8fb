#pragma once
// The training log and the bounded text formatting of the classifier library.
//
// Every training line goes through WriteLog, which opens the log file for appending,
// writes the text and closes the file again on each call, so a tree and its node
// classifiers can append to the same log one call after another.
#include <string>

// Appends `text` to the file `fileName` (opened in text mode for appending and
// closed again). A null or empty name prints the text on standard output instead.
// A file that does not open costs the line and prints
// "Unable to open logfile: <fileName>\n" on standard output; training goes on.
void WriteLog(const char* fileName, const char* text);
inline void WriteLog(const std::string& fileName, const std::string& text) {
  WriteLog(fileName.c_str(), text.c_str());
}

// printf-style formatting into a new string of whatever length the result needs.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends the formatted text to `text`.
void AppendFormat(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
