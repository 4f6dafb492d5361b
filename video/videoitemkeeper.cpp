#include "video/videoitemkeeper.h"

#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRunnable>
#include <QVector>

#include <gst/gl/gl.h>

namespace {

const char kContextsName[] = "quillon-render-thread-gl-contexts";

// The GStreamer GL contexts found current on a window's render thread, held until the window goes (after
// its render thread).
class RenderThreadContexts : public QObject
{
public:
    explicit RenderThreadContexts(QQuickWindow *window) : QObject(window)
    {
        setObjectName(QLatin1String(kContextsName));
    }

    ~RenderThreadContexts() override
    {
        for (GstGLContext *context : qAsConst(m_contexts))
            gst_object_unref(context);
    }

    static RenderThreadContexts *of(QQuickWindow *window)
    {
        auto *contexts = static_cast<RenderThreadContexts *>(
            window->findChild<QObject *>(QLatin1String(kContextsName), Qt::FindDirectChildrenOnly));
        return contexts ? contexts : new RenderThreadContexts(window);
    }

    // On the render thread, while the GUI thread waits for the synchronisation.
    void keepCurrent()
    {
        GstGLContext *current = gst_gl_context_get_current();
        if (current && !m_contexts.contains(current))
            m_contexts.append(static_cast<GstGLContext *>(gst_object_ref(current)));
    }

private:
    QVector<GstGLContext *> m_contexts;
};

// Runs once the items have been synchronised (after the set-up work scheduled before it and after the
// items drew): on the render thread while the GUI thread waits, or never where the window goes first
// (which deletes it unrun, and the work before it too).
class Release : public QRunnable
{
public:
    Release(QQuickItem *item, RenderThreadContexts *contexts) : m_item(item), m_contexts(contexts) {}
    ~Release() override { deleteItem(); }

    void run() override
    {
        if (m_contexts)
            m_contexts->keepCurrent();
        deleteItem();
    }

private:
    void deleteItem()
    {
        if (m_item)
            m_item->deleteLater();
        m_item.clear();
    }

    QPointer<QQuickItem> m_item;
    QPointer<RenderThreadContexts> m_contexts;
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
    window->scheduleRenderJob(new Release(item, RenderThreadContexts::of(window)),
                              QQuickWindow::AfterSynchronizingStage);
    window->update();
}
