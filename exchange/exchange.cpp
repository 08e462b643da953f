#include "exchange/exchange.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_set>

#include "exchange/csv.h"
#include "exchange/vcard.h"
#include "platform/codepage.h"
#include "platform/richtext.h"
#include "platform/text.h"
#include "store/datafile.h"
#include "store/extratext.h"
#include "store/startup.h"

namespace velmora {
namespace {

static_assert(kRecordSlack >= kSlack,
              "the writers test texts a word at a time in the reader's buffer");

constexpr size_t kFlushBytes = 1u << 20;

// The extra texts of the data folder, looked up without a file step per
// entry: the folder is listed once, and a name found in the list is then
// read as the viewer reads it. Names are kept upper-cased, as they are
// matched without regard to case.
class ExtraTexts {
 public:
  explicit ExtraTexts(Session& s) : s_(s) {
    for (const DirEntry& e : s.env().ListDir(s.ProgramDir)) {
      if (!e.regular) continue;
      const std::string name = Utf8ToCodePage(e.name);
      if (CodePageToUtf8(name) == e.name && IsSafeTextName(s, name)) names_.insert(UpperCaseText(name));
    }
  }

  // The entry's extra text as plain UTF-8, if it has one.
  std::optional<std::string> Of(std::string_view name, std::string_view surname,
                                ExportSummary& summary) {
    if (names_.empty()) return std::nullopt;
    // The name the viewer forms, upper-cased to look it up.
    const std::string file = ViewerTextName(std::string(name), std::string(surname));
    key_.assign(file);
    UpperCaseTextIn(key_.data(), key_.size());
    if (file.empty() || !names_.count(key_) || !IsSafeTextName(s_, file)) return std::nullopt;
    try {
      const std::string bytes = LoadExtraText(s_, file);
      // Without a document: one holds hundreds of bytes for each of a
      // note's paragraphs, and a note may hold millions of them.
      const std::optional<QString> text =
          LoadNotePlainText(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())));
      if (!text) throw AppError("Failed to Load Stream");
      ++summary.extraTexts;
      return text->toStdString();
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
        for (;;) {
          if (!reader.Next(entry)) return false;
          const RecordTexts texts = ToRecordTexts(entry, summary.counts);
          if (ShowsNothing(texts)) {
            ++summary.skipped;
            continue;
          }
          rec = ContactRecord{};
          rec.SetTexts(texts);
          return true;
        }
      },
      options, createMissing, &summary.tailDropped);
  return summary;
}

ExportSummary ExportEntries(Session& s, ExchangeFormat format,
                            const std::function<void(std::string_view)>& out) {
  // Vietnamese texts hold letters as a letter and its tone mark; other
  // programs expect them composed. The blocks end between entries, so no
  // pair is split.
  const std::function<void(std::string_view)> composed = [&out](std::string_view b) {
    const QByteArray c = QString::fromUtf8(b.data(), qsizetype(b.size()))
                             .normalized(QString::NormalizationForm_C)
                             .toUtf8();
    out(std::string_view(c.constData(), size_t(c.size())));
  };
  const auto& write = TextCodePage().number() == 1258 ? composed : out;
  ExportSummary summary;
  std::optional<ExtraTexts> extra;
  if (format == ExchangeFormat::kVcard) extra.emplace(s);
  // Entries are written straight into one block, with room for the
  // largest, and the block goes out whenever it is full.
  const size_t room = std::max(kMaxCardBytes, kMaxCsvRowBytes);
  const auto block = std::make_unique_for_overwrite<char[]>(kFlushBytes + room);
  char* w = block.get();
  auto flush = [&] {
    write(std::string_view(block.get(), size_t(w - block.get())));
    w = block.get();
  };
  if (format == ExchangeFormat::kCsv) {
    std::string header;
    AppendCsvHeader(header);
    w = Put(w, header);
  }
  auto each = [&](RecordView r) {
    TextsView t(r);
    t.slack = true;  // the reader's records have room after them
    if (format == ExchangeFormat::kCsv) {
      w = PutCsvRow(w, t);
    } else if (std::optional<std::string> note = extra->Of(t.name, t.surname, summary)) {
      std::string card;
      AppendVcard(card, t, note);
      flush();
      write(card);
    } else {
      w = PutVcard(w, t);
    }
    ++summary.entries;
    if (size_t(w - block.get()) >= kFlushBytes) flush();
  };
  if (IsSampleFile(s)) {
    unsigned char sample[ContactRecord::kSize + kRecordSlack] = {};
    std::memcpy(sample, SampleRecord().bytes.data(), ContactRecord::kSize);
    each(RecordView(sample));
  } else {
    auto in = s.env().OpenExisting(s.WorkingFilePath(), false);
    const uint64_t size = in->Size();
    RecordReader reader(*in, 0, size / ContactRecord::kSize);
    while (const unsigned char* rec = reader.Next()) each(RecordView(rec));
    in->Close();
    summary.tailLeftOut = size % ContactRecord::kSize;
  }
  if (w != block.get()) flush();
  return summary;
}

}  // namespace velmora
