// Runs the program's start-up and shutdown on the main document given as the
// first argument, then reports on stdout what the shutdown left behind. Further
// arguments go to the program (the document reads Qt.application.arguments).
#include "app/appstate.h"
#include "app/i18n.h"
#include "app/startup.h"
#include "app/utils.h"
#include "es/eventserver.h"
#include "repo/localdatabase.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"

#include <QCoreApplication>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MAIN-DOCUMENT-URL\n", argv[0]);
        return 2;
    }
    const QUrl mainUrl(QString::fromLocal8Bit(argv[1]));
    std::vector<char *> appArgv{argv[0]};
    appArgv.insert(appArgv.end(), argv + 2, argv + argc);
    appArgv.push_back(nullptr);
    const int rc = Startup::run(argc - 1, appArgv.data(), mainUrl);

    const bool singletonsGone = !I18n::instance() && !AppState::instance() && !Utils::instance() &&
                                !EventServer::instance() && !RepoObjects::instance() && !RepoObjViews::instance() &&
                                !LocalDatabase::instance();
    std::printf("singletons-destroyed=%d application-destroyed=%d exit=%d\n", singletonsGone ? 1 : 0,
                QCoreApplication::instance() ? 0 : 1, rc);
    std::fflush(stdout);
    return rc;
}
