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
#include <cstdint>
#include <functional>

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

// Changes one entry: the working file loses every record that is the same
// record as RemovedRecord (as RewriteWithout decides it) and gains NewRecord
// at its place in key order, after the records whose keys equal its own.
// The result is byte for byte what RewriteWithout(s, true) followed by
// SortDataFile(s) leaves, but it is written once and replaces the working
// file in one rename, so a failure or a crash at any point leaves the file
// wholly old or wholly changed and sorted.
//
// A file in order, as every change leaves it, takes one sequential pass.
// A file found out of order on the way is sorted whole instead, still into
// the one replacement; options matter only then. As with RewriteWithout, a
// missing file is "File not found" and an incomplete tail "Read beyond end
// of file", and neither changes anything.
//
// Unlike RewriteWithout, it adds nothing when no record is the same record
// as RemovedRecord: the entry was changed meanwhile (by a sync or another
// window), and adding the new one would double it. It then returns false
// and leaves the file as it was; the pass that writes is the one that
// finds out, under the same lock.
bool ReplaceRecord(Session& s, const SortOptions& options = {});

// Adds NewRecord in the same one pass: byte for byte what AppendRecord of
// its texts followed by SortDataFile leaves, an incomplete tail dropped as
// the append would overwrite it, but the file is replaced in one step, so a
// crash leaves it wholly old or wholly added to and sorted.
void InsertRecord(Session& s, const SortOptions& options = {});

// Adds many records at once, as an import does: byte for byte what the
// records appended as they are, in the order `next` yields them, followed by
// one SortDataFile would leave (an incomplete tail dropped, as the first
// append would overwrite it), but written once and replaced in one rename,
// so a crash leaves the file wholly old or wholly added to. `next`
// fills the record and returns true, or returns false when there are no
// more; whatever it throws leaves the working file as it was. The records
// are taken in sorted chunks (chunkRecords), all but the last parked in an
// unnamed file, so memory stays bounded however many there are. They are
// all taken before the lock, which is held only for the one merge that
// writes the file.
//
// With createMissing a working file that does not exist is made of the
// added records alone, a state a file of its name left removed first;
// otherwise it is "File not found". When `next` yields
// nothing, nothing is written (nor created). Returns the records added;
// tailDropped, when given, receives the bytes of the incomplete tail that
// went (0 when there was none or nothing was written).
uint64_t InsertRecords(Session& s, const std::function<bool(ContactRecord&)>& next,
                       const SortOptions& options = {}, bool createMissing = false,
                       uint64_t* tailDropped = nullptr);

}  // namespace velmora
