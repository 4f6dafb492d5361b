#pragma once

#include <QProcessEnvironment>

// For outside programs (gst-inspect-1.0) that load our plug-in: a plug-in built with
// AddressSanitizer loads only into a program that has the sanitizer's runtime first.
inline void preloadSanitizerRuntime(QProcessEnvironment *env)
{
#if defined(__SANITIZE_ADDRESS__) && defined(QUILLON_ASAN_RUNTIME)
    env->insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QUILLON_ASAN_RUNTIME));
    // The outside program's own leaks are not ours to judge.
    env->insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
#else
    Q_UNUSED(env)
#endif
}
