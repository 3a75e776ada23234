// The xlsx reader: opening reads only the package's content types, relationships and workbook part;
// shared strings, styles, theme and each worksheet are read the first time a sheet is asked for.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReader.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/xlsx/XlsxReaderPackage.h"
#include "engine/xlsx/XlsxReaderSharedStrings.h"
#include "engine/xlsx/XlsxReaderSheet.h"
#include "engine/xlsx/XlsxReaderStyles.h"
#include "engine/xml/XmlParser.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace gq::engine {

namespace {

struct SheetEntry {
    std::string name;
    SheetState state = SheetState::Visible;
    std::string relationshipId;
};

// workbook.xml: the sheet list, the date system and the active tab (ECMA-376 18.2).
class WorkbookHandler : public XmlHandler {
public:
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (name == "sheet") {
            SheetEntry entry;
            if (const char* n = atts.Get("name")) {
                entry.name = n;
            }
            if (const char* state = atts.Get("state")) {
                std::string_view s(state);
                entry.state = s == "hidden"       ? SheetState::Hidden
                              : s == "veryHidden" ? SheetState::VeryHidden
                                                  : SheetState::Visible;
            }
            if (const char* id = atts.Get("id")) {
                entry.relationshipId = id;
            }
            sheets.push_back(std::move(entry));
            if (sheets.size() > limits::kMaxSheets) {
                throw LimitError("a workbook cannot hold more than " + std::to_string(limits::kMaxSheets) + " sheets");
            }
        } else if (name == "workbookPr") {
            // Excel 2013 and later also write an x15:workbookPr (same local name) in the extension
            // list, without date1904: only an element that carries the attribute may set it.
            if (const char* value = atts.Get("date1904")) {
                date1904 = XmlTrue(value);
            }
        } else if (name == "workbookView" && !m_seenView) {
            m_seenView = true;
            if (const char* tab = atts.Get("activeTab")) {
                std::string_view v(tab);
                std::from_chars(v.data(), v.data() + v.size(), activeTab);
            }
        }
    }
    void EndElement(std::string_view) override {}

    std::vector<SheetEntry> sheets;
    bool date1904 = false;
    size_t activeTab = 0;

private:
    bool m_seenView = false;
};

bool IsWorkbookContentType(std::string_view type)
{
    for (std::string_view known :
         {"spreadsheetml.sheet.main+xml", "spreadsheetml.template.main+xml", "ms-excel.sheet.macroEnabled.main+xml",
          "ms-excel.template.macroEnabled.main+xml", "ms-excel.addin.macroEnabled.main+xml"}) {
        if (type.size() >= known.size() && type.substr(type.size() - known.size()) == known) {
            return true;
        }
    }
    return false;
}

// Chart sheets, dialog sheets and Excel 4 macro sheets are not worksheets; their relationship types
// or content types say so.
bool IsWorksheet(std::string_view relationshipKind, std::string_view contentType)
{
    if (relationshipKind != "worksheet") {
        return false;
    }
    for (std::string_view other : {"chartsheet", "dialogsheet", "macrosheet"}) {
        if (contentType.find(other) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// The workbook part. The package relationships name it; only where _rels/.rels is missing or too
// damaged to read does the part that [Content_Types].xml gives a workbook's type stand in for it,
// as lenient readers do (xl/workbook.xml first, else the first by name). A readable _rels/.rels
// that names no workbook is believed.
std::string FindWorkbookPart(OpcPackage& package, const std::string& fileName)
{
    static constexpr std::string_view kPackageRels = "_rels/.rels";
    std::optional<OpcRelationships> packageRels;
    std::string damage = "is missing";
    if (package.Zip().Has(kPackageRels)) {
        try {
            packageRels = package.Relationships("");
        } catch (const FormatError&) {
            damage = "is damaged";
        }
    }
    if (packageRels) {
        const OpcRelationship* main = packageRels->FirstOfKind("officeDocument");
        if (main == nullptr || main->external) {
            throw FormatError(fileName,
                              "the package does not say where its workbook is (no officeDocument relationship)",
                              std::string(kPackageRels));
        }
        std::string workbookPart = package.FindPart(main->target);
        if (workbookPart.empty()) {
            throw FormatError(fileName, "the workbook part \"" + main->target + "\" named by the package is missing",
                              std::string(kPackageRels));
        }
        return workbookPart;
    }
    std::vector<std::string> candidates = package.PartsOfType(&IsWorkbookContentType);
    std::erase_if(candidates, [&](const std::string& part) { return package.FindPart(part).empty(); });
    if (candidates.empty()) {
        throw FormatError(fileName,
                          "the package does not say where its workbook is (its _rels/.rels " + damage +
                              " and [Content_Types].xml names no workbook part)",
                          std::string(kPackageRels));
    }
    auto usual = std::find(candidates.begin(), candidates.end(), "xl/workbook.xml");
    return usual != candidates.end() ? *usual : candidates.front();
}

class XlsxSheetSource : public SheetSource {
public:
    XlsxSheetSource(std::shared_ptr<OpcPackage> package, std::vector<std::string> sheetParts,
                    std::vector<std::string> sheetNames, std::string stylesPart, std::string sharedStringsPart,
                    std::string themePart, bool date1904)
        : m_package(std::move(package)), m_sheetParts(std::move(sheetParts)), m_sheetNames(std::move(sheetNames)),
          m_stylesPart(std::move(stylesPart)), m_sharedStringsPart(std::move(sharedStringsPart)),
          m_themePart(std::move(themePart)), m_date1904(date1904)
    {
    }

    void CheckInput() const override { m_package->Zip().Bytes().CheckUnchanged(); }

    void LoadSheet(Workbook& workbook, size_t index, Worksheet& out) override
    {
        if (index >= m_sheetParts.size()) {
            return; // a sheet added after opening has no part in the file
        }
        LoadShared(workbook);
        const std::string& file = m_package->FileName();
        const std::string& part = m_sheetParts[index];
        if (part.empty() || !m_package->Zip().Has(part)) {
            throw FormatError(file, "the worksheet \"" + m_sheetNames[index] + "\" is missing from the package",
                              part.empty() ? std::string("xl/workbook.xml") : part);
        }
        SheetContext context;
        context.strings = &workbook.Strings();
        context.sharedStrings = &m_sharedStrings;
        context.xfMap = &m_xfMap;
        context.date1904 = m_date1904;
        Worksheet sheet;
        WorksheetParser parser(sheet, context, file, part);
        m_package->Zip().StreamPart(part, [&parser](const char* data, size_t size) { parser.Feed(data, size, false); });
        parser.Feed(nullptr, 0, true);
        // The sheet is in the model now: its compressed bytes need not stay in memory.
        m_package->Zip().Bytes().ReleaseResidentPages();
        if (!parser.PendingHyperlinks().empty()) {
            OpcRelationships rels = m_package->Relationships(part);
            for (const PendingHyperlink& p : parser.PendingHyperlinks()) {
                if (const OpcRelationship* rel = rels.ById(p.relationshipId)) {
                    sheet.hyperlinks[p.index].target = rel->target;
                }
            }
        }
        out = std::move(sheet);
    }

private:
    void LoadShared(Workbook& workbook)
    {
        if (m_sharedLoaded) {
            return;
        }
        const std::string& file = m_package->FileName();
        ZipReader& zip = m_package->Zip();
        ThemeColors theme = DefaultThemeColors();
        if (!m_themePart.empty()) {
            theme = ReadThemeColors(zip.ReadPart(m_themePart, limits::kMaxMetadataPartBytes), file, m_themePart);
        }
        std::vector<uint32_t> xfMap;
        if (!m_stylesPart.empty()) {
            xfMap = ReadXlsxStyles(
                [&](const std::function<void(const char*, size_t)>& sink) { zip.StreamPart(m_stylesPart, sink); },
                theme, workbook.Styles(), file, m_stylesPart);
        }
        std::vector<uint32_t> strings;
        if (!m_sharedStringsPart.empty()) {
            SharedStringsParser parser(workbook.Strings(), file, m_sharedStringsPart);
            zip.StreamPart(m_sharedStringsPart,
                           [&parser](const char* data, size_t size) { parser.Feed(data, size, false); });
            parser.Feed(nullptr, 0, true);
            strings = parser.Take();
        }
        m_xfMap = std::move(xfMap);
        m_sharedStrings = std::move(strings);
        m_sharedLoaded = true;
    }

    std::shared_ptr<OpcPackage> m_package;
    std::vector<std::string> m_sheetParts;
    std::vector<std::string> m_sheetNames;
    std::string m_stylesPart;
    std::string m_sharedStringsPart;
    std::string m_themePart;
    bool m_date1904;
    bool m_sharedLoaded = false;
    std::vector<uint32_t> m_xfMap;
    std::vector<uint32_t> m_sharedStrings;
};

} // namespace

std::unique_ptr<Workbook> ReadXlsx(std::shared_ptr<const InputBytes> bytes)
{
    const std::string fileName = bytes->Name();
    auto package = std::make_shared<OpcPackage>(std::make_shared<ZipReader>(std::move(bytes)));

    // The main part's name is never guessed: the package relationships or the content types give it.
    std::string workbookPart = FindWorkbookPart(*package, fileName);
    std::string contentType = package->ContentType(workbookPart);
    if (contentType.find("sheet.binary") != std::string::npos) {
        throw FormatError(fileName, "the file is a binary workbook (xlsb), which is not supported", workbookPart);
    }
    if (!contentType.empty() && !IsWorkbookContentType(contentType)) {
        throw FormatError(fileName, "the package is not a workbook (its main part is of type " + contentType + ")",
                          workbookPart);
    }

    WorkbookHandler handler;
    {
        XmlParser parser(handler, fileName, workbookPart);
        parser.ParseAll(package->Zip().ReadPart(workbookPart, limits::kMaxMetadataPartBytes));
    }
    OpcRelationships workbookRels = package->Relationships(workbookPart);

    auto workbook = std::make_unique<Workbook>();
    workbook->SetSourcePath(fileName);
    workbook->SetDate1904(handler.date1904);
    std::vector<std::string> sheetParts;
    std::vector<std::string> sheetNames;
    std::unordered_map<std::string, std::string> partOwners; // worksheet part -> the sheet reading it
    size_t active = 0;
    bool activeFound = false;
    for (size_t i = 0; i < handler.sheets.size(); ++i) {
        const SheetEntry& entry = handler.sheets[i];
        const OpcRelationship* rel = workbookRels.ById(entry.relationshipId);
        if (rel == nullptr) {
            throw FormatError(fileName,
                              "the sheet \"" + entry.name + "\" has no relationship to its part (broken relationships)",
                              RelationshipsPartName(workbookPart));
        }
        std::string part = rel->external ? std::string() : package->FindPart(rel->target);
        std::string type = part.empty() ? std::string() : package->ContentType(part);
        if (!IsWorksheet(RelationshipKind(rel->type), type)) {
            continue;
        }
        // The active tab counts every sheet; a chart sheet that is active hands over to the
        // worksheet after it.
        if (!activeFound && i >= handler.activeTab) {
            active = sheetParts.size();
            activeFound = true;
        }
        // Two sheets reading one part would each load it again: a file of many such entries
        // multiplies a small part into gigabytes. No office suite writes that; it is damage.
        std::string sheetPart = part.empty() ? rel->target : part;
        auto [seen, fresh] = partOwners.emplace(sheetPart, entry.name);
        if (!fresh) {
            throw FormatError(fileName,
                              "the sheets \"" + seen->second + "\" and \"" + entry.name +
                                  "\" share one worksheet part (" + sheetPart + "), which no workbook does",
                              workbookPart);
        }
        workbook->AddUnloadedSheet(entry.name, entry.state);
        sheetParts.push_back(std::move(sheetPart));
        sheetNames.push_back(entry.name);
    }
    if (!sheetParts.empty()) {
        workbook->SetActiveSheet(activeFound ? active : 0);
    }

    auto partOfKind = [&](std::string_view kind) {
        const OpcRelationship* rel = workbookRels.FirstOfKind(kind);
        return rel == nullptr || rel->external ? std::string() : package->FindPart(rel->target);
    };
    workbook->SetSheetSource(std::make_unique<XlsxSheetSource>(package, std::move(sheetParts), std::move(sheetNames),
                                                               partOfKind("styles"), partOfKind("sharedStrings"),
                                                               partOfKind("theme"), handler.date1904));
    return workbook;
}

} // namespace gq::engine
