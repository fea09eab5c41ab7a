#include "core/Diagnostics.h"

#include <QLoggingCategory>

// Off unless asked for (QT_LOGGING_RULES="trimlet.info=true"): a terminal
// launch stays quiet.
Q_LOGGING_CATEGORY(lcTrimlet, "trimlet", QtWarningMsg)

void logLine(const QString &line)
{
    qCInfo(lcTrimlet).noquote() << line;
}
