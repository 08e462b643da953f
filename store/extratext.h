#pragma once
// The extra text of an entry: one file in the program directory named NAME
// followed by SURNAME, no extension. The name comes from user data, so a
// name that could reach outside the program directory names no file at all.

#include <string>

#include "store/session.h"

namespace velmora {

// The names the three users form from an entry's texts.
std::string ViewerTextName(const std::string& name, const std::string& surname);  // trimmed
std::string EditorTextName(const std::string& name, const std::string& surname);  // as they stand
std::string CleanupTextName(const std::string& name,
                            const std::string& surname);  // trimmed, upper-cased

// True when fileName may name an entry's extra text: one plain name that is
// none of the program's own files (data files of the working extension or
// of VLM, and those IsProgramFileName names), compared without regard to
// case. An entry named FRIENDS .VLM must never read, replace or delete the
// data file FRIENDS.VLM. Nor may a name with a "?": it may stand for a
// character the code page could not hold, so that two entries (王 and 李)
// would share one file; such a file is left on disk, untouched.
bool IsSafeTextName(const Session& s, const std::string& fileName);
bool HoldsReplacedCharacter(const std::string& fileName);

bool ExtraTextExists(Session& s, const std::string& fileName);

// The file's bytes; "Cannot open file %s" when it cannot be read, "Failed to
// Load Stream" when it is larger than a note can be (told by its size,
// without reading it).
std::string LoadExtraText(Session& s, const std::string& fileName);

// Replaces the file whole: "File access denied" when the note is read-only,
// "Cannot create file %s" when it cannot be created (an unsafe name
// included), "Failed to Save Stream" when writing fails. The old text
// stays whole on any failure.
void SaveExtraText(Session& s, const std::string& fileName, const std::string& bytes);

}  // namespace velmora
