#include "benchrowsmodel.h"

BenchRowsModel::BenchRowsModel(int rows, QObject *parent) : QAbstractListModel(parent)
{
    m_kind.resize(rows);
    m_group.resize(rows);
    for (int i = 0; i < rows; ++i) {
        // Interleaved like gateways and their streams: kinds alternate row by
        // row, groups in runs of seven.
        m_kind[i] = i % 3;
        m_group[i] = (i / 7) % 2;
    }
}

int BenchRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_kind.size();
}

QVariant BenchRowsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_kind.size())
        return {};
    switch (role) {
    case KindRole:
        return m_kind.at(index.row());
    case GroupRole:
        return m_group.at(index.row());
    default:
        return {};
    }
}

QHash<int, QByteArray> BenchRowsModel::roleNames() const
{
    return {{KindRole, "kind"}, {GroupRole, "group"}};
}

void BenchRowsModel::setGroup(int row, int group)
{
    m_group[row] = group;
    const QModelIndex i = index(row, 0);
    emit dataChanged(i, i, {GroupRole});
}
