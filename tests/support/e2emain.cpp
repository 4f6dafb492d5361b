#include "e2emain.h"

#include "app/startup.h"
#include "gstobjectcounter.h"

#include <gst/gst.h>

#include <QGuiApplication>

int E2eMain::run(int argc, char **argv, const std::function<int(int, char **)> &exec)
{
    Startup::initGStreamer(&argc, &argv);
    GstObjectCounter::install();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    int result = 0;
    {
        QGuiApplication app(argc, argv);
        result = exec(argc, argv);
    }
    gst_deinit();
    return result;
}
