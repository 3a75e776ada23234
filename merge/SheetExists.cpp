// The name test used when a merged sheet is named.
// SPDX-License-Identifier: Apache-2.0
#include "merge/SheetExists.h"

#include "common/AsciiText.h"

namespace gq::merge {

namespace {

std::string Key(const std::string& name)
{
    return Trim(UpperCase(name));
}

} // namespace

bool SheetExists(const std::string& name, automation::Workbook& workbook)
{
    const std::string wanted = Key(name);
    const int32_t count = workbook.SheetCount();
    for (int32_t i = 1; i <= count; ++i) {
        automation::Ref<automation::Sheet> sheet = workbook.SheetAt(i);
        std::string s = sheet->Name();
        sheet.Release();
        if (Key(s) == wanted) {
            return true;
        }
    }
    return false;
}

OutputSheetNames::OutputSheetNames(automation::Workbook& workbook)
{
    const int32_t count = workbook.SheetCount();
    for (int32_t i = 1; i <= count; ++i) {
        automation::Ref<automation::Sheet> sheet = workbook.SheetAt(i);
        Add(sheet->Name());
    }
}

bool OutputSheetNames::Exists(const std::string& name) const
{
    return m_counts.count(Key(name)) != 0;
}

void OutputSheetNames::Add(const std::string& name)
{
    ++m_counts[Key(name)];
}

void OutputSheetNames::Remove(const std::string& name)
{
    auto it = m_counts.find(Key(name));
    if (it != m_counts.end() && --it->second == 0) {
        m_counts.erase(it);
    }
}

} // namespace gq::merge
