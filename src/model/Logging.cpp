#include "Logging.h"

Q_LOGGING_CATEGORY(lcQuillfern, "quillfern", QtDebugMsg)
