// Benchmark of the BIFF8 formula decoder and encoder on one core: formulas of the shapes real
// sheets repeat, encoded once as parsed expressions, then decoded into one reused Formula and
// encoded again. The decoding target is 5 million formulas a second.
//
//     gq_bench_biff_formula [--count N] [--runs N]
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"
#include "engine/xls/BiffFormula.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

using namespace gq::engine;

namespace {

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Encoded {
    std::vector<uint8_t> rgce;
    std::vector<uint8_t> rgcb;
};

} // namespace

int main(int argc, char** argv)
{
    size_t count = 1000000;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--count") == 0) {
            count = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::atoi(argv[i + 1]);
        }
    }
    const char* shapes[] = {
        "B%d*C%d",
        "SUM(D%d:H%d)",
        "IF(E%d>0,E%d/F%d,\"\")",
        "VLOOKUP(A%d,Prices!$A$2:$D$500,3,FALSE)",
        "ROUND(G%d*(1+$K$1),2)",
        "'Cost Centres'!B%d-Prices!C%d",
        "INDEX($B:$B,MATCH(A%d,$A:$A,0))",
        "AND(A%d<>\"\",B%d>=DATE(2024,1,1))",
    };
    biff::FormulaEncoder encoder({"Data", "Prices", "Cost Centres"});
    std::vector<Encoded> encoded;
    encoded.reserve(count);
    formula::Formula f;
    char buf[256];
    for (size_t i = 0; i < count; ++i) {
        int row = static_cast<int>(i % 60000) + 2;
        std::snprintf(buf, sizeof buf, shapes[i % (sizeof shapes / sizeof shapes[0])], row, row, row, row);
        formula::ParseFormula(buf, f);
        Encoded e;
        if (encoder.Encode(f, e.rgce, e.rgcb)) {
            encoded.push_back(std::move(e));
        }
    }
    biff::FormulaGlobals globals;
    globals.sheetNames = {"Data", "Prices", "Cost Centres"};
    globals.supBooks.resize(1);
    globals.supBooks[0].kind = biff::SupBook::Kind::Self;
    globals.xtis = encoder.Xtis();

    std::vector<double> decode;
    std::vector<double> encode;
    size_t failed = 0;
    std::vector<uint8_t> rgce;
    std::vector<uint8_t> rgcb;
    for (int run = 0; run < runs; ++run) {
        double start = CpuSeconds();
        for (const Encoded& e : encoded) {
            failed += biff::DecodeFormula(e.rgce, e.rgcb, globals, 10, 3, false, f) ? 0 : 1;
        }
        decode.push_back(static_cast<double>(encoded.size()) / (CpuSeconds() - start));
        start = CpuSeconds();
        for (const Encoded& e : encoded) {
            biff::DecodeFormula(e.rgce, e.rgcb, globals, 10, 3, false, f);
        }
        double decodeOnly = CpuSeconds() - start;
        start = CpuSeconds();
        for (const Encoded& e : encoded) {
            biff::DecodeFormula(e.rgce, e.rgcb, globals, 10, 3, false, f);
            encoder.Encode(f, rgce, rgcb);
        }
        encode.push_back(static_cast<double>(encoded.size()) / (CpuSeconds() - start - decodeOnly));
    }
    std::sort(decode.begin(), decode.end());
    std::sort(encode.begin(), encode.end());
    std::printf("formulas: %zu encoded of %zu, %zu failed to decode\n", encoded.size(), count, failed);
    std::printf("decode: %.2f M formulas/s (median of %d runs, target 5)\n", decode[decode.size() / 2] / 1e6, runs);
    std::printf("encode: %.2f M formulas/s (median of %d runs)\n", encode[encode.size() / 2] / 1e6, runs);
    return failed == 0 ? 0 : 1;
}
