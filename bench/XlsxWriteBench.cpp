// Benchmark of the xlsx writer: a generated 50,000 x 20 sheet (1,000,000 cells) written to memory,
// on the caller's thread alone and with deflate threads; prints cells per second beside the floor,
// which is deflating the same XML bytes at zlib level 1 on one core.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"
#include "engine/xlsx/XlsxWriter.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace gq::engine;

namespace {

constexpr uint32_t kRows = 50000;
constexpr uint32_t kCols = 20;
constexpr int kRuns = 5;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuNow()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The content of a merged report: words from a small vocabulary, unique labels, integers,
// fractions, dates with a date format and a bold column.
void FillBook(Workbook& book)
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

// Every part of the package, inflated: the XML the writer produced.
std::vector<std::string> Parts(std::vector<uint8_t>& bytes)
{
    std::vector<std::string> parts;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* archive = source != nullptr ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (archive == nullptr) {
        std::fprintf(stderr, "cannot reopen the output: %s\n", zip_error_strerror(&error));
        std::exit(1);
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st);
        std::string data(st.size, '\0');
        zip_file_t* f = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (f == nullptr || zip_fread(f, data.data(), st.size) != static_cast<zip_int64_t>(st.size)) {
            std::fprintf(stderr, "cannot read part %s of the output\n", st.name);
            std::exit(1);
        }
        zip_fclose(f);
        parts.push_back(std::move(data));
    }
    zip_close(archive);
    return parts;
}

// Deflates each part at level 1 on this thread, as the writer's zip writer sets zlib up.
size_t DeflateAll(const std::vector<std::string>& parts)
{
    size_t total = 0;
    std::vector<uint8_t> out(1 << 20);
    z_stream s{};
    deflateInit2(&s, 1, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    for (const std::string& p : parts) {
        deflateReset(&s);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p.data()));
        s.avail_in = static_cast<uInt>(p.size());
        int ret = Z_OK;
        while (ret != Z_STREAM_END) {
            s.next_out = out.data();
            s.avail_out = static_cast<uInt>(out.size());
            ret = deflate(&s, Z_FINISH);
            total += out.size() - s.avail_out;
        }
        total += static_cast<size_t>(crc32_z(0, reinterpret_cast<const Bytef*>(p.data()), p.size()) & 1);
    }
    deflateEnd(&s);
    return total;
}

struct Timing {
    double wall;
    double cpu;
};

Timing Median(std::vector<Timing> t)
{
    std::sort(t.begin(), t.end(), [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
    return t[t.size() / 2];
}

} // namespace

int main()
{
    Workbook book;
    FillBook(book);
    const double cells = static_cast<double>(kRows) * kCols;
    long rssBefore = PeakRssKiB();

    std::vector<uint8_t> output;
    auto run = [&](int threads) {
        std::vector<Timing> times;
        for (int i = 0; i < kRuns; ++i) {
            XlsxWriteOptions options;
            options.threads = threads;
            MemorySink sink;
            sink.Bytes().reserve(16 << 20);
            double w0 = Now();
            double c0 = CpuNow();
            WriteXlsx(book, sink, options);
            times.push_back({Now() - w0, CpuNow() - c0});
            output = std::move(sink.Bytes());
        }
        return Median(times);
    };
    Timing one = run(0);
    Timing many = run(-1);

    std::vector<std::string> parts = Parts(output);
    size_t xmlBytes = 0;
    for (const auto& p : parts) {
        xmlBytes += p.size();
    }
    std::vector<Timing> floors;
    for (int i = 0; i < kRuns; ++i) {
        double w0 = Now();
        double c0 = CpuNow();
        DeflateAll(parts);
        floors.push_back({Now() - w0, CpuNow() - c0});
    }
    Timing floor = Median(floors);

    std::printf("gq_bench_xlsx_write: %.0f cells, %zu bytes of XML, %zu bytes of xlsx (median of %d)\n", cells,
                xmlBytes, output.size(), kRuns);
    std::printf("  one thread      : %.3f s wall, %.3f s cpu, %.2f M cells/s (wall), %.2f M cells/s (cpu)\n", one.wall,
                one.cpu, cells / one.wall / 1e6, cells / one.cpu / 1e6);
    std::printf("  deflate threads : %.3f s wall, %.3f s cpu, %.2f M cells/s (wall)\n", many.wall, many.cpu,
                cells / many.wall / 1e6);
    std::printf(
        "  floor (deflate level 1 + CRC-32 of the same XML, one core): %.3f s wall, %.3f s cpu, %.2f M cells/s\n",
        floor.wall, floor.cpu, cells / floor.wall / 1e6);
    std::printf("  one thread / floor: %.2fx (wall), %.2fx (cpu)\n", one.wall / floor.wall, one.cpu / floor.cpu);
    std::printf("  peak RSS: %ld MiB (model %ld MiB)\n", PeakRssKiB() / 1024, rssBefore / 1024);
    return 0;
}
