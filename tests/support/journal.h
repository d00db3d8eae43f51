// Reading the agent journal the stand-ins write.
#ifndef SCHEDEXE_TESTS_SUPPORT_JOURNAL_H_
#define SCHEDEXE_TESTS_SUPPORT_JOURNAL_H_

#include <string>
#include <vector>

namespace testsupport {

// The command lines of the journal, in order, without their time stamps.
std::vector<std::string> ReadJournalCommands(const std::string& native_path);

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_JOURNAL_H_
