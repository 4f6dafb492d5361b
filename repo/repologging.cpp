#include "repo/repologging.h"

Q_LOGGING_CATEGORY(lcRepo, "quillon.repo")
