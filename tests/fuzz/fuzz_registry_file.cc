// The registry file reads back what it writes: a parsed file, with one more
// string set from the input, formats to text that parses to the same keys
// and values and formats to the same text again.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/posix/registry_file.h"

namespace {

using platform::posix::RegistryFile;
using platform::posix::RegistryKey;

bool SameKey(const RegistryKey* a, const RegistryKey* b) {
  if (!a || !b) return a == b;
  if (a->values.size() != b->values.size()) return false;
  for (size_t i = 0; i < a->values.size(); ++i) {
    const auto& [name, value] = a->values[i];
    const auto& [other_name, other] = b->values[i];
    if (name != other_name || value.is_string != other.is_string) return false;
    if (value.is_string && value.text != other.text) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string path = "HKEY_LOCAL_MACHINE\\" + in.ConsumeRandomLengthString(32);
  const std::string name = in.ConsumeRandomLengthString(16);
  // Values are handed out as C strings: a NUL ends one.
  const std::string text = in.ConsumeRandomLengthString(32).c_str();
  RegistryFile file;
  if (!file.Parse(in.ConsumeRemainingBytesAsString())) file = RegistryFile();
  const bool set = file.SetString(path, name, text);

  const std::string written = file.Format();
  RegistryFile back;
  FUZZ_CHECK(back.Parse(written));
  FUZZ_CHECK(back.Format() == written);
  // Every section of the text names a key that reads the same both ways.
  for (size_t at = 0; at < written.size();) {
    size_t end = written.find('\n', at);
    if (end == std::string::npos) end = written.size();
    const std::string_view line(written.data() + at, end - at);
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view key = line.substr(1, line.size() - 2);
      FUZZ_CHECK(file.FindKey(key) != nullptr);
      FUZZ_CHECK(SameKey(file.FindKey(key), back.FindKey(key)));
    }
    at = end + 1;
  }
  if (set) {
    const RegistryKey* key = back.FindKey(path);
    FUZZ_CHECK(key && key->Find(name) && key->Find(name)->text == text);
  }
  return 0;
}
