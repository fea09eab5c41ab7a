#include "core/AtomicWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

mode_t currentUmask()
{
    // Linux says it without changing it; elsewhere it is read by setting it.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// A staged file, removed again unless it was put in place.
std::unique_ptr<QTemporaryFile> stage(const QString &path, const QByteArray &bytes)
{
    const QFileInfo target(path);
    auto file = std::make_unique<QTemporaryFile>(target.absolutePath() + QStringLiteral("/.")
                                                 + target.fileName() + QStringLiteral(".trimlet-XXXXXX"));
    if (!file->open())
        return nullptr;
    const bool written = file->write(bytes) == bytes.size() && file->flush()
                         && ::fchmod(file->handle(), mode_t(newFilePermissions())) == 0;
    file->close();
    if (!written || file->error() != QFileDevice::NoError)
        return nullptr;
    return file;
}

bool renameOver(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

unsigned newFilePermissions()
{
    return 0666 & ~unsigned(currentUmask());
}

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    std::unique_ptr<QTemporaryFile> staged = stage(path, bytes);
    if (!staged || !renameOver(staged->fileName(), path))
        return false;
    staged->setAutoRemove(false);
    return true;
}

bool writePairAtomically(const QString &firstPath, const QByteArray &first, const QString &secondPath,
                         const QByteArray &second)
{
    std::unique_ptr<QTemporaryFile> a = stage(firstPath, first);
    std::unique_ptr<QTemporaryFile> b = a ? stage(secondPath, second) : nullptr;
    if (!a || !b)
        return false;
    // The first file's old contents are kept under a staging name of
    // their own until the second is in place (a frame list is a few KB).
    std::unique_ptr<QTemporaryFile> old;
    if (QFileInfo::exists(firstPath)) {
        QFile current(firstPath);
        if (!current.open(QIODevice::ReadOnly))
            return false;
        old = stage(firstPath, current.readAll());
        if (!old)
            return false;
    }
    if (!renameOver(a->fileName(), firstPath))
        return false;
    a->setAutoRemove(false);
    if (!renameOver(b->fileName(), secondPath)) {
        if (old && renameOver(old->fileName(), firstPath))
            old->setAutoRemove(false);
        else if (!old)
            QFile::remove(firstPath);
        return false;
    }
    b->setAutoRemove(false);
    return true;
}
