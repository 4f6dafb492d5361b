#pragma once

#include <QAbstractListModel>
#include <QVector>

// A read-mostly list of N rows with two integer roles, `kind` and `group`,
// stored column-wise so that data() costs what a real model's would.
class BenchRowsModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles { KindRole = Qt::UserRole + 1, GroupRole };

    explicit BenchRowsModel(int rows, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setGroup(int row, int group);

private:
    QVector<int> m_kind;
    QVector<int> m_group;
};
