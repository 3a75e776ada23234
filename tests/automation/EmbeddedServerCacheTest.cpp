// The embedded server's cache of closed workbooks: what it keeps, for how long, and how much.
// SPDX-License-Identifier: Apache-2.0
#include "automation/WorkbookCache.h"

#include <gtest/gtest.h>

namespace gq::automation {
namespace {

// Loads a sheet of `rows` x 1 numbers, counting how often it is asked to.
class CountingSource : public engine::SheetSource {
public:
    CountingSource(uint32_t rows, int& loads) : m_rows(rows), m_loads(loads) {}
    void LoadSheet(engine::Workbook&, size_t, engine::Worksheet& out) override
    {
        ++m_loads;
        for (uint32_t r = 0; r < m_rows; ++r) {
            out.SetNumber(r, 0, r);
        }
    }

private:
    uint32_t m_rows;
    int& m_loads;
};

std::shared_ptr<ServerBook> FileBook(const std::string& path, uint32_t rows, int& loads, int64_t mtime = 1)
{
    auto model = std::make_shared<engine::Workbook>();
    model->AddUnloadedSheet("S", engine::SheetState::Visible);
    model->SetSheetSource(std::make_unique<CountingSource>(rows, loads));
    auto book = std::make_shared<ServerBook>(model);
    book->key = FileKey{path, 100, mtime, mtime, 1, 1};
    return book;
}

TEST(EmbeddedServerCache, KeepsTheTwoNewestAndFindsThemByTheirKey)
{
    int loads = 0;
    WorkbookCache cache;
    auto a = FileBook("/a.xlsx", 1, loads);
    auto b = FileBook("/b.xlsx", 1, loads);
    auto c = FileBook("/c.xlsx", 1, loads);
    FileKey keyA = *a->key;
    FileKey keyC = *c->key;
    cache.Put(a);
    cache.Put(b);
    cache.Put(c);
    EXPECT_EQ(cache.Size(), 2u);
    EXPECT_EQ(cache.Find(keyA), nullptr);
    EXPECT_EQ(cache.Find(keyC), c);
    FileKey touched = keyC;
    touched.mtimeNs += 1;
    EXPECT_EQ(cache.Find(touched), nullptr);
    cache.Forget(c.get());
    EXPECT_EQ(cache.Find(keyC), nullptr);
}

TEST(EmbeddedServerCache, ANewerVersionOfAFileReplacesTheOlder)
{
    int loads = 0;
    WorkbookCache cache;
    auto old = FileBook("/a.xlsx", 1, loads, 1);
    auto newer = FileBook("/a.xlsx", 1, loads, 2);
    cache.Put(old);
    cache.Put(newer);
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_EQ(cache.Find(*newer->key), newer);
}

TEST(EmbeddedServerCache, ChangedAndNewWorkbooksAreNotKept)
{
    int loads = 0;
    WorkbookCache cache;
    auto changed = FileBook("/a.xlsx", 1, loads);
    changed->MarkModified();
    cache.Put(changed);
    cache.Put(std::make_shared<ServerBook>(std::make_shared<engine::Workbook>()));
    EXPECT_EQ(cache.Size(), 0u);
}

TEST(EmbeddedServerCache, LargeLoadedSheetsAreDroppedSmallOnesKept)
{
    const struct {
        uint32_t rows;
        bool kept;
    } cases[] = {{1000, true}, {static_cast<uint32_t>(WorkbookCache::kMaxKeptCells) + 1, false}};
    for (const auto& c : cases) {
        int loads = 0;
        WorkbookCache cache;
        auto book = FileBook("/a.xlsx", c.rows, loads);
        book->model->Sheet(0);
        ASSERT_EQ(loads, 1);
        cache.Put(book);
        EXPECT_EQ(book->model->IsSheetLoaded(0), c.kept) << c.rows;
        // Either way the sheet is there when asked for again.
        EXPECT_EQ(book->model->Sheet(0).CellCount(), c.rows);
        EXPECT_EQ(loads, c.kept ? 1 : 2);
    }
}

} // namespace
} // namespace gq::automation
