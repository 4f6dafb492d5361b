#include "video/videoitemkeeper.h"

#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRunnable>

namespace {

// Scheduled behind the items' own work, so it runs after that: on the render thread while the GUI thread
// waits for the synchronisation, or never where the window goes first (which deletes it unrun, and the
// work before it too).
class DeleteLater : public QRunnable
{
public:
    explicit DeleteLater(QQuickItem *item) : m_item(item) {}
    ~DeleteLater() override { release(); }
    void run() override { release(); }

private:
    void release()
    {
        if (m_item)
            m_item->deleteLater();
        m_item.clear();
    }

    QPointer<QQuickItem> m_item;
};

} // namespace

void VideoItemKeeper::keepUntilSynchronised(QQuickItem *item)
{
    QQuickWindow *window = item ? item->window() : nullptr;
    if (!window)
        return;
    item->setVisible(false);
    // Within the same window, so that it takes no new set-up work, but no longer a part of its content.
    item->setParentItem(window->contentItem());
    item->setParent(window);
    window->scheduleRenderJob(new DeleteLater(item), QQuickWindow::BeforeSynchronizingStage);
    window->update();
}
