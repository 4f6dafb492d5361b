#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The users who may watch, from a file in the htdigest format, one user a line:
//
//   USER:REALM:HA1[:GRANTS]
//
// HA1 is md5("USER:REALM:PASSWORD") in lower-case hex: what Digest authentication needs, and no
// password. REALM is the server's (kRealm). GRANTS, when given, limits the user to the streams and
// views listed, separated by commas and written as in their addresses: "CAM-1" (every view of that
// stream) or "CAM-1/Front%20door" (one view). Empty lines and lines starting with '#' are skipped.
//
// The file holds what an attacker needs to try passwords offline: one that others may read is refused.
class UserFile
{
public:
    static constexpr const char *kRealm = "ostrevan";

    struct User
    {
        QString name;
        QByteArray ha1;     // 32 lower-case hex digits
        QStringList grants; // empty: every view
        bool mayWatch(const QString &streamSerial, const QString &viewName) const;
    };

    // Reads path; false with *error (naming the file, and the line where one is wrong) when the file
    // cannot be read, allows more than rw-r----- (0640), or has a line that is not a valid user.
    bool load(const QString &path, QString *error);

    const QVector<User> &users() const { return m_users; }
    const User *user(const QString &name) const;

    // md5("USER:REALM:PASSWORD") in hex.
    static QByteArray ha1(const QString &name, const QString &password);
    // A line for the file: "USER:REALM:HA1". Empty with *error for a name that cannot be in one.
    static QString line(const QString &name, const QString &password, QString *error);
    static bool validName(const QString &name);

private:
    QVector<User> m_users;
};
