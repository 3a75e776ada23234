// The expressions and external links of the BIFF versions before 8: BIFF2-4 expressions widened
// to the BIFF5 layout, and BIFF5's encoded links to other sheets and workbooks.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/LittleEndian.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/BiffText.h"

#include <algorithm>

namespace gq::engine::biff {

void ReadBiff5Link(std::span<const uint8_t> body, CodePageDecoder& codePage, std::vector<std::string>& books,
                   Biff5Link& link)
{
    link = Biff5Link{};
    // A count byte, then the encoded name. Excel's count leaves out the marker before a sheet of
    // this workbook but counts it in the other forms, so the record's own length bounds the name.
    if (body.size() < 2) {
        return;
    }
    const uint8_t marker = body[1];
    std::span<const uint8_t> rest = body.subspan(2);
    std::string text;
    codePage.Append(rest, text);
    switch (marker) {
    case 0x02: // this workbook: the formula's own sheet, or the sheet named after the marker
    case 0x03:
        link.kind = text.empty() ? Biff5Link::Kind::ThisSheet : Biff5Link::Kind::OwnSheet;
        link.sheet = std::move(text);
        return;
    case 0x04:
        link.kind = Biff5Link::Kind::OwnBook;
        return;
    case 0x01: { // an encoded path, "[Book.xls]" and the sheet's name; no sheet for the book itself
        const size_t close = text.rfind(']');
        std::string book = close == std::string::npos ? text : text.substr(0, close + 1);
        link.sheet = close == std::string::npos ? std::string() : text.substr(close + 1);
        auto it = std::find(books.begin(), books.end(), book);
        if (it == books.end()) {
            books.push_back(std::move(book));
            it = books.end() - 1;
        }
        link.kind = Biff5Link::Kind::External;
        link.book = std::to_string(it - books.begin() + 1);
        return;
    }
    case ':': // the add-in functions, as BIFF8's add-in SUPBOOK has it
        link.kind = rest.empty() ? Biff5Link::Kind::AddIn : Biff5Link::Kind::Other;
        return;
    default:
        return;
    }
}

bool WidenOldExpression(std::span<const uint8_t> rgce, int biff, std::vector<uint8_t>& out)
{
    // The older Excel file-format documentation's token table: BIFF2-4 share BIFF5's operators,
    // constants and cell references; BIFF2-3 name a function in one byte (BIFF4 and later in two)
    // and BIFF2 gives tAttr one byte of data (later versions two). Tokens whose older layout
    // differs otherwise (names, arrays, shared and 3-D forms, tAttrChoose's jump table) are
    // refused: the cell keeps its value.
    out.clear();
    size_t i = 0;
    const auto take = [&](size_t n) {
        if (n > rgce.size() - i) {
            return false;
        }
        out.insert(out.end(), rgce.begin() + static_cast<ptrdiff_t>(i), rgce.begin() + static_cast<ptrdiff_t>(i + n));
        i += n;
        return true;
    };
    while (i < rgce.size()) {
        const uint8_t ptg = rgce[i];
        const uint8_t base = ptg >= 0x20 ? static_cast<uint8_t>((ptg & 0x1F) | 0x20) : ptg;
        bool ok = true;
        switch (base) {
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x07:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x13:
        case 0x14:
        case 0x15:
        case 0x16: // operators, parentheses, a missing argument
            ok = take(1);
            break;
        case 0x17: // PtgStr: a count byte and code-page text
            ok = i + 1 < rgce.size() && take(2 + rgce[i + 1]);
            break;
        case 0x19: { // PtgAttr
            if (i + 1 >= rgce.size() || (rgce[i + 1] & 0x04) != 0) {
                return false;
            }
            if (biff >= 3) {
                ok = take(4);
            } else {
                ok = take(3);
                out.push_back(0);
            }
            break;
        }
        case 0x1C:
        case 0x1D: // PtgErr, PtgBool
            ok = take(2);
            break;
        case 0x1E: // PtgInt
            ok = take(3);
            break;
        case 0x1F: // PtgNum
            ok = take(9);
            break;
        case 0x21: // PtgFunc
            if (biff >= 4) {
                ok = take(3);
            } else {
                ok = take(2);
                out.push_back(0);
            }
            break;
        case 0x22: // PtgFuncVar
            if (biff >= 4) {
                ok = take(4);
            } else {
                ok = take(3);
                out.push_back(0);
            }
            break;
        case 0x24:
        case 0x2A: // PtgRef, PtgRefErr
            ok = take(4);
            break;
        case 0x25:
        case 0x2B: // PtgArea, PtgAreaErr
            ok = take(7);
            break;
        default:
            return false;
        }
        if (!ok) {
            return false;
        }
    }
    return !out.empty();
}

} // namespace gq::engine::biff
