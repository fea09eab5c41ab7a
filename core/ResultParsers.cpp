#include "core/ResultParsers.h"

#include "core/MediaInfo.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace results {

namespace {

bool isAscii(const QByteArray &bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) > 0x7f)
            return false;
    return true;
}

int clampToInt(qint64 v)
{
    return int(qBound(qint64(std::numeric_limits<int>::min()), v, qint64(std::numeric_limits<int>::max())));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Accumulates a digit run, saturating where a 32-bit int ends.
template <typename Next> int readDigits(Next &&next, bool negative)
{
    qint64 v = 0;
    const qint64 limit =
        negative ? qint64(std::numeric_limits<int>::max()) + 1 : std::numeric_limits<int>::max();
    while (true) {
        const int c = next();
        if (c < 0)
            break;
        if (v <= limit)
            v = v * 10 + (c - '0');
    }
    if (v > limit)
        v = limit;
    return int(negative ? -v : v);
}

// Scans an integer after white space (blank, tab, CR, LF), as a scanner
// that skips white space would. Advances pos only on success.
bool scanWhitespaceInt(const char *s, qsizetype len, qsizetype &pos, int &out)
{
    qsizetype p = pos;
    while (p < len && (s[p] == ' ' || s[p] == '\t' || s[p] == '\r' || s[p] == '\n'))
        ++p;
    bool negative = false;
    if (p < len && (s[p] == '+' || s[p] == '-')) {
        negative = s[p] == '-';
        ++p;
    }
    if (p >= len || !isDigit(s[p]))
        return false;
    out = readDigits([&]() -> int { return (p < len && isDigit(s[p])) ? s[p++] : -1; }, negative);
    pos = p;
    return true;
}

} // namespace

FrameList parseFrameList(const QByteArray &text)
{
    FrameList result;
    if (!isAscii(text) || !text.contains("FILE PROCESSING COMPLETE "))
        return result;
    result.found = true;

    // The first two digit runs of the whole text.
    const char *s = text.constData();
    const qsizetype n = text.size();
    qsizetype p = 0;
    int runs[2] = {0, 0};
    int found = 0;
    while (found < 2 && p < n) {
        while (p < n && !isDigit(s[p]))
            ++p;
        if (p >= n)
            break;
        runs[found++] = readDigits([&]() -> int { return (p < n && isDigit(s[p])) ? s[p++] : -1; }, false);
    }
    if (found >= 1)
        result.totalRows = runs[0];
    if (found >= 2)
        result.fps = float(runs[1]) / 100.0f;

    // Commercial lines, from the third line on.
    qint64 breakPos = 0;
    qint64 lastEnd = 0;
    qsizetype lineStart = 0;
    int lineIndex = 0;
    while (lineStart <= n) {
        qsizetype lineEnd = text.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = n;
        if (lineIndex >= 2) {
            const char *line = s + lineStart;
            const qsizetype len = lineEnd - lineStart;
            qsizetype pos = 0;
            int start = 0, end = 0;
            if (scanWhitespaceInt(line, len, pos, start) && scanWhitespaceInt(line, len, pos, end)) {
                const qint64 length = qint64(end) - start + 1;
                if (length >= kMinCommercialFrames) {
                    breakPos += qint64(start) - lastEnd;
                    Commercial c;
                    c.start = start;
                    c.end = end;
                    c.length = clampToInt(length);
                    c.brk = clampToInt(breakPos);
                    result.commercials.append(c);
                    lastEnd = end;
                }
            }
        }
        ++lineIndex;
        lineStart = lineEnd + 1;
    }
    return result;
}

Sampling samplingFor(int totalRows)
{
    Sampling s;
    s.pointCount = kMaxChartPoints;
    s.chunkSize = float(totalRows) / 1500.0f;
    if (s.chunkSize < 1.0f) {
        s.pointCount = qMax(totalRows, 0);
        s.chunkSize = 1.0f;
    }
    return s;
}

bool frameListComplete(const QByteArray &text)
{
    if (!isAscii(text) || !text.endsWith('\n'))
        return false;
    const qsizetype first = text.indexOf('\n');
    const qsizetype second = text.indexOf('\n', first + 1);
    if (second < 0)
        return false;
    // "FILE PROCESSING COMPLETE  10869 FRAMES AT  2997"
    const QList<QByteArray> words = text.left(first).simplified().split(' ');
    if (words.size() != 7 || words.at(0) != "FILE" || words.at(1) != "PROCESSING" || words.at(2) != "COMPLETE"
        || words.at(4) != "FRAMES" || words.at(5) != "AT")
        return false;
    bool frames = false, rate = false;
    words.at(3).toLongLong(&frames);
    words.at(6).toLongLong(&rate);
    const QByteArray dashes = text.mid(first + 1, second - first - 1).trimmed();
    return frames && rate && !dashes.isEmpty() && dashes.count('-') == dashes.size();
}

std::optional<int> countEdlEntries(const QByteArray &text)
{
    if (!isAscii(text))
        return std::nullopt;
    const std::optional<QList<media::Span>> cuts = media::parseEdlCuts(text);
    if (!cuts)
        return std::nullopt;
    return int(qMin<qsizetype>(cuts->size(), std::numeric_limits<int>::max()));
}

ProgressScan scanProgressChunk(QStringView chunk)
{
    ProgressScan scan;
    const qsizetype percentAt = chunk.lastIndexOf(u'%');
    if (percentAt < 0)
        return scan;
    if (!chunk.contains(u" frames in ") && !chunk.startsWith(u"Pos:"))
        return scan;
    scan.isProgress = true;

    // The window of five characters before the '%', cut at the chunk's start.
    const qsizetype windowStart = qMax<qsizetype>(0, percentAt - 5);
    qsizetype lastNonDigit = -1;
    for (qsizetype i = percentAt - 1; i >= windowStart; --i) {
        const QChar c = chunk.at(i);
        if (!(c >= u'0' && c <= u'9')) {
            lastNonDigit = i;
            break;
        }
    }
    // A window of nothing but digits gives no value: five digits are no
    // percentage. A cut window with only digits stands at the chunk's start,
    // so its digits are the number.
    if (lastNonDigit < 0 && percentAt - windowStart == 5)
        return scan;
    const qsizetype from = lastNonDigit < 0 ? windowStart : lastNonDigit + 1;
    int value = 0;
    for (qsizetype i = from; i < percentAt; ++i)
        value = value * 10 + (chunk.at(i).unicode() - '0');
    scan.percent = value;
    return scan;
}

QStringList parseCsvHeader(const char *line)
{
    const QByteArray bytes(line);
    QList<QByteArray> pieces = bytes.split(',');
    pieces.removeLast();
    QStringList labels;
    labels.reserve(pieces.size());
    for (const QByteArray &piece : pieces)
        labels.append(QString::fromUtf8(piece));
    return labels;
}

int scanCsvRow(const char *line, int values[kMaxDataCols])
{
    // One row per frame: this loop is most of the time spent on a table.
    const auto *p = reinterpret_cast<const unsigned char *>(line);
    int count = 0;
    while (count < kMaxDataCols) {
        unsigned c = *p;
        while (c == ',' || c == ' ' || c == '\t' || c == '\n')
            c = *++p;
        const unsigned char *q = p;
        const bool negative = c == '-';
        if (c == '-' || c == '+')
            c = *++q;
        unsigned d = c - '0';
        if (d > 9)
            break;
        const unsigned char *first = q;
        quint64 v = d;
        for (d = unsigned(*++q) - '0'; d <= 9; d = unsigned(*++q) - '0')
            v = v * 10 + d;
        // Beyond 18 digits the sum may have wrapped: saturate.
        if (q - first > 18)
            v = quint64(std::numeric_limits<qint64>::max() / 2);
        const qint64 s = negative ? -qint64(v) : qint64(v);
        values[count++] = clampToInt(s);
        p = q;
    }
    return count;
}

namespace {
constexpr size_t kBlock = size_t(256) * 1024;
}

// One byte more than a block: the NUL after a line that ends a block.
CsvLineReader::CsvLineReader(FILE *file) : m_file(file), m_block(kBlock + 1) { }

const char *CsvLineReader::next()
{
    constexpr size_t kMax = kCsvLineBuffer - 1;
    if (m_saved) {
        m_block[m_savedPos] = m_savedChar;
        m_saved = false;
    }
    char *data = m_block.data();
    while (true) {
        const size_t avail = m_len - m_pos;
        const char *from = data + m_pos;
        const void *newline = std::memchr(from, '\n', std::min(avail, kMax));
        if (newline || avail >= kMax) {
            const size_t take = newline ? size_t(static_cast<const char *>(newline) - from) + 1 : kMax;
            m_savedPos = m_pos + take;
            m_savedChar = m_block[m_savedPos];
            m_saved = true;
            m_block[m_savedPos] = '\0';
            m_pos += take;
            return from;
        }
        // fgets would read on into the end of the file and set its mark.
        if (m_eof || !m_file)
            return nullptr;
        // The line runs past what has been read: its start moves to the
        // front of the block and the rest is read behind it.
        std::memmove(data, from, avail);
        m_pos = 0;
        m_len = avail;
        const size_t got = std::fread(data + m_len, 1, kBlock - m_len, m_file);
        if (got == 0)
            m_eof = true;
        m_len += got;
    }
}

CsvFold foldCsv(FILE *file, int *matrix, int pointCapacity, int *ranges, float chunkSize, int totalRows)
{
    CsvFold fold;
    for (int k = 0; k < kMaxDataCols; ++k) {
        ranges[2 * k] = 0;
        ranges[2 * k + 1] = 0;
    }
    qint64 sums[kMaxDataCols] = {};
    int values[kMaxDataCols];
    int rowsInPoint = 0;
    int pointIndex = 0;
    float nextBoundary = chunkSize;
    int lineNumber = 0;
    bool lookingForHeader = true;
    CsvLineReader lines(file);

    while (true) {
        const char *buffer = lines.next();
        const bool atEnd = !buffer;
        if (!atEnd && lookingForHeader) {
            ++lineNumber;
            // A "sep=," line is a spreadsheet hint in front of the header.
            if (lineNumber == 1 && std::strncmp(buffer, "sep=", 4) == 0)
                continue;
            fold.labels = parseCsvHeader(buffer);
            fold.headerRead = true;
            lookingForHeader = false;
            continue;
        }
        if (!atEnd) {
            ++fold.rowCount;
            ++rowsInPoint;
            const int n = scanCsvRow(buffer, values);
            for (int k = 0; k < n; ++k)
                sums[k] += values[k];
            fold.valuesInLastRow = n;
        }
        // The last point takes every row left, so the matrix never
        // receives more points than it has room for.
        const bool lastPoint = pointIndex >= pointCapacity - 1;
        const bool boundary = lastPoint ? atEnd : (nextBoundary - float(fold.rowCount) < 0.5f || atEnd);
        if (boundary && rowsInPoint > 0 && pointIndex < pointCapacity) {
            int *row = matrix + qsizetype(pointIndex) * kMaxDataCols;
            for (int k = 0; k < fold.valuesInLastRow; ++k) {
                const int v = int(sums[k] / rowsInPoint);
                row[k] = v;
                if (v < ranges[2 * k])
                    ranges[2 * k] = v;
                if (v > ranges[2 * k + 1])
                    ranges[2 * k + 1] = v;
            }
            std::memset(sums, 0, sizeof sums);
            nextBoundary += chunkSize;
            if (pointIndex + 2 == pointCapacity)
                nextBoundary = float(totalRows);
            ++pointIndex;
            rowsInPoint = 0;
        }
        if (atEnd)
            break;
    }
    fold.pointsStored = pointIndex;
    return fold;
}

} // namespace results
