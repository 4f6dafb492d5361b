#pragma once

#include <QList>
#include <QObject>
#include <QVariantMap>

// The states an editor steps back and forth through with undo and redo. Each state is whatever the
// editor holds (a QVariantMap of its values); the editor records one whenever a change has settled, so
// a whole drag is one step. A state equal to the current one is no step. Recording after an undo drops
// the states that redo would have brought back; past kLimit states the oldest go.
class EditHistory : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY canUndoChanged)
    Q_PROPERTY(bool canRedo READ canRedo NOTIFY canRedoChanged)

public:
    static constexpr int kLimit = 100;

    explicit EditHistory(QObject *parent = nullptr);

    bool canUndo() const;
    bool canRedo() const;

    // Forgets every step: state is where the history starts.
    Q_INVOKABLE void reset(const QVariantMap &state);
    // Adds state as the newest step; false (nothing changes) where it equals the current state.
    Q_INVOKABLE bool record(const QVariantMap &state);
    // The state before (after) the current one, which becomes the current one; an empty map where
    // there is none.
    Q_INVOKABLE QVariantMap undo();
    Q_INVOKABLE QVariantMap redo();
    // The current state; empty before the first reset() or record().
    Q_INVOKABLE QVariantMap current() const;

signals:
    void canUndoChanged();
    void canRedoChanged();

private:
    // Emits what changed since the step before.
    void emitChanges(bool couldUndo, bool couldRedo);

    QList<QVariantMap> m_states;
    int m_index = -1;
};
