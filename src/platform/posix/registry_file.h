// The Linux stand-in for HKEY_LOCAL_MACHINE: a registry file in the text
// format of regedit exports, so that the same file imports on Windows with
// `reg import`. The file is applied the way an import applies it to an empty
// registry: keys and values in file order, later lines winning.
#ifndef SCHEDEXE_PLATFORM_POSIX_REGISTRY_FILE_H_
#define SCHEDEXE_PLATFORM_POSIX_REGISTRY_FILE_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::posix {

// Where the registry file lives: SCHEDEXE_REGISTRY, else the system default.
std::string RegistryFilePath();

struct RegistryValue {
  bool is_string = false;  // REG_SZ, or REG_EXPAND_SZ given as hex(2)
  std::string text;        // the string (UTF-8) when is_string
  std::string raw;         // what stands right of '=', for writing it back
};

struct RegistryKey {
  // In file order; names compare without regard to case.
  std::vector<std::pair<std::string, RegistryValue>> values;

  const RegistryValue* Find(std::string_view name) const;
};

class RegistryFile {
 public:
  // Parses the file's bytes (UTF-8 with or without BOM, or UTF-16LE with
  // BOM; CRLF or LF). False when they are not a registry file: then nothing
  // in it counts, and *error (when given) names the first line that does
  // not parse ("line 3: <its text>").
  bool Parse(std::string_view bytes, std::string* error = nullptr);

  // `path` is the full key path, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\X".
  // nullptr when the key does not exist. A key exists when it or one of its
  // subkeys was written, as reg import creates every key on the way.
  const RegistryKey* FindKey(std::string_view path) const;

  // False, changing nothing, for a path with an empty component (two
  // backslashes in a row, or one at the start), which the registry refuses,
  // and for a path or name with a line break, which no line of the file can
  // hold.
  bool SetString(std::string_view path, std::string_view name, std::string_view text);
  // Removes the key and all its subkeys.
  void DeleteKey(std::string_view path);

  // The file's text: UTF-8, LF line ends, a section for every key that has
  // values or no subkeys (the keys on the way exist without one). A string
  // holding a line break is written as hex(1), which reads back the same.
  std::string Format() const;

  // Bytes held for the names of keys, for tests that bound what a file of
  // deep paths costs.
  size_t StoredBytes() const;

 private:
  // One key: its own name as first written, under its parent's index. Every
  // name is kept once, so a path costs its length however deep it goes.
  struct Node {
    size_t parent;
    std::string name;
    RegistryKey key;
  };
  static constexpr size_t kNoParent = static_cast<size_t>(-1);

  // The node of `path`, or kNoParent; with `create`, made with every key on
  // the way.
  size_t Walk(std::string_view path, bool create);
  size_t Find(std::string_view path) const;
  RegistryKey& CreateKey(std::string_view path);
  bool ApplyLine(std::string_view line, RegistryKey** current);

  // Parents come before their subkeys. A deleted key leaves the index, so it
  // and everything below it can no longer be reached.
  std::vector<Node> nodes_;
  // (parent, lowercased name) -> node.
  std::map<std::pair<size_t, std::string>, size_t> children_;
  // hex(2) data is UTF-16LE under the version 5 header, ANSI under REGEDIT4.
  bool unicode_ = true;
};

// Reads and parses the file at `path`. False when it is missing, unreadable
// or malformed, with a sentence for an operator in *error when given ("the
// registry file /etc/schedexe/registry.reg is missing").
bool LoadRegistryFile(const std::string& path, RegistryFile* out, std::string* error = nullptr);

}  // namespace platform::posix

#endif  // SCHEDEXE_PLATFORM_POSIX_REGISTRY_FILE_H_
