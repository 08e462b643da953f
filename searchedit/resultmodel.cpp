#include "searchedit/resultmodel.h"

#include <algorithm>

#include "platform/codepage.h"

namespace velmora {
namespace {

constexpr const char* kHeaders[ResultModel::kColumns] = {"NAME", "SURNAME", "PHONE1", "PHONE2",
                                                         "COMMENTS"};

void PackText(std::string& out, std::string_view text, size_t capacity) {
  const size_t n = std::min(text.size(), capacity);
  out.push_back(char(n));
  out.append(text.data(), n);
}

}  // namespace

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

int ResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(starts_.size());
}

int ResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

std::string_view ResultModel::Cell(int row, ContactRecord::Field field) const {
  const char* p = arena_.data() + starts_[size_t(row)];
  for (int f = 0; f < int(field); ++f) p += 1 + static_cast<unsigned char>(*p);
  return {p + 1, static_cast<unsigned char>(*p)};
}

QVariant ResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) return {};
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  return FromCodePage(Cell(index.row(), ContactRecord::Field(index.column())));
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  return QString::fromLatin1(kHeaders[section]);
}

Qt::ItemFlags ResultModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool ResultModel::removeRows(int row, int count, const QModelIndex& parent) {
  if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount()) return false;
  beginRemoveRows({}, row, row + count - 1);
  // The arena keeps the dropped texts until the next fill; only the index
  // moves, which is one memmove whatever the texts.
  starts_.erase(starts_.begin() + row, starts_.begin() + row + count);
  endRemoveRows();
  return true;
}

RecordTexts ResultModel::Texts(int row) const {
  auto s = [&](ContactRecord::Field f) { return std::string(Cell(row, f)); };
  return {s(ContactRecord::kName), s(ContactRecord::kSurname), s(ContactRecord::kPhone1),
          s(ContactRecord::kPhone2), s(ContactRecord::kComments)};
}

void ResultModel::SetTexts(int row, const RecordTexts& texts) {
  // The new texts go to the arena's end; the old ones stay unused until the
  // next fill.
  const size_t at = arena_.size();
  AppendRow(texts);
  starts_.pop_back();
  starts_[size_t(row)] = at;
  emit dataChanged(index(row, 0), index(row, kColumns - 1));
}

void ResultModel::AppendRow(const RecordTexts& t) {
  starts_.push_back(arena_.size());
  PackText(arena_, t.name, ContactRecord::kCapacity[ContactRecord::kName]);
  PackText(arena_, t.surname, ContactRecord::kCapacity[ContactRecord::kSurname]);
  PackText(arena_, t.phone1, ContactRecord::kCapacity[ContactRecord::kPhone1]);
  PackText(arena_, t.phone2, ContactRecord::kCapacity[ContactRecord::kPhone2]);
  PackText(arena_, t.comments, ContactRecord::kCapacity[ContactRecord::kComments]);
}

ResultModel::Fill::Fill(ResultModel& model) : model_(model) {
  model_.beginResetModel();
  model_.arena_.clear();
  model_.starts_.clear();
  model_.noMatch_ = false;
}

ResultModel::Fill::~Fill() {
  model_.noMatch_ = model_.starts_.empty();
  if (model_.noMatch_) model_.AppendRow({"", "", "", "", kNoMatch});
  model_.endResetModel();
}

void ResultModel::Fill::Add(const unsigned char* record) {
  model_.starts_.push_back(model_.arena_.size());
  for (int f = 0; f < kColumns; ++f) {
    const auto field = ContactRecord::Field(f);
    const std::string_view text = ContactRecord::TextIn(record, field);
    model_.arena_.push_back(char(text.size()));
    model_.arena_.append(text.data(), text.size());
  }
}

}  // namespace velmora
