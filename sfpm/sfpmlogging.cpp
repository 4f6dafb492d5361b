#include "sfpm/sfpmlogging.h"

Q_LOGGING_CATEGORY(lcSfpm, "quillon.sfpm")
