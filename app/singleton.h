#pragma once

#include <QQmlEngine>

#include <utility>

class QJSEngine;

// Application-wide singleton support shared by I18n, AppState, Utils, EventServer,
// RepoObjects, RepoObjViews and LocalDatabase.
//
// The instance is created once at start-up with create(), owned by the application
// (never by the QML engine), and deleted by destroy() at shutdown. The constructor
// records the instance and the destructor clears it, so instance() is null both
// before create() and after destroy().
template<typename T> class Singleton
{
public:
    // Arguments go to the constructor; a call while an instance exists returns it
    // unchanged.
    template<typename... Args> static T *create(Args &&...args)
    {
        if (!s_instance) {
            auto *object = new T(std::forward<Args>(args)...);
            QQmlEngine::setObjectOwnership(object, QQmlEngine::CppOwnership);
        }
        return s_instance;
    }

    static T *instance() { return s_instance; }

    static void destroy()
    {
        delete s_instance;
        s_instance = nullptr;
    }

    // QML singleton provider: the engine always gets the object created at start-up.
    static QObject *provider(QQmlEngine *, QJSEngine *) { return s_instance; }

protected:
    explicit Singleton(T *self) { s_instance = self; }
    ~Singleton() { s_instance = nullptr; }

    Singleton(const Singleton &) = delete;
    Singleton &operator=(const Singleton &) = delete;

private:
    static inline T *s_instance = nullptr;
};
