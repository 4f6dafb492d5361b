#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QVector>

// A small editable list model for the proxy tests: roles numbered from
// Qt::UserRole + 1 in the order given, rows of plain values. With `lateRoles`
// it publishes no role names until it holds a row, like a QML ListModel.
class TestListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using Row = QVector<QVariant>;

    explicit TestListModel(const QStringList &roles, bool lateRoles = false, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QHash<int, QByteArray> roleNames() const override;

    int role(const QString &name) const;
    void append(const Row &row);
    void insert(int position, const QVector<Row> &rows);
    void remove(int position, int count = 1);
    void move(int from, int to);
    void set(int row, const QString &roleName, const QVariant &value);
    void reset(const QVector<Row> &rows);
    void resetWithRoles(const QStringList &roles, const QVector<Row> &rows);

private:
    QStringList m_roles;
    bool m_lateRoles;
    QVector<Row> m_rows;
};
