#pragma once
// Failure messages that show QStrings as text, not as arrays of code units.

#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
