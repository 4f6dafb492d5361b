#include "videowindow.h"

#include "app/startup.h"
#include "app/utils.h"

#include <QQmlComponent>
#include <QtTest>

namespace {
const char *const kWindow = R"(
import QtQuick 2.13
import QtQuick.Window 2.13
import org.freedesktop.gstreamer.GLVideoItem 1.0
Window {
    property int itemWidth
    property int itemHeight
    width: 2 * itemWidth; height: itemHeight; visible: true; color: "black"
    GstGLVideoItem { objectName: "left"; x: 0; width: itemWidth; height: itemHeight }
    GstGLVideoItem { objectName: "right"; x: itemWidth; width: itemWidth; height: itemHeight }
}
)";
} // namespace

VideoWindow::~VideoWindow()
{
    close();
}

bool VideoWindow::open(int itemWidth, int itemHeight)
{
    close();
    m_glSink = Startup::loadGlVideoItem();
    if (!m_glSink) {
        m_error = QStringLiteral("the qmlglsink plug-in is missing");
        return false;
    }
    if (!Utils::instance()) {
        Utils::create();
        m_utils = true;
    }
    m_engine = std::make_unique<QQmlEngine>();
    QQmlComponent component(m_engine.get());
    component.setData(kWindow, QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/quillon_video_window.qml")));
    QObject *created = component.beginCreate(m_engine->rootContext());
    if (created) {
        created->setProperty("itemWidth", itemWidth);
        created->setProperty("itemHeight", itemHeight);
        component.completeCreate();
    }
    m_window.reset(qobject_cast<QQuickWindow *>(created));
    if (!m_window) {
        delete created;
        m_error = component.errorString();
        return false;
    }
    m_left = m_window->findChild<QQuickItem *>(QStringLiteral("left"));
    m_right = m_window->findChild<QQuickItem *>(QStringLiteral("right"));
    if (!m_left || !m_right || !QTest::qWaitForWindowExposed(m_window.get())) {
        m_error = QStringLiteral("the video window was not shown");
        return false;
    }
    return true;
}

void VideoWindow::close()
{
    m_left = nullptr;
    m_right = nullptr;
    m_window.reset();
    m_engine.reset();
    if (m_utils) {
        Utils::destroy();
        m_utils = false;
    }
    if (m_glSink) {
        Startup::releaseGlVideoItem(m_glSink);
        m_glSink = nullptr;
    }
}
