#pragma once

#include <QByteArray>
#include <QString>

// Decodes a byte stream as UTF-8 read by read: a character cut between two
// reads is held back and arrives whole with the next one; bytes that are
// not UTF-8 become U+FFFD.
class Utf8Tail
{
public:
    QString decode(const char *data, qsizetype size);
    // What is left at the end of the stream (an unfinished character
    // becomes U+FFFD); empty when nothing is held.
    QString flush();

private:
    QString convert(qsizetype count);

    QByteArray m_pending;
    bool m_started = false;
};
