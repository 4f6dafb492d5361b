#include "defish/defishlogging.h"

Q_LOGGING_CATEGORY(lcDefish, "quillon.defish")
Q_LOGGING_CATEGORY(lcLensFit, "quillon.defish.lensfit")
