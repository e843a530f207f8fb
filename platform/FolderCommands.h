#pragma once
// Folder commands, carried out with std::filesystem and never through a shell.
// The program phrases them as command lines of the Windows command interpreter;
// RunFolderCommand understands exactly those lines.
#include <string>

// Creates the folder and every missing parent. True when the folder exists afterwards.
bool MakeFolder(const std::string& path);

// Removes a folder tree quietly. Refuses (with a one-line message on the error
// stream, returning false) an empty path, the root, "." and "..", and any path that
// is the working folder or contains it. A missing folder is not an error.
bool RemoveFolderTree(const std::string& path);

// Deletes one file. A missing file is not an error; a folder is not deleted.
bool DeleteFileAt(const std::string& path);

// Carries out "mkdir <path>" (also with several blanks before the path),
// "rmdir /s /q <path>" and "del <path>". The rest of the line after the command
// and its switches is one path (surrounding quotes removed). Returns 0 when the
// command did its job, 1 otherwise (also for a command it does not know).
int RunFolderCommand(const std::string& commandLine);
