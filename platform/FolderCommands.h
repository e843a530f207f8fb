#pragma once
// Folder commands, carried out with std::filesystem and never through a shell.
// The program phrases them as command lines of the Windows command interpreter;
// RunFolderCommand understands exactly those lines. Each command that makes, renames or
// removes is a held step (FatalExitHold): a fatal end never cuts one in half.
#include <functional>
#include <string>
#include <vector>

// Creates the folder and every missing parent. True when the folder exists afterwards.
// With `created`, appends the native paths of the folders this call created, outermost
// first; when it fails, those it created before the failure. With `failure`, a call that
// fails sets it to the reason as the system words it (strerror: "Not a directory" for a
// file in the way, "Permission denied", ...); it is left as it was on success.
bool MakeFolder(const std::string& path, std::vector<std::string>* created = nullptr,
                std::string* failure = nullptr);

// Removes the folders that MakeFolder reported as created, innermost first, as long as
// each is still an empty folder; stops at the first that is not. Each goes by rmdir,
// which needs no descriptor and removes nothing but an empty folder: a folder that holds
// anything, or a file or link that took a folder's place, stays.
void RemoveEmptyFolders(const std::vector<std::string>& created);

// Removes every empty folder inside `folder`, deepest first, so that a folder that holds
// only empty folders goes too; `folder` itself stays. Links are not followed.
void RemoveEmptySubfolders(const std::string& folder);

// True when a file written at `path` would lie inside `folder` or a folder under it,
// judged two ways: by the paths as written (both made absolute and lexically normal, no
// link resolved: "folder/link/x" is inside even when "link" leads elsewhere), or with
// links resolved (the folder that holds the path, with its links followed, is `folder`
// or lies inside it, with its links followed). Neither needs to exist; false for an
// empty path or folder.
bool IsInsideFolder(const std::string& path, const std::string& folder);

// True when nothing exists at the path, or an empty folder does. False when anything
// else is there (a folder that holds anything, a file), and also when the path or the
// folder cannot be read (no permission, no descriptor left): then `unreadable`, when
// given, is set to the reason as the system words it (strerror); it is cleared otherwise.
bool IsMissingOrEmptyFolder(const std::string& path, std::string* unreadable = nullptr);

// Renames the file `from` to `to`, replacing a file there (not a folder). True on success.
bool ReplaceFile(const std::string& from, const std::string& to);

// Removes a folder tree quietly. Refuses (with a one-line message on the error
// stream, returning false) an empty or all-blank path, the root, "." and "..", and any
// path that is the working folder or contains it. A missing folder is not an error.
// Paths are taken exactly as given: blanks at either end are part of the name.
bool RemoveFolderTree(const std::string& path);

// Deletes one file. A missing file is not an error; a folder is not deleted.
bool DeleteFileAt(const std::string& path);

// Carries out "mkdir <path>", "rmdir /s /q <path>" and "del <path>". One blank follows
// the command and each switch (switches only for the removals); the rest of the line is
// the path exactly as given, blanks included (surrounding quotes removed). Returns 0
// when the command did its job, 1 otherwise (also for a command it does not know).
int RunFolderCommand(const std::string& commandLine);

// Test-only: while `hook` is not empty, it runs on the calling thread at the start of
// every IsMissingOrEmptyFolder and RemoveEmptyFolders call (before anything is read or
// removed), with the function's name. An empty function stops it.
void WatchFolderStepsForTesting(std::function<void(const std::string& call)> hook);
