// A profile write changes only the key it names: every other key of the
// file reads the same before and after, and the key written reads back its
// value.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "kvbase/profile.h"
#include "kvbase/profile_text.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace {

using Names = std::vector<std::pair<std::string, std::string>>;

// Every section and key name the file holds, as written.
void AddNames(const std::string& raw, Names* names) {
  const kvbase::ProfileText text = kvbase::ProfileText::Parse(raw);
  for (const kvbase::ProfileSection& s : text.sections()) {
    if (s.header_line == kvbase::ProfileSection::kNoHeader || s.name.empty()) continue;
    for (const kvbase::ProfileKey& k : s.keys) {
      if (!k.name.empty()) names->emplace_back(s.name, k.name);
    }
  }
}

std::string Read(const std::string& section, const std::string& key, const std::string& file,
                 size_t size) {
  std::string buffer(size, '\0');
  TARNG_GetProfileString(section.c_str(), key.c_str(), "", buffer.data(), static_cast<int>(size),
                         file.c_str());
  return buffer.c_str();
}

// A name of the file (`pick` below the count of names) or `fresh`, cleaned
// of what cannot stand in a name. A key line that starts with '[' turns into
// a section header once its value holds a ']', as it does on Windows.
std::string PickName(size_t pick, const std::string& fresh, const std::vector<std::string>& known) {
  if (pick < known.size() && known[pick][0] != '[') return known[pick];
  std::string name;
  for (char c : fresh) {
    if (c != '\0' && c != '\r' && c != '\n' && c != '[' && c != ']' && c != '=') name += c;
  }
  name = std::string(kvbase::TrimProfileSpace(name));
  return name.empty() ? "s" : name;
}

// The one spelling of a name that reads and writes go by.
std::string Folded(const std::string& name) {
  return kvbase::FoldProfileName(kvbase::TrimProfileSpace(name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const testsupport::ScratchDir dir("fuzzprofile");
  static const std::string file = dir.Path("tarn.dat");
  FuzzedDataProvider in(data, size);
  const size_t section_pick = in.ConsumeIntegral<uint8_t>();
  const size_t key_pick = in.ConsumeIntegral<uint8_t>();
  const std::string fresh_section = in.ConsumeRandomLengthString(16);
  const std::string fresh_key = in.ConsumeRandomLengthString(16);
  std::string value;
  for (char c : in.ConsumeRandomLengthString(64)) {
    if (c != '\0' && c != '\r' && c != '\n') value += c;
  }
  const std::string before = in.ConsumeRemainingBytesAsString();
  testsupport::WriteBytes(file, before);

  Names names;
  AddNames(before, &names);
  std::vector<std::string> sections, keys;
  for (const auto& name : names) sections.push_back(name.first);
  const std::string section = PickName(section_pick, fresh_section, sections);
  for (const auto& [s, k] : names) {
    if (Folded(s) == Folded(section)) keys.push_back(k);
  }
  const std::string key = PickName(key_pick, fresh_key, keys);

  const size_t room = before.size() + value.size() + 2;
  std::map<std::pair<std::string, std::string>, std::string> seen;
  for (const auto& [s, k] : names) seen[{s, k}] = Read(s, k, file, room);
  FUZZ_CHECK(TARNG_WriteProfileString(section.c_str(), key.c_str(), value.c_str(), file.c_str()));
  const std::string after = platform::testing::FileContents(file);
  AddNames(after, &names);
  for (const auto& [s, k] : names) {
    if (Folded(s) == Folded(section) && Folded(k) == Folded(key)) continue;
    const auto was = seen.find({s, k});
    FUZZ_CHECK(Read(s, k, file, room) == (was == seen.end() ? "" : was->second));
  }
  // A value in a pair of quotes reads without them, and blanks around it go.
  const std::string_view trimmed = kvbase::TrimProfileSpace(value);
  const bool quoted = trimmed.size() > 1 && (trimmed[0] == '"' || trimmed[0] == '\'') &&
                      trimmed.back() == trimmed[0];
  if (!quoted) FUZZ_CHECK(Read(section, key, file, room) == trimmed);
  return 0;
}
