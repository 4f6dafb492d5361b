#pragma once

#include "app/singleton.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class LocalDatabase;
class RepoObjViews;
class RepoObjects;

// What the operator changed since objects.data was last written: ticks, views added, edited or
// deleted, gateways and streams switched, lenses and mounts set. The models report each edit
// (edited()); a successful save clears the list, unless the operator changed more while it ran,
// since the rows it wrote were taken when it began.
//
// Each change is kept as a line of text for the log: a program ended with changes left unsaved
// (SIGTERM, or "Discard" on closing) says which.
class UnsavedChanges : public QObject, public Singleton<UnsavedChanges>
{
    Q_OBJECT
    Q_PROPERTY(bool dirty READ isDirty NOTIFY dirtyChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    // Lines kept for the log; later changes are only counted.
    static constexpr int kMaxListed = 50;

    explicit UnsavedChanges(QObject *parent = nullptr);
    ~UnsavedChanges() override;

    // Follows the edits of both models and the saves of the database; any may be null.
    void watch(RepoObjects *objects, RepoObjViews *views, LocalDatabase *database);

    bool isDirty() const { return count() > 0; }
    int count() const { return int(m_generation - m_savedGeneration); }
    // The changes in the order made, at most kMaxListed.
    QStringList changes() const;
    // One line for the log: "3 unsaved changes: ...; ...; ..." (empty when there are none).
    QString summary() const;

    // Bumped by every change: a save records it when it takes its rows.
    quint64 generation() const { return m_generation; }

public slots:
    void note(const QString &what);
    // Forgets every change (a save finished, or the operator discarded them).
    void clear();
    // A save of the rows taken at generation finished: the changes up to it are saved, later ones not.
    void savedUpTo(quint64 generation);

signals:
    void dirtyChanged();
    void countChanged();

private:
    void announce(int countBefore);

    struct Change
    {
        quint64 generation;
        QString what;
    };
    QList<Change> m_listed;
    // Changes are numbered from 1; those up to m_savedGeneration are in the file.
    quint64 m_generation = 0;
    quint64 m_savedGeneration = 0;
    quint64 m_savingGeneration = 0;
};
