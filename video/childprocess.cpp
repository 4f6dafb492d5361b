#include "video/childprocess.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

ChildProcess::ChildProcess(QObject *parent) : QProcess(parent), m_parentPid(::getpid()), m_deathSignal(SIGKILL) {}

void ChildProcess::setupChildProcess()
{
    // Only async-signal-safe calls here. The death signal survives exec; a parent that died
    // between fork and prctl would never send it, so check for that too.
    ::prctl(PR_SET_PDEATHSIG, m_deathSignal);
    if (::getppid() != pid_t(m_parentPid))
        ::_exit(127);
    if (m_inheritedFd >= 0)
        ::fcntl(m_inheritedFd, F_SETFD, 0);
}
