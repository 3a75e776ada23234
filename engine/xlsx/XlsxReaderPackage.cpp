// Content types, relationships and target resolution of an OPC package.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReaderPackage.h"

#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/xml/XmlParser.h"

#include <algorithm>

namespace gq::engine {

namespace {

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexDigitValue(text[i + 1]);
            int lo = HexDigitValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

class ContentTypesHandler : public XmlHandler {
public:
    ContentTypesHandler(std::unordered_map<std::string, std::string>& defaults,
                        std::unordered_map<std::string, std::string>& overrides)
        : m_defaults(defaults), m_overrides(overrides)
    {
    }
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (name == "Default") {
            const char* ext = atts.Get("Extension");
            const char* type = atts.Get("ContentType");
            if (ext != nullptr && type != nullptr) {
                m_defaults.emplace(LowerCase(ext), type);
            }
        } else if (name == "Override") {
            const char* part = atts.Get("PartName");
            const char* type = atts.Get("ContentType");
            if (part != nullptr && type != nullptr) {
                m_overrides.emplace(ZipReader::NormalizeName(part), type);
            }
        }
    }
    void EndElement(std::string_view) override {}

private:
    std::unordered_map<std::string, std::string>& m_defaults;
    std::unordered_map<std::string, std::string>& m_overrides;
};

class RelationshipsHandler : public XmlHandler {
public:
    RelationshipsHandler(OpcRelationships& out, std::string_view source) : m_out(out), m_source(source) {}
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (name != "Relationship") {
            return;
        }
        const char* id = atts.Get("Id");
        const char* type = atts.Get("Type");
        const char* target = atts.Get("Target");
        if (id == nullptr || type == nullptr || target == nullptr) {
            return; // a relationship without its required attributes points nowhere
        }
        OpcRelationship rel;
        rel.id = id;
        rel.type = type;
        const char* mode = atts.Get("TargetMode");
        rel.external = mode != nullptr && std::string_view(mode) == "External";
        rel.target = rel.external ? std::string(target) : ResolvePartName(m_source, target);
        m_out.items.push_back(std::move(rel));
    }
    void EndElement(std::string_view) override {}

private:
    OpcRelationships& m_out;
    std::string_view m_source;
};

} // namespace

const OpcRelationship* OpcRelationships::ById(std::string_view id) const
{
    for (const auto& r : items) {
        if (r.id == id) {
            return &r;
        }
    }
    return nullptr;
}

const OpcRelationship* OpcRelationships::FirstOfKind(std::string_view kind) const
{
    for (const auto& r : items) {
        if (RelationshipKind(r.type) == kind) {
            return &r;
        }
    }
    return nullptr;
}

std::string_view RelationshipKind(std::string_view type)
{
    size_t slash = type.rfind('/');
    return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

std::string ResolvePartName(std::string_view sourcePart, std::string_view target)
{
    std::string path;
    // Backslashes occur as separators in targets written by some producers.
    std::string t(target);
    for (char& c : t) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (!t.empty() && t[0] == '/') {
        path = t;
    } else {
        size_t slash = sourcePart.rfind('/');
        path = slash == std::string_view::npos ? std::string() : std::string(sourcePart.substr(0, slash + 1));
        path += t;
    }
    std::vector<std::string_view> segments;
    std::string_view rest(path);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view seg = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (seg.empty() || seg == ".") {
            continue;
        }
        if (seg == "..") {
            if (segments.empty()) {
                return {};
            }
            segments.pop_back();
            continue;
        }
        segments.push_back(seg);
    }
    std::string out;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) {
            out += '/';
        }
        out += segments[i];
    }
    return out;
}

std::string RelationshipsPartName(std::string_view sourcePart)
{
    size_t slash = sourcePart.rfind('/');
    if (slash == std::string_view::npos) {
        return "_rels/" + std::string(sourcePart) + ".rels";
    }
    return std::string(sourcePart.substr(0, slash + 1)) + "_rels/" + std::string(sourcePart.substr(slash + 1)) +
           ".rels";
}

OpcPackage::OpcPackage(std::shared_ptr<ZipReader> zip) : m_zip(std::move(zip))
{
    static constexpr std::string_view kContentTypes = "[Content_Types].xml";
    if (!m_zip->Has(kContentTypes)) {
        if (m_zip->EntryCount() == 0) {
            throw FormatError(FileName(), "the zip package is empty; it holds no workbook");
        }
        throw FormatError(FileName(), "the zip package is not an Office document (it has no [Content_Types].xml)");
    }
    std::string xml = m_zip->ReadPart(kContentTypes, limits::kMaxMetadataPartBytes);
    ContentTypesHandler handler(m_defaults, m_overrides);
    XmlParser parser(handler, FileName(), std::string(kContentTypes));
    parser.ParseAll(xml);
}

std::string OpcPackage::FindPart(std::string_view partName) const
{
    if (partName.empty()) {
        return {};
    }
    if (m_zip->Has(partName)) {
        return std::string(partName);
    }
    std::string decoded = PercentDecode(partName);
    if (decoded != partName && m_zip->Has(decoded)) {
        return decoded;
    }
    return {};
}

std::string OpcPackage::ContentType(std::string_view partName) const
{
    auto it = m_overrides.find(ZipReader::NormalizeName(partName));
    if (it != m_overrides.end()) {
        return it->second;
    }
    size_t dot = partName.rfind('.');
    size_t slash = partName.rfind('/');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        auto d = m_defaults.find(LowerCase(partName.substr(dot + 1)));
        if (d != m_defaults.end()) {
            return d->second;
        }
    }
    return {};
}

std::vector<std::string> OpcPackage::PartsOfType(bool (*accept)(std::string_view)) const
{
    std::vector<std::string> parts;
    for (const auto& [part, type] : m_overrides) {
        if (accept(type)) {
            parts.push_back(part);
        }
    }
    std::sort(parts.begin(), parts.end());
    return parts;
}

OpcRelationships OpcPackage::Relationships(std::string_view sourcePart)
{
    OpcRelationships rels;
    std::string relsPart = RelationshipsPartName(sourcePart);
    if (!m_zip->Has(relsPart)) {
        return rels;
    }
    std::string xml = m_zip->ReadPart(relsPart, limits::kMaxMetadataPartBytes);
    RelationshipsHandler handler(rels, sourcePart);
    XmlParser parser(handler, FileName(), relsPart);
    parser.ParseAll(xml);
    return rels;
}

} // namespace gq::engine
