#include "dmi/class_path.h"

#include <gtest/gtest.h>

namespace dmi {
namespace {

TEST(ClassPathTest, SplitsAtTheThirdBar) {
  const struct {
    const char* path;
    bool has_component;
    const char* component;
    const char* group;
  } cases[] = {
      {"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Scheduler Profile Table|", true,
       "CORVANEX|Events, Alarms & Responses Creation|", "CORVANEX|Scheduler Profile Table|"},
      {"CORVANEX|Remote Execution Triggers|", false, "", "CORVANEX|Remote Execution Triggers|"},
      {"a|b|c", false, "", "a|b|c"},
      {"", false, "", ""},
      {"a|b||", true, "a|b|", ""},
      {"|||x|y", true, "||", "x|y"},
  };
  for (const auto& c : cases) {
    const ClassPath split = SplitClassPath(c.path);
    EXPECT_EQ(split.has_component_class, c.has_component) << c.path;
    EXPECT_EQ(split.component_class, c.component) << c.path;
    EXPECT_EQ(split.group_class, c.group) << c.path;
  }
}

TEST(ClassPathTest, MatchesByPrefixAndALeadingBarStandsForAnyVendor) {
  const struct {
    const char* search;
    const char* class_string;
    bool matches;
  } cases[] = {
      {"CORVANEX|Scheduler", "CORVANEX|Scheduler Profile Table|001", true},
      {"CORVANEX|Scheduler Profile Table|", "corvanex|Scheduler Profile Table|", false},
      {"CORVANEX|Scheduler Profile Table|", "CORVANEX|Scheduler", false},
      {"|Scheduler Profile Table|", "CORVANEX|Scheduler Profile Table|001", true},
      {"|Scheduler Profile Table|", "Scheduler Profile Table|", false},
      {"|Sched", "Sched", false},
      {"|B|", "A|X|B|", false},  // only from the first bar
      {"|DMTF|", "|DMTF|x", true},
      {"X|Sched", "Y|Sched", false},
      {"", "anything", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassMatches(c.search, c.class_string), c.matches)
        << c.search << " / " << c.class_string;
  }
}

}  // namespace
}  // namespace dmi
