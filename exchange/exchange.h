#pragma once
// Import into and export from the working file of a session.

#include <cstdint>
#include <functional>
#include <string_view>

#include "exchange/entry.h"
#include "exchange/fieldtext.h"
#include "store/session.h"
#include "store/sort.h"

namespace velmora {

enum class ExchangeFormat { kVcard, kCsv };

struct ImportSummary {
  uint64_t added = 0;
  uint64_t skipped = 0;  // entries with all five fields blank
  ImportCounts counts;
  uint64_t tailDropped = 0;  // bytes of an incomplete record the file ended in
};

// Adds every entry of the reader to the working file, all or nothing: the
// input is read to its end before the file is replaced, in one rename, with
// the entries at their sorted places. A FormatError, a failed file step or
// another instance holding the lock leaves the file as it was. With
// createMissing a working file that does not exist is made of the entries.
// An entry with nothing a record shows (a card of an e-mail address only) is
// skipped and counted.
ImportSummary ImportEntries(Session& s, EntryReader& reader, bool createMissing = false,
                            const SortOptions& options = {});

struct ExportSummary {
  uint64_t entries = 0;
  uint64_t extraTexts = 0;        // written as a second NOTE
  uint64_t extraTextsFailed = 0;  // could not be read: left out
  uint64_t tailLeftOut = 0;       // bytes of an incomplete record the file ends in
};

// Writes every entry of the working file, in file order, to `write`, a
// block of at most about 1 MiB at a time. The file is read as the search
// reads it, without the lock, so a long export never holds up the windows;
// a change made meanwhile replaces the file by a rename and leaves the
// export reading the file as it was. An incomplete record at the end (a
// copy cut short) is left out and counted; the whole records before it all
// go out. The sample file goes out as every start writes it, so that an
// export needs to write nothing, not even the sample file.
ExportSummary ExportEntries(Session& s, ExchangeFormat format,
                            const std::function<void(std::string_view)>& write);

}  // namespace velmora
