#pragma once
// Directory listing by pattern, standing in for the find-first / find-next search.
#include <string>
#include <vector>

// Lists the entries (files and folders) of the folder named before the last
// separator ('/' or '\') of `pattern` whose names match the wildcard text after it
// ('*' any run of characters, '?' one character; case-sensitive). "." and ".." are
// never returned. Names are sorted by byte order, so listings are deterministic.
// A missing folder gives an empty list.
std::vector<std::string> FindFiles(const std::string& pattern);

// The wildcard test used by FindFiles.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// The regular files (links followed) in `folder` and every folder under it, as
// "<folder>/<relative path>", sorted by byte order. A missing folder gives nothing.
// Linked folders are entered; each folder (by its path with links resolved) is listed
// once, under the first path that reaches it in a walk in byte order, so a link to a
// folder above it (a cycle) or two links to one folder do not repeat it. A folder that
// cannot be listed is skipped.
// With `linkedFolders`, the resolved absolute paths of the linked folders entered are
// appended (native spelling, in walk order): the places outside `folder` that its tree
// reaches.
std::vector<std::string> FilesUnder(const std::string& folder, std::vector<std::string>* linkedFolders = nullptr);
