#pragma once
// Whole-file work on the data files of the program directory: listing,
// copying, renaming and deleting. Names are single-byte texts of files in
// the program directory, matched without regard to letter case. Every step
// is checked: a failure throws IoError and leaves the files as they were.

#include <string>
#include <vector>

#include "store/session.h"

namespace velmora {

// The data files of the program directory: regular, not hidden, with the
// extension WorkingExt in any letter case, named in the code page (a name
// that does not survive it is left out) and none of the program's own files
// (an extension INI or TMP must not offer velmora.ini or temp.tmp); names
// as stored on disk, sorted without regard to case.
std::vector<std::string> ListDataFiles(Session& s);

// ProgramDir + name + "." + WorkingExt, whatever the case on disk;
// "Invalid filename" when that is one of the program's own files.
std::string DataFilePath(Session& s, const std::string& name);
bool DataFileExists(Session& s, const std::string& name);

// The FILE commands take a data file's sync state along (store/datafolder.h):
// a copy or a rename onto a file first removes that file's state, a rename
// moves the state with the file, a deletion removes it first.

// Copies file from over file to, replacing it in one step; a copy onto the
// same file leaves it as it is.
void CopyFileReplacing(Session& s, const std::string& from, const std::string& to);

// Renames file from to to, replacing a file of that name in one step; the
// file ends up spelled as to, also where the replaced one had another case.
void RenameFileReplacing(Session& s, const std::string& from, const std::string& to);

// Deletes a listed data file; anything else is "File not found".
void DeleteDataFile(Session& s, const std::string& entry);

}  // namespace velmora
