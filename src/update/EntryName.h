// An archive entry's name as a path below the client folder. Archives made on Windows may write
// '\' where others write '/'; both separate folders here, so that such a package unpacks into the
// same tree as anywhere else. Pure functions, any thread.
#pragma once

#include <string>

// The stored name with every '\' read as '/'.
std::string EntryPath(const std::string& stored);

// Whether an entry path stays inside the destination: no absolute path, no drive, no ".."
// component (either separator is looked at, whatever EntryPath made of the name).
bool IsSafeEntryPath(const std::string& path);

// A folder entry ends in '/'; everything else is a file.
bool IsFolderEntry(const std::string& path);

// The folder an entry needs before it can be written: a folder entry's own ("a/b/" -> "a/b"), a
// file's parent ("a/b/c" -> "a/b"); empty for one at the top.
std::string EntryFolder(const std::string& path);
