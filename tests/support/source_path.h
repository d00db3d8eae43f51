// Files of the source tree that tests read (description files, samples).
#ifndef SCHEDEXE_TESTS_SUPPORT_SOURCE_PATH_H_
#define SCHEDEXE_TESTS_SUPPORT_SOURCE_PATH_H_

#include <string>

#include "platform/testing.h"

namespace testsupport {

// `relative` (to the top of the source tree) as a path this build's
// programs can open: under Wine the Linux path through drive Z:.
inline std::string SourcePath(const std::string& relative) {
  std::string path = __FILE__;
  path.erase(path.rfind("tests"));
  path += relative;
  if (platform::testing::ExeSuffix() == ".exe" && path[0] == '/') path = "Z:" + path;
  return path;
}

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_SOURCE_PATH_H_
