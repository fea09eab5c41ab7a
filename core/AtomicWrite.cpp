#include "core/AtomicWrite.h"

#include <QFile>
#include <QTemporaryFile>

#include <cstdio>

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open())
        return false;
    const QString staging = file.fileName();
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError
        || std::rename(QFile::encodeName(staging).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(staging);
        return false;
    }
    return true;
}
