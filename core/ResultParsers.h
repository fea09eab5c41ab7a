#pragma once

// Pure readers of what the detector leaves beside a recording and of what
// the tools print. Nothing here touches a window or a field of the
// controller, so tests, benchmarks and fuzzers call them directly.

#include "core/Commercial.h"

#include <QByteArray>
#include <QStringList>
#include <QStringView>

#include <cstdio>
#include <optional>
#include <vector>

namespace results {

constexpr int kMaxChartPoints = 1500;
constexpr int kMinCommercialFrames = 30;
constexpr int kMaxDataCols = 20;

// Frame list (.txt):
//   FILE PROCESSING COMPLETE  10869 FRAMES AT  2997
//   -------------------
//   4512<TAB>6339
// The first digit run of the text is the frame count, the second the frame
// rate in hundredths; from the third line on, "start end" pairs.
struct FrameList
{
    bool found = false; // ASCII text holding the completion marker
    int totalRows = 0;
    float fps = 0.0f;
    CommercialList commercials; // only filled when found
};
FrameList parseFrameList(const QByteArray &text);
// The list as comskip leaves it when it has finished writing: its header
// line, the line of dashes, and every line ended. Anything less is what a
// full disk or a killed detector left, and tells nothing of the breaks.
bool frameListComplete(const QByteArray &text);

struct Sampling
{
    int pointCount = 0;
    float chunkSize = 1.0f;
};
Sampling samplingFor(int totalRows);

// EDL: the breaks it lists (rows of action 0 or 3, or of no action), the
// last row counting with or without its line feed. No value for text that
// is not ASCII or holds a row that is not "start end [action]": a list
// that cannot be read is no list of zero breaks.
std::optional<int> countEdlEntries(const QByteArray &text);

// Tool output: a chunk is a progress chunk when it holds a '%' and either
// " frames in " anywhere or "Pos:" at its start. The value is read from the
// (at most four) digits just before the last '%'.
struct ProgressScan
{
    bool isProgress = false;
    std::optional<int> percent; // none: no value in this chunk
};
ProgressScan scanProgressChunk(QStringView chunk);

// Per-frame table (.csv). Lines are read through a 200-byte buffer, so a
// longer line counts as several rows.
constexpr int kCsvLineBuffer = 200;

// Reads a file line by line exactly as fgets(buffer, kCsvLineBuffer, file)
// followed by a feof(file) check does: a line of 200 bytes or more comes in
// pieces of 199, and a last line without its newline counts as the end. It
// reads in large blocks and hands out lines in place, as a line at a time
// through stdio costs more than folding the line does.
class CsvLineReader
{
public:
    explicit CsvLineReader(FILE *file);
    // The next line as fgets would have filled its buffer, NUL-ended and
    // valid until the next call; null where fgets would return nothing or
    // leave the end-of-file mark.
    const char *next();

private:
    FILE *m_file;
    std::vector<char> m_block;
    size_t m_pos = 0;
    size_t m_len = 0;
    bool m_eof = false;
    // The byte a line's terminating NUL stands on, given back next time.
    size_t m_savedPos = 0;
    char m_savedChar = 0;
    bool m_saved = false;
};
// Labels of a header line: the pieces between commas, the text after the
// last comma dropped.
QStringList parseCsvHeader(const char *line);
// Up to 20 integers, each after any run of "\n\t, "; the row ends at the
// first text that is not an integer. Returns how many were read.
int scanCsvRow(const char *line, int values[kMaxDataCols]);

struct CsvFold
{
    bool headerRead = false;
    QStringList labels;
    int rowCount = 0; // data rows read
    int pointsStored = 0;
    int valuesInLastRow = 0; // number of values of the last data row
};
// Folds the rows of an open table into points of chunkSize rows each, at
// most pointCapacity of them (surplus rows go into the last point). matrix
// holds pointCapacity * kMaxDataCols ints and must come zeroed; ranges holds
// kMaxDataCols [min, max] pairs and is set here, starting from [0, 0].
CsvFold foldCsv(FILE *file, int *matrix, int pointCapacity, int *ranges, float chunkSize, int totalRows);

} // namespace results
