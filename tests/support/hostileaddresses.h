#pragma once

// Video source addresses written to break out of a pipeline description, for the
// tests that build pipelines from them (the program's producer, the server's stream
// source): each must reach its first element as one literal property value.

#include <QStringList>
#include <QtTest>
#include <gst/gst.h>

namespace HostileAddresses {

// Columns: address, the first element's factory, its property, the value it must hold.
inline void addRows()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("factory");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("value");

    const auto row = [](const char *name, const QString &address, const char *factory, const char *property,
                        const QString &value) {
        QTest::newRow(name) << address << QString::fromLatin1(factory) << QByteArray(property) << value;
    };
    const QString breakOut = QStringLiteral("\" ! fakesink name=evil \"");
    row("file quote bang", "file:/nonexistent/a" + breakOut, "filesrc", "location", "/nonexistent/a" + breakOut);
    row("file bang only", "file:/nonexistent/a ! identity name=evil", "filesrc", "location",
        "/nonexistent/a ! identity name=evil");
    row("file property injection", "file:/nonexistent/x\" num-buffers=1 name=\"evil", "filesrc", "location",
        "/nonexistent/x\" num-buffers=1 name=\"evil");
    row("file backslash quote", "file:/nonexistent/\\\" ! fakesink name=evil", "filesrc", "location",
        "/nonexistent/\\\" ! fakesink name=evil");
    row("file quoted whole", "file:\"/nonexistent/a.mp4\"", "filesrc", "location", "\"/nonexistent/a.mp4\"");
    row("file newline", "file:/nonexistent/a\n! fakesink name=evil", "filesrc", "location",
        "/nonexistent/a\n! fakesink name=evil");
    row("file NULL", "file:NULL", "filesrc", "location", "NULL");
    row("file non-ascii", QString::fromUtf8("file:/nonexistent/\xc3\xa9t\xc3\xa9 ; ' $x"), "filesrc", "location",
        QString::fromUtf8("/nonexistent/\xc3\xa9t\xc3\xa9 ; ' $x"));
    row("zmq quote bang", "zmq:tcp://127.0.0.1:1" + breakOut, "zmqsrc", "endpoint", "tcp://127.0.0.1:1" + breakOut);
    row("rtsp quote bang", "rtsp:rtsp://127.0.0.1:1/a" + breakOut, "rtspsrc", "location",
        "rtsp://127.0.0.1:1/a" + breakOut);
    row("uri quote bang", "uri:file:///nonexistent" + breakOut, "urisourcebin", "uri",
        "file:///nonexistent" + breakOut);
}

// Top-level elements of a pipeline, by factory name, sorted.
inline QStringList factoryNames(GstElement *pipeline)
{
    QStringList names;
    GstIterator *it = gst_bin_iterate_elements(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory *factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        names << QString::fromLatin1(factory ? GST_OBJECT_NAME(factory) : "?");
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    names.sort();
    return names;
}

} // namespace HostileAddresses
