// Benchmark of the drop intake: a folder of 1,000 small workbooks listed through the embedded
// server, and a walk of a tree of 100,000 files that holds no workbook.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "catalogue/DropIntake.h"
#include "engine/WorkbookFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class QuietPrompts : public gq::UserPrompts {
public:
    void ShowMessage(const std::string& text, const std::string&) override
    {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
    bool ChooseSaveFile(const std::string&, const std::string&, const std::string&, std::string&) override
    {
        return false;
    }
    void BeginHourglass() override {}
    void EndHourglass() override {}
    void ShowBusy(bool, bool) override {}
};

class CountingSink : public gq::catalogue::SheetSink {
public:
    void BeginBatch() override {}
    void AppendEntries(const std::vector<gq::catalogue::SheetEntry>& entries) override { count += entries.size(); }
    void EndBatch() override {}
    size_t count = 0;
};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path root = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "gq-bench-drop";
    fs::remove_all(root);
    const fs::path books = root / "books";
    const fs::path tree = root / "tree";
    fs::create_directories(books);

    // 1,000 small workbooks of three sheets each, half xlsx and half xls.
    {
        gq::engine::Workbook wb;
        for (const char* name : {"Sales", "Costs", "Notes"}) {
            size_t s = wb.InsertSheet(wb.SheetCount(), name);
            auto& sheet = wb.Sheet(s);
            for (uint32_t r = 0; r < 20; ++r) {
                for (uint32_t c = 0; c < 5; ++c) {
                    sheet.SetNumber(r, c, r * 10.0 + c);
                }
            }
        }
        for (int i = 0; i < 1000; ++i) {
            const std::string name = "book" + std::to_string(i) + (i % 2 == 0 ? ".xlsx" : ".xls");
            gq::engine::SaveWorkbookFile(wb, (books / name).string());
        }
    }
    // 100,000 files without a workbook among them, 100 folders of 1,000.
    for (int d = 0; d < 100; ++d) {
        fs::path folder = tree / ("d" + std::to_string(d));
        fs::create_directories(folder);
        for (int f = 0; f < 1000; ++f) {
            std::ofstream(folder / ("f" + std::to_string(f) + ".txt")) << "x";
        }
    }

    gq::automation::EmbeddedServerFactory servers;
    QuietPrompts prompts;
    std::vector<double> listTimes;
    std::vector<double> walkTimes;
    size_t listed = 0;
    for (int run = 0; run < 5; ++run) {
        CountingSink sink;
        gq::catalogue::DropContext context{sink, servers, prompts};
        auto start = std::chrono::steady_clock::now();
        gq::catalogue::ProcessDrop({books.string()}, context);
        listTimes.push_back(Seconds(start));
        listed = sink.count;

        CountingSink empty;
        gq::catalogue::DropContext walkContext{empty, servers, prompts};
        start = std::chrono::steady_clock::now();
        gq::catalogue::ProcessDrop({tree.string()}, walkContext);
        walkTimes.push_back(Seconds(start));
    }
    std::printf("drop of 1,000 workbooks: %zu sheets listed, median %.3f s (target < 3 s)\n", listed,
                Median(listTimes));
    std::printf("walk of 100,000 files without workbooks: median %.3f s (target < 2 s)\n", Median(walkTimes));
    fs::remove_all(root);
    return 0;
}
