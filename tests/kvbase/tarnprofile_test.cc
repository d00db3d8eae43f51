// The data-file tool: what it writes is what kvbase reads, its exit codes
// tell usage errors from failed writes and missing keys, and its check finds
// what the service passes over. Also the help and usage codes of the tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/process_info.h"
#include "platform/testing.h"
#include "profile_check.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

namespace pt = ::platform::testing;

int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& output = "") {
  auto child = pt::ChildProcess::Start(
      platform::ExecutableDirectory() + pt::Sep() + program + pt::ExeSuffix(), args, output);
  return child ? child->Wait() : -100;
}

int RunTool(const std::vector<std::string>& args) { return RunProgram("tarnprofile", args); }

TEST(TarnprofileTest, WritesThroughKvbaseAndReportsErrors) {
  ScratchDir scratch("tarnprofile");
  const std::string file = scratch.Path("tarn.dat");
  WriteBytes(file, "; kept\n[Scheduler Profile 1]\nState=Add\n[Other]\nx=1\n");
  const std::string after = "; kept\n[Scheduler Profile 1]\nState=Active\nNote=two words\n";
  const std::vector<std::vector<std::string>> good = {
      {"set", file, "Scheduler Profile 1", "State", "Active"},
      {"set", file, "Scheduler Profile 1", "Note", "two words"},
      {"delete-section", file, "Other"},
      {"get", file, "Scheduler Profile 1", "State"},
      {"get", "--size", "4", file, "Scheduler Profile 1", "State"},
      {"getint", file, "Nope", "Nope"}};
  for (const auto& args : good) EXPECT_EQ(RunTool(args), 0) << args[0];
  EXPECT_EQ(FileContents(file), after);

  // Usage errors: 2, and the file untouched.
  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"frobnicate", file},
                                                     {"set", file, "S", "K"},
                                                     {"get", "--size", "0", file, "S", "K"},
                                                     {"get", "--size", "x", file, "S", "K"},
                                                     {"getint", file, "S"},
                                                     {"delete-section", file},
                                                     // What would not read back as written.
                                                     {"set", file, "S\nT", "K", "V"},
                                                     {"set", file, "S", "K\r", "V"},
                                                     {"set", file, "S", "K", "a\rb"},
                                                     {"set", file, " S", "K", "V"},
                                                     {"set", file, "S", "K\t", "V"},
                                                     {"set", file, "S", "K", "V "},
                                                     {"set", file, "S", "K", "\x0bV"},
                                                     {"set", file, "S", "a=b", "V"},
                                                     {"set", file, "S", "[K]", "V"},
                                                     {"set", file, "S", ";K", "V"},
                                                     {"set", file, "S", "K", "\"V\""},
                                                     {"set", file, "S", "K", "'V'"},
                                                     {"delete-section", file, "Other\n"}};
  for (const auto& args : bad) EXPECT_EQ(RunTool(args), 2) << (args.empty() ? "" : args[0]);
  EXPECT_EQ(FileContents(file), after);
  // Inner quotes, blanks and brackets read back as they stand.
  EXPECT_EQ(RunTool({"set", file, "S]x", "K[;", "'a\" b=c"}), 0);
  EXPECT_EQ(FileContents(file), after + "[S]x]\nK[;='a\" b=c\n");
  // A write that cannot be made: 1.
  EXPECT_EQ(RunTool({"set", scratch.Path("no") + pt::Sep() + "tarn.dat", "S", "K", "V"}), 1);
  EXPECT_EQ(RunTool({"set", scratch.dir(), "S", "K", "V"}), 1);

  // Missing is not empty when asked; no file is made unless asked.
  const std::string made = scratch.Path("made.dat");
  EXPECT_EQ(RunTool({"set", "S", made, "S", "K", "V"}), 2);
  EXPECT_EQ(RunTool({"set", made, "S", "K", "V"}), 1);
  EXPECT_FALSE(Exists(made));
  EXPECT_EQ(RunTool({"set", "--create", made, "S", "Empty", ""}), 0);
  const std::vector<std::pair<std::vector<std::string>, int>> reads = {
      {{"get", "--strict", made, "S", "Empty"}, 0},
      {{"get", "--size", "1", "--strict", made, "S", "Empty"}, 0},
      {{"get", "--strict", made, "S", "Nope"}, 3},
      {{"get", "--strict", made, "Nope", "Empty"}, 3},
      {{"get", "--strict", scratch.Path("none.dat"), "S", "Empty"}, 3},
      {{"get", made, "S", "Nope"}, 0},
      {{"get", scratch.Path("none.dat"), "S", "K"}, 0}};
  for (const auto& [args, code] : reads) EXPECT_EQ(RunTool(args), code) << args[4];
  EXPECT_FALSE(Exists(scratch.Path("none.dat")));
}

// A clean file with two profiles in use; each case changes one key and
// expects the lines the check prints for it.
constexpr char kCleanFile[] =
    "[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System\nEventCat2=User Alarms\n"
    "[EventCat2 List]\nNumber of Cat2 Events=2\nChanged=True\nCat2:1=Alpha\nCat2:2=Beta\n"
    "Cat2:3=Unused\nCat2:4=!unused!\nCat2:5=UNUSED\nCat2:6=Unused\nCat2:7=Unused\n"
    "Cat2:8=Unused\nCat2:9=Unused\nCat2:10=Unused\nCat2:11=Unused\nCat2:12=Unused\n"
    "[Scheduler Profile 1]\nName=Alpha\nFrequency=one time\nYear=2030\nMonth=April\n"
    "DayOfMonth=10\nHour=9\nMinute=30\nState=Add\n"
    "[Scheduler Profile 2]\nName=Beta\nFrequency=Weekly\nDayOfWeek=tuesday\nHour=8\n"
    "Minute=0\nMonth=Nonsense\nDayOfMonth=99\nState=Active\n"
    "[Scheduler Profiles]\nNumber of Profiles=2\n";

TEST(TarnprofileTest, CheckReportsWhatTheServicePassesOver) {
  ScratchDir scratch("tarnprofile-check");
  const std::string file = scratch.Path("tarn.dat");
  WriteBytes(file, kCleanFile);
  EXPECT_TRUE(tools::CheckProfileFile(file).empty());
  EXPECT_EQ(RunTool({"check", file}), 0);
  const std::string p1 = "Scheduler Profile 1", p2 = "Scheduler Profile 2", list = "EventCat2 List";
  const std::string late = ": rolls over, first due ";
  const std::string recount = " while 2 list entries are in use (schedexe-profile recounts it)";
  const std::string above = " is above 12: the service never reads it";
  // Slot 1's Add is the one edit pending in the clean file.
  const std::string unpending = "[" + list +
                                "] Changed: \"True\" with no edit pending: every reload runs a "
                                "full pass (schedexe-profile settle resets it)";
  struct Case {
    std::string section, setting;  // key=value
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {p1,
       "Frequency=Fortnightly",
       {"[" + p1 + "] Frequency: \"Fortnightly\" names no frequency: the slot yields no event",
        unpending}},
      {p2, "Frequency=", {"[" + p2 + "] Frequency: missing: the slot yields no event"}},
      {p1,
       "State=Removed",
       {"[" + p1 + "] State: \"Removed\" names no state: the passes leave it alone", unpending}},
      {p2, "DayOfWeek=Tues", {"[" + p2 + "] DayOfWeek: \"Tues\" names no weekday: read as Sunday"}},
      {p1, "Month=Sept", {"[" + p1 + "] Month: \"Sept\" names no month: read as January"}},
      {p1,
       "Minute=75",
       {"[" + p1 + "] Minute: 75 is out of range 0 to 59" + late + "2030-04-10 10:15"}},
      {p1,
       "Hour=24",
       {"[" + p1 + "] Hour: 24 is out of range 0 to 23" + late + "2030-04-11 00:30"}},
      {p2,
       "Hour=-1",
       {"[" + p2 + "] Hour: -1 is out of range 0 to 23: taken as the current hour when the " +
        "service sets the event up; set up now, first due "}},
      {p1,
       "DayOfMonth=31",
       {"[" + p1 + "] DayOfMonth: 31 is out of range 1 to 30" + late + "2030-05-01 09:30"}},
      {p1,
       "DayOfMonth=0",
       {"[" + p1 + "] DayOfMonth: 0 is out of range 1 to 30" + late + "2030-03-31 09:30"}},
      {p1,
       "Year=1960",
       {"[" + p1 +
        "] Year: 1960 is out of range 1970 to 2038: the due time cannot be represented: "
        "the event counts as passed and never runs"}},
      {list,
       "Number of Cat2 Events=1",
       {"[" + list + "] Number of Cat2 Events: 1" + recount,
        "[" + list +
            "] Number of Cat2 Events: 1 leaves out slot 2, in use: the passes never "
            "handle its profile"}},
      {list,
       "Number of Cat2 Events=13",
       {"[" + list + "] Number of Cat2 Events: 13 is above 12, the slots there are"}},
      {"Scheduler Profiles",
       "Number of Profiles=3",
       {"[Scheduler Profiles] Number of Profiles: 3" + recount}},
      {list, "Cat2:13=x", {"[" + list + "] Cat2:13: slot 13" + above}},
      {"Scheduler Profile 14", "Name=x", {"[Scheduler Profile 14] : slot 14" + above}},
      {p2,
       "State=delete",
       {"[" + p2 +
        "] State: \"Delete\" while Cat2:2 is still in use: the next pass that handles changes "
        "releases the slot again and lowers the counts (schedexe-profile settle finishes the "
        "deletion)"}},
      {list,
       "Cat2:2=",
       {"[" + list +
            "] Cat2:2: missing or empty while Scheduler Profile 2 yields an event: the slot "
            "counts as in use, and no user event has the name its firing looks for",
        "[" + p2 +
            "] Name: \"Beta\" is not in the Cat2 list \"EventCat2 List\": firing and "
            "deletion do not find its user event"}},
      {p1,
       "Year=2020",
       {"[" + p1 +
        "] Frequency: a One Time event in the past: the service drops it unrun and marks it "
        "\"Delete\""}},
      {p1, "State=Active", {unpending}},
      {p2,
       "Name=Gamma",
       {"[" + p2 +
        "] Name: \"Gamma\" is not in the Cat2 list \"EventCat2 List\": firing and "
        "deletion do not find its user event"}},
      {p2, "Name=ALPHA", {"[" + p2 + "] Name: \"ALPHA\" repeats Scheduler Profile 1"}},
      {list,
       "Cat2:2=alpha",
       {"[" + list + "] Cat2:2: \"alpha\" repeats Cat2:1: a lookup by name finds slot 1 only",
        "[" + p2 +
            "] Name: \"Beta\" is not in the Cat2 list \"EventCat2 List\": firing and "
            "deletion do not find its user event"}},
      {list,
       "Changed=False",
       {"[" + list +
        "] Changed: not \"True\" while Scheduler Profile 1 says Add: a reload leaves "
        "it alone"}},
  };
  for (const Case& c : cases) {
    WriteBytes(file, kCleanFile);
    const size_t eq = c.setting.find('=');
    const std::string key = c.setting.substr(0, eq), value = c.setting.substr(eq + 1);
    ASSERT_NE(TARNG_WriteProfileString(c.section.c_str(), key.c_str(), value.c_str(), file.c_str()),
              0);
    std::vector<std::string> lines;
    for (const auto& problem : tools::CheckProfileFile(file)) {
      lines.push_back(tools::FormatProblem(problem));
    }
    // The current hour's roll-over depends on today: its head must match.
    if (value == "-1" && lines.size() == 1) lines[0].resize(c.lines[0].size());
    EXPECT_EQ(lines, c.lines) << c.section << " " << c.setting;
  }
  // Without the category every slot counts as in use, read from " List".
  WriteBytes(file, "[TARN Event Categories]\nNumber of Categories=1\nEventCat1=System\n");
  const auto problems = tools::CheckProfileFile(file);
  ASSERT_EQ(problems.size(), 1u + 12 * 2 + 2);  // no frequency, no state; both counts
  EXPECT_EQ(tools::FormatProblem(problems[0]),
            "[TARN Event Categories] EventCat: no category is named \"User Alarms\": the list is "
            "read from the section \" List\"");
  WriteBytes(file, kCleanFile);
  ASSERT_NE(TARNG_WriteProfileString(list.c_str(), "Changed", "False", file.c_str()), 0);
  // The program prints the same lines and tells problems (1) from a file it
  // cannot read (2).
  const std::string out = scratch.Path("out.txt");
  EXPECT_EQ(RunProgram("tarnprofile", {"check", file}, out), 1);
  std::string printed = FileContents(out);
  // Windows prints its line ends as CRLF.
  printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
  EXPECT_EQ(printed, cases.back().lines[0] + "\n");
  EXPECT_EQ(RunTool({"check", scratch.Path("none.dat")}), 2);
  EXPECT_EQ(RunTool({"check"}), 2);
}

// Every tool: --help exits 0, a usage error 2.
TEST(ToolsTest, HelpAndUsageErrors) {
  for (const char* tool :
       {"tarnprofile", "tarnsched-signal", "dmitables", "schedexe-control", "schedexe-profile"}) {
    EXPECT_EQ(RunProgram(tool, {"--help"}), 0) << tool;
    EXPECT_EQ(RunProgram(tool, {"--no-such-option"}), 2) << tool;
  }
}

}  // namespace
}  // namespace kvbase_test
