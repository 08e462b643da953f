#pragma once
// The operations on data files: records back to back from offset 0, no
// header; the record count is the size divided by 135, rounded down. Each
// operation opens the files it needs, works in large sequential blocks with
// bounded memory, and closes them before it returns, also when it fails.
// A data file is only ever changed by appending one record in place or by
// replacing it whole through the scratch file "temp.tmp".
//
// Every failed file step throws IoError.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "store/contactrecord.h"
#include "store/datafolder.h"
#include "store/session.h"

namespace velmora {

inline constexpr size_t kBlockRecords = (1u << 20) / ContactRecord::kSize;

// Reads whole records in file order, a block at a time. Every record it
// hands out has kRecordSlack readable bytes after it, so that a scan may
// test a text a word at a time without minding where the record ends.
inline constexpr size_t kRecordSlack = 64;
class RecordReader {
 public:
  RecordReader(File& file, uint64_t firstRecord, uint64_t endRecord,
               size_t blockRecords = kBlockRecords);
  // The whole file.
  explicit RecordReader(File& file, size_t blockRecords = kBlockRecords);

  uint64_t FileSize() const { return size_; }
  uint64_t RecordCount() const { return size_ / ContactRecord::kSize; }
  // The next record, valid until the next call; nullptr at the end. Reading
  // on into an incomplete tail is "Read beyond end of file".
  const unsigned char* Next() {
    if (bufPos_ + ContactRecord::kSize > bufLen_) return Refill();
    const unsigned char* rec = buf_.get() + bufPos_;
    bufPos_ += ContactRecord::kSize;
    return rec;
  }

 private:
  const unsigned char* Refill();

  File& file_;
  uint64_t size_;
  uint64_t pos_;  // file offset of the byte after the buffer
  uint64_t end_;  // file offset where reading stops
  std::unique_ptr<unsigned char[]> buf_;
  size_t bufSize_ = 0, bufPos_ = 0, bufLen_ = 0;
};

// Appends one record made of the texts (each cut to its field) at byte
// 135 × count, over an incomplete tail if there is one.
void AppendRecord(Session& s, const RecordTexts& editFields);

// Rewrites the working file without every record that is the same record as
// RemovedRecord; with append, NewRecord is added at the end. Returns whether
// a record was dropped. Without append, a file that holds no such record
// (a sync or another window changed the entry meanwhile) is left as it
// was: the finding and the writing are one pass under one lock.
bool RewriteWithout(Session& s, bool append);

// Removes the extra text file ProgramDir + name unless a record of the
// working file still has that name (NAME followed by SURNAME, trimmed and
// upper-cased). A failed deletion is ignored.
void RemoveOrphanText(Session& s, const std::string& name);

// The reading the search uses: onCount(record count) first, then
// onRecord(RecordView) for every record in file order. Records are seen in
// place in the reader's buffer; none is copied, so a scan of a large file
// costs little more than reading it.
template <class OnCount, class OnRecord>
void ReadWorkingFile(Session& s, OnCount&& onCount, OnRecord&& onRecord) {
  auto in = s.env().OpenExisting(s.WorkingFilePath(), false);
  RecordReader reader(*in);
  onCount(reader.RecordCount());
  while (const unsigned char* rec = reader.Next()) onRecord(RecordView(rec));
  in->Close();
}

}  // namespace velmora
