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
std::string CleanupTextName(const std::string& name, const std::string& surname);  // trimmed, upper-cased

bool ExtraTextExists(Session& s, const std::string& fileName);

// The file's bytes; "Cannot open file %s" when it cannot be read.
std::string LoadExtraText(Session& s, const std::string& fileName);

// Replaces the file whole: "Cannot create file %s" when it cannot be
// created (a name no file may have included), "Failed to Save Stream" when
// writing fails. The old text stays whole on any failure.
void SaveExtraText(Session& s, const std::string& fileName, const std::string& bytes);

}  // namespace velmora
