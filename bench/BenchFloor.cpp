// Measuring a merge's floor with the same libraries the engine uses: libzip for inflating the
// inputs, zlib for deflating the output.
// SPDX-License-Identifier: Apache-2.0
#include "bench/BenchFloor.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace gq::bench {

namespace {

// Wall or CPU time of this process, as chosen for the whole measurement.
bool g_cpuTime = false;

double Now()
{
    timespec ts{};
    ::clock_gettime(g_cpuTime ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(double start)
{
    return Now() - start;
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        throw std::runtime_error(path + ": cannot be opened");
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

bool IsZip(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K';
}

// Every part of a zip held in memory, inflated; `keep` collects them when given.
uint64_t InflateAll(const std::vector<uint8_t>& bytes, std::vector<std::vector<uint8_t>>* keep)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (archive == nullptr) {
        if (source) {
            zip_source_free(source);
        }
        zip_error_fini(&error);
        throw std::runtime_error("not a readable zip");
    }
    uint64_t total = 0;
    std::vector<uint8_t> buffer(1 << 16);
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (file == nullptr) {
            continue;
        }
        std::vector<uint8_t> part;
        zip_int64_t n = 0;
        while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) {
            total += static_cast<uint64_t>(n);
            if (keep) {
                part.insert(part.end(), buffer.begin(), buffer.begin() + n);
            }
        }
        zip_fclose(file);
        if (keep) {
            keep->push_back(std::move(part));
        }
    }
    zip_close(archive);
    zip_error_fini(&error);
    return total;
}

// Raw deflate at level 1, as a zip writer would store the part.
uint64_t DeflateLevel1(const std::vector<uint8_t>& part, std::vector<uint8_t>& out)
{
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    out.resize(deflateBound(&z, part.size()));
    z.next_in = const_cast<Bytef*>(part.data());
    z.avail_in = static_cast<uInt>(part.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    const uint64_t produced = z.total_out;
    deflateEnd(&z);
    return produced;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

Floor MeasureFloor(const std::vector<std::string>& inputs, const std::string& output, const std::string& scratch,
                   int runs, bool cpuTime)
{
    g_cpuTime = cpuTime;
    const std::vector<uint8_t> outputBytes = ReadFile(output);
    std::vector<std::vector<uint8_t>> outputParts;
    if (IsZip(outputBytes)) {
        InflateAll(outputBytes, &outputParts);
    }
    std::vector<double> reads, inflates, outputs;
    std::vector<uint8_t> deflated;
    for (int run = 0; run < std::max(runs, 1); ++run) {
        std::vector<std::vector<uint8_t>> inputBytes;
        double start = Now();
        for (const std::string& input : inputs) {
            inputBytes.push_back(ReadFile(input));
        }
        reads.push_back(Seconds(start));

        start = Now();
        for (const std::vector<uint8_t>& bytes : inputBytes) {
            if (IsZip(bytes)) {
                InflateAll(bytes, nullptr);
            }
        }
        inflates.push_back(Seconds(start));

        start = Now();
        if (!outputParts.empty()) {
            for (const std::vector<uint8_t>& part : outputParts) {
                DeflateLevel1(part, deflated);
            }
        } else {
            const std::string path = scratch + "/floor-output.bin";
            FILE* f = std::fopen(path.c_str(), "wb");
            if (f != nullptr) {
                std::fwrite(outputBytes.data(), 1, outputBytes.size(), f);
                std::fclose(f);
            }
            std::remove(path.c_str());
        }
        outputs.push_back(Seconds(start));
    }
    return Floor{Median(reads), Median(inflates), Median(outputs)};
}

} // namespace gq::bench
