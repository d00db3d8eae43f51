// The registry file reads back what it writes: a parsed file, with one more
// string set from the input, formats to text that parses to the same keys
// and values and formats to the same text again.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz_check.h"
#include "platform/posix/registry_file.h"

namespace {

// A key's values as one text, to compare; "-" for no key.
std::string Values(const platform::posix::RegistryKey* key) {
  std::string out = key ? "" : "-";
  for (const auto& [name, value] : key ? key->values : decltype(key->values){}) {
    out += name + '\0' + (value.is_string ? "s" + value.text : "o") + '\0';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string path = "HKEY_LOCAL_MACHINE\\" + in.ConsumeRandomLengthString(32);
  const std::string name = in.ConsumeRandomLengthString(16);
  // Values are handed out as C strings: a NUL ends one.
  const std::string text = in.ConsumeRandomLengthString(32).c_str();
  platform::posix::RegistryFile file, back;
  if (!file.Parse(in.ConsumeRemainingBytesAsString())) file = {};
  const bool set = file.SetString(path, name, text);
  const std::string written = file.Format();
  FUZZ_CHECK(back.Parse(written) && back.Format() == written);
  // Every section of the text names a key that reads the same both ways.
  for (size_t at = 0, end; at < written.size(); at = end + 1) {
    end = written.find('\n', at);
    const std::string line = written.substr(at, end - at);
    if (line.size() > 2 && line[0] == '[' && line.back() == ']') {
      const std::string key = line.substr(1, line.size() - 2);
      FUZZ_CHECK(file.FindKey(key) && Values(file.FindKey(key)) == Values(back.FindKey(key)));
    }
  }
  const platform::posix::RegistryKey* key = back.FindKey(path);
  FUZZ_CHECK(!set || (key && key->Find(name) && key->Find(name)->text == text));
  return 0;
}
