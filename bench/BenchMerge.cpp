// gq_bench_merge: generates the workloads W1-W6 (once), runs gridquilt-merge on each in both modes
// and to both output formats, and prints wall time, peak memory, output size, throughput, the
// floor of each run next to the targets, and which stage of the merge its CPU time went to.
// SPDX-License-Identifier: Apache-2.0
#include "bench/BenchFloor.h"
#include "bench/BenchWorkloads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace gq::bench;

namespace {

struct Settings {
    int runs = 3;
    std::string work = GQ_BENCH_WORK_DIR;
    std::string merger = GQ_MERGE_EXE;
    std::vector<std::string> only; // workload names; empty: all
    std::vector<std::string> modes{"multi", "single"};
    std::vector<std::string> formats{"xlsx", "xls"};
};

struct RunResult {
    int exitStatus = -1;
    double seconds = 0;    // wall time
    double cpuSeconds = 0; // user + system time of the child
    long peakKiB = 0;
    // CPU seconds per stage, as the merger counted them (GQ_STAGE_TIMES).
    std::vector<std::pair<std::string, double>> stages;
};

// One child run of the merger, with its wall time and peak resident memory.
RunResult RunMerger(const Settings& settings, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(settings.merger.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const std::string stageFile = settings.work + "/stages.txt";
    fs::remove(stageFile);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("GQ_STAGE_TIMES", stageFile.c_str(), 1);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    RunResult result;
    int status = 0;
    rusage usage{};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakKiB = usage.ru_maxrss;
        result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        std::ifstream in(stageFile);
        std::string name;
        double seconds = 0;
        while (in >> name >> seconds) {
            if (name == "peak_kib") {
                // The merger's own figure, which leaves out the pages of this process that the
                // child held until it started the merger.
                result.peakKiB = static_cast<long>(seconds);
            } else {
                result.stages.emplace_back(name, seconds);
            }
        }
    }
    return result;
}

std::vector<std::string> Split(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

bool Contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::vector<std::string> FilesUnder(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The targets for multi-sheet merges to xlsx, in seconds.
// W5 is W1 ten times over: it checks that the time grows with the sheets merged, not faster.
const std::map<std::string, double> kTargetSeconds = {{"W1", 0.9}, {"W2", 3.6},  {"W3", 0.3}, {"W3F", 0.33},
                                                      {"W4", 0.3}, {"W4v", 0.3}, {"W5", 9.0}};
constexpr double kTargetFloorMultiple = 2.0;
// Peak memory bounded by the largest source sheet plus the string and style tables, not by the
// output: W2, W5 and W6 within the same bound, in every mode and format.
constexpr double kTargetPeakMiB = 150.0;

int Usage()
{
    std::fprintf(stderr, "usage: gq_bench_merge [--runs N] [--work DIR] [--merger PATH] [--only W1,W2,...]\n"
                         "                      [--modes multi,single] [--formats xlsx,xls]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const std::string value = argv[++i];
        if (arg == "--runs") {
            settings.runs = std::max(1, std::atoi(value.c_str()));
        } else if (arg == "--work") {
            settings.work = value;
        } else if (arg == "--merger") {
            settings.merger = value;
        } else if (arg == "--only") {
            settings.only = Split(value);
        } else if (arg == "--modes") {
            settings.modes = Split(value);
        } else if (arg == "--formats") {
            settings.formats = Split(value);
        } else {
            return Usage();
        }
    }
    fs::create_directories(settings.work);
    const std::string outFolder = settings.work + "/out";
    fs::create_directories(outFolder);

    // On a machine busy with other work, wall time measures the others too: the child's own CPU
    // time (and the floor's) is then the figure the targets are judged on.
    double load[1] = {0};
    ::getloadavg(load, 1);
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    const bool busy = load[0] >= static_cast<double>(cores);
    std::printf("gridquilt-merge: %s\nwork folder: %s\nwall and cpu: medians of %d runs after one warm-up run; "
                "peak: largest maximum resident set of those runs\nload average %.1f on %ld cores: targets judged "
                "on %s time\n\n",
                settings.merger.c_str(), settings.work.c_str(), settings.runs, load[0], cores,
                busy ? "CPU (user + system)" : "wall");
    std::printf("%-3s %-6s %-4s %4s %8s %8s %8s %8s %9s %8s %7s  %s\n", "wl", "mode", "fmt", "exit", "wall s", "cpu s",
                "peak MiB", "out MiB", "Mcells/s", "floor s", "x floor", "target");
    std::fflush(stdout);

    std::vector<std::string> missed;
    for (Workload workload : Workloads()) {
        if (!settings.only.empty() && !Contains(settings.only, workload.name)) {
            continue;
        }
        const auto genStart = std::chrono::steady_clock::now();
        const std::string folder = GenerateWorkload(workload, settings.work);
        const double genSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - genStart).count();
        if (genSeconds > 1.0) {
            std::printf("(%s generated in %.1f s)\n", workload.name.c_str(), genSeconds);
        }
        const std::vector<std::string> inputs = FilesUnder(folder);
        for (const std::string& mode : settings.modes) {
            if (!workload.modes.empty() && !Contains(workload.modes, mode)) {
                continue;
            }
            double xlsxSeconds = 0;
            for (const std::string& format : settings.formats) {
                if (!workload.formats.empty() && !Contains(workload.formats, format)) {
                    continue;
                }
                const std::string output = outFolder + "/" + workload.name + "-" + mode + "." + format;
                std::vector<std::string> args{"merge", "-o", output, "--force"};
                if (mode == "single") {
                    args.push_back("--single");
                }
                args.push_back(folder);
                RunMerger(settings, args); // warm-up: page cache, and the output file exists
                std::vector<double> times;
                std::vector<double> cpuTimes;
                RunResult last;
                long peak = 0;
                for (int run = 0; run < settings.runs; ++run) {
                    last = RunMerger(settings, args);
                    times.push_back(last.seconds);
                    cpuTimes.push_back(last.cpuSeconds);
                    peak = std::max(peak, last.peakKiB);
                }
                std::sort(times.begin(), times.end());
                std::sort(cpuTimes.begin(), cpuTimes.end());
                const double wallTime = times[times.size() / 2];
                const double cpu = cpuTimes[cpuTimes.size() / 2];
                const double wall = busy ? cpu : wallTime;
                std::error_code ec;
                const auto outBytes = fs::file_size(output, ec);
                Floor floor;
                if (!ec) {
                    floor = MeasureFloor(inputs, output, settings.work, settings.runs, busy);
                    // The floor's buffers go back to the system, so that the next children start
                    // from a small process (a merger that reports no peak of its own is measured
                    // with what it inherited).
                    ::malloc_trim(0);
                }
                const double peakMiB = peak / 1024.0;
                std::string verdict;
                if (last.exitStatus == 2) {
                    verdict = "merge failed";
                } else if (mode == "multi" && format == "xlsx") {
                    const double target = kTargetSeconds.at(workload.name);
                    const bool timeOk = wall <= target;
                    const bool floorOk = wall <= kTargetFloorMultiple * floor.Total();
                    char text[128];
                    std::snprintf(text, sizeof text, "<= %.1f s %s, <= 2x floor %s", target, timeOk ? "ok" : "MISSED",
                                  floorOk ? "ok" : "MISSED");
                    verdict = text;
                    if (!timeOk || !floorOk) {
                        missed.push_back(workload.name + " multi xlsx");
                    }
                } else if (format == "xls" && xlsxSeconds > 0) {
                    verdict = wall <= xlsxSeconds ? "<= xlsx ok" : "<= xlsx MISSED";
                    if (wall > xlsxSeconds) {
                        missed.push_back(workload.name + " " + mode + " xls slower than xlsx");
                    }
                }
                if (workload.name == "W2" || workload.name == "W5" || workload.name == "W6") {
                    const bool memOk = peakMiB <= kTargetPeakMiB;
                    verdict +=
                        std::string(verdict.empty() ? "" : "; ") + "peak <= 150 MiB " + (memOk ? "ok" : "MISSED");
                    if (!memOk) {
                        missed.push_back(workload.name + " " + mode + " " + format + " peak memory");
                    }
                }
                if (last.exitStatus == 1) {
                    verdict += " (entries skipped)";
                }
                if (format == "xlsx") {
                    xlsxSeconds = wall;
                }
                std::printf("%-3s %-6s %-4s %4d %8.3f %8.3f %8.1f %8.2f %9.2f %8.3f %7.2f  %s\n", workload.name.c_str(),
                            mode.c_str(), format.c_str(), last.exitStatus, wallTime, cpu, peakMiB,
                            ec ? 0.0 : static_cast<double>(outBytes) / (1024.0 * 1024.0),
                            wall > 0 ? static_cast<double>(workload.cells) / wall / 1e6 : 0.0, floor.Total(),
                            floor.Total() > 0 ? wall / floor.Total() : 0.0, verdict.c_str());
                std::printf("    floor: read %.3f s + inflate inputs %.3f s + %s %.3f s\n", floor.readSeconds,
                            floor.inflateSeconds, format == "xlsx" ? "deflate output (level 1)" : "write output",
                            floor.outputSeconds);
                // The stages of the last run, as shares of the CPU time they counted; the largest
                // bounds the run (compressing runs beside the rest on other cores).
                double counted = 0;
                const std::pair<std::string, double>* largest = nullptr;
                for (const auto& stage : last.stages) {
                    counted += stage.second;
                    if (largest == nullptr || stage.second > largest->second) {
                        largest = &stage;
                    }
                }
                if (largest != nullptr && counted > 0) {
                    std::string line;
                    for (const auto& [name, seconds] : last.stages) {
                        char part[64];
                        std::snprintf(part, sizeof part, "%s%s %.3f s (%.0f%%)", line.empty() ? "" : ", ", name.c_str(),
                                      seconds, 100.0 * seconds / counted);
                        line += part;
                    }
                    std::printf("    stages (CPU): %s; bounded by %s\n", line.c_str(), largest->first.c_str());
                }
                std::fflush(stdout);
            }
        }
    }
    std::printf("\nWorkloads:\n");
    for (Workload workload : Workloads()) {
        std::printf("  %s  %s\n", workload.name.c_str(), workload.description.c_str());
    }
    if (missed.empty()) {
        std::printf("\nEvery target measured here was met.\n");
    } else {
        std::printf("\nTargets missed:\n");
        for (const std::string& m : missed) {
            std::printf("  %s\n", m.c_str());
        }
    }
    return 0;
}
