#include "NameModel.h"

void TNameModel::Assign(const kestrove::TNameList& names) {
  beginResetModel();
  names_ = names;
  edits_.clear();
  endResetModel();
}

void TNameModel::Clear() {
  beginResetModel();
  names_.Clear();
  edits_.clear();
  endResetModel();
}

QString TNameModel::Caption(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= names_.Count()) return {};
  if (const auto it = edits_.constFind(row); it != edits_.constEnd()) return *it;
  const std::string_view name = names_[static_cast<std::size_t>(row)];
  return QString::fromLocal8Bit(name.data(), static_cast<qsizetype>(name.size()));
}

int TNameModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(names_.Count());
}

int TNameModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TNameModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    if (index.column() == 0) return Caption(index.row());
    return QString::number(index.row() + 1);
  }
  if (role == Qt::TextAlignmentRole) {
    return index.column() == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                               : QVariant(Qt::AlignCenter);
  }
  return {};
}

bool TNameModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::EditRole) return false;
  edits_.insert(index.row(), value.toString());
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

QVariant TNameModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    return section == 0 ? QStringLiteral("Name:") : QStringLiteral("Ordinal:");
  }
  if (role == Qt::TextAlignmentRole) {
    return section == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
  }
  return {};
}

Qt::ItemFlags TNameModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsEditable;
  return f;
}
