#include "process/ToolLocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef TRIMLET_HELPER_SUBDIR
#define TRIMLET_HELPER_SUBDIR "libexec/trimlet"
#endif

ToolLocator::ToolLocator() : m_dirs(defaultHelperDirectories()) { }

QStringList ToolLocator::defaultHelperDirectories()
{
    QStringList dirs;
    if (QCoreApplication::instance()) {
        const QString appDir = QCoreApplication::applicationDirPath();
        // <prefix>/bin/trimlet looks in <prefix>/libexec/trimlet; a build
        // tree keeps its helpers in helpers/ beside the binary.
        dirs << QDir::cleanPath(appDir + QStringLiteral("/../") + QStringLiteral(TRIMLET_HELPER_SUBDIR))
             << QDir::cleanPath(appDir + QStringLiteral("/helpers"));
    }
    return dirs;
}

void ToolLocator::setHelperDirectories(const QStringList &dirs, bool useSystemPath)
{
    m_dirs = dirs;
    m_useSystemPath = useSystemPath;
}

QString ToolLocator::pathForAuxiliaryExecutable(const QString &name) const
{
    for (const QString &dir : m_dirs) {
        const QFileInfo candidate(QDir(dir).filePath(name));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    if (m_useSystemPath)
        return QStandardPaths::findExecutable(name);
    return QString();
}
