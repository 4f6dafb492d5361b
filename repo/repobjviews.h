#pragma once

#include "app/singleton.h"
#include "repo/objview.h"
#include "repo/viewinfo.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QVariantMap>
#include <QVector>

#include <memory>

// The list model of every stored view. Views are appended by the defish window
// and by the import restoring saved views, and edited, renamed or removed by the
// operator; a stream holds at most one view of each name.
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
        ViewModeRole,
        ViewLayoutRole,
    };

    using ViewPtr = std::shared_ptr<ObjView>;

    explicit RepoObjViews(QObject *parent = nullptr);
    ~RepoObjViews() override;

    const QList<ViewPtr> &views() const { return m_views; }
    // Rows of one stream's views, ascending.
    QVector<int> rowsOf(const QString &objSerial) const { return m_rowsBySerial.value(objSerial); }

    // Appends the views of the records, each with its isActive, in one model
    // change; records naming a view that exists already (or earlier in the list)
    // are skipped. Returns the number appended.
    int appendViews(const QList<std::shared_ptr<ViewInfo>> &infos);

    // Restores saved views as appendViews() does, kRestoreSlice records at once
    // and the rest a slice per event-loop turn, so that a site of 200,000 views
    // never stalls the window. isRestoring() is true until the last slice is in;
    // a save meanwhile would lose the views not yet restored.
    static constexpr int kRestoreSlice = 2048;
    void restoreViews(const QList<std::shared_ptr<ViewInfo>> &infos);
    bool isRestoring() const { return !m_pendingRestore.isEmpty(); }

    // Whether the stream has a view of that name, shown or still to be restored.
    Q_INVOKABLE bool hasView(const QString &objSerial, const QString &name) const;
    // The name a copy of the stream's view name takes: "NAME copy", or "NAME copy 2", 3 ... where those
    // are taken (translated).
    Q_INVOKABLE QString copyName(const QString &objSerial, const QString &name) const;
    // The stored values of one view ({"name", "roll", "tilt", "pan", "zoom", "isActive", "mode",
    // "layout"}), or an empty map where the stream has none of that name.
    Q_INVOKABLE QVariantMap viewOf(const QString &objSerial, const QString &name) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QHash<int, QByteArray> roleNames() const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

signals:
    void restoringChanged();
    // The operator added, edited, renamed, removed or switched a view (not a restore); what says
    // which, for the log.
    void edited(const QString &what);

public slots:
    // Adds the stream's view name, unticked; false where the stream has a view of that name. The one
    // call that takes the name before the stream: QML and the object import call it so. Every other
    // call here takes the stream first.
    bool appendView(const QString &name, const QString &objSerial, float roll, float tilt, float pan, float zoom);
    // Sets the direction and zoom of the stream's view name and renames it to newName; refused (false,
    // with a log line) where there is no such view, newName is empty, or another view of the stream
    // has that name.
    bool updateView(const QString &objSerial, const QString &name, const QString &newName, float roll, float tilt,
                    float pan, float zoom);
    // Sets the mode ("perspective", "panorama", ...) and layout (LayoutCodec's map) of the stream's view
    // name; refused (false, with a log line) where there is no such view or the mode or layout is not one.
    bool setViewLayout(const QString &objSerial, const QString &name, const QString &mode, const QVariantMap &layout);
    // Ticks (active) or unticks the stream's view name as a tick in the list does (setData()); false, with
    // a log line, where the stream has no such view.
    bool setViewActive(const QString &objSerial, const QString &name, bool active);
    // Removes the stream's view name; false where there is none.
    bool removeView(const QString &objSerial, const QString &name);

private:
    QHash<int, QByteArray> m_roleNames;
    QList<ViewPtr> m_views;
    ViewPtr makeView(const QString &name, const QString &objSerial, float roll, float tilt, float pan,
                     float zoom) const;
    // Enters an appended view into both indexes.
    void enterIndex(const ViewPtr &view, int row);
    bool contains(const QString &objSerial, const QString &name) const;
    int rowOf(const ViewPtr &view) const;
    void restoreSlice();
    void appendNextSlice();

    // stream serial -> view name -> view
    QHash<QString, QHash<QString, ViewPtr>> m_viewsByName;
    // stream serial -> rows of its views
    QHash<QString, QVector<int>> m_rowsBySerial;
    QList<std::shared_ptr<ViewInfo>> m_pendingRestore;
    // Views the operator removed or renamed away: a later restore of the records read before
    // (another import ahead of the next save) must not bring them back.
    QSet<QPair<QString, QString>> m_dropped; // (stream serial, name)
};
