#pragma once

#include "app/singleton.h"
#include "repo/objview.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QList>

#include <memory>

// The list model of every stored view. Views are only ever appended, by the
// defish window and by the import restoring saved views; a stream holds at most
// one view of each name.
class RepoObjViews : public QAbstractListModel, public Singleton<RepoObjViews>
{
    Q_OBJECT

public:
    enum Roles {
        ViewIsActiveRole = Qt::UserRole + 1,
        ViewNameRole,
        ViewObjectSerialRole,
        ViewRollRole,
        ViewTiltRole,
        ViewPanRole,
        ViewZoomRole,
    };

    using ViewPtr = std::shared_ptr<ObjView>;

    explicit RepoObjViews(QObject *parent = nullptr);
    ~RepoObjViews() override;

    const QList<ViewPtr> &views() const { return m_views; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QHash<int, QByteArray> roleNames() const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

public slots:
    bool appendView(const QString &name, const QString &objSerial, float roll, float tilt, float pan, float zoom);

private:
    QHash<int, QByteArray> m_roleNames;
    QList<ViewPtr> m_views;
    // stream serial -> view name -> view
    QHash<QString, QHash<QString, ViewPtr>> m_viewsByName;
};
