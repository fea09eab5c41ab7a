// Reading the per-frame table: the fold into chart points against a bare
// line-reading loop over the same file, and the peak memory of a fold.
//   bench_csv [rows]          times both over a synthetic table
//   bench_csv --rss rows      folds once and prints the peak RSS in KiB

#include "core/ResultParsers.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <vector>

namespace {

QString makeTable(const QString &dir, int rows)
{
    const QString path = dir + QStringLiteral("/table.csv");
    FILE *f = std::fopen(path.toLocal8Bit().constData(), "w");
    std::fputs("sep=,\nframe,brightness,scene_change,logo,uniform,sound,minY,MaxY,ar_ratio,goodEdge,"
               "isblack,cutscene, MinX, MaxX, hasBright, Dimcount,PTS,59.940060\n",
               f);
    unsigned seed = 12345;
    for (int i = 1; i <= rows; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::fprintf(f, "%d,%u,%u,%u,%u,%u,10,230,1.510000,0.000000,0,%u,10,342,%u,%u,%0.6f\n", i,
                     (seed >> 16) % 256, (seed >> 8) % 1000, (seed >> 3) % 2, (seed >> 5) % 40000,
                     (seed >> 7) % 5000, (seed >> 11) % 100, (seed >> 13) % 400, (seed >> 9) % 20000,
                     i / 59.94);
    }
    std::fclose(f);
    return path;
}

double foldOnce(const QString &path, int rows)
{
    const results::Sampling s = results::samplingFor(rows);
    std::vector<int> matrix(size_t(s.pointCount) * results::kMaxDataCols, 0);
    int ranges[2 * results::kMaxDataCols];
    QElapsedTimer t;
    t.start();
    FILE *f = std::fopen(path.toLocal8Bit().constData(), "rb");
    const results::CsvFold fold = results::foldCsv(f, matrix.data(), s.pointCount, ranges, s.chunkSize, rows);
    std::fclose(f);
    const double ms = t.nsecsElapsed() / 1e6;
    if (fold.rowCount != rows || fold.pointsStored != s.pointCount)
        std::fprintf(stderr, "unexpected fold: %d rows, %d points\n", fold.rowCount, fold.pointsStored);
    return ms;
}

double bareOnce(const QString &path)
{
    QElapsedTimer t;
    t.start();
    FILE *f = std::fopen(path.toLocal8Bit().constData(), "rb");
    char buffer[results::kCsvLineBuffer];
    long lines = 0;
    while (std::fgets(buffer, sizeof buffer, f))
        ++lines;
    std::fclose(f);
    const double ms = t.nsecsElapsed() / 1e6;
    if (lines < 0)
        std::puts("");
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    if (argc == 3 && std::strcmp(argv[1], "--rss") == 0) {
        const int rows = std::atoi(argv[2]);
        const QString path = makeTable(dir.path(), rows);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        foldOnce(path, rows);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        std::printf("rows=%d peak_rss_kib=%ld\n", rows, after.ru_maxrss);
        return 0;
    }
    const int rows = argc > 1 ? std::atoi(argv[1]) : 432000;
    const QString path = makeTable(dir.path(), rows);
    std::vector<double> fold, bare;
    // Warm the page cache, then alternate so both see the same machine.
    bareOnce(path);
    for (int i = 0; i < 7; ++i) {
        bare.push_back(bareOnce(path));
        fold.push_back(foldOnce(path, rows));
    }
    std::sort(fold.begin(), fold.end());
    std::sort(bare.begin(), bare.end());
    const double f = fold[fold.size() / 2], b = bare[bare.size() / 2];
    std::printf("rows=%d fold_median_ms=%.1f bare_median_ms=%.1f ratio=%.2f\n", rows, f, b, f / b);
    return 0;
}
