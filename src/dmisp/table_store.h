// The provider's tables: the components with their groups, attributes and
// rows, kept in one store file that every process using the provider shares.
// The file is in the profile data-file format, written through kvbase: each
// change is one locked read-modify-write replaced atomically, so a reader
// sees the old or the new tables and a writer killed at any instant leaves
// one of the two.
#ifndef SCHEDEXE_DMISP_TABLE_STORE_H_
#define SCHEDEXE_DMISP_TABLE_STORE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dmisp {

// A value as it travels in a command (dmi::DmiType): 4 or 8 bytes for the
// numbers, the octets of an octet string, the bytes of a display string in
// the component's own encoding (UTF-16LE for a unicode component), the text
// of a date without its NUL.
using Value = std::string;

struct Attribute {
  uint32_t id = 0;
  std::string name;
  uint32_t type = 0;                           // dmi::DmiType
  uint32_t size = 0;                           // the longest value in bytes, for every set
  Value initial;                               // what a new row holds
  std::map<int32_t, std::string> enumeration;  // texts of enumerated values (520)

  bool operator==(const Attribute&) const = default;
};

// A row's values by attribute id, in ascending order: one block per row, not
// a node per value, as a store holds thousands of them and every process
// that reads the store builds and copies them all. Inserting may move the
// values already there.
class RowValues {
 public:
  using value_type = std::pair<uint32_t, Value>;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;

  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  const_iterator begin() const { return items_.begin(); }
  const_iterator end() const { return items_.end(); }
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  void reserve(size_t count) { items_.reserve(count); }

  iterator find(uint32_t id);
  const_iterator find(uint32_t id) const;
  // The value of `id`, made empty first when the row has none.
  Value& operator[](uint32_t id);
  // The value of `id`; throws std::out_of_range when the row has none.
  const Value& at(uint32_t id) const;
  // Adds `value` as the value of `id` unless the row has one.
  std::pair<iterator, bool> emplace(uint32_t id, Value value);

  bool operator==(const RowValues&) const = default;

 private:
  std::vector<value_type> items_;
};

// One row: a value for every attribute of its group, by attribute id.
struct Row {
  RowValues values;

  bool operator==(const Row&) const = default;
};

struct Group {
  uint32_t id = 0;
  std::string name;
  std::string classString;            // "CORVANEX|Scheduler Profile Table|001"
  std::vector<uint32_t> keyIds;       // empty: the group has exactly one row
  std::vector<Attribute> attributes;  // ascending id
  std::vector<Row> rows;              // in key order

  bool operator==(const Group&) const = default;
};

struct Component {
  uint32_t id = 0;  // 1 to 4095
  std::string name;
  std::string language;       // its first language string, "en|US|iso8859-1"
  std::vector<Group> groups;  // ascending id

  bool operator==(const Component&) const = default;
};

struct Tables {
  // Counts additions and deletions of components (and changes of a
  // component's groups or languages): other processes turn a new generation
  // into indications.
  uint32_t generation = 0;
  std::vector<Component> components;  // ascending id

  bool operator==(const Tables&) const = default;
};

// The store of this installation: DMI_STORE when set, else dmi-store.dat in
// the agent client directory (TTX Path + \KVClient\). "" when neither is
// known.
std::string StorePath();

// The tables as the store holds them now; a missing store is empty tables.
// False with the reason when the file cannot be read.
bool ReadStore(const std::string& path, Tables* tables, std::string* error);

// ReadStore without the copy: the tables as parsed once for this version of
// the file, shared with every other reader of it. Null with the reason when
// the file cannot be read. Repeated reads of an unchanged store parse
// nothing.
std::shared_ptr<const Tables> ReadStoreShared(const std::string& path, std::string* error);

// Reads the store under the writers' lock, applies `change`, and when it
// returns 0 (dmi::kDmiOk) rewrites the lines of the file that the change
// makes say something else; every other line (a person's comments and keys)
// and the file's line ends stay. A missing or empty store is written whole.
// `may_write`, when given, is called under the lock once `change` returned 0,
// just before the file is replaced: the provider's cancel checks here that
// the command was not taken back, and when it returns false nothing is
// written and the result is dmi::kDmiCancelled. Returns the change's status,
// or dmi::kDmiStoreFailed (reason in *error) when the store cannot be read or
// written.
uint32_t UpdateStore(const std::string& path, const std::function<uint32_t(Tables&)>& change,
                     std::string* error, const std::function<bool()>& may_write = nullptr);

// Parses a component description file's text into *component (id 0: the
// store gives it one). False, with "line N: what is wrong" in *error and
// *component untouched, when any line does not parse.
bool ParseDescription(std::string_view text, Component* component, std::string* error);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_TABLE_STORE_H_
