#include "video/gstlogbridge.h"

#include "video/videologging.h"

#include <gst/gst.h>

namespace {

// Runs on whichever thread logs, streaming threads included: it touches nothing but Qt's logging,
// which is thread-safe. The object's name is read without its lock, as GStreamer's own printer
// does, because the caller may hold that lock.
void forward(GstDebugCategory *category, GstDebugLevel level, const gchar *file, const gchar *function, gint line,
             GObject *object, GstDebugMessage *message, gpointer)
{
    const QLoggingCategory &qtCategory = lcGst();
    QtMsgType type = QtDebugMsg;
    if (level == GST_LEVEL_ERROR)
        type = QtCriticalMsg;
    else if (level == GST_LEVEL_WARNING)
        type = QtWarningMsg;
    else if (level == GST_LEVEL_FIXME || level == GST_LEVEL_INFO)
        type = QtInfoMsg;
    if (!qtCategory.isEnabled(type))
        return;

    const char *name = nullptr;
    if (object && GST_IS_OBJECT(object))
        name = GST_OBJECT_NAME(object);
    else if (object)
        name = G_OBJECT_TYPE_NAME(object);
    const gchar *raw = gst_debug_message_get(message);
    const QString text = QStringLiteral("GStreamer %1%2: %3")
                             .arg(QString::fromUtf8(gst_debug_category_get_name(category)),
                                  name ? QStringLiteral(" <%1>").arg(QString::fromUtf8(name)) : QString(),
                                  QString::fromUtf8(raw ? raw : ""));
    QMessageLogger logger(file, line, function, qtCategory.categoryName());
    switch (type) {
    case QtCriticalMsg:
        logger.critical("%s", qUtf8Printable(text));
        break;
    case QtWarningMsg:
        logger.warning("%s", qUtf8Printable(text));
        break;
    case QtInfoMsg:
        logger.info("%s", qUtf8Printable(text));
        break;
    default:
        logger.debug("%s", qUtf8Printable(text));
        break;
    }
}

} // namespace

void GstLogBridge::install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    // GStreamer logs nothing unless asked; warnings and errors are what a user needs to see.
    if (qEnvironmentVariableIsEmpty("GST_DEBUG"))
        gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    if (qEnvironmentVariableIsEmpty("GST_DEBUG_FILE"))
        gst_debug_remove_log_function(gst_debug_log_default);
    gst_debug_add_log_function(forward, nullptr, nullptr);
}
