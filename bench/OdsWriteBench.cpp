// Benchmark of the OpenDocument .ods writer: a generated 65,000 x 20 sheet of numbers, integers,
// strings, dates and a few styles, written to a sink that only counts; prints cells per second and
// peak memory. Run it under `taskset -c 0` for the figure of one core.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace gq::engine;

namespace {

constexpr uint32_t kRows = 65000;
constexpr uint32_t kCols = 20;

// Counts the bytes and drops them, so that peak memory shows the writer's own, not an output buffer's.
class CountingSink : public ByteSink {
public:
    void Write(const void*, size_t size) override { m_written += size; }
    uint64_t Written() const override { return m_written; }

private:
    uint64_t m_written = 0;
};

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Columns cycle through the kinds of content a merged report holds: text from a small vocabulary,
// integers, fractions, dates with a date format, and unique labels.
void BuildSheet(Workbook& book)
{
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Data"));
    ResolvedStyle dateStyle;
    dateStyle.numFmt = "yyyy-mm-dd";
    uint32_t dateXf = book.Styles().InternStyle(dateStyle);
    ResolvedStyle boldStyle;
    boldStyle.font.bold = true;
    uint32_t boldXf = book.Styles().InternStyle(boldStyle);
    std::vector<uint32_t> words;
    for (int i = 0; i < 200; ++i) {
        words.push_back(book.Strings().Intern("word " + std::to_string(i)));
    }
    sheet.rows.reserve(kRows);
    for (uint32_t r = 0; r < kRows; ++r) {
        Row& row = sheet.RowAt(r);
        row.cells.reserve(kCols);
        for (uint32_t c = 0; c < kCols; ++c) {
            switch (c % 5) {
            case 0:
                sheet.SetString(r, c, words[(r * 7 + c) % words.size()]);
                break;
            case 1:
                sheet.SetNumber(r, c, static_cast<double>(r * 3 + c));
                break;
            case 2:
                sheet.SetNumber(r, c, r * 0.37 + c / 7.0);
                break;
            case 3:
                sheet.SetNumber(r, c, 40000.0 + r % 3000, dateXf);
                break;
            default:
                if (c == 4) {
                    sheet.SetString(r, c, book.Strings().Intern("id-" + std::to_string(r)), boldXf);
                } else {
                    sheet.SetNumber(r, c, -1.5 * r, boldXf);
                }
                break;
            }
        }
    }
}

} // namespace

int main()
{
    Workbook book;
    BuildSheet(book);
    const double cells = static_cast<double>(kRows) * kCols;
    long rssBefore = PeakRssKiB();

    // CPU time of the whole process, the deflate threads included: on a shared machine the wall
    // clock says more about the other processes than about the writer.
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;
    uint64_t bytes = 0;
    for (int run = 0; run < 5; ++run) {
        CountingSink sink;
        auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        WriteWorkbook(book, FileFormat::Ods, sink);
        cpuSeconds.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        auto stop = std::chrono::steady_clock::now();
        seconds.push_back(std::chrono::duration<double>(stop - start).count());
        bytes = sink.Written();
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpuSeconds.begin(), cpuSeconds.end());
    double median = seconds[seconds.size() / 2];
    const double cpuMedian = cpuSeconds[cpuSeconds.size() / 2];
    std::printf("gq_bench_ods_write: %u x %u = %.0f cells, %llu bytes out\n", kRows, kCols, cells,
                static_cast<unsigned long long>(bytes));
    std::printf("  median %.3f s wall (best %.3f s): %.2f M cells/s\n", median, seconds.front(), cells / median / 1e6);
    std::printf("  median %.3f s of CPU, all threads: %.2f M cells/s of one core\n", cpuMedian,
                cells / cpuMedian / 1e6);
    std::printf("  peak RSS: %.1f MiB after building the model, %.1f MiB after writing\n", rssBefore / 1024.0,
                PeakRssKiB() / 1024.0);
    return 0;
}
