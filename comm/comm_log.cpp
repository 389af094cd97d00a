#include "comm_log.h"

// Debug output of the comm layer is off unless QT_LOGGING_RULES asks for it.
Q_LOGGING_CATEGORY(lcComm, "tervix.comm", QtInfoMsg)
