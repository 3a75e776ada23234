// Replays every input the fuzz harnesses once failed on (fuzz/regressions/<harness>/) through the
// same entry functions the harnesses call, so a fixed reader or writer fault stays fixed.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace {

namespace fs = std::filesystem;

struct Harness {
    const char* name;
    std::function<void(std::span<const uint8_t>)> entry;
};

const Harness kHarnesses[] = {
    {"xlsx_read", gq::fuzz::ReadXlsxInput},
    {"xlsx_parts", gq::fuzz::ReadXlsxPartsInput},
    {"xls_read", gq::fuzz::ReadXlsInput},
    {"xls_stream", gq::fuzz::ReadXlsStreamInput},
    {"write_roundtrip", gq::fuzz::WriteRoundTripInput},
    {"formula", gq::fuzz::ParseFormulaInput},
    {"csv_read", gq::fuzz::ReadCsvInput},
    {"ods_content", gq::fuzz::ReadOdsContentInput},
};

std::vector<uint8_t> ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzRegressionTest : public ::testing::TestWithParam<Harness> {};

TEST_P(FuzzRegressionTest, EverySavedInputIsHandledQuickly)
{
    const Harness& harness = GetParam();
    fs::path folder = fs::path(GQ_SOURCE_DIR) / "fuzz" / "regressions" / harness.name;
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no regression inputs in " << folder;
    }
    size_t replayed = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) {
            continue;
        }
        std::vector<uint8_t> data = ReadAll(entry.path());
        SCOPED_TRACE(entry.path().filename().string());
        auto start = std::chrono::steady_clock::now();
        // A failing input aborts inside the entry function or escapes with an untyped exception:
        // either fails this test.
        harness.entry(data);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0) << "the fuzzers' timeout";
        ++replayed;
    }
    RecordProperty("replayed", static_cast<int>(replayed));
}

// The round trip really builds and compares values: a model whose
// text the writers would change is caught (this input writes a string with XML specials and a
// control character into A1 of the first sheet).
TEST(FuzzRegressionSelfTest, RoundTripOfSpecialTextSucceeds)
{
    // Step: sheet 0, op 2 (string), row 0, col 0, 5 pieces: "&", "<", "\x01", "_x0041_", " "; style 0.
    const uint8_t program[] = {0, 2, 0, 0, 5, 0, 1, 11, 6, 5, 0};
    gq::fuzz::WriteRoundTripInput(program);
    auto workbook = gq::fuzz::ModelBuilder(program).Build();
    const gq::engine::Cell* cell = workbook->Sheet(0).FindCell(0, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(workbook->Strings().At(cell->text), "&<\x01_x0041_ ");
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzRegressionTest, ::testing::ValuesIn(kHarnesses),
                         [](const ::testing::TestParamInfo<Harness>& param) { return std::string(param.param.name); });

} // namespace
