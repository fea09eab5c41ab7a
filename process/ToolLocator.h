#pragma once

#include <QString>
#include <QStringList>

// Finds the outside tools by name: first in the application's own helper
// directories, then on PATH, where Debian's packages put them.
class ToolLocator
{
public:
    ToolLocator();

    // Replaces the helper directories; with useSystemPath false, PATH is
    // not searched at all (tests use this to run stand-in tools only).
    void setHelperDirectories(const QStringList &dirs, bool useSystemPath);

    // The executable's full path, or an empty string when none is found.
    QString pathForAuxiliaryExecutable(const QString &name) const;

    // The helper directories of an installed or freshly built application.
    static QStringList defaultHelperDirectories();

private:
    QStringList m_dirs;
    bool m_useSystemPath = true;
};
