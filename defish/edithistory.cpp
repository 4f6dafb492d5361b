#include "defish/edithistory.h"

EditHistory::EditHistory(QObject *parent) : QObject(parent) {}

bool EditHistory::canUndo() const
{
    return m_index > 0;
}

bool EditHistory::canRedo() const
{
    return m_index >= 0 && m_index < m_states.size() - 1;
}

void EditHistory::emitChanges(bool couldUndo, bool couldRedo)
{
    if (canUndo() != couldUndo)
        emit canUndoChanged();
    if (canRedo() != couldRedo)
        emit canRedoChanged();
}

void EditHistory::reset(const QVariantMap &state)
{
    const bool couldUndo = canUndo();
    const bool couldRedo = canRedo();
    m_states = {state};
    m_index = 0;
    emitChanges(couldUndo, couldRedo);
}

bool EditHistory::record(const QVariantMap &state)
{
    if (m_index >= 0 && m_states.at(m_index) == state)
        return false;
    const bool couldUndo = canUndo();
    const bool couldRedo = canRedo();
    m_states.erase(m_states.begin() + (m_index + 1), m_states.end());
    m_states.append(state);
    while (m_states.size() > kLimit)
        m_states.removeFirst();
    m_index = m_states.size() - 1;
    emitChanges(couldUndo, couldRedo);
    return true;
}

QVariantMap EditHistory::undo()
{
    if (!canUndo())
        return {};
    const bool couldRedo = canRedo();
    --m_index;
    emitChanges(true, couldRedo);
    return m_states.at(m_index);
}

QVariantMap EditHistory::redo()
{
    if (!canRedo())
        return {};
    const bool couldUndo = canUndo();
    ++m_index;
    emitChanges(couldUndo, true);
    return m_states.at(m_index);
}

QVariantMap EditHistory::current() const
{
    return m_index >= 0 ? m_states.at(m_index) : QVariantMap();
}
