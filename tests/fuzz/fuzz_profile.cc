// A profile write changes only the key it names: every other key reads the
// same before and after, and the key written reads back its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "kvbase/profile.h"
#include "kvbase/profile_text.h"
#include "support/scratch_dir.h"

namespace {

using kvbase::TrimProfileSpace;
using Key = std::pair<std::string, std::string>;

// Every (section, key) the file names; a section name first in each pair.
std::vector<Key> Names(const std::string& raw) {
  std::vector<Key> names;
  const kvbase::ProfileText text = kvbase::ProfileText::Parse(raw);
  for (const kvbase::ProfileSection& s : text.sections()) {
    for (const kvbase::ProfileKey& k : s.keys) {
      if (s.header_line != s.kNoHeader && !s.name.empty()) names.emplace_back(s.name, k.name);
    }
  }
  return names;
}

std::string Read(const Key& key, const std::string& file, size_t size) {
  std::string buffer(size, '\0');
  TARNG_GetProfileString(key.first.c_str(), key.second.c_str(), "", buffer.data(),
                         static_cast<int>(size), file.c_str());
  return buffer.c_str();
}

// Without line breaks and NULs, and for a name also without brackets and
// '=', trimmed.
std::string Clean(const std::string& text, bool name) {
  std::string out;
  for (char c : text) {
    if (c != '\0' && !std::strchr(name ? "\r\n[]=" : "\r\n", c)) out += c;
  }
  return name ? std::string(TrimProfileSpace(out)) : out;
}

bool SameName(const std::string& a, const std::string& b) {
  return kvbase::FoldProfileName(TrimProfileSpace(a)) ==
         kvbase::FoldProfileName(TrimProfileSpace(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const testsupport::ScratchDir dir("fuzzprofile");
  static const std::string file = dir.Path("tarn.dat");
  FuzzedDataProvider in(data, size);
  const size_t pick = in.ConsumeIntegral<uint8_t>();
  Key key = {Clean(in.ConsumeRandomLengthString(16), true),
             Clean(in.ConsumeRandomLengthString(16), true)};
  const std::string value = Clean(in.ConsumeRandomLengthString(64), false);
  const std::string before = in.ConsumeRemainingBytesAsString();
  testsupport::WriteBytes(file, before);
  std::vector<Key> names = Names(before);
  // A key of the file, a new key in a section of the file, or a new section.
  if (pick % 128 < names.size()) key.first = names[pick % 128].first;
  if (pick < names.size()) key.second = names[pick].second;
  // A key line that starts with '[' reads as a section header once its value
  // holds a ']', on Windows too.
  if (key.first.empty() || key.second.empty() || key.second[0] == '[') return 0;
  const size_t room = before.size() + value.size() + 2;
  std::map<Key, std::string> seen;
  for (const Key& k : names) seen.emplace(k, Read(k, file, room));
  FUZZ_CHECK(
      TARNG_WriteProfileString(key.first.c_str(), key.second.c_str(), value.c_str(), file.c_str()));
  for (const Key& k : Names(platform::testing::FileContents(file))) names.push_back(k);
  for (const Key& k : names) {
    if (SameName(k.first, key.first) && SameName(k.second, key.second)) continue;
    FUZZ_CHECK(Read(k, file, room) == (seen.count(k) ? seen[k] : ""));
  }
  // A value in a pair of quotes reads without them; blanks around it go.
  const std::string_view trimmed = TrimProfileSpace(value);
  if (trimmed.size() < 2 || trimmed.find_first_of("\"'") != 0 || trimmed.back() != trimmed[0]) {
    FUZZ_CHECK(Read(key, file, room) == trimmed);
  }
  return 0;
}
