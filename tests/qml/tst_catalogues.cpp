// Every text the operator sees has a translation in every shipped catalogue. lupdate reads the
// sources into a copy of each catalogue, with the arguments the quillon_lupdate target uses, so a
// text added to the sources without refreshing the catalogue counts as missing too. No message of
// the copy may be unfinished or empty, nor drop or add a %1-style placeholder of its source.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString context;
    QString source;
    QStringList translations; // one per plural form
    bool unfinished = false;
    QString where; // file:line, relative to the project
};

QStringList splitArgs(const char *joined)
{
    return QString::fromUtf8(joined).split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

// A location as lupdate writes it (relative to the catalogue) made relative to the project.
QString projectPath(const QString &catalogueDir, const QString &file, const QString &line)
{
    const QString absolute = QDir::cleanPath(QDir(catalogueDir).absoluteFilePath(file));
    return QDir(QStringLiteral(QUILLON_SOURCE_DIR)).relativeFilePath(absolute) + QLatin1Char(':') + line;
}

QList<Message> readCatalogue(const QString &path, QString *error)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    const QString dir = QFileInfo(path).absolutePath();
    QXmlStreamReader xml(&file);
    QString context;
    Message message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        const auto attributes = xml.attributes();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            message = Message();
            message.context = context;
        } else if (name == QLatin1String("location") && message.where.isEmpty()) {
            message.where = projectPath(dir, attributes.value(QLatin1String("filename")).toString(),
                                        attributes.value(QLatin1String("line")).toString());
        } else if (name == QLatin1String("source")) {
            message.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            message.unfinished = attributes.value(QLatin1String("type")) == QLatin1String("unfinished");
            if (attributes.value(QLatin1String("numerus")) == QLatin1String("yes")) {
                // One numerusform element per plural form.
                while (xml.readNextStartElement())
                    message.translations << xml.readElementText();
            } else {
                message.translations << xml.readElementText();
            }
            messages << message;
        }
    }
    if (xml.hasError())
        *error = QStringLiteral("%1 at line %2").arg(xml.errorString()).arg(xml.lineNumber());
    return messages;
}

QStringList placeholders(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%L?\\d+"));
    QStringList found;
    auto it = marker.globalMatch(text);
    while (it.hasNext())
        found << it.next().captured().remove(QLatin1Char('L'));
    found.sort();
    found.removeDuplicates();
    return found;
}

QString describe(const Message &message)
{
    QString source = message.source;
    source.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QStringLiteral("  %1 \"%2\" (%3)").arg(message.context, source, message.where);
}

} // namespace

class TestCatalogues : public QObject
{
    Q_OBJECT

private slots:
    void everyTextIsTranslated_data()
    {
        QTest::addColumn<QString>("catalogue");
        for (const QString &path : splitArgs(QUILLON_TS_FILES))
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }

    void everyTextIsTranslated()
    {
        QFETCH(QString, catalogue);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString copy = dir.filePath(QFileInfo(catalogue).fileName());
        QVERIFY(QFile::copy(catalogue, copy));
        QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::WriteOwner);

        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(QUILLON_LUPDATE), splitArgs(QUILLON_LUPDATE_ARGS)
                                                           << QStringLiteral("-locations") << QStringLiteral("absolute")
                                                           << QStringLiteral("-ts") << copy);
        QVERIFY2(lupdate.waitForFinished(60000), qPrintable(lupdate.errorString()));
        const QString output = QString::fromLocal8Bit(lupdate.readAll());
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0, qPrintable(output));

        QString error;
        const QList<Message> messages = readCatalogue(copy, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // lupdate found the texts: an empty list would pass everything below.
        QVERIFY2(messages.size() > 10, qPrintable(output));

        QStringList missing;
        QStringList mismatched;
        for (const Message &message : messages) {
            const bool empty = message.translations.isEmpty() || message.translations.contains(QString());
            if (message.unfinished || empty) {
                missing << describe(message);
                continue;
            }
            for (const QString &translation : message.translations) {
                if (placeholders(translation) != placeholders(message.source)) {
                    mismatched << describe(message) + QStringLiteral(" -> \"%1\"").arg(translation);
                    break;
                }
            }
        }
        const QString name = QDir(QStringLiteral(QUILLON_SOURCE_DIR)).relativeFilePath(catalogue);
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("%1 has no translation for %2 text(s); run the quillon_lupdate target "
                                           "and translate them:\n%3")
                                .arg(name)
                                .arg(missing.size())
                                .arg(missing.join(QLatin1Char('\n')))));
        QVERIFY2(mismatched.isEmpty(),
                 qPrintable(QStringLiteral("%1: translations whose placeholders differ from their source:\n%2")
                                .arg(name, mismatched.join(QLatin1Char('\n')))));
    }
};

QTEST_GUILESS_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
