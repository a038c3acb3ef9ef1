// The rows of the main window's list: its own copy of the names and the
// user's in-place edits of them.
#pragma once

#include <QAbstractTableModel>
#include <QHash>

#include "uHelper.h"

class TNameModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Replaces every row by a copy of `names`; edits are dropped.
  void Assign(const kestrove::TNameList& names);
  void Clear();

  // The caption of row `row` as shown: the edited text, or the name.
  QString Caption(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  kestrove::TNameList names_;
  QHash<int, QString> edits_;
};
