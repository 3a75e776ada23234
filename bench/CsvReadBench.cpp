// Benchmark of the delimited text reader: generates a CSV file of about 60 MB (text, whole numbers,
// decimals, dates, quoted text with commas) and measures how many cells a second the whole sheet
// reads on one core, in UTF-8 and in Windows-1252.
//
//     gq_bench_csv_read [--rows N] [--runs N] [--dir DIR]
// SPDX-License-Identifier: Apache-2.0
#include "engine/csv/CsvReader.h"
#include "engine/io/Bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace gq::engine;

namespace {

constexpr uint32_t kCols = 20;

// CPU time of this thread: on a machine shared with other work, wall time measures the others too.
double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A table as systems export them: a name column of 1,000 distinct texts, whole numbers, amounts
// with two decimals, an ISO date, a quoted text holding the delimiter. `latin` puts an "é" (one
// byte in Windows-1252, so the file is read as that) into the names.
uint64_t Generate(const std::string& path, uint32_t rows, bool latin)
{
    std::ofstream out(path, std::ios::binary);
    std::string line;
    uint64_t seed = 88172645463325252ull;
    char buf[64];
    for (uint32_t r = 0; r < rows; ++r) {
        line.clear();
        for (uint32_t c = 0; c < kCols; ++c) {
            seed ^= seed << 13;
            seed ^= seed >> 7;
            seed ^= seed << 17;
            if (c > 0) {
                line += ',';
            }
            if (c == 0) {
                line += latin ? "Caf\xe9 " : "Customer ";
                line += std::to_string(seed % 1000);
            } else if (c == 1) {
                std::snprintf(buf, sizeof buf, "2024-%02u-%02u", static_cast<unsigned>(seed % 12 + 1),
                              static_cast<unsigned>(seed % 28 + 1));
                line += buf;
            } else if (c == 2) {
                line += "\"Street " + std::to_string(seed % 500) + ", Town\"";
            } else if (c % 2 == 0) {
                std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(seed % 10000000) / 100.0);
                line += buf;
            } else {
                line += std::to_string(seed % 100000);
            }
        }
        line += "\r\n";
        out << line;
    }
    out.close();
    return std::filesystem::file_size(path);
}

void Measure(const char* label, const std::string& path, int runs)
{
    std::vector<double> cpu;
    size_t cells = 0;
    for (int i = 0; i < runs; ++i) {
        double c0 = CpuSeconds();
        auto wb = ReadCsv(InputBytes::MapFile(path));
        Worksheet& ws = wb->Sheet(0);
        cpu.push_back(CpuSeconds() - c0);
        cells = ws.CellCount();
    }
    double seconds = Median(cpu);
    std::printf("%s: %zu cells in %.3f s CPU = %.2f M cells/s on one core (target >= 5)\n", label, cells, seconds,
                static_cast<double>(cells) / seconds / 1e6);
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t rows = 300000; // about 60 MB
    int runs = 3;
    std::string dir = std::filesystem::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rows") == 0) {
            rows = static_cast<uint32_t>(std::stoul(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::stoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--dir") == 0) {
            dir = argv[i + 1];
        }
    }
    const std::string utf8 = dir + "/gq_bench_csv_read_utf8.csv";
    const std::string latin = dir + "/gq_bench_csv_read_1252.csv";
    std::printf("files: %.1f MB each (%u x %u cells)\n", Generate(utf8, rows, false) / 1048576.0, rows, kCols);
    Generate(latin, rows, true);
    Measure("UTF-8", utf8, runs);
    Measure("Windows-1252", latin, runs);
    std::filesystem::remove(utf8);
    std::filesystem::remove(latin);
    return 0;
}
