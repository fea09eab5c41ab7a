#pragma once

#include <QString>

// Path operations as the work-file names are defined: the last component
// is what follows the last '/', the extension what follows the last '.' of
// that component. Unlike QFileInfo they never look at the disk and never
// make a bare name into "./name".
namespace pathtext {

inline QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

inline QString deletingLastComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

inline QString extension(const QString &path)
{
    const QString last = lastComponent(path);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : last.mid(dot + 1);
}

inline QString deletingExtension(const QString &path)
{
    const QString last = lastComponent(path);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path : path.left(path.size() - (last.size() - dot));
}

} // namespace pathtext
