#include "testlistmodel.h"

TestListModel::TestListModel(const QStringList &roles, bool lateRoles, QObject *parent)
    : QAbstractListModel(parent), m_roles(roles), m_lateRoles(lateRoles)
{
}

int TestListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant TestListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int column = role - Qt::UserRole - 1;
    if (column < 0 || column >= m_roles.size())
        return {};
    return m_rows.at(index.row()).value(column);
}

bool TestListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const int column = role - Qt::UserRole - 1;
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || column < 0 || column >= m_roles.size())
        return false;
    m_rows[index.row()].resize(m_roles.size());
    m_rows[index.row()][column] = value;
    emit dataChanged(index, index, {role});
    return true;
}

QHash<int, QByteArray> TestListModel::roleNames() const
{
    QHash<int, QByteArray> names;
    if (m_lateRoles && m_rows.isEmpty())
        return names;
    for (int i = 0; i < m_roles.size(); ++i)
        names.insert(Qt::UserRole + 1 + i, m_roles.at(i).toUtf8());
    return names;
}

int TestListModel::role(const QString &name) const
{
    const int i = m_roles.indexOf(name);
    return i < 0 ? -1 : Qt::UserRole + 1 + i;
}

void TestListModel::append(const Row &row)
{
    insert(m_rows.size(), {row});
}

void TestListModel::insert(int position, const QVector<Row> &rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows({}, position, position + rows.size() - 1);
    for (int i = 0; i < rows.size(); ++i)
        m_rows.insert(position + i, rows.at(i));
    endInsertRows();
}

void TestListModel::remove(int position, int count)
{
    beginRemoveRows({}, position, position + count - 1);
    m_rows.remove(position, count);
    endRemoveRows();
}

void TestListModel::move(int from, int to)
{
    // `to` is the destination row after the move.
    const int destination = to > from ? to + 1 : to;
    if (!beginMoveRows({}, from, from, {}, destination))
        return;
    m_rows.move(from, to);
    endMoveRows();
}

void TestListModel::set(int row, const QString &roleName, const QVariant &value)
{
    setData(index(row, 0), value, role(roleName));
}

void TestListModel::reset(const QVector<Row> &rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void TestListModel::resetWithRoles(const QStringList &roles, const QVector<Row> &rows)
{
    beginResetModel();
    m_roles = roles;
    m_rows = rows;
    endResetModel();
}
