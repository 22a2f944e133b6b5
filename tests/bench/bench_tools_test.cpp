// The benchmark's tools: a driver that lets a failing run pass as a fast
// one, a generator whose boards the programs misread, or a report that
// calls a missed goal met would all make the published numbers wrong.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "scratch_site.h"
#include "stats.h"

namespace {

struct CaseLine {
    int runs = 0;
    int failures = 0;
    double median = 0;
    long outBytes = 0;
};

struct DriverRun {
    int status = -1;
    std::map<std::string, CaseLine> cases;
    std::string errors;
};

int shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

DriverRun runDriver(const ScratchSite& dir, const std::string& caseFile, int runs) {
    writeFile(dir.root() + "/cases", caseFile);
    std::string out = dir.root() + "/out.tsv";
    std::string err = dir.root() + "/err.txt";
    DriverRun run;
    run.status = shell(programPath("cgi_bench") + " -n " + std::to_string(runs) + " -w 0 -r " + dir.root() + " " +
                       dir.root() + "/cases >" + out + " 2>" + err);
    run.errors = readFile(err);
    std::istringstream lines(readFile(out));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        std::string cell;
        while (std::getline(fields, cell, '\t')) cells.push_back(cell);
        if (cells.size() != 11) {
            ADD_FAILURE() << "malformed driver line: " << line;
            continue;
        }
        CaseLine c;
        c.runs = std::stoi(cells[1]);
        c.failures = std::stoi(cells[2]);
        c.median = std::stod(cells[3]);
        c.outBytes = std::stol(cells[9]);
        run.cases[cells[0]] = c;
    }
    return run;
}

// A case running one shell script in `dir`.
std::string shellCase(const std::string& name, const std::string& dir, const std::string& script) {
    return "case " + name + "\nprogram /bin/sh\narg -c\narg " + script + "\ndir " + dir + "\n";
}

int lineCount(const std::string& text, const std::string& line) {
    std::istringstream lines(text);
    std::string l;
    int n = 0;
    while (std::getline(lines, l)) n += l == line;
    return n;
}

}  // namespace

TEST(BenchStats, NearestRankPercentileAndMedian) {
    std::vector<double> hundred;
    for (int i = 1; i <= 100; ++i) hundred.push_back(i);
    EXPECT_EQ(percentile(hundred.data(), 100, 99), 99);
    EXPECT_EQ(percentile(hundred.data(), 100, 50), 50);
    EXPECT_EQ(percentile(hundred.data(), 100, 100), 100);
    EXPECT_EQ(percentile(hundred.data(), 100, 0), 1);

    std::vector<double> many;
    for (int i = 1; i <= 2000; ++i) many.push_back(i);
    EXPECT_EQ(percentile(many.data(), 2000, 99), 1980);
    std::vector<double> few = {10, 20, 30};
    EXPECT_EQ(percentile(few.data(), 3, 99), 30);  // the slowest of three, not an interpolation
    EXPECT_EQ(percentile(few.data(), 3, 50), 20);

    EXPECT_EQ(median(few.data(), 3), 20);
    std::vector<double> even = {10, 20, 30, 50};
    EXPECT_EQ(median(even.data(), 4), 25);
}

TEST(BenchDriver, WrongStatusMissingTextAndSignalsAreFailures) {
    ScratchSite dir;
    const std::string d = dir.root();
    std::string cases = shellCase("page", d, "printf 'Content-type: text/html\\n\\nhello'") + "expect hello\n" +
                        shellCase("status3", d, "exit 3") + "status 3\n" +
                        shellCase("unexpected", d, "exit 3") +
                        shellCase("lacking", d, "printf 'Content-type: text/html\\n\\nbye'") + "expect hello\n" +
                        shellCase("killed", d, "kill -9 $$");
    DriverRun run = runDriver(dir, cases, 4);
    EXPECT_EQ(run.status, 1) << "failed runs must fail the benchmark";
    ASSERT_EQ(run.cases.size(), 5u);
    EXPECT_EQ(run.cases["page"].failures, 0);
    EXPECT_EQ(run.cases["page"].outBytes, 30);
    EXPECT_EQ(run.cases["status3"].failures, 0);
    EXPECT_EQ(run.cases["unexpected"].failures, 4);
    EXPECT_EQ(run.cases["lacking"].failures, 4);
    EXPECT_EQ(run.cases["killed"].failures, 4);
    EXPECT_NE(run.errors.find("unexpected: 4 of 4 runs failed; first: exit status 3, wanted 0"), std::string::npos)
        << run.errors;
    EXPECT_NE(run.errors.find("killed by signal 9"), std::string::npos) << run.errors;

    DriverRun clean = runDriver(dir, shellCase("page", d, "printf 'Content-type: text/html\\n\\nhello'"), 3);
    EXPECT_EQ(clean.status, 0) << clean.errors;
    EXPECT_EQ(clean.cases["page"].runs, 3);
    EXPECT_GT(clean.cases["page"].median, 0);
}

TEST(BenchDriver, CasesTakeTurnsEachWithItsOwnCount) {
    ScratchSite dir;
    const std::string d = dir.root();
    std::string cases = shellCase("a", d, "echo A >>log") + "runs 3\n" + shellCase("b", d, "echo B >>log") + "runs 5\n";
    DriverRun run = runDriver(dir, cases, 100);
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(readFile(d + "/log"), "A\nB\nA\nB\nA\nB\nB\nB\n");
    EXPECT_EQ(run.cases["a"].runs, 3);
    EXPECT_EQ(run.cases["b"].runs, 5);
    // Raw samples, one line per run.
    std::istringstream raw(readFile(d + "/b.txt"));
    int samples = 0;
    for (std::string line; std::getline(raw, line);) ++samples;
    EXPECT_EQ(samples, 5);
}

TEST(BenchDriver, RestoreAndRemoveComeBeforeEveryRunWarmUpsIncluded) {
    ScratchSite dir;
    const std::string d = dir.root();
    writeFile(d + "/pristine", "original\n");
    std::string cases = shellCase("restored", d, "cat board >>seen; echo changed >board; test -e made && echo again >>seen; touch made") +
                        "restore " + d + "/pristine " + d + "/board\nremove " + d + "/made\n";
    writeFile(d + "/cases", cases);
    int status = shell(programPath("cgi_bench") + " -n 4 -w 2 " + d + "/cases >/dev/null 2>&1");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lineCount(readFile(d + "/seen"), "original"), 6);
    EXPECT_EQ(lineCount(readFile(d + "/seen"), "changed"), 0);
    EXPECT_EQ(lineCount(readFile(d + "/seen"), "again"), 0);
}

TEST(BenchDriver, ProgramSeesOnlyTheGivenEnvironmentAndInput) {
    ScratchSite dir;
    const std::string d = dir.root();
    writeFile(d + "/body", "name=Kim&subject=Hi");
    ::setenv("BENCH_LEAK_CHECK", "leaked", 1);
    std::string cases = shellCase("cgi", d,
                                  "printf 'Content-type: text/html\\n\\n[%s|%s|%s|' \"$QUERY_STRING\" \"$CONTENT_LENGTH\" "
                                  "\"$BENCH_LEAK_CHECK\"; cat; printf ']'; pwd") +
                        "env QUERY_STRING=BoardNum=1&TextNum=-1\nenv CONTENT_LENGTH=19\nstdin " + d + "/body\n" +
                        "expect [BoardNum=1&TextNum=-1|19||name=Kim&subject=Hi]" + d + "\n";
    DriverRun run = runDriver(dir, cases, 2);
    ::unsetenv("BENCH_LEAK_CHECK");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.cases["cgi"].failures, 0);
}

TEST(BenchDriver, RefusesUnknownKeysAndMissingPrograms) {
    ScratchSite dir;
    EXPECT_EQ(runDriver(dir, "case x\nprogram /bin/true\nbogus 1\n", 1).status, 2);
    EXPECT_EQ(runDriver(dir, "case x\ndir /\n", 1).status, 2);
    EXPECT_EQ(runDriver(dir, "program /bin/true\n", 1).status, 2);
}

TEST(BoardGenerator, WritesTheStoreLayoutByteForByte) {
    ScratchSite dir;
    const std::string d = dir.root();
    ASSERT_EQ(shell(programPath("make_board") + " " + d + " 12 3"), 0);
    std::string index = readFile(d + "/guestbook.dat");
    ASSERT_EQ(index.size(), 125u + 12 * 410);

    std::string expected = headerBytes(12, 12, 3);
    for (int n = 1; n <= 12; ++n) {
        TestRecord r;
        r.textNum = n;
        r.name = "김 " + std::to_string(n);
        r.date = "2026년12월07일";
        r.time = "14시05분";
        r.email = "writer" + std::to_string(n) + "@example.org";
        r.subject = "Subject of message " + std::to_string(n);
        r.lineCount = "3";
        r.homepage = "http://example.org/";
        expected += recordBytes(r);
    }
    EXPECT_EQ(index, expected);
    // EUC-KR bytes of the name and date of record 12.
    EXPECT_EQ(fieldAt(index, 125 + 11 * 410 + 5, 20), "\xb1\xe8 12");
    EXPECT_EQ(fieldAt(index, 125 + 11 * 410 + 25, 20), "2026\xb3\xe2" "12\xbf\xf9" "07\xc0\xcf");
    EXPECT_EQ(readFile(d + "/guestbook12.html"), "Body of message 12.<br>\nA second line.<br>\nAnd a third.");
    EXPECT_TRUE(fileExists(d + "/guestbook1.html"));

    EXPECT_NE(shell(programPath("make_board") + " " + d + " 10000 >/dev/null 2>&1"), 0);
    EXPECT_NE(shell(programPath("make_board") + " " + d + "/none 5 >/dev/null 2>&1"), 0);
}

TEST(BoardGenerator, ProgramsFindTheTextsTheBenchmarkExpects) {
    if (!fileExists(programPath("ListPage")) || !fileExists(programPath("ShowPage"))) {
        GTEST_SKIP() << "ListPage or ShowPage not built";
    }
    ScratchSite site;
    site.writeStandardConfig();
    ASSERT_EQ(shell(programPath("make_board") + " " + site.boardDir(1) + " 25 1"), 0);

    CgiRequest list;
    list.query = "BoardNum=1&TextNum=0";
    CgiResult listed = runCgi("ListPage", site.cgiBin(), list);
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.output.find("Subject of message 25<"), std::string::npos);
    EXPECT_NE(listed.output.find("Subject of message 16<"), std::string::npos);
    EXPECT_EQ(listed.output.find("Subject of message 15<"), std::string::npos);

    CgiRequest show;
    show.query = "BoardNum=1&TextNum=7";
    CgiResult shown = runCgi("ShowPage", site.cgiBin(), show);
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.output.find("Body of message 7."), std::string::npos);
    EXPECT_NE(shown.output.find("\xb1\xe8 7"), std::string::npos);
}

namespace {

// Runs the report over hand-made raw numbers and returns results.md.
std::string reportOf(const ScratchSite& dir, const std::string& direct, const std::string& reads,
                     const std::string& erases, const std::string& web) {
    const std::string raw = dir.root() + "/raw";
    shell("mkdir -p " + raw);
    writeFile(raw + "/direct.tsv", direct);
    writeFile(raw + "/growth-read.tsv", reads);
    writeFile(raw + "/growth-erase.tsv", erases);
    writeFile(raw + "/web.tsv", web);
    writeFile(raw + "/driver-maxrss.txt", "700\n");
    int status = shell("BENCH_PLOT=0 bash " BENCH_SOURCE_DIR "/report.sh " + raw + " " + dir.root() + " 6632");
    EXPECT_EQ(status, 0);
    return readFile(dir.root() + "/results.md");
}

std::string tsvLine(const std::string& name, double median, long bytes = 0) {
    std::ostringstream line;
    line << name << "\t2000\t0\t" << median << "\t" << median * 1.5 << "\t" << median << "\t" << median * 0.8 << "\t"
         << median * 3 << "\t1616\t6632\t" << bytes << "\n";
    return line.str();
}

}  // namespace

TEST(BenchReport, GoalsAreJudgedOnTheMeasuredRatios) {
    ScratchSite dir;
    std::string direct = tsvLine("true", 900) + tsvLine("Baseline", 1000) + tsvLine("Baseline-static", 800) +
                         tsvLine("ListPage", 1290) + tsvLine("FormPage", 1303) + tsvLine("ListPage-dynamic", 2580);
    std::string reads = tsvLine("ListPage-10", 1000) + tsvLine("ListPage-1000", 1010) + tsvLine("ListPage-9999", 1101) +
                        tsvLine("ShowPage-10", 1000) + tsvLine("ShowPage-1000", 1000) + tsvLine("ShowPage-9999", 1099);
    std::string erases = tsvLine("DropPage-9999", 4000, 4099715) + tsvLine("cp-9999", 2000, 4099715);
    std::string web = "static\t9000\t4000\t0\t0.3\t0.5\t0.7\n"
                      "Baseline\t1000\t4000\t0\t3\t4\t6\n"
                      "ListPage\t769\t4000\t0\t4\t5\t7\n";
    std::string md = reportOf(dir, direct, reads, erases, web);

    // 1.303 rounds to 1.30 but is above the limit.
    EXPECT_NE(md.find("minimal C program's: not met (highest: `FormPage` at 1.303)"), std::string::npos) << md;
    EXPECT_NE(md.find("| `ListPage` | 1290 |"), std::string::npos);
    EXPECT_NE(md.find("| 1.29 | met |"), std::string::npos);
    EXPECT_NE(md.find("| 1.30 | not met |"), std::string::npos);
    EXPECT_NE(md.find("`ListPage` on 9999 messages within 1.1 times its time on 10: not met (1.101)"), std::string::npos);
    EXPECT_NE(md.find("`ShowPage` on 9999 messages within 1.1 times its time on 10: met (1.099)"), std::string::npos);
    EXPECT_NE(md.find("plain copy's throughput: met (DropPage / cp: 0.500)"), std::string::npos);
    EXPECT_NE(md.find("| `ListPage` | 2580 | 1616 | 1290 | 1616 | 50% |"), std::string::npos) << md;
    // 1000 / 769 = 1.3004.
    EXPECT_NE(md.find("requests per second: not met (1.300)"), std::string::npos) << md;
    // Dynamic comparison rows stay out of the main table.
    EXPECT_EQ(md.find("| `ListPage-dynamic` |"), std::string::npos);
}

TEST(BenchReport, MissingProgramsAreReportedAsNotMeasured) {
    ScratchSite dir;
    std::string md = reportOf(dir, tsvLine("true", 900) + tsvLine("Baseline", 1000), "", tsvLine("cp-9999", 2000, 4099715),
                              "Baseline\t1000\t4000\t0\t3\t4\t6\n");
    EXPECT_NE(md.find("minimal C program's: not measured."), std::string::npos) << md;
    EXPECT_NE(md.find("plain copy's throughput: not measured"), std::string::npos);
    EXPECT_NE(md.find("requests per second: not measured"), std::string::npos);
    EXPECT_EQ(md.find(": met"), std::string::npos);
}

TEST(BenchReadme, OnlyTheMarkedRegionIsReplaced) {
    ScratchSite dir;
    const std::string d = dir.root();
    writeFile(d + "/results.md", "# Benchmark results\n\nRun today.\n\n## Goals\n\n- one: met\n");
    writeFile(d + "/README.md",
              "# Title\n\nintro\n<!-- benchmark results: start -->\nold table\n<!-- benchmark results: end -->\ntail\n");
    ASSERT_EQ(shell("bash " BENCH_SOURCE_DIR "/readme.sh " + d + "/results.md " + d + "/README.md"), 0);
    EXPECT_EQ(readFile(d + "/README.md"),
              "# Title\n\nintro\n<!-- benchmark results: start -->\n\nRun today.\n\n#### Goals\n\n- one: met\n"
              "<!-- benchmark results: end -->\ntail\n");

    writeFile(d + "/PLAIN.md", "# Title\nno markers\n");
    ASSERT_EQ(shell("bash " BENCH_SOURCE_DIR "/readme.sh " + d + "/results.md " + d + "/PLAIN.md 2>/dev/null"), 0);
    EXPECT_EQ(readFile(d + "/PLAIN.md"), "# Title\nno markers\n");
}
