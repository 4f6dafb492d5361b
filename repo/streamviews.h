#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QString>
#include <QVector>

class RepoObjViews;

// The views of one stream, in the order of the view model: a live window onto
// RepoObjViews through its per-stream row index. A stream row of the main window
// costs what its own views cost, never a pass over every view of the site.
// Roles, and writes of viewIsActive, are those of RepoObjViews.
class StreamViews : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString objectSerial READ objectSerial WRITE setObjectSerial NOTIFY objectSerialChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    // Shows the views of the RepoObjViews instance that exists at construction.
    explicit StreamViews(QObject *parent = nullptr);
    ~StreamViews() override;

    QString objectSerial() const { return m_serial; }
    void setObjectSerial(const QString &serial);
    int count() const { return m_rows.size(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QHash<int, QByteArray> roleNames() const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    void objectSerialChanged();
    void countChanged();

private:
    QModelIndex sourceIndex(int row) const;
    void reload();
    void onRowsInserted(const QModelIndex &parent, int first, int last);
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles);

    QPointer<RepoObjViews> m_source;
    QString m_serial;
    QVector<int> m_rows; // rows of the source, ascending
};
