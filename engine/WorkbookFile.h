// Opening and saving workbook files: the format is recognised by content when reading and chosen
// by the file name's extension when writing.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/OutputFormat.h"
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace gq::engine {

// Recognises the container from the first bytes: a zip package (xlsx, or OpenDocument, which the
// package itself tells apart) or an OLE2 compound file. Delimited text has no signature: a file
// of neither kind is read as text when its name ends in .csv, .tsv or .tab.
FileFormat DetectFormat(std::span<const uint8_t> head);

// Opens a workbook: reads the sheet list and styles, leaves the worksheets to be loaded on first
// use. Throws FormatError, PasswordProtectedError, IoError or LimitError naming the file.
std::unique_ptr<Workbook> OpenWorkbookFile(const std::string& path);
std::unique_ptr<Workbook> OpenWorkbookBytes(const std::shared_ptr<const InputBytes>& bytes);

// Writes the workbook in the given format to a sink. Throws LimitError when the content does not
// fit the format (grid, cell formats, text length), IoError when the sink fails.
void WriteWorkbook(Workbook& workbook, FileFormat format, ByteSink& sink);

// Whether a save may put its file in place of a file already at its path.
enum class ExistingFile { Replace, Keep };

// A workbook written completely into a file of its target's folder that has no name until Name()
// gives it one: whatever ends the program before that, a SIGKILL included, leaves nothing behind.
// The file is created unnamed (O_TMPFILE) and linked under its name through /proc/self/fd. Only
// where that cannot work (a file system without unnamed files, no /proc) or with `unnamedFirst`
// false is it a hidden temporary file beside the target instead, which a failure, the destructor,
// or a SIGTERM, SIGINT or SIGHUP removes (a SIGKILL leaves it). One such file at a time per
// process has that signal cover. Throws IoError (or LimitError when the content does not fit the
// format) with nothing left behind.
class UnnamedWorkbookFile {
public:
    UnnamedWorkbookFile(Workbook& workbook, const std::string& path, bool unnamedFirst = true);
    ~UnnamedWorkbookFile();
    UnnamedWorkbookFile(const UnnamedWorkbookFile&) = delete;
    UnnamedWorkbookFile& operator=(const UnnamedWorkbookFile&) = delete;

    // Gives the complete file the target's name. With ExistingFile::Keep a file that is already
    // there (even one that appeared while this one was written) stays as it is and FileExistsError
    // is thrown; with Replace it is replaced in one step. Once named, the file is no longer this
    // object's to remove.
    void Name(ExistingFile existing);

    // Copies the complete file to `out` and leaves it unnamed: a workbook written to standard
    // output.
    void CopyTo(std::ostream& out) const;

    const std::string& Path() const { return m_path; }

private:
    void Discard() noexcept;

    std::string m_path;
    std::string m_folder;
    int m_fd = -1;
    std::string m_temporary; // the hidden temporary file's name; empty for an unnamed file
    bool m_covered = false;
};

// The target of a save with ExistingFile::Keep is there already.
class FileExistsError : public IoError {
public:
    explicit FileExistsError(const std::string& file) : IoError(file, "the file exists already") {}
};

// Saves under `path` in the format its extension names: an UnnamedWorkbookFile, named once it is
// complete. On failure nothing is left behind and an earlier file at `path` is untouched.
void SaveWorkbookFile(Workbook& workbook, const std::string& path, bool unnamedFirst = true,
                      ExistingFile existing = ExistingFile::Replace);

} // namespace gq::engine
