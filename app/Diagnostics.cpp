#include "app/Diagnostics.h"

#include <QDebug>

void logLine(const QString &line)
{
    qInfo().noquote() << line;
}
