// Benchmark of the formula text parser and printer on one core: a fixed mix of formulas as real
// business workbooks hold them (sums, lookups, conditions, cross-sheet references, text), each
// parsed into one reused Formula, then printed. The target is 2 million formulas a second.
//
//     gq_bench_formula [--count N] [--runs N]
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"

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

// Formulas of the shapes real sheets repeat, with their row numbers varied so that no two texts
// in a row are the same.
std::vector<std::string> Formulas(size_t count)
{
    const char* shapes[] = {
        "B%d*C%d",
        "SUM(D%d:H%d)",
        "IF(E%d>0,E%d/F%d,\"\")",
        "VLOOKUP(A%d,Prices!$A$2:$D$500,3,FALSE)",
        "ROUND(G%d*(1+$K$1),2)",
        "'Cost Centres'!B%d-Budget!C%d",
        "IFERROR(INDEX($B:$B,MATCH(A%d,$A:$A,0)),0)",
        "_xlfn.CONCAT(A%d,\" - \",TEXT(B%d,\"0.00%%\"))",
        "SUMIFS(Sales!$E:$E,Sales!$A:$A,$A%d,Sales!$C:$C,\">=\"&C$1)",
        "AND(A%d<>\"\",B%d>=DATE(2024,1,1))",
    };
    std::vector<std::string> out;
    out.reserve(count);
    char buf[256];
    for (size_t i = 0; i < count; ++i) {
        int row = static_cast<int>(i % 100000) + 2;
        const char* shape = shapes[i % (sizeof shapes / sizeof shapes[0])];
        std::snprintf(buf, sizeof buf, shape, row, row, row, row);
        out.emplace_back(buf);
    }
    return out;
}

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
    std::vector<std::string> texts = Formulas(count);
    size_t bytes = 0;
    for (const auto& t : texts) {
        bytes += t.size();
    }
    formula::Formula f;
    std::string printed;
    // Printing cycles through a thousand parsed formulas of every shape.
    std::vector<formula::Formula> parsed(std::min<size_t>(1000, texts.size()));
    for (size_t i = 0; i < parsed.size(); ++i) {
        formula::ParseFormula(texts[i], parsed[i]);
    }
    std::vector<double> parse;
    std::vector<double> print;
    size_t unparsed = 0;
    for (int r = 0; r < runs; ++r) {
        double start = CpuSeconds();
        for (const auto& t : texts) {
            unparsed += formula::ParseFormula(t, f) ? 0 : 1;
        }
        parse.push_back(CpuSeconds() - start);
        start = CpuSeconds();
        for (size_t i = 0; i < texts.size(); ++i) {
            printed.clear();
            formula::PrintFormula(parsed[i % parsed.size()], printed);
        }
        print.push_back(CpuSeconds() - start);
    }
    std::sort(parse.begin(), parse.end());
    std::sort(print.begin(), print.end());
    double parseRate = static_cast<double>(count) / parse[parse.size() / 2];
    double printRate = static_cast<double>(count) / print[print.size() / 2];
    std::printf("formulas: %zu (%.1f bytes each), %d runs, %zu not parsed\n", count,
                static_cast<double>(bytes) / static_cast<double>(count), runs, unparsed);
    std::printf("parse: %.2f M formulas/s (median CPU time %.3f s)  target 2.00 M/s: %s\n", parseRate / 1e6,
                parse[parse.size() / 2], parseRate >= 2e6 ? "met" : "MISSED");
    std::printf("print: %.2f M formulas/s (median CPU time %.3f s)\n", printRate / 1e6, print[print.size() / 2]);
    return 0;
}
