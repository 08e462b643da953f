#pragma once
// The rows of the result grid. A search can match a million entries, so a
// row is kept as its five texts packed back to back (a length byte and the
// single-byte characters each) in one arena, and turned into a QString only
// when the view asks for a visible cell.
//
// Rows here count from 0; the grid's own numbering, with the header as row 0
// and data rows from 1, is the window's business. There is always at least
// one row once a fill has ended: the message row when nothing matched.

#include <QAbstractTableModel>
#include <string>
#include <string_view>
#include <vector>

#include "store/contactrecord.h"

namespace velmora {

class ResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 5;
  static constexpr char kNoMatch[] = "No matching entries found.";

  explicit ResultModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

  // Replaces every row by those added while it lives. The view is told once,
  // when it ends, also when the reading fails half way: the rows found so far
  // stay, and the message row stands in when there were none.
  class Fill {
   public:
    explicit Fill(ResultModel& model);
    ~Fill();
    Fill(const Fill&) = delete;
    Fill& operator=(const Fill&) = delete;
    void Add(const unsigned char* record);

   private:
    ResultModel& model_;
  };

  // True for the message row, which stands for no entry whatever its texts.
  bool IsMessageRow(int row) const { return noMatch_ && row == 0; }
  // The stored text of a cell, as in the record.
  std::string_view Cell(int row, ContactRecord::Field field) const;
  RecordTexts Texts(int row) const;
  void SetTexts(int row, const RecordTexts& texts);

 private:
  void AppendRow(const RecordTexts& texts);

  std::string arena_;           // every row's packed texts
  std::vector<size_t> starts_;  // where each row begins in the arena
  bool noMatch_ = false;        // the one row is the message row
};

}  // namespace velmora
