#pragma once

#include <QString>

// One line in the system log. The texts are fixed by the operations that
// write them; nothing here adds levels or prefixes.
void logLine(const QString &line);
