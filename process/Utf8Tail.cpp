#include "process/Utf8Tail.h"

namespace {

// Length of the unfinished sequence at the end of bytes, 0 if none.
qsizetype unfinishedTail(const QByteArray &bytes)
{
    const qsizetype n = bytes.size();
    qsizetype continuation = 0;
    qsizetype i = n - 1;
    while (i >= 0 && continuation < 3 && (uchar(bytes[i]) & 0xC0) == 0x80) {
        ++continuation;
        --i;
    }
    if (i < 0)
        return 0;
    const uchar lead = uchar(bytes[i]);
    int expected = 0;
    if ((lead & 0xE0) == 0xC0)
        expected = 2;
    else if ((lead & 0xF0) == 0xE0)
        expected = 3;
    else if ((lead & 0xF8) == 0xF0)
        expected = 4;
    if (expected == 0)
        return 0;
    const qsizetype have = n - i;
    return have < expected ? have : 0;
}

} // namespace

QString Utf8Tail::decode(const char *data, qsizetype size)
{
    m_pending.append(data, size);
    const qsizetype hold = unfinishedTail(m_pending);
    const QString text = QString::fromUtf8(m_pending.constData(), m_pending.size() - hold);
    m_pending.remove(0, m_pending.size() - hold);
    return text;
}

QString Utf8Tail::flush()
{
    const QString text = QString::fromUtf8(m_pending);
    m_pending.clear();
    return text;
}
