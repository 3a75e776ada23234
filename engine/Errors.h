// Typed failures of the spreadsheet engine. Every message names the file and the problem in words
// a user understands; the part and byte offset help whoever debugs a broken file.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace gq::engine {

// The one form of a failure about a file: its name in quotes in front of the problem
// ("\"q1.xls\": the file is larger than 2048 MB"), or the problem alone when no file is named.
inline std::string FileProblemText(const std::string& file, const std::string& problem)
{
    return file.empty() ? problem : "\"" + file + "\": " + problem;
}

class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file is not what it claims to be, or is damaged. `part` names the zip part or compound-file
// stream ("xl/workbook.xml", "Workbook"); `offset` is the byte offset inside it, or -1.
class FormatError : public EngineError {
public:
    FormatError(const std::string& file, const std::string& problem, const std::string& part = {}, int64_t offset = -1)
        : EngineError(Compose(file, problem, part, offset)), m_file(file), m_part(part), m_offset(offset)
    {
    }

    const std::string& File() const { return m_file; }
    const std::string& Part() const { return m_part; }
    int64_t Offset() const { return m_offset; }

    static std::string Compose(const std::string& file, const std::string& problem, const std::string& part,
                               int64_t offset)
    {
        std::string text = FileProblemText(file, problem);
        if (!part.empty()) {
            text += " (in " + part;
            if (offset >= 0) {
                text += " at byte " + std::to_string(offset);
            }
            text += ")";
        }
        return text;
    }

private:
    std::string m_file;
    std::string m_part;
    int64_t m_offset;
};

// The file is valid but encrypted with a password we do not know.
class PasswordProtectedError : public FormatError {
public:
    explicit PasswordProtectedError(const std::string& file)
        : FormatError(file, "the workbook is password-protected and cannot be opened")
    {
    }
};

// A failure about one file: the file is a field, and the message names it in front of the problem
// ("\"q1.xls\": the file is larger than 2048 MB"). `file` may be empty for failures about no file
// (a workbook being written, say), whose message is the problem alone.
class FileError : public EngineError {
public:
    FileError(const std::string& file, const std::string& problem)
        : EngineError(FileProblemText(file, problem)), m_file(file)
    {
    }
    const std::string& File() const { return m_file; }

private:
    std::string m_file;
};

// Something exceeds one of the limits of Limits.h (a grid, a size, a count).
class LimitError : public FileError {
public:
    LimitError(const std::string& file, const std::string& problem) : FileError(file, problem) {}
    // A limit of what is being written, which no input file is to blame for.
    explicit LimitError(const std::string& problem) : FileError({}, problem) {}
};

// A writer met content of sheet `sheet` beyond the grid of the format it writes, reaching row
// `lastRow` and column `lastCol` (from 0); `where` names it ("sheet \"Data\", cell A65537"). The
// writer knows where, not how the output format puts it: the save words it as the format does
// (OutputFormat::TooLargeText).
class BeyondGridError : public LimitError {
public:
    BeyondGridError(const std::string& sheet, uint32_t lastRow, uint32_t lastCol, const std::string& where)
        : LimitError(where + " lies beyond the grid of the format written"), m_sheet(sheet), m_lastRow(lastRow),
          m_lastCol(lastCol)
    {
    }
    const std::string& Sheet() const { return m_sheet; }
    uint32_t LastRow() const { return m_lastRow; }
    uint32_t LastCol() const { return m_lastCol; }

private:
    std::string m_sheet;
    uint32_t m_lastRow;
    uint32_t m_lastCol;
};

// An input/output failure: a file cannot be read, created, written or renamed.
class IoError : public FileError {
public:
    IoError(const std::string& file, const std::string& problem) : FileError(file, problem) {}
};

} // namespace gq::engine
