#include "platform/ostrevan/accesscontrol.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <sys/mman.h>
#include <unistd.h>

// GIO's headers use "signals" as a name, which Qt defines as a keyword.
#undef signals
#include <gst/rtsp-server/rtsp-server.h>
#define signals Q_SIGNALS

namespace {

// A role names a structure in GStreamer's permissions, which must start with a letter and hold only
// letters, digits and "/-_.:+": a user's role is their name in hex ("1st-shift", "jörg@site" are
// user names), and the user's name goes into the token beside it.
constexpr const char *kAnonymousRole = "anonymous";
constexpr const char *kUserField = "quillon.user";

QByteArray roleOf(const QString &user)
{
    return "user." + user.toUtf8().toHex();
}

GstRTSPToken *tokenFor(const QByteArray &role, const QString &user = QString())
{
    return gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, role.constData(), kUserField,
                              G_TYPE_STRING, user.toUtf8().constData(), nullptr);
}

// GStreamer takes a Digest user with its password, or from an htdigest file with the hash alone:
// each user goes in through a file of one line that lives in memory only, with a token of its own.
bool addDigestUser(GstRTSPAuth *auth, const UserFile::User &user)
{
    const int fd = ::memfd_create("ostrevan-user", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray line = user.name.toUtf8() + ':' + UserFile::kRealm + ':' + user.ha1 + '\n';
    bool ok = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    if (ok) {
        const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
        GstRTSPToken *token = tokenFor(roleOf(user.name), user.name);
        ok = gst_rtsp_auth_parse_htdigest(auth, path.constData(), token);
        gst_rtsp_token_unref(token);
    }
    ::close(fd);
    return ok;
}

} // namespace

AccessControl::~AccessControl()
{
    if (m_auth)
        g_object_unref(m_auth);
}

GstRTSPAuth *AccessControl::ensureAuth()
{
    if (!m_auth) {
        m_auth = gst_rtsp_auth_new();
        gst_rtsp_auth_set_realm(m_auth, UserFile::kRealm);
        // Basic would send the password itself.
        gst_rtsp_auth_set_supported_methods(m_auth, GST_RTSP_AUTH_DIGEST);
    }
    return m_auth;
}

bool AccessControl::loadUsers(const QString &path, QString *error)
{
    if (path.isEmpty())
        return true;
    UserFile users;
    if (!users.load(path, error))
        return false;
    GstRTSPAuth *auth = ensureAuth();
    // The new users first (a user listed again gets the new hash), then those who went: nobody who
    // stays is refused in between.
    QSet<QString> now;
    for (const UserFile::User &user : users.users()) {
        if (!addDigestUser(auth, user)) {
            *error = QStringLiteral("user %1 of %2 could not be added").arg(user.name, path);
            return false;
        }
        now.insert(user.name);
    }
    for (const UserFile::User &old : m_users.users()) {
        if (!now.contains(old.name))
            gst_rtsp_auth_remove_digest(auth, old.name.toUtf8().constData());
    }
    // Who has no account gets no token, and with it no role: asked to authenticate.
    gst_rtsp_auth_set_default_token(auth, nullptr);
    m_usersPath = path;
    m_users = users;
    return true;
}

bool AccessControl::setTls(const QString &certificatePath, const QString &keyPath, QString *error)
{
    GError *gerror = nullptr;
    GTlsCertificate *certificate = g_tls_certificate_new_from_files(QFile::encodeName(certificatePath).constData(),
                                                                    QFile::encodeName(keyPath).constData(), &gerror);
    if (!certificate) {
        *error = QStringLiteral("cannot use the certificate %1 with the key %2: %3")
                     .arg(certificatePath, keyPath, QString::fromUtf8(gerror ? gerror->message : "unknown error"));
        g_clear_error(&gerror);
        return false;
    }
    GstRTSPAuth *auth = ensureAuth();
    gst_rtsp_auth_set_tls_certificate(auth, certificate);
    g_object_unref(certificate);
    if (!hasUsers()) {
        GstRTSPToken *anonymous = tokenFor(kAnonymousRole);
        gst_rtsp_auth_set_default_token(auth, anonymous);
        gst_rtsp_token_unref(anonymous);
    }
    m_tls = true;
    return true;
}

QString AccessControl::addPublisher(QString *password)
{
    if (!hasUsers())
        return {};
    // A space is no part of a name in a users file.
    m_publisher.name = QStringLiteral("ostrevan publisher");
    *password = QString::number(QRandomGenerator::system()->generate64(), 36) +
                QString::number(QRandomGenerator::system()->generate64(), 36);
    m_publisher.ha1 = UserFile::ha1(m_publisher.name, *password);
    if (!addDigestUser(ensureAuth(), m_publisher)) {
        m_publisher = UserFile::User();
        return {};
    }
    return m_publisher.name;
}

bool AccessControl::mayWatch(const QString &user, const QString &streamSerial, const QString &viewName) const
{
    if (!hasUsers() || (!m_publisher.name.isEmpty() && user == m_publisher.name))
        return true;
    const UserFile::User *u = m_users.user(user);
    return u && u->mayWatch(streamSerial, viewName);
}

void AccessControl::permit(GstRTSPMediaFactory *factory, const QString &streamSerial, const QString &viewName) const
{
    if (!m_auth)
        return;
    GstRTSPPermissions *permissions = gst_rtsp_permissions_new();
    const auto allow = [permissions](const QByteArray &role) {
        gst_rtsp_permissions_add_role(permissions, role.constData(), GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN,
                                      TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
    };
    if (!hasUsers()) {
        allow(kAnonymousRole);
    } else {
        for (const UserFile::User &user : m_users.users()) {
            if (user.mayWatch(streamSerial, viewName))
                allow(roleOf(user.name));
        }
        if (!m_publisher.name.isEmpty())
            allow(roleOf(m_publisher.name));
    }
    gst_rtsp_media_factory_set_permissions(factory, permissions);
    gst_rtsp_permissions_unref(permissions);
}

QString AccessControl::userOf(const GstRTSPContext *context)
{
    if (!context || !context->token)
        return {};
    return QString::fromUtf8(gst_rtsp_token_get_string(context->token, kUserField));
}
