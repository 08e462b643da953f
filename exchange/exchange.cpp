#include "exchange/exchange.h"

#include <QByteArray>
#include <QTextDocument>
#include <optional>
#include <unordered_set>

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
    const std::string file = ViewerTextName(std::string(name), std::string(surname));
    if (file.empty() || !names_.count(UpperCase(file)) || !IsSafeTextName(s_, file))
      return std::nullopt;
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
  std::string out;
  out.reserve(kFlushBytes + 4096);
  if (format == ExchangeFormat::kCsv) AppendCsvHeader(out);
  ReadWorkingFile(
      s, [](uint64_t) {},
      [&](RecordView r) {
        RecordTexts t{std::string(r.Text(ContactRecord::kName)),
                      std::string(r.Text(ContactRecord::kSurname)),
                      std::string(r.Text(ContactRecord::kPhone1)),
                      std::string(r.Text(ContactRecord::kPhone2)),
                      std::string(r.Text(ContactRecord::kComments))};
        if (format == ExchangeFormat::kCsv)
          AppendCsvRow(out, t);
        else
          AppendVcard(out, t, extra->Of(t.name, t.surname, summary));
        ++summary.entries;
        if (out.size() >= kFlushBytes) {
          write(out);
          out.clear();
        }
      });
  if (!out.empty()) write(out);
  return summary;
}

}  // namespace velmora
