// File identity and the cache of closed, unchanged workbooks.
// SPDX-License-Identifier: Apache-2.0
#include "automation/WorkbookCache.h"

#include <algorithm>
#include <sys/stat.h>

namespace gq::automation {

std::optional<FileKey> KeyOfFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    FileKey key;
    key.path = path;
    key.size = static_cast<uint64_t>(st.st_size);
    key.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    key.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    key.device = static_cast<uint64_t>(st.st_dev);
    key.inode = static_cast<uint64_t>(st.st_ino);
    return key;
}

ServerBook::ServerBook(std::shared_ptr<engine::Workbook> workbook) : model(std::move(workbook))
{
    size_t count = model->SheetCount();
    sheetIds.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        sheetIds.push_back(nextSheetId);
        names.Add(model->SheetName(i), nextSheetId++);
    }
    initialActive = model->ActiveSheet();
}

std::optional<size_t> ServerBook::IndexOf(uint64_t id, size_t hint) const
{
    if (hint < sheetIds.size() && sheetIds[hint] == id) {
        return hint;
    }
    auto it = std::find(sheetIds.begin(), sheetIds.end(), id);
    if (it == sheetIds.end()) {
        return std::nullopt;
    }
    return static_cast<size_t>(it - sheetIds.begin());
}

void ServerBook::RenameSheet(size_t index, const std::string& name)
{
    names.Remove(model->SheetName(index), sheetIds[index]);
    model->SetSheetName(index, name);
    names.Add(name, sheetIds[index]);
}

std::shared_ptr<ServerBook> WorkbookCache::Find(const FileKey& key) const
{
    for (const auto& book : m_books) {
        if (book->key && *book->key == key) {
            return book;
        }
    }
    return nullptr;
}

void WorkbookCache::Put(std::shared_ptr<ServerBook> book)
{
    if (!book || !book->key) {
        return;
    }
    Forget(book.get());
    // A workbook that another version of the same file left here is out of date now.
    std::erase_if(m_books, [&](const auto& b) { return !b->key || b->key->path == book->key->path; });
    size_t cells = 0;
    engine::Workbook& model = *book->model;
    for (size_t i = 0; i < model.SheetCount(); ++i) {
        if (model.IsSheetLoaded(i)) {
            cells += model.Sheet(i).CellCount();
        }
    }
    if (cells > kMaxKeptCells) {
        for (size_t i = 0; i < model.SheetCount(); ++i) {
            model.UnloadSheet(i);
        }
        // Nor is the workbook itself kept: the text of sheets that large fills a string table
        // that costs more memory than reading the workbook's strings again costs time, and a
        // merge holds what it builds beside it.
        return;
    }
    m_books.push_front(std::move(book));
    while (m_books.size() > kCapacity) {
        m_books.pop_back();
    }
}

void WorkbookCache::Forget(const ServerBook* book)
{
    std::erase_if(m_books, [&](const auto& b) { return b.get() == book; });
}

} // namespace gq::automation
