// Open Packaging Conventions (ECMA-376 Part 2) over a zip package: content types, relationships
// and the resolution of relationship targets to part names.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/zip/ZipReader.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gq::engine {

struct OpcRelationship {
    std::string id;
    std::string type;   // full relationship type URI
    std::string target; // resolved part name for internal targets; the raw target when external
    bool external = false;
};

class OpcRelationships {
public:
    const OpcRelationship* ById(std::string_view id) const;
    // The first relationship whose type ends in "/" + `kind` (e.g. "officeDocument", "styles"): the
    // Transitional and Strict type URIs differ only in what comes before that last segment.
    const OpcRelationship* FirstOfKind(std::string_view kind) const;
    std::vector<OpcRelationship> items;
};

// The last path segment of a relationship type URI ("worksheet" of ".../relationships/worksheet").
std::string_view RelationshipKind(std::string_view type);

// Resolves a relationship target against the part it comes from (ECMA-376 Part 2, 9.3): relative
// to the source part's folder, or from the package root when it starts with '/'; "." and ".."
// segments folded, percent escapes left as they are. Returns an empty string for a target that
// climbs above the package root.
std::string ResolvePartName(std::string_view sourcePart, std::string_view target);
// The relationships part of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels"; "" (the
// package) -> "_rels/.rels".
std::string RelationshipsPartName(std::string_view sourcePart);

class OpcPackage {
public:
    // Reads [Content_Types].xml. Throws FormatError when it is missing or broken.
    explicit OpcPackage(std::shared_ptr<ZipReader> zip);

    ZipReader& Zip() { return *m_zip; }
    const std::shared_ptr<ZipReader>& ZipShared() const { return m_zip; }
    const std::string& FileName() const { return m_zip->FileName(); }

    // Finds a part by name; where it is missing, the same name with percent escapes decoded (some
    // producers escape in targets what they store unescaped). Empty when neither exists.
    std::string FindPart(std::string_view partName) const;
    // The content type of a part (Override, else Default by extension), or empty.
    std::string ContentType(std::string_view partName) const;
    // The parts (normalized names, in name order) that an Override of [Content_Types].xml gives a
    // content type `accept` takes.
    std::vector<std::string> PartsOfType(bool (*accept)(std::string_view)) const;
    // The relationships of a part ("" for the package); empty when the part has none.
    OpcRelationships Relationships(std::string_view sourcePart);

private:
    std::shared_ptr<ZipReader> m_zip;
    std::unordered_map<std::string, std::string> m_defaults;  // lower-case extension -> type
    std::unordered_map<std::string, std::string> m_overrides; // normalized part name -> type
};

} // namespace gq::engine
