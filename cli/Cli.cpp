// The gridquilt-merge command.
// SPDX-License-Identifier: Apache-2.0
#include "cli/Cli.h"

#include "catalogue/DropIntake.h"
#include "catalogue/ExtensionTest.h"
#include "cli/CliLanguage.h"
#include "cli/ConsolePrompts.h"
#include "cli/CountingServer.h"
#include "cli/ListFormat.h"
#include "cli/Progress.h"
#include "engine/WorkbookFile.h"
#include "merge/MergeEngine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <unistd.h>

#ifndef GQ_VERSION
#define GQ_VERSION "unknown"
#endif

namespace gq::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "Usage: gridquilt-merge list INPUT...\n"
    "       gridquilt-merge merge [--single] -o OUTPUT [--force] [--list FILE|-] [INPUT...]\n"
    "       gridquilt-merge --help | --version\n";

// The help is one text for the catalogues, in the lines it is printed in.
// clang-format off
constexpr const char* kHelp = GQ_TEXT(
    "Merges worksheets from .xlsx, .xlsm, .xltx, .xltm, .xls, .xlt and .ods workbooks and\n"
    "from .csv, .tsv and .tab text files (one worksheet each) into one new workbook\n"
    "(worksheets only: macros are never copied).\n"
    "\n"
    "Commands:\n"
    "  list INPUT...      Print the sheet list that dropping INPUT... (workbooks and folders)\n"
    "                     on the Gridquilt window builds, one worksheet a line:\n"
    "                     \"sheet name<TAB>workbook path\". Folders are searched recursively,\n"
    "                     for workbooks of those extensions larger than 512 bytes. A named\n"
    "                     INPUT of another extension is skipped and reported.\n"
    "  merge              Merge into OUTPUT, in order, the worksheets named by --list or,\n"
    "                     without --list, every worksheet of the INPUTs in list order.\n"
    "\n"
    "Options of merge:\n"
    "  -o, --output OUTPUT  The new workbook. A name ending in .xls (any letter case) gives\n"
    "                       an Excel 97-2003 workbook, one ending in .ods an OpenDocument\n"
    "                       spreadsheet, any other name an .xlsx workbook; \"-\" writes an\n"
    "                       .xlsx workbook to standard output.\n"
    "  -f, --force          Replace an existing OUTPUT, once the new file is complete.\n"
    "  -l, --list FILE      Merge the entries listed in FILE (\"-\": standard input).\n"
    "      --single         Stack every used range on one worksheet (default: one\n"
    "                       worksheet per entry, renamed where names clash).\n"
    "  -h, --help           Show this help.\n"
    "  -V, --version        Show the version.\n"
    "\n"
    "List format: one entry a line, the sheet name, a tab, the workbook path. Inside a name\n"
    "or path a backslash is written \\\\, a tab \\t, a line feed \\n and a carriage return\n"
    "\\r; every other character stands as it is. Empty lines are ignored. A list longer\n"
    "than the output takes (65,526 worksheets in an .xlsx, 65,534 in an .xls) is refused\n"
    "before the merge. For example:\n"
    "  gridquilt-merge list reports/ | grep -v Summary | gridquilt-merge merge -o all.xlsx --list -\n"
    "\n"
    "Exit status: 0 when every entry was merged as it is; 1 when entries, named INPUTs or\n"
    "workbooks a folder holds out of reach were skipped, or entries changed to fit the\n"
    "output's format (they are listed on standard error; the output was written); 2 for\n"
    "usage errors and failures (nothing was written).\n");
// clang-format on

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string command;
    bool help = false;
    bool version = false;
    bool single = false;
    bool force = false;
    std::optional<std::string> output;
    std::optional<std::string> listFile;
    std::vector<std::string> inputs;
};

// Options may stand anywhere among the operands; "--" ends them.
Options ParseArguments(const std::vector<std::string>& args)
{
    Options options;
    bool operandsOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
            if (options.command.empty() && !options.help && !options.version) {
                options.command = arg;
            } else {
                options.inputs.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.rfind("--", 0) == 0) {
            if (const size_t eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            // "-oFILE": a short option with its value attached.
            name = arg.substr(0, 2);
            value = arg.substr(2);
        }
        auto takeValue = [&](std::optional<std::string>& target) {
            if (target) {
                throw UsageError("option " + name + " given twice");
            }
            if (!value) {
                if (i + 1 >= args.size()) {
                    throw UsageError("option " + name + " needs a value");
                }
                value = args[++i];
            }
            target = *value;
        };
        auto noValue = [&](bool& flag) {
            if (value) {
                throw UsageError("option " + name + " takes no value");
            }
            flag = true;
        };
        if (name == "-h" || name == "--help") {
            noValue(options.help);
        } else if (name == "-V" || name == "--version") {
            noValue(options.version);
        } else if (name == "--single") {
            noValue(options.single);
        } else if (name == "-f" || name == "--force") {
            noValue(options.force);
        } else if (name == "-o" || name == "--output") {
            takeValue(options.output);
        } else if (name == "-l" || name == "--list") {
            takeValue(options.listFile);
        } else {
            throw UsageError("unknown option " + arg);
        }
    }
    return options;
}

// The named inputs a drop takes, as absolute paths, and one message for each input it passes over.
struct CheckedInputList {
    std::vector<std::string> paths;
    std::vector<std::string> skipped;
};

// Why a drop passes over a named input that exists, or nothing when it takes it: a folder is walked,
// a file is taken by its extension. A device or pipe is never opened, whatever its name.
std::optional<std::string> SkipReason(const std::string& input)
{
    std::error_code ec;
    const fs::file_status status = fs::status(input, ec);
    if (fs::is_directory(status)) {
        return std::nullopt;
    }
    if (!fs::is_regular_file(status)) {
        return "not a workbook (not a regular file)";
    }
    if (!catalogue::PassesExtensionTest(input, catalogue::ExcelFileMask)) {
        return "not a workbook (the extensions taken are .xlsx, .xlsm, .xltx, .xltm, .xls, .xlt, .ods, .csv, .tsv and "
               ".tab)";
    }
    return std::nullopt;
}

// Inputs must exist: a drop can only name what is there, and a mistyped name should not pass
// silently as "no sheets". Existing inputs the drop would pass over in silence are set apart, so
// that the command can say which they were.
CheckedInputList CheckedInputs(const std::vector<std::string>& inputs)
{
    CheckedInputList checked;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (input.empty() || !fs::exists(input, ec)) {
            if (ec && ec != std::errc::no_such_file_or_directory) {
                // A loop of symbolic links, a folder without search permission: say which.
                throw UsageError(input + ": cannot be reached: " + ec.message());
            }
            throw UsageError(input + ": no such file or folder");
        }
        if (const std::optional<std::string> reason = SkipReason(input)) {
            checked.skipped.push_back(input + ": skipped: " + *reason);
        } else {
            checked.paths.push_back(AbsoluteInputPath(input));
        }
    }
    return checked;
}

void ReportSkippedInputs(const CheckedInputList& inputs, CliEnvironment& env, Progress& progress)
{
    if (inputs.skipped.empty()) {
        return;
    }
    progress.Clear();
    for (const std::string& message : inputs.skipped) {
        env.err << kProgramName << ": " << TranslatedMessage(message) << '\n';
    }
    env.err.flush();
}

// The drop of `paths`; what its folder walks could not reach is added to `inputs.skipped`.
std::vector<catalogue::SheetEntry> Catalogue(CheckedInputList& inputs, CliEnvironment& env, UserPrompts& prompts,
                                             CollectingSink& sink)
{
    catalogue::DropContext context{sink, env.servers, prompts, &inputs.skipped};
    const size_t before = inputs.skipped.size();
    struct Report { // also when the drop fails: what was not reached is named all the same
        CheckedInputList& inputs;
        size_t before;
        CliEnvironment& env;
        ~Report()
        {
            for (size_t i = before; i < inputs.skipped.size(); ++i) {
                env.err << kProgramName << ": " << TranslatedMessage(inputs.skipped[i]) << '\n';
            }
        }
    } report{inputs, before, env};
    catalogue::ProcessDrop(inputs.paths, context);
    return sink.entries;
}

int RunList(const Options& options, CliEnvironment& env)
{
    if (options.output || options.listFile || options.single || options.force) {
        throw UsageError("list takes no options but --help");
    }
    if (options.inputs.empty()) {
        throw UsageError("list needs at least one INPUT");
    }
    CheckedInputList inputs = CheckedInputs(options.inputs);
    Progress progress(env.err, env.progress);
    ReportSkippedInputs(inputs, env, progress);
    ConsolePrompts prompts(env.err, progress);
    CollectingSink sink(progress);
    std::exception_ptr failure;
    try {
        Catalogue(inputs, env, prompts, sink);
    } catch (...) {
        failure = std::current_exception();
    }
    progress.Stop();
    // What the drop listed before a failure stays in the list, as it stays in the window.
    for (const catalogue::SheetEntry& entry : sink.entries) {
        env.out << FormatEntry(entry) << '\n';
    }
    env.out.flush();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return inputs.skipped.empty() ? kExitMerged : kExitSkipped;
}

std::vector<catalogue::SheetEntry> ReadListFile(const std::string& file, CliEnvironment& env, size_t maxEntries)
{
    if (file == "-") {
        return ReadList(env.in, maxEntries);
    }
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        throw UsageError(file + ": is a folder, not a list file");
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw UsageError(file + ": cannot open the list: " + std::strerror(errno));
    }
    return ReadList(in, maxEntries);
}

// A list longer than the output can take is refused before any work, with what it can take.
[[noreturn]] void RefuseLongList(size_t maxEntries, const std::string& output, bool multiSheet)
{
    const std::string extension = fs::path(output).extension().string();
    const std::string kind = extension.empty() ? "this output" : "a " + extension + " output";
    throw std::runtime_error("the list has more than " + std::to_string(maxEntries) + " entries: " + kind +
                             (multiSheet ? " holds at most that many merged worksheets beside its first sheet"
                                         : " stacks at most that many blocks on its one sheet"));
}

// Where the merge saves a workbook that goes to standard output: a name in the temporary folder
// that the save never gives its file.
std::string StandardOutputStandIn()
{
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    return ((ec ? fs::path("/tmp") : folder) / "standard-output.xlsx").string();
}

int RunMerge(const Options& options, CliEnvironment& env)
{
    if (!options.output || options.output->empty()) {
        throw UsageError("merge needs -o OUTPUT");
    }
    if (options.listFile && !options.inputs.empty()) {
        throw UsageError("give either --list or INPUT paths, not both");
    }
    if (!options.listFile && options.inputs.empty()) {
        throw UsageError("merge needs --list FILE or at least one INPUT");
    }
    const std::string& output = *options.output;
    const bool toStandardOutput = output == "-";
    // "-o -": the merge saves an xlsx workbook in the temporary folder, where it is never named,
    // and the complete file is copied to standard output (the save seeks back to patch what it
    // has written, so it cannot write to a pipe directly).
    const std::string savePath = toStandardOutput ? StandardOutputStandIn() : output;
    std::error_code ec;
    const fs::file_status outputStatus = fs::symlink_status(output, ec);
    if (!toStandardOutput && fs::is_directory(fs::status(output, ec))) {
        throw UsageError(output + ": is a folder");
    }
    if (!toStandardOutput && fs::exists(outputStatus) && !options.force) {
        throw UsageError(output + ": already exists (use --force to replace it)");
    }
    const fs::path folder = fs::path(output).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
        throw UsageError(folder.string() + ": no such folder for the output");
    }
    if (options.listFile && *options.listFile == "-" && ::isatty(STDIN_FILENO) == 1 && &env.in == &std::cin) {
        env.err << kProgramName << ": " << Tr("reading the list from the terminal (end it with Ctrl-D)") << '\n';
    }

    Progress progress(env.err, env.progress);
    ConsolePrompts prompts(env.err, progress);
    std::vector<catalogue::SheetEntry> mergeList;
    bool inputsSkipped = false;
    const size_t maxEntries = merge::MaxMergeEntries(savePath, !options.single);
    if (options.listFile) {
        try {
            mergeList = ReadListFile(*options.listFile, env, maxEntries);
        } catch (const ListTooLongError&) {
            RefuseLongList(maxEntries, savePath, !options.single);
        }
    } else {
        CheckedInputList inputs = CheckedInputs(options.inputs);
        ReportSkippedInputs(inputs, env, progress);
        CollectingSink sink(progress);
        mergeList = Catalogue(inputs, env, prompts, sink);
        inputsSkipped = !inputs.skipped.empty();
        if (mergeList.size() > maxEntries) {
            RefuseLongList(maxEntries, savePath, !options.single);
        }
    }
    if (mergeList.empty()) {
        progress.Stop();
        env.err << kProgramName << ": " << Tr("%s (the list has no entries)", {Tr(merge::kNothingToMerge)}) << '\n';
        return kExitFailure;
    }

    // The servers keep the saved output unnamed (SaveTarget::Held); it takes its name only once the
    // whole merge has succeeded, and is gone with this guard on every other path.
    struct DropHeld {
        automation::HeldSave* held;
        ~DropHeld()
        {
            if (held != nullptr) {
                held->Take();
            }
        }
    } dropHeld{env.held};
    CountingServerFactory servers(env.servers, progress, mergeList.size(), output);
    const merge::MergeReport report = merge::MergeSheets(mergeList, savePath, !options.single, servers, prompts);
    if (report.serverMissing) {
        progress.Stop();
        return kExitFailure;
    }
    if (env.held != nullptr) {
        std::unique_ptr<engine::UnnamedWorkbookFile> saved = env.held->Take();
        if (!saved) {
            throw std::runtime_error(output + ": the merge saved no file");
        }
        if (toStandardOutput) {
            saved->CopyTo(env.out);
        } else {
            try {
                // Without --force an output that appeared in the meantime is not replaced either.
                saved->Name(options.force ? engine::ExistingFile::Replace : engine::ExistingFile::Keep);
            } catch (const engine::FileExistsError&) {
                throw UsageError(output + ": already exists (use --force to replace it)");
            }
        }
    }
    progress.Stop();
    merge::ShowCompletion(prompts, report);
    return report.skipped.empty() && report.notes.empty() && report.outputNotes.empty() && !inputsSkipped
               ? kExitMerged
               : kExitSkipped;
}

} // namespace

std::string AbsoluteInputPath(const std::string& path)
{
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::error_code ec;
        const fs::path cwd = fs::current_path(ec);
        full = (ec ? std::string(".") : cwd.string()) + "/" + path;
    }
    std::string out;
    out.reserve(full.size());
    size_t i = 0;
    while (i < full.size()) {
        size_t next = full.find('/', i);
        if (next == std::string::npos) {
            next = full.size();
        }
        const std::string_view segment(full.data() + i, next - i);
        if (!segment.empty() && segment != ".") {
            out += '/';
            out += segment;
        }
        i = next + 1;
    }
    const bool trailing = full.back() == '/' || full.ends_with("/.");
    if (out.empty() || trailing) {
        out += '/';
    }
    return out;
}

int RunCli(const std::vector<std::string>& args, CliEnvironment& env)
{
    try {
        const Options options = ParseArguments(args);
        if (options.help) {
            env.out << kUsage << '\n' << Tr(kHelp);
            return kExitMerged;
        }
        if (options.version) {
            env.out << kProgramName << ' ' << GQ_VERSION << '\n';
            return kExitMerged;
        }
        if (options.command == "list") {
            return RunList(options, env);
        }
        if (options.command == "merge") {
            return RunMerge(options, env);
        }
        if (options.command.empty()) {
            throw UsageError("no command given");
        }
        throw UsageError("unknown command \"" + options.command + "\"");
    } catch (const UsageError& e) {
        env.err << kProgramName << ": " << TranslatedMessage(e.what()) << '\n'
                << Tr("Try '%s --help' for more information.", {kProgramName}) << '\n';
        return kExitFailure;
    } catch (const std::exception& e) {
        env.err << kProgramName << ": " << TranslatedMessage(e.what()) << '\n';
        return kExitFailure;
    } catch (...) {
        env.err << kProgramName << ": " << Tr("unknown failure") << '\n';
        return kExitFailure;
    }
}

} // namespace gq::cli
