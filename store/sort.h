#pragma once
// Sorting a data file by the sort key (SURNAME then NAME, upper-cased),
// stably: records with equal keys keep their order, exactly as an exchange
// sort of adjacent records would leave them. An incomplete tail stays at the
// end as it was.
//
// The file is never changed in place: the sorted content goes through the
// scratch file and replaces the working file in one step, and a file that is
// already in order is not written at all. Memory stays bounded whatever the
// file size. The usual case, a sorted file with a record appended, takes one
// sequential pass; any other order falls back to an external merge sort.

#include <cstddef>

#include "store/datafile.h"
#include "store/session.h"

namespace velmora {

struct SortOptions {
  // Records read from the end of the file to find where its order breaks.
  size_t windowRecords = kBlockRecords;
  // Records sorted in memory at once when the whole file must be sorted.
  size_t chunkRecords = (4u << 20) / ContactRecord::kSize;
  // Read buffers of the final merge, shared by all its runs.
  size_t mergeBufferBytes = 8u << 20;
};

void SortDataFile(Session& s, const SortOptions& options = {});

}  // namespace velmora
