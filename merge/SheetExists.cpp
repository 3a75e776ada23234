// The name test used when a merged sheet is named.
#include "merge/SheetExists.h"

#include "common/AsciiText.h"

namespace gq::merge {

bool SheetExists(const std::string& name, automation::Workbook& workbook)
{
    const std::string wanted = Trim(UpperCase(name));
    const int32_t count = workbook.SheetCount();
    for (int32_t i = 1; i <= count; ++i) {
        automation::Ref<automation::Sheet> sheet = workbook.SheetAt(i);
        std::string s = sheet->Name();
        sheet.Release();
        if (Trim(UpperCase(s)) == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace gq::merge
