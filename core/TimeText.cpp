#include "core/TimeText.h"

QString timeText(double t, bool alwaysShowHours)
{
    if (!(t >= 0))
        t = 0;
    if (t > 1.0e12)
        t = 1.0e12;
    const qint64 wholeMinutes = qint64(t / 60.0);
    const qint64 hours = qint64(t / 60.0 / 60.0);
    const qint64 seconds = qint64(t) - 60 * wholeMinutes;
    const QString hourPart =
        (hours > 0 || alwaysShowHours) ? QString::number(hours) + QLatin1Char(':') : QString();
    return hourPart + QString::asprintf("%02lld:%02lld", wholeMinutes % 60, seconds);
}
