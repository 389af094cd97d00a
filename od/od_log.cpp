#include "od_log.h"

Q_LOGGING_CATEGORY(lcOd, "tervix.od", QtInfoMsg)
