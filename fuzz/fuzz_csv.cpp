// The per-frame table: header and row scanning and the fold into points.
// The first two bytes choose the frame count, so that the matrix is sized
// as the frame list would size it; AddressSanitizer watches its bounds.
#include "core/ResultParsers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int totalRows = (data[0] | (data[1] << 8)) % 5000;
    std::vector<char> table(reinterpret_cast<const char *>(data) + 2,
                            reinterpret_cast<const char *>(data) + size);
    const results::Sampling s = results::samplingFor(totalRows);
    if (s.pointCount == 0)
        return 0;
    // Exactly the room the reader gives it, so any overrun is caught.
    std::vector<int> matrix(size_t(s.pointCount) * results::kMaxDataCols, 0);
    int ranges[2 * results::kMaxDataCols];
    FILE *file = table.empty() ? std::fopen("/dev/null", "rb") : fmemopen(table.data(), table.size(), "rb");
    if (!file)
        return 0;
    const results::CsvFold fold =
        results::foldCsv(file, matrix.data(), s.pointCount, ranges, s.chunkSize, totalRows);
    std::fclose(file);
    if (fold.pointsStored > s.pointCount || fold.valuesInLastRow > results::kMaxDataCols)
        std::abort();
    // The block reader gives the lines fgets and feof would, byte for byte.
    if (!table.empty()) {
        FILE *a = fmemopen(table.data(), table.size(), "rb");
        FILE *b = fmemopen(table.data(), table.size(), "rb");
        results::CsvLineReader reader(b);
        char expected[results::kCsvLineBuffer];
        while (true) {
            const bool more = std::fgets(expected, sizeof expected, a) && !std::feof(a);
            const char *got = reader.next();
            if ((got != nullptr) != more)
                std::abort();
            if (!more)
                break;
            if (std::strcmp(expected, got) != 0)
                std::abort();
        }
        std::fclose(a);
        std::fclose(b);
    }
    for (int k = 0; k < results::kMaxDataCols; ++k)
        if (ranges[2 * k] > 0 || ranges[2 * k + 1] < 0)
            std::abort();
    return 0;
}
