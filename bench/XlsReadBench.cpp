// Benchmark of the .xls reader: generates a BIFF8 workbook with one 65,000 x 20 sheet (shared
// strings, integers as RK, fractions as NUMBER, dates, unique labels) in memory, then reads it
// several times; prints cells per second (median) and peak memory.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "engine/io/Bytes.h"
#include "tests/support/BiffTestBuilder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace gq::engine;
namespace tb = gq::test::biff;

namespace {

constexpr uint32_t kRows = 65000;
constexpr uint32_t kCols = 20;

// CPU time of this thread: on a machine shared with other work, wall time measures the others too.
double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Bytes allocated from the heap and not yet freed.
double HeapMiB()
{
    struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// SST with Continue records, each string whole inside one record.
std::vector<uint8_t> SharedStrings(const std::vector<std::string>& strings)
{
    std::vector<uint8_t> out;
    tb::Bytes current;
    current.U32(static_cast<uint32_t>(strings.size())).U32(static_cast<uint32_t>(strings.size()));
    uint16_t type = 0x00FC;
    for (const std::string& s : strings) {
        if (current.Size() + 3 + s.size() > 8224) {
            auto rec = tb::Record(type, current);
            out.insert(out.end(), rec.begin(), rec.end());
            current = tb::Bytes();
            type = 0x003C;
        }
        current.XLString(s);
    }
    auto rec = tb::Record(type, current);
    out.insert(out.end(), rec.begin(), rec.end());
    return out;
}

uint32_t Rk(int32_t v)
{
    return (static_cast<uint32_t>(v) << 2) | 0x02;
}

std::vector<uint8_t> Generate()
{
    tb::WorkbookStream wb;
    // Fonts 0-3 and 5, number format 164, style XFs 0-14, cell XFs 15 (default) and 16 (date).
    for (int i = 0; i < 5; ++i) {
        tb::Bytes f;
        f.U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).U8(0).U8(0).U8(0).U8(0).ShortXLString("Arial");
        auto rec = tb::Record(0x0031, f);
        wb.globals.insert(wb.globals.end(), rec.begin(), rec.end());
    }
    {
        tb::Bytes f;
        f.U16(164).XLString("yyyy-mm-dd");
        auto rec = tb::Record(0x041E, f);
        wb.globals.insert(wb.globals.end(), rec.begin(), rec.end());
    }
    for (int i = 0; i < 17; ++i) {
        tb::Bytes x;
        bool style = i < 15;
        x.U16(0).U16(i == 16 ? 164 : 0).U16(style ? 0xFFF5 : 0x0001).U8(0x20).U8(0).U8(0).U8(style ? 0 : 0xF8);
        x.U32(0).U32(0).U16(0x20C0);
        auto rec = tb::Record(0x00E0, x);
        wb.globals.insert(wb.globals.end(), rec.begin(), rec.end());
    }
    std::vector<std::string> strings;
    for (int i = 0; i < 200; ++i) {
        strings.push_back("word " + std::to_string(i));
    }
    tb::Sheet sheet;
    sheet.name = "Data";
    auto& recs = sheet.records;
    recs.reserve(static_cast<size_t>(kRows) * kCols * 16);
    auto add = [&](const std::vector<uint8_t>& r) { recs.insert(recs.end(), r.begin(), r.end()); };
    for (uint32_t r = 0; r < kRows; ++r) {
        tb::Bytes row;
        row.U16(r).U16(0).U16(kCols).U16(255).U16(0).U16(0).U32(0x100);
        add(tb::Record(0x0208, row));
        for (uint32_t c = 0; c < kCols; ++c) {
            tb::Bytes b;
            b.U16(r).U16(c);
            switch (c % 5) {
            case 0:
                b.U16(15).U32((r * 7 + c) % 200);
                add(tb::Record(0x00FD, b));
                break;
            case 1:
                b.U16(15).U32(Rk(static_cast<int32_t>(r * 3 + c)));
                add(tb::Record(0x027E, b));
                break;
            case 2:
                b.U16(15).F64(r * 0.37 + c / 7.0);
                add(tb::Record(0x0203, b));
                break;
            case 3:
                b.U16(16).U32(Rk(static_cast<int32_t>(40000 + r % 3000)));
                add(tb::Record(0x027E, b));
                break;
            default:
                strings.push_back("label " + std::to_string(r) + "/" + std::to_string(c));
                b.U16(15).U32(static_cast<uint32_t>(strings.size() - 1));
                add(tb::Record(0x00FD, b));
                break;
            }
        }
    }
    wb.afterSheets = SharedStrings(strings);
    wb.sheets.push_back(std::move(sheet));
    return tb::XlsFile(wb, 4096).bytes;
}

} // namespace

int main()
{
    auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> file = Generate();
    double genSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (file.empty()) {
        std::fprintf(stderr, "the generated workbook is too large for the test builder\n");
        return 1;
    }
    std::printf("generated %.1f MB in %.2f s\n", file.size() / 1e6, genSeconds);
    auto bytes = InputBytes::FromMemory(std::move(file), "bench.xls");
    long baseline = PeakRssKiB();

    std::vector<double> times;
    std::vector<double> cpuTimes;
    std::vector<double> listTimes;
    size_t cells = 0;
    for (int run = 0; run < 7; ++run) {
        auto t0 = std::chrono::steady_clock::now();
        double c0 = CpuSeconds();
        auto workbook = OpenWorkbookBytes(bytes);
        listTimes.push_back(CpuSeconds() - c0);
        cells = workbook->Sheet(0).CellCount();
        cpuTimes.push_back(CpuSeconds() - c0);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("listing the sheets (globals only): %.2f ms CPU (median)\n", median(listTimes) * 1e3);
    std::printf("xls read: %zu cells in %.3f s CPU = %.2f M cells/s (wall %.3f s = %.2f M cells/s; medians of %zu)\n",
                cells, median(cpuTimes), cells / median(cpuTimes) / 1e6, median(times), cells / median(times) / 1e6,
                times.size());
    double before = HeapMiB();
    auto held = OpenWorkbookBytes(bytes);
    held->Sheet(0);
    double after = HeapMiB();
    std::printf("memory held by the loaded workbook: %.1f MiB (%.1f bytes per cell, strings included)\n",
                after - before, (after - before) * 1024.0 * 1024.0 / static_cast<double>(cells));
    std::printf("peak RSS of the whole run (generator included): %.1f MiB\n", PeakRssKiB() / 1024.0);
    (void)baseline;
    return cells == static_cast<size_t>(kRows) * kCols ? 0 : 1;
}
