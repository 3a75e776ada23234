// Benchmark of the OpenDocument reader: generates a spreadsheet of about 300,000 x 20 cells (text,
// whole numbers, decimals with a style, dates) as an office suite writes it, and measures how long
// listing its sheets takes and how many cells a second the whole sheet reads on one core.
//
//     gq_bench_ods_read [--rows N] [--runs N] [--dir DIR]
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/Bytes.h"
#include "engine/ods/OdsReader.h"
#include "engine/zip/ZipWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace gq::engine;

namespace {

constexpr uint32_t kCols = 20;

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

uint64_t Generate(const std::string& path, uint32_t rows)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    FileSink sink(fd, path);
    ZipWriter zip(sink, 6);
    zip.AddPart("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
    zip.AddPart("META-INF/manifest.xml",
                R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"/>)");
    zip.AddPart("styles.xml",
                R"(<office:document-styles xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
                R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
                R"(xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"><office:styles>)"
                R"(<number:number-style style:name="N4"><number:number number:decimal-places="3" )"
                R"(number:min-integer-digits="1" number:grouping="true"/></number:number-style>)"
                R"(</office:styles></office:document-styles>)");
    zip.BeginPart("content.xml");
    std::string chunk = R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content )"
                        R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
                        R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
                        R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
                        R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
                        R"(xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0">)"
                        R"(<office:automatic-styles><style:style style:name="ce1" style:family="table-cell" )"
                        R"(style:data-style-name="N4"/></office:automatic-styles><office:body><office:spreadsheet>)"
                        R"(<table:table table:name="Data"><table:table-column table:number-columns-repeated="20"/>)";
    uint64_t seed = 88172645463325252ull;
    char buf[256];
    for (uint32_t r = 0; r < rows; ++r) {
        chunk += "<table:table-row>";
        for (uint32_t c = 0; c < kCols; ++c) {
            seed ^= seed << 13;
            seed ^= seed >> 7;
            seed ^= seed << 17;
            if (c == 0) {
                std::snprintf(buf, sizeof buf,
                              R"(<table:table-cell office:value-type="string" calcext:value-type="string">)"
                              R"(<text:p>Customer %u</text:p></table:table-cell>)",
                              static_cast<unsigned>(seed % 1000));
            } else if (c == 1) {
                std::snprintf(buf, sizeof buf,
                              R"(<table:table-cell office:value-type="date" office:date-value="2024-%02u-%02u" )"
                              R"(calcext:value-type="date"><text:p>x</text:p></table:table-cell>)",
                              static_cast<unsigned>(seed % 12 + 1), static_cast<unsigned>(seed % 28 + 1));
            } else if (c % 2 == 0) {
                double v = static_cast<double>(seed % 10000000) / 1000.0;
                std::snprintf(buf, sizeof buf,
                              R"(<table:table-cell table:style-name="ce1" office:value-type="float" )"
                              R"(office:value="%.3f" calcext:value-type="float"><text:p>%.3f</text:p>)"
                              R"(</table:table-cell>)",
                              v, v);
            } else {
                unsigned v = static_cast<unsigned>(seed % 100000);
                std::snprintf(buf, sizeof buf,
                              R"(<table:table-cell office:value-type="float" office:value="%u" )"
                              R"(calcext:value-type="float"><text:p>%u</text:p></table:table-cell>)",
                              v, v);
            }
            chunk += buf;
        }
        chunk += "</table:table-row>";
        if (chunk.size() > (1u << 20)) {
            zip.Write(chunk.data(), chunk.size());
            chunk.clear();
        }
    }
    chunk += R"(<table:table-row table:number-rows-repeated="1048000"><table:table-cell )"
             R"(table:number-columns-repeated="1024"/></table:table-row>)";
    chunk += "</table:table></office:spreadsheet></office:body></office:document-content>";
    zip.Write(chunk.data(), chunk.size());
    zip.EndPart();
    zip.Finish();
    sink.Finish();
    ::close(fd);
    return std::filesystem::file_size(path);
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t rows = 300000;
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
    const std::string path = dir + "/gq_bench_ods_read.ods";
    std::printf("spreadsheet: %.1f MB (%u x %u cells)\n", Generate(path, rows) / 1048576.0, rows, kCols);
    std::vector<double> listing;
    std::vector<double> cpu;
    size_t cells = 0;
    for (int i = 0; i < runs; ++i) {
        double c0 = CpuSeconds();
        auto wb = ReadOds(InputBytes::MapFile(path));
        double c1 = CpuSeconds();
        Worksheet& ws = wb->Sheet(0);
        cpu.push_back(CpuSeconds() - c1);
        listing.push_back(c1 - c0);
        cells = ws.CellCount();
    }
    double seconds = Median(cpu);
    std::printf("listing: %.3f s CPU (content.xml is read to find the sheet names)\n", Median(listing));
    std::printf("read whole sheet: %zu cells in %.3f s CPU = %.2f M cells/s on one core (target >= 1)\n", cells,
                seconds, static_cast<double>(cells) / seconds / 1e6);
    std::filesystem::remove(path);
    return 0;
}
