#pragma once
// The one place where the program's paths meet the operating system.
// Paths are built and printed with the program's own separators, backslashes
// included; here "\" is read as a separator like "/".
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

// The path as this system spells it: every '\' becomes '/'.
std::string NativePath(const std::string& path);

// fopen through the native path; null for an empty path or a file that does not open.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Opens a file stream through the native path; false when it does not open.
bool OpenInputStream(std::ifstream& in, const std::string& path,
                     std::ios::openmode mode = std::ios::in | std::ios::binary);
bool OpenOutputStream(std::ofstream& out, const std::string& path,
                      std::ios::openmode mode = std::ios::out | std::ios::binary | std::ios::trunc);

// Test-only: while `sink` is not null, the path of every attempt to open a file for
// reading through this layer is appended to it (one thread only). Null stops it.
void RecordInputOpensForTesting(std::vector<std::string>* sink);

// The folder that holds the file `path` names, in the program's spelling: the text
// before its last "/" or "\", "/" for a file of the root, "." for a name without a folder.
std::string HoldingFolder(const std::string& path);

// True when the path names an existing file or folder.
bool PathExists(const std::string& path);

// True when the path names an existing regular file (after following links); false
// for a folder, a device or a pipe, and for a path that does not exist.
bool IsRegularFile(const std::string& path);

// True when both paths name existing files and they are one file (the same device and
// inode, after following links): a hard link, a symbolic link or "dir/../x" to a file
// is that file. False when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);

// The file name `stem` + `tail` in at most `limit` bytes: `stem` is cut at its end as
// far as needed, never inside a UTF-8 character (a cut that would fall after the lead
// byte of a character falls before it); `tail` stays whole. Empty when `tail` alone
// takes more than `limit` bytes.
std::string FitFileName(const std::string& stem, const std::string& tail, size_t limit);

// Creates a new empty file "<stem><mark><unique><suffix>", where <unique> is made of the
// process id and a counter ("<pid>-<n>"), and returns its name (in the program's
// spelling); never opens a file that exists already. When that file name would take more
// bytes than the folder allows for a name (255 where the system does not say), the file
// name part of `stem` (after its last "/" or "\") is cut at its end (FitFileName), so
// that beside any name the folder takes such a file can be made. An empty string when no
// such file can be created (a missing folder, a folder that cannot be written).
// `reserve`, when given, is called with a name that nothing holds yet just before the
// file is made under it (true) and, when making it fails after all, again (false): a
// caller can so list the file before it exists, for a cleanup that may run while this
// call is under way on another thread.
std::string CreateUniqueFile(const std::string& stem, const std::string& mark, const std::string& suffix,
                             const std::function<void(const std::string& name, bool reserved)>& reserve = {});

// Test-only: while `hook` is not empty, CreateUniqueFile calls it on the calling thread
// with the new file's name once the file is made, inside its held step. An empty
// function stops it.
void WatchFileCreationForTesting(std::function<void(const std::string& name)> hook);
