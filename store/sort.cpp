#include "store/sort.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <queue>

#include "platform/ioerror.h"
#include "platform/savefile.h"

namespace velmora {
namespace {

constexpr size_t kRec = ContactRecord::kSize;

struct Key {
  unsigned char len;
  char b[ContactRecord::kMaxSortKey];
};

Key KeyOf(const unsigned char* rec) {
  Key k;
  k.len = static_cast<unsigned char>(ContactRecord::SortKeyIn(rec, k.b).size());
  return k;
}

// Unsigned codes over the common length; then the shorter is the smaller.
bool Less(const Key& a, const Key& b) {
  int c = std::memcmp(a.b, b.b, std::min(a.len, b.len));
  return c < 0 || (c == 0 && a.len < b.len);
}

// Thrown when a part of the file that was taken to be in order is not.
struct NotSorted {};
// The change found no record to replace.
struct NothingMatched {};

// A stream of records in sort order, merged with others.
class Source {
 public:
  virtual ~Source() = default;
  // Moves to the next record; false when none is left.
  virtual bool Advance() = 0;
  // The record Advance moved to, and its key; valid until the next Advance.
  const unsigned char* rec() const { return rec_; }
  const Key& key() const { return key_; }

 protected:
  const unsigned char* rec_ = nullptr;
  Key key_{};
};

// Records [first, end) of a file. With verify, a record whose key is smaller
// than the one before throws NotSorted.
class FileSource final : public Source {
 public:
  FileSource(File& f, uint64_t first, uint64_t end, size_t blockRecords, bool verify)
      : reader_(f, first, end, blockRecords), verify_(verify) {}

  bool Advance() override {
    rec_ = reader_.Next();
    if (!rec_) return false;
    Key k = KeyOf(rec_);
    if (verify_ && started_ && Less(k, key_)) throw NotSorted{};
    key_ = k;
    started_ = true;
    return true;
  }

 private:
  RecordReader reader_;
  bool verify_;
  bool started_ = false;
};

// Records held in memory, visited in stable key order.
class MemorySource final : public Source {
 public:
  MemorySource(const unsigned char* base, size_t count) : base_(base), order_(count) {
    keys_.reserve(count);
    for (size_t i = 0; i < count; ++i) keys_.push_back(KeyOf(base + i * kRec));
    std::iota(order_.begin(), order_.end(), 0u);
    std::stable_sort(order_.begin(), order_.end(),
                     [this](uint32_t a, uint32_t b) { return Less(keys_[a], keys_[b]); });
  }

  bool Advance() override {
    if (next_ == order_.size()) return false;
    uint32_t i = order_[next_++];
    rec_ = base_ + size_t(i) * kRec;
    key_ = keys_[i];
    return true;
  }

  // Writes the records in order, a block at a time.
  void WriteTo(File& out, uint64_t offset) {
    std::vector<unsigned char> block(std::min(order_.size(), kBlockRecords) * kRec);
    size_t used = 0;
    while (Advance()) {
      std::memcpy(block.data() + used, rec_, kRec);
      used += kRec;
      if (used == block.size()) {
        out.WriteAt(offset, block.data(), used);
        offset += used;
        used = 0;
      }
    }
    if (used > 0) out.WriteAt(offset, block.data(), used);
  }

 private:
  const unsigned char* base_;
  std::vector<uint32_t> order_;
  std::vector<Key> keys_;
  size_t next_ = 0;
};

// Merges the sources; of equal keys the earlier source's record goes first,
// which keeps the order of a stable sort when sources are in file order.
void Merge(const std::vector<Source*>& sources, SaveFile& out) {
  auto after = [&](size_t a, size_t b) {
    if (Less(sources[b]->key(), sources[a]->key())) return true;
    if (Less(sources[a]->key(), sources[b]->key())) return false;
    return a > b;
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(after)> heads(after);
  for (size_t i = 0; i < sources.size(); ++i)
    if (sources[i]->Advance()) heads.push(i);
  while (!heads.empty()) {
    size_t i = heads.top();
    heads.pop();
    out.Append(sources[i]->rec(), kRec);
    if (sources[i]->Advance()) heads.push(i);
  }
}

void ReadExactly(File& f, uint64_t offset, unsigned char* buf, size_t n) {
  if (f.ReadAt(offset, buf, n) != n) throw IoError(IoError::kReadBeyondEnd);
}

// The bytes after the last whole record go to the end of the new file.
void CopyTail(File& in, uint64_t size, SaveFile& out) {
  size_t tail = size_t(size % kRec);
  if (tail == 0) return;
  unsigned char buf[kRec];
  ReadExactly(in, size - tail, buf, tail);
  out.Append(buf, tail);
}

void Finish(File& in, uint64_t size, SaveFile& out) {
  CopyTail(in, size, out);
  in.Close();
  out.Commit();
}

// The usual case: the file is in order up to a point near its end (records
// appended to a sorted file). Returns false when the file turns out not to
// be in order before that point.
bool SortNearlySorted(Session& s, File& in, const std::string& path, uint64_t size,
                      const SortOptions& opt) {
  const uint64_t n = size / kRec;
  const uint64_t start = n - std::min<uint64_t>(n, std::max<size_t>(opt.windowRecords, 2));
  std::vector<unsigned char> window(size_t(n - start) * kRec);
  ReadExactly(in, start * kRec, window.data(), window.size());

  uint64_t firstOutOfOrder = n;
  Key prev = KeyOf(window.data());
  for (uint64_t i = start + 1; i < n; ++i) {
    Key k = KeyOf(window.data() + (i - start) * kRec);
    if (Less(k, prev)) {
      firstOutOfOrder = i;
      break;
    }
    prev = k;
  }

  try {
    if (firstOutOfOrder == n) {
      // In order from start on; the part before must be checked as well.
      FileSource before(in, 0, start + 1, kBlockRecords, true);
      while (before.Advance()) {
      }
      return true;  // already in order: nothing is written
    }
    MemorySource rest(window.data() + (firstOutOfOrder - start) * kRec, n - firstOutOfOrder);
    FileSource sorted(in, 0, firstOutOfOrder, kBlockRecords, true);
    SaveFile out(s.env(), s.ProgramDir, kScratchName, path);
    Merge({&sorted, &rest}, out);
    Finish(in, size, out);
    return true;
  } catch (const NotSorted&) {
    return false;
  }
}

// Any order: sorted runs of chunkRecords go to an unnamed file, then one
// merge of all runs writes the scratch file. The records come from
// fill(buf, max), which yields up to max of them in file order, fewer only
// when it has run out, and at most maxRecords in all; the tail of in goes
// after them.
template <class Fill>
void SortExternally(Session& s, File& in, const std::string& path, uint64_t size,
                    const SortOptions& opt, uint64_t maxRecords, Fill&& fill) {
  const size_t chunk = std::max<size_t>(opt.chunkRecords, 1);
  std::vector<unsigned char> buf(size_t(std::min<uint64_t>(maxRecords, chunk)) * kRec);
  size_t count = fill(buf.data(), buf.size() / kRec);

  if (count < chunk || maxRecords <= chunk) {
    MemorySource src(buf.data(), count);
    SaveFile out(s.env(), s.ProgramDir, kScratchName, path);
    Merge({&src}, out);
    Finish(in, size, out);
    return;
  }

  auto runs = s.env().CreateAnonymous(s.ProgramDir);
  std::vector<std::pair<uint64_t, uint64_t>> bounds;
  for (uint64_t first = 0; count > 0; count = fill(buf.data(), chunk)) {
    MemorySource(buf.data(), count).WriteTo(*runs, first * kRec);
    bounds.emplace_back(first, first + count);
    first += count;
  }
  buf = {};  // the merge buffers take its place

  const size_t blockRecords = std::max<size_t>(opt.mergeBufferBytes / kRec / bounds.size(), 1);
  std::vector<std::unique_ptr<FileSource>> owned;
  std::vector<Source*> sources;
  for (auto [first, end] : bounds) {
    owned.push_back(std::make_unique<FileSource>(*runs, first, end, blockRecords, false));
    sources.push_back(owned.back().get());
  }
  SaveFile out(s.env(), s.ProgramDir, kScratchName, path);
  Merge(sources, out);
  owned.clear();
  runs->Close();
  Finish(in, size, out);
}

// The usual change: the kept records are in order, so the new record goes in
// before the first kept one with a greater key (after its equals, where a
// stable sort puts a record that came last) and all is written in one pass.
// Returns false, with nothing replaced, when a kept record turns out to be
// smaller than the one before it; throws NothingMatched, with nothing
// replaced, when needMatch and `removed` matched no record.
template <class Removed>
bool ReplaceInOnePass(Session& s, File& in, const std::string& path, uint64_t records,
                      const Removed& removed, bool needMatch) {
  const unsigned char* added = s.NewRecord.bytes.data();
  bool placed = false;
  // The kept record before, copied: the reader may reuse its buffer. Empty
  // texts make the empty key, which no key is smaller than.
  unsigned char prev[kRec] = {};

  SaveFile out(s.env(), s.ProgramDir, kScratchName, path);
  RecordReader reader(in, 0, records);
  bool matched = false;
  while (const unsigned char* rec = reader.Next()) {
    if (removed(rec)) {
      matched = true;
      continue;
    }
    if (ContactRecord::CompareSortKeys(rec, prev) < 0) return false;
    if (!placed && ContactRecord::CompareSortKeys(added, rec) < 0) {
      out.Append(added, kRec);
      placed = true;
    }
    out.Append(rec, kRec);
    std::memcpy(prev, rec, kRec);
  }
  if (needMatch && !matched) throw NothingMatched{};
  if (!placed) out.Append(added, kRec);
  in.Close();
  out.Commit();
  return true;
}

}  // namespace

void SortDataFile(Session& s, const SortOptions& options) {
  StoreLock lock(s);
  const std::string path = s.WorkingFilePath();
  auto in = s.env().OpenExisting(path, false);
  const uint64_t size = in->Size();
  const uint64_t n = size / kRec;
  if (n >= 2 && !SortNearlySorted(s, *in, path, size, options)) {
    uint64_t next = 0;
    SortExternally(s, *in, path, size, options, n, [&](unsigned char* buf, size_t max) {
      const size_t count = size_t(std::min<uint64_t>(max, n - next));
      if (count > 0) ReadExactly(*in, next * kRec, buf, count * kRec);
      next += count;
      return count;
    });
  }
  in->Close();
}

namespace {

// The records of the working file, less those `removed` matches, with
// NewRecord at its sorted place, written once. With tailAllowed an
// incomplete tail is left out, as an append over it would; else it fails
// before anything is written. With needMatch, a file where `removed`
// matches nothing is not written: the result is false.
template <class Removed>
bool ReplaceMatching(Session& s, const SortOptions& options, const Removed& removed,
                     bool tailAllowed, bool needMatch) {
  StoreLock lock(s);
  const std::string path = s.WorkingFilePath();
  auto in = s.env().OpenExisting(path, false);
  const uint64_t size = in->Size();
  // The rewrite would fail on reaching the tail: fail before writing at all.
  if (size % kRec != 0 && !tailAllowed) throw IoError(IoError::kReadBeyondEnd, path);
  const uint64_t records = size / kRec;

  try {
    if (!ReplaceInOnePass(s, *in, path, records, removed, needMatch)) {
      // The same records in the same order as the rewrite would leave them,
      // the new one last, so that a stable sort gives the same bytes. The
      // whole file is read before the scratch file is made.
      RecordReader reader(*in, 0, records);
      bool addedGiven = false, matched = false;
      SortExternally(s, *in, path, records * kRec, options, records + 1,
                     [&](unsigned char* buf, size_t max) {
                       size_t count = 0;
                       while (count < max) {
                         const unsigned char* rec = reader.Next();
                         if (!rec) {
                           if (addedGiven) break;
                           if (needMatch && !matched) throw NothingMatched{};
                           rec = s.NewRecord.bytes.data();
                           addedGiven = true;
                         } else if (removed(rec)) {
                           matched = true;
                           continue;
                         }
                         std::memcpy(buf + count * kRec, rec, kRec);
                         ++count;
                       }
                       return count;
                     });
    }
  } catch (const NothingMatched&) {
    in->Close();
    return false;
  }
  in->Close();
  return true;
}

}  // namespace

bool ReplaceRecord(Session& s, const SortOptions& options) {
  return ReplaceMatching(s, options, SameRecordAs(s.RemovedRecord), false, true);
}

void InsertRecord(Session& s, const SortOptions& options) {
  ReplaceMatching(
      s, options, [](const unsigned char*) { return false; }, true, false);
}

uint64_t InsertRecords(Session& s, const std::function<bool(ContactRecord&)>& next,
                       const SortOptions& options, bool createMissing, uint64_t* tailDropped) {
  if (tailDropped) *tailDropped = 0;
  // A file that cannot be changed is refused before the input is read.
  {
    const std::string path = s.WorkingFilePath();
    if (!createMissing && !s.env().FileExists(path)) throw IoError(IoError::kFileNotFound, path);
    s.env().CheckWritable(path);
  }

  // The added records, before the lock is taken: however long `next` takes
  // (a slow pipe), other instances go on meanwhile. They become sorted
  // chunks, every full one parked as a run.
  const size_t chunk = std::max<size_t>(options.chunkRecords, 1);
  std::vector<unsigned char> last;
  size_t inLast = 0;
  std::unique_ptr<File> runs;
  std::vector<std::pair<uint64_t, uint64_t>> bounds;
  uint64_t added = 0;
  ContactRecord rec;
  while (next(rec)) {
    if (inLast == chunk) {
      if (!runs) runs = s.env().CreateAnonymous(s.ProgramDir);
      const uint64_t first = bounds.empty() ? 0 : bounds.back().second;
      MemorySource(last.data(), inLast).WriteTo(*runs, first * kRec);
      bounds.emplace_back(first, first + inLast);
      inLast = 0;
    }
    // Grown by doubling, so a small import holds little.
    if (last.size() < (inLast + 1) * kRec)
      last.resize(std::min(std::max<size_t>(last.size() * 2, 64 * kRec), chunk * kRec));
    std::memcpy(last.data() + inLast * kRec, rec.bytes.data(), kRec);
    ++inLast;
    ++added;
  }
  if (added == 0) return 0;

  StoreLock lock(s);
  const std::string path = s.WorkingFilePath();
  std::unique_ptr<File> in;
  if (!createMissing || s.env().FileExists(path))
    in = s.env().OpenExisting(path, false);
  else
    ForgetSyncStates(s, path.substr(path.rfind('/') + 1));  // of an earlier file of the name
  // An incomplete tail goes, as the first append would overwrite it.
  const uint64_t size = in ? in->Size() : 0;
  const uint64_t records = size / kRec;
  if (tailDropped) *tailDropped = size % kRec;

  // The file in order, as every change leaves it: one merge of the file and
  // the runs. Of equal keys the file's records come first, then the added
  // ones in the order given, which is where a stable sort puts them.
  const size_t runBlock =
      std::max<size_t>(options.mergeBufferBytes / kRec / std::max<size_t>(bounds.size(), 1), 1);
  try {
    std::vector<std::unique_ptr<Source>> owned;
    if (records > 0)
      owned.push_back(std::make_unique<FileSource>(*in, 0, records, kBlockRecords, true));
    for (auto [first, end] : bounds)
      owned.push_back(std::make_unique<FileSource>(*runs, first, end, runBlock, false));
    owned.push_back(std::make_unique<MemorySource>(last.data(), inLast));
    std::vector<Source*> sources;
    for (auto& o : owned) sources.push_back(o.get());
    SaveFile out(s.env(), s.ProgramDir, kScratchName, path);
    Merge(sources, out);
    owned.clear();
    if (runs) runs->Close();
    if (in) in->Close();
    out.Commit();
    return added;
  } catch (const NotSorted&) {
  }

  // Out of order (only a file there before can be): everything sorted anew,
  // the file's records first, then the added ones, which the runs still hold
  // in the order given wherever keys are equal.
  RecordReader fromFile(*in, 0, records);
  std::unique_ptr<RecordReader> fromRuns;
  if (runs) fromRuns = std::make_unique<RecordReader>(*runs, 0, bounds.back().second, runBlock);
  size_t fromLast = 0;
  SortExternally(s, *in, path, records * kRec, options, records + added,
                 [&](unsigned char* buf, size_t max) {
                   size_t count = 0;
                   for (; count < max; ++count) {
                     const unsigned char* r = fromFile.Next();
                     if (!r && fromRuns) r = fromRuns->Next();
                     if (!r && fromLast < inLast) r = last.data() + kRec * fromLast++;
                     if (!r) break;
                     std::memcpy(buf + count * kRec, r, kRec);
                   }
                   return count;
                 });
  // The file is replaced and `in` closed by now: the unnamed runs go quietly.
  runs.reset();
  return added;
}

}  // namespace velmora
