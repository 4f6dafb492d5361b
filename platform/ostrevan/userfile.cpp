#include "platform/ostrevan/userfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the file may allow at most: its owner reads and writes, its group reads.
constexpr mode_t kWidestMode = 0640;

// A users file has a line or a few per person; anything far larger is not one.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

} // namespace

bool UserFile::User::mayWatch(const QString &streamSerial, const QString &viewName) const
{
    if (grants.isEmpty())
        return true;
    for (const QString &grant : grants) {
        const int slash = grant.indexOf(QLatin1Char('/'));
        const QString serial = QUrl::fromPercentEncoding(grant.left(slash).toUtf8());
        if (serial != streamSerial)
            continue;
        if (slash < 0 || QUrl::fromPercentEncoding(grant.mid(slash + 1).toUtf8()) == viewName)
            return true;
    }
    return false;
}

bool UserFile::validName(const QString &name)
{
    static const QRegularExpression bad(QStringLiteral("[:\"\\\\\\s\\x00-\\x1f\\x7f]"));
    return !name.isEmpty() && name.size() <= 256 && !name.contains(bad);
}

QByteArray UserFile::ha1(const QString &name, const QString &password)
{
    const QByteArray text = name.toUtf8() + ':' + kRealm + ':' + password.toUtf8();
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

QString UserFile::line(const QString &name, const QString &password, QString *error)
{
    if (!validName(name)) {
        *error = QStringLiteral("a user name is 1 to 256 characters without ':', '\"', '\\', spaces or "
                                "control characters");
        return {};
    }
    return name + QLatin1Char(':') + QLatin1String(kRealm) + QLatin1Char(':') +
           QString::fromLatin1(ha1(name, password));
}

const UserFile::User *UserFile::user(const QString &name) const
{
    for (const User &u : m_users) {
        if (u.name == name)
            return &u;
    }
    return nullptr;
}

bool UserFile::load(const QString &path, QString *error)
{
    // The mode is checked on the file that is read, not on a name that may change in between.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error =
            QStringLiteral("cannot read the users file %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    QFile file;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("the users file %1 is not a file").arg(path);
        return false;
    }
    if ((st.st_mode & 07777 & ~kWidestMode) != 0) {
        ::close(fd);
        *error = QStringLiteral("the users file %1 has mode %2: others could read the password hashes in it; "
                                "allow at most 0640 (chmod 0600 %1)")
                     .arg(path)
                     .arg(QString::number(st.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')));
        return false;
    }
    if (st.st_size > kMaxFileSize || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (!file.isOpen())
            ::close(fd);
        *error = QStringLiteral("the users file %1 is too large or cannot be read").arg(path);
        return false;
    }
    const QList<QByteArray> lines = file.read(kMaxFileSize).split('\n');
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{32}$"));
    QVector<User> users;
    QSet<QString> names;
    for (int i = 0; i < lines.size(); ++i) {
        const QString text = QString::fromUtf8(lines.at(i)).trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = text.split(QLatin1Char(':'));
        const auto wrong = [&](const QString &why) {
            *error = QStringLiteral("the users file %1, line %2: %3").arg(path).arg(i + 1).arg(why);
            return false;
        };
        if (fields.size() < 3 || fields.size() > 4)
            return wrong(QStringLiteral("expected USER:REALM:HA1 or USER:REALM:HA1:GRANTS"));
        User user;
        user.name = fields.at(0);
        if (!validName(user.name))
            return wrong(QStringLiteral("not a valid user name"));
        if (fields.at(1) != QLatin1String(kRealm))
            return wrong(QStringLiteral("the realm is \"%1\", not \"%2\"").arg(fields.at(1), QLatin1String(kRealm)));
        if (!hex.match(fields.at(2)).hasMatch())
            return wrong(QStringLiteral("the hash is not 32 hexadecimal digits (a password in plain text?)"));
        user.ha1 = fields.at(2).toLatin1().toLower();
        if (fields.size() == 4) {
            for (const QString &grant : fields.at(3).split(QLatin1Char(','))) {
                const QString g = grant.trimmed();
                if (g.isEmpty() || g.startsWith(QLatin1Char('/')))
                    return wrong(QStringLiteral("a grant is STREAM or STREAM/VIEW"));
                user.grants.append(g);
            }
        }
        if (names.contains(user.name))
            return wrong(QStringLiteral("user %1 is listed twice").arg(user.name));
        names.insert(user.name);
        users.append(user);
    }
    m_users = users;
    return true;
}
