#include "exchange/exchange.h"

#include <QByteArray>
#include <QTextDocument>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>

#include "exchange/csv.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "platform/richtext.h"
#include "platform/text.h"
#include "store/datafile.h"
#include "store/extratext.h"

namespace velmora {
namespace {

constexpr size_t kFlushBytes = 1u << 20;

// Passes blocks to `write` on a thread of its own, one at a time and in
// order, so that the output's copy into the kernel overlaps the making of
// the next block. A failed write is rethrown to the caller at its next
// call, before any later block is taken.
class BackgroundWriter {
 public:
  explicit BackgroundWriter(const std::function<void(std::string_view)>& write)
      : write_(write), thread_([this] { Run(); }) {}
  ~BackgroundWriter() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Hands over a block that must stay as it is until the next call of
  // Write or Wait, which waits for it to be written.
  void Write(std::string_view block) {
    Wait();
    {
      std::lock_guard lock(mutex_);
      pending_ = block;
      busy_ = true;
    }
    changed_.notify_all();
  }
  // Waits until every block handed over is written.
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return busy_ || stop_; });
      if (!busy_) return;
      lock.unlock();
      std::exception_ptr error;
      try {
        write_(pending_);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      error_ = error;
      busy_ = false;
      changed_.notify_all();
    }
  }

  const std::function<void(std::string_view)>& write_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string_view pending_;   // the block being written while busy_
  bool busy_ = false;          // a block is handed over and not yet written
  bool stop_ = false;          // no more blocks: the thread ends
  std::exception_ptr error_;   // a failed write, until the caller takes it
  std::thread thread_;         // last: starts once the rest is set up
};

// The extra texts of the data folder, looked up without a file step per
// entry: the folder is listed once, and a name found in the list is then
// read as the viewer reads it. Names are kept upper-cased, as they are
// matched without regard to case.
class ExtraTexts {
 public:
  explicit ExtraTexts(Session& s) : s_(s) {
    for (const DirEntry& e : s.env().ListDir(s.ProgramDir)) {
      if (!e.regular) continue;
      const std::string name = Utf8ToCp1252(e.name);
      if (Cp1252ToUtf8(name) == e.name && IsSafeTextName(s, name)) names_.insert(UpperCase(name));
    }
  }

  // The entry's extra text as plain UTF-8, if it has one.
  std::optional<std::string> Of(std::string_view name, std::string_view surname,
                                ExportSummary& summary) {
    if (names_.empty()) return std::nullopt;
    // The name the viewer forms, upper-cased to look it up.
    const std::string file = ViewerTextName(std::string(name), std::string(surname));
    key_.assign(file);
    for (char& c : key_) c = UpperChar(c);
    if (file.empty() || !names_.count(key_) || !IsSafeTextName(s_, file)) return std::nullopt;
    try {
      const std::string bytes = LoadExtraText(s_, file);
      QTextDocument doc;
      if (LoadNote(QByteArray::fromStdString(bytes), doc) == NoteLoad::kFailed)
        throw AppError("Failed to Load Stream");
      ++summary.extraTexts;
      return doc.toPlainText().toStdString();
    } catch (const AppError&) {
      ++summary.extraTextsFailed;
      return std::nullopt;
    }
  }

 private:
  Session& s_;
  std::unordered_set<std::string> names_;
  std::string key_;
};

}  // namespace

ImportSummary ImportEntries(Session& s, EntryReader& reader, bool createMissing,
                            const SortOptions& options) {
  ImportSummary summary;
  ExchangeEntry entry;
  summary.added = InsertRecords(
      s,
      [&](ContactRecord& rec) {
        if (!reader.Next(entry)) return false;
        rec = ContactRecord{};
        rec.SetTexts(ToRecordTexts(entry, summary.counts));
        return true;
      },
      options, createMissing);
  return summary;
}

ExportSummary ExportEntries(Session& s, ExchangeFormat format,
                            const std::function<void(std::string_view)>& write) {
  ExportSummary summary;
  std::optional<ExtraTexts> extra;
  if (format == ExchangeFormat::kVcard) extra.emplace(s);
  // Entries are written straight into a block, with room for the largest;
  // a full block goes out while the next one is filled.
  const size_t room = std::max(kMaxCardBytes, kMaxCsvRowBytes);
  std::unique_ptr<char[]> blocks[2] = {std::make_unique_for_overwrite<char[]>(kFlushBytes + room),
                                       std::make_unique_for_overwrite<char[]>(kFlushBytes + room)};
  int filling = 0;
  char* w = blocks[0].get();
  BackgroundWriter writer(write);
  auto flush = [&] {
    writer.Write(std::string_view(blocks[filling].get(), size_t(w - blocks[filling].get())));
    filling ^= 1;
    w = blocks[filling].get();
  };
  if (format == ExchangeFormat::kCsv) {
    std::string header;
    AppendCsvHeader(header);
    w = Put(w, header);
  }
  ReadWorkingFile(
      s, [](uint64_t) {},
      [&](RecordView r) {
        // A copy with room after it, for the writers' word-at-a-time way.
        alignas(8) char copy[ContactRecord::kSize + kSlack];
        std::memcpy(copy, r.bytes(), ContactRecord::kSize);
        TextsView t(RecordView(reinterpret_cast<const unsigned char*>(copy)));
        t.slack = true;
        if (format == ExchangeFormat::kCsv) {
          w = PutCsvRow(w, t);
        } else if (std::optional<std::string> note = extra->Of(t.name, t.surname, summary)) {
          std::string card;
          AppendVcard(card, t, note);
          flush();
          writer.Write(card);
          writer.Wait();
        } else {
          w = PutVcard(w, t);
        }
        ++summary.entries;
        if (size_t(w - blocks[filling].get()) >= kFlushBytes) flush();
      });
  if (w != blocks[filling].get()) flush();
  writer.Wait();
  return summary;
}

}  // namespace velmora
