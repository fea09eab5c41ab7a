#include "jobs/DetectorSettings.h"

QVariantMap withDetectorOptions(QVariantMap settings, const DetectorOptions &options)
{
    settings.insert(QStringLiteral("detect_method"), qint64(options.detectMethods));
    settings.insert(QStringLiteral("ticker_tape"), qint64(options.tickerTape ? 60 : 0));
    // comskip knows this option as "..._before_first_commercial"; under any
    // other name the check box would silently do nothing.
    settings.insert(QStringLiteral("delete_show_before_first_commercial"),
                    qint64(options.deleteBefore ? 1 : 0));
    settings.insert(QStringLiteral("delete_show_after_last_commercial"), qint64(options.deleteAfter ? 1 : 0));
    settings.insert(QStringLiteral("logo_at_bottom"), qint64(options.logoAtBottom ? 1 : 0));
    return settings;
}
