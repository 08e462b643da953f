#include "store/datafile.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/filenames.h"
#include "platform/ioerror.h"
#include "platform/savefile.h"
#include "platform/text.h"
#include "store/extratext.h"

namespace velmora {

namespace {
constexpr size_t kRec = ContactRecord::kSize;
}

RecordReader::RecordReader(File& file, uint64_t firstRecord, uint64_t endRecord,
                           size_t blockRecords)
    : file_(file),
      size_(file.Size()),
      pos_(firstRecord * kRec),
      end_(std::min(endRecord * kRec, size_)) {
  // No larger than what there is to read: small files stay cheap.
  const uint64_t left = end_ > pos_ ? end_ - pos_ : 0;
  bufSize_ = size_t(std::clamp<uint64_t>(left, kRec, std::max<size_t>(blockRecords, 1) * kRec));
  // Zeroed, so that the slack after the last record never holds bytes
  // nobody wrote.
  buf_ = std::make_unique<unsigned char[]>(bufSize_ + kRecordSlack);
}

RecordReader::RecordReader(File& file, size_t blockRecords)
    : RecordReader(file, 0, UINT64_MAX / kRec, blockRecords) {}

const unsigned char* RecordReader::Refill() {
  if (pos_ >= end_) return nullptr;
  size_t want = size_t(std::min<uint64_t>(bufSize_, end_ - pos_));
  size_t got = file_.ReadAt(pos_, buf_.get(), want);
  if (got < kRec) throw IoError(IoError::kReadBeyondEnd);
  // A tail shorter than a record stays unread until the next call reaches it.
  bufLen_ = got - got % kRec;
  pos_ += bufLen_;
  bufPos_ = kRec;
  return buf_.get();
}

void AppendRecord(Session& s, const RecordTexts& editFields) {
  StoreLock lock(s);
  s.ScratchRecord.SetTexts(editFields);
  const std::string path = s.WorkingFilePath();
  auto file = s.env().OpenExisting(path, true);
  const uint64_t oldSize = file->Size();
  const uint64_t at = oldSize / kRec * kRec;
  // An incomplete tail is overwritten; keep it to put back on failure.
  unsigned char tail[kRec];
  const size_t tailBytes = size_t(oldSize - at);
  if (tailBytes > 0 && file->ReadAt(at, tail, tailBytes) != tailBytes)
    throw IoError(IoError::kReadBeyondEnd, path);
  try {
    file->WriteAt(at, s.ScratchRecord.bytes.data(), kRec);
    file->Sync();
  } catch (...) {
    // A record the user was told is not stored must not turn up later.
    try {
      file->Truncate(oldSize);
      if (tailBytes > 0) file->WriteAt(at, tail, tailBytes);
    } catch (...) {
    }
    throw;
  }
  file->Close();
}

bool RewriteWithout(Session& s, bool append) {
  StoreLock lock(s);
  const SameRecordAs removed(s.RemovedRecord);
  std::string target = s.WorkingFilePath();
  SaveFile out(s.env(), s.ProgramDir, kScratchName, target);
  auto in = s.env().OpenExisting(target, false);
  RecordReader reader(*in);
  bool dropped = false;
  while (const unsigned char* rec = reader.Next()) {
    if (!removed(rec))
      out.Append(rec, kRec);
    else
      dropped = true;
  }
  if (append) out.Append(s.NewRecord.bytes.data(), kRec);
  in->Close();
  // Uncommitted, the scratch file goes and the working file stays.
  if (dropped || append) out.Commit();
  return dropped;
}

void RemoveOrphanText(Session& s, const std::string& name) {
  // The name comes from an entry's texts: it must not reach outside, nor
  // name one of the program's own files.
  if (!IsSafeTextName(s, name)) return;
  std::string textPath = s.PathInProgramDir(name);
  if (!s.env().FileExists(textPath)) return;

  StoreLock lock(s);
  auto in = s.env().OpenExisting(s.WorkingFilePath(), false);
  RecordReader reader(*in);
  bool used = false;
  while (const unsigned char* rec = reader.Next()) {
    std::memcpy(s.RemovedRecord.bytes.data(), rec, kRec);
    std::string owner(s.RemovedRecord.Text(ContactRecord::kName));
    owner += s.RemovedRecord.Text(ContactRecord::kSurname);
    if (UpperCaseText(Trim(owner)) == name) used = true;
  }
  in->Close();
  if (used) return;
  try {
    s.env().Remove(textPath);
  } catch (const IoError&) {
  }
}

}  // namespace velmora
