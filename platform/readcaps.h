#pragma once
// The most each reader of outside data takes in, all in one place. A file or
// row beyond its cap is refused, told by its size before it is read where
// the size is known, so that a reader's memory stays within a small multiple
// of its cap and its time linear in what it reads.

#include <cstddef>
#include <cstdint>

namespace velmora {

// velmora.ini: a few short lines. A larger file is no configuration of ours,
// and start-up uses the sample file instead.
inline constexpr std::uint64_t kMaxConfigBytes = std::uint64_t(1) << 20;

// A note (extra text), in bytes. The text boxes and the export load it
// whole; a file far bigger than a page of text is not a note.
inline constexpr std::int64_t kMaxNoteBytes = std::int64_t(16) << 20;

// A help page or a help level's list, in bytes and in lines. A text box or
// a list holds hundreds of bytes for each line it shows, so the lines are
// capped too: 4 MiB of line ends would otherwise take gigabytes to show.
inline constexpr std::uint64_t kMaxHelpFileBytes = std::uint64_t(4) << 20;
inline constexpr std::size_t kMaxHelpLines = 65536;

// The most an import holds of one line (vCard) or one row (CSV), separators
// included: enough for any photo a card carries, and still a bound on memory.
inline constexpr std::size_t kMaxLineBytes = std::size_t(16) << 20;

// The columns of a CSV file's first row. Address books write a few dozen;
// the cap keeps the header's names and every row's fields few.
inline constexpr std::size_t kMaxCsvColumns = 4096;

// A sync state, which costs at most about 950 bytes a contact: over four
// million contacts. It is read a line at a time, so that memory follows
// the pairs it holds, never the file's size; a line holds a card's file
// name and five escaped texts, far less than its cap.
inline constexpr std::uint64_t kMaxSyncStateBytes = std::uint64_t(4) << 30;
inline constexpr std::size_t kMaxSyncStateLineBytes = std::size_t(64) << 10;

}  // namespace velmora
