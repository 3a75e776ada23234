// Delimited text files of every dialect and encoding the reader takes, merged by gridquilt-merge into
// one workbook and read back by openpyxl: each sheet holds exactly the file's values, numbers as
// numbers and dates as dates.
// SPDX-License-Identifier: Apache-2.0
#include "cli/Cli.h"

#include "automation/EmbeddedServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace gq::cli {
namespace {

struct CsvFile {
    const char* name;
    std::string bytes;
    // What openpyxl reads, one line a row: each cell as s:'text' (Python's repr), n:number,
    // d:date-time or - for none.
    const char* expected;
};

TEST(CsvMerge, EveryDialectAndEncodingMergesToItsExactValues)
{
    if (!test::HavePython("openpyxl")) {
        GTEST_SKIP() << "openpyxl is not installed";
    }
    const std::string bom8 = "\xEF\xBB\xBF";
    const CsvFile files[] = {
        {"plain.csv",
         "name,qty,price,code,when\r\n"
         "\xc3\x84pfel,-12,1000000.25,007,2024-02-29\r\n"
         "\"Smith, J.\",\"say \"\"hi\"\"\",1e-3,\"line1\nline2\",2024-02-29T13:45:30\r\n",
         "s:'name' s:'qty' s:'price' s:'code' s:'when'\n"
         "s:'\xc3\x84pfel' n:-12.0 n:1000000.25 s:'007' d:2024-02-29T00:00:00\n"
         "s:'Smith, J.' s:'say \"hi\"' n:0.001 s:'line1\\nline2' d:2024-02-29T13:45:30\n"},
        {"semicolons.CSV", bom8 + "Artikel;Preis\nTee;1,50\n;\n\nMilch;-0.5\n",
         "s:'Artikel' s:'Preis'\ns:'Tee' s:'1,50'\n- -\n- -\ns:'Milch' n:-0.5\n"},
        {"tabs.tsv",
         std::string("\xFF\xFE"
                     "x\0\t\0y\0\n\0\xAC\x20\t\0"
                     "3\0.\0"
                     "5\0\n\0",
                     22),
         "s:'x' s:'y'\ns:'\xe2\x82\xac' n:3.5\n"},
        {"pipes.tab",
         std::string("\xFE\xFF\0p\0|\0q\0\n\xD8\x3D\xDE\x00\0|\0-\0"
                     "1",
                     20),
         "s:'p' s:'q'\ns:'\xf0\x9f\x98\x80' n:-1.0\n"},
        {"latin.csv", "caf\xe9;\x80 5;12\r\n\"a;b\";1234567890123456;+1\r\n",
         "s:'caf\xc3\xa9' s:'\xe2\x82\xac 5' n:12.0\ns:'a;b' s:'1234567890123456' s:'+1'\n"},
    };
    test::TempDir dir;
    std::vector<std::string> args = {"merge", "-o", dir.File("all.xlsx")};
    for (const CsvFile& file : files) {
        std::ofstream(dir.File(file.name), std::ios::binary) << file.bytes;
        args.push_back(dir.File(file.name));
    }
    automation::EmbeddedServerFactory servers{automation::SaveTarget::Held};
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    CliEnvironment env{in, out, err, servers, false, servers.Held()};
    ASSERT_EQ(RunCli(args, env), kExitMerged) << err.str();

    const std::string script = "import sys, datetime, openpyxl\n"
                               "wb = openpyxl.load_workbook(sys.argv[1])\n"
                               "def show(v):\n"
                               "    if v is None: return '-'\n"
                               "    if isinstance(v, datetime.datetime): return 'd:' + v.isoformat()\n"
                               "    if isinstance(v, (int, float)): return 'n:' + repr(float(v))\n"
                               "    return 's:' + repr(v)\n"
                               "for ws in wb.worksheets:\n"
                               "    print('==' + ws.title)\n"
                               "    for row in ws.iter_rows(values_only=True):\n"
                               "        print(' '.join(show(v) for v in row))\n";
    std::string read;
    ASSERT_EQ(test::RunPython(script, {dir.File("all.xlsx")}, read), 0) << read;
    std::string expected;
    for (const CsvFile& file : files) {
        std::string title(file.name);
        expected += "==" + title.substr(0, title.rfind('.')) + "\n" + file.expected;
    }
    // The new workbook's own empty sheet stays last, as in every merge. openpyxl pads each row to
    // the sheet's width, so the blank rows of the second file show as "- -".
    expected += "==Sheet1\n";
    EXPECT_EQ(read, expected);
}

} // namespace
} // namespace gq::cli
