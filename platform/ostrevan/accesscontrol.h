#pragma once

#include "platform/ostrevan/userfile.h"

#include <QString>

typedef struct _GstRTSPAuth GstRTSPAuth;
typedef struct _GstRTSPContext GstRTSPContext;
typedef struct _GstRTSPMediaFactory GstRTSPMediaFactory;

// Who may watch what, in GStreamer's own terms: a GstRTSPAuth that knows every user of the users file
// for Digest authentication, with a token of a role of the user's own, and on each view's media
// factory the roles of the users granted that view. Without a users file there is no authentication;
// with TLS alone, everybody has the anonymous role and every view permits it.
//
// Used on the GUI thread; GStreamer's objects lock themselves for the RTSP threads.
class AccessControl
{
public:
    AccessControl() = default;
    ~AccessControl();
    AccessControl(const AccessControl &) = delete;
    AccessControl &operator=(const AccessControl &) = delete;

    // Reads the users file (empty path: none) and makes its users those the server knows; false with
    // *error, and nothing changed, when the file is refused (see UserFile::load()).
    bool loadUsers(const QString &path, QString *error);
    // Reads the same file again.
    bool reloadUsers(QString *error) { return loadUsers(m_usersPath, error); }
    // RTSPS: the certificate and its key, PEM files. False with *error when they cannot be used.
    bool setTls(const QString &certificatePath, const QString &keyPath, QString *error);

    bool hasUsers() const { return !m_usersPath.isEmpty(); }
    bool hasTls() const { return m_tls; }
    int userCount() const { return m_users.users().size(); }

    // The server's authentication, null when nothing is checked (no users file, no TLS).
    GstRTSPAuth *auth() const { return m_auth; }
    // Sets who may open the view on its factory; nothing without auth().
    void permit(GstRTSPMediaFactory *factory, const QString &streamSerial, const QString &viewName) const;
    // Whether the user (empty: anonymous) may watch the view now.
    bool mayWatch(const QString &user, const QString &streamSerial, const QString &viewName) const;

    // The server's own publisher (--publish) watches every view as a client of the server: with users,
    // it signs in as a user that exists in memory only (its name cannot be in a users file), with a
    // password made now. Returns the name, *password the password; nothing without users.
    QString addPublisher(QString *password);

    // The user a request was authenticated as; empty for none.
    static QString userOf(const GstRTSPContext *context);

private:
    GstRTSPAuth *ensureAuth();

    GstRTSPAuth *m_auth = nullptr;
    QString m_usersPath;
    UserFile m_users;
    bool m_tls = false;
    UserFile::User m_publisher; // empty name: none
};
