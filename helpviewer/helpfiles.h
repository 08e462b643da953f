#pragma once
// The help files as the viewer reads them: plain Windows-1252 text, one list
// entry or one line of a page per line of the file. The files are only ever
// read.

#include <QStringList>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace tolka {

// The lines of a help file's bytes. A line ends at CR LF, at a lone LF or at
// a lone CR; a NUL byte ends the text. A line break at the very end adds no
// line, while an empty line inside the text is a line of its own. Never fails.
QStringList TextLines(std::string_view bytes);

// The number of lines TextLines finds, without making them.
size_t LineCount(std::string_view bytes);

// The lines of the regular file at path.
// Throws velmora::AppError:
//  - "Cannot open file <path>" when path is not a regular file, or it cannot
//    be opened or read;
//  - "Text exceeds memo capacity" when the file holds more than maxBytes
//    bytes (only its size is looked at then: none of it is read), or more
//    than maxLines lines.
QStringList ReadTextLines(velmora::Env& env, const std::string& path,
                          std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max(),
                          size_t maxLines = std::numeric_limits<size_t>::max());

}  // namespace tolka
