#include "repo/streamviews.h"

#include "repo/repobjviews.h"

#include <algorithm>

StreamViews::StreamViews(QObject *parent) : QAbstractListModel(parent), m_source(RepoObjViews::instance())
{
    if (!m_source)
        return;
    connect(m_source, &QAbstractItemModel::rowsInserted, this, &StreamViews::onRowsInserted);
    connect(m_source, &QAbstractItemModel::dataChanged, this, &StreamViews::onDataChanged);
    connect(m_source, &QAbstractItemModel::modelReset, this, &StreamViews::reload);
    connect(m_source, &QAbstractItemModel::layoutChanged, this, &StreamViews::reload);
    connect(m_source, &QAbstractItemModel::rowsRemoved, this, &StreamViews::reload);
    connect(m_source, &QObject::destroyed, this, &StreamViews::reload);
}

StreamViews::~StreamViews() = default;

void StreamViews::setObjectSerial(const QString &serial)
{
    if (m_serial == serial)
        return;
    m_serial = serial;
    reload();
    emit objectSerialChanged();
}

int StreamViews::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QHash<int, QByteArray> StreamViews::roleNames() const
{
    return m_source ? m_source->roleNames() : QHash<int, QByteArray>();
}

QModelIndex StreamViews::sourceIndex(int row) const
{
    if (!m_source || row < 0 || row >= m_rows.size())
        return QModelIndex();
    return m_source->index(m_rows.at(row), 0);
}

QVariant StreamViews::data(const QModelIndex &index, int role) const
{
    const QModelIndex source = sourceIndex(index.row());
    return source.isValid() ? m_source->data(source, role) : QVariant();
}

bool StreamViews::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const QModelIndex source = sourceIndex(index.row());
    return source.isValid() && m_source->setData(source, value, role);
}

void StreamViews::reload()
{
    const int before = m_rows.size();
    beginResetModel();
    m_rows = m_source && !m_serial.isEmpty() ? m_source->rowsOf(m_serial) : QVector<int>();
    endResetModel();
    if (m_rows.size() != before)
        emit countChanged();
}

// Views are only appended, so this stream's new rows are the tail of its index.
void StreamViews::onRowsInserted(const QModelIndex &, int first, int last)
{
    if (last != m_source->rowCount() - 1) {
        reload();
        return;
    }
    const QVector<int> rows = m_source->rowsOf(m_serial);
    const auto from = std::lower_bound(rows.cbegin(), rows.cend(), first);
    const int added = int(rows.cend() - from);
    if (added == 0)
        return;
    const int row = m_rows.size();
    beginInsertRows(QModelIndex(), row, row + added - 1);
    for (auto it = from; it != rows.cend(); ++it)
        m_rows.append(*it);
    endInsertRows();
    emit countChanged();
}

void StreamViews::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles)
{
    const auto from = std::lower_bound(m_rows.cbegin(), m_rows.cend(), topLeft.row());
    const auto to = std::upper_bound(from, m_rows.cend(), bottomRight.row());
    if (from == to)
        return;
    emit dataChanged(index(int(from - m_rows.cbegin()), 0), index(int(to - m_rows.cbegin()) - 1, 0), roles);
}
