#pragma once

// What every test needs that is Qt Core alone, for the tests of the layers
// below the windows as for those of the whole application.

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QString>
#include <QTest>

#include <sys/types.h>

// Settings for the stand-in tools, which they read from their environment;
// gone again when the guard goes.
struct EnvGuard
{
    QList<QByteArray> names;
    void set(const char *name, const QByteArray &value)
    {
        qputenv(name, value);
        names << name;
    }
    ~EnvGuard()
    {
        for (const QByteArray &n : names)
            qunsetenv(n.constData());
    }
};

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

inline QByteArray sha1(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result().toHex();
}

// Dead, whoever collects it: a zombie is gone as far as anybody is
// concerned but its parent, and a grandchild is collected by whichever
// process adopts it.
inline bool processEnded(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.mid(close + 2, 1) == "Z";
}
