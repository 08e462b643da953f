#pragma once
// The size limit of a note, apart from the note format itself: the store
// refuses a larger note file by its size alone, without a text document.

#include <QtGlobal>

namespace velmora {

// The largest note the text boxes load, in bytes. A note is a page of text;
// a file far bigger than that is not one, and loading it would stall the
// window and its memory.
inline constexpr qsizetype kMaxNoteBytes = 16 * 1024 * 1024;

}  // namespace velmora
