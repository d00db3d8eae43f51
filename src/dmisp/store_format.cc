#include "dmisp/store_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <map>
#include <utility>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/store_values.h"
#include "kvbase/profile_text.h"

namespace dmisp {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Hex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out.push_back(kHexDigits[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kHexDigits[static_cast<unsigned char>(c) & 15]);
  }
  return out;
}

bool Unhex(std::string_view text, std::string* bytes) {
  if (text.size() % 2) return false;
  std::string out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi << 4 | lo));
  }
  *bytes = std::move(out);
  return true;
}

// The whole text is one decimal number of type T.
template <typename T>
bool ParseNumber(std::string_view text, T* number) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *number);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

template <typename T>
Value Bytes(T number) {
  Value v(sizeof number, '\0');
  std::memcpy(v.data(), &number, sizeof number);
  return v;
}

template <typename T>
T FromBytes(const Value& value) {
  T number;
  std::memcpy(&number, value.data(), sizeof number);
  return number;
}

template <typename T>
bool ParseNumberValue(std::string_view text, Value* value) {
  T number{};
  if (!ParseNumber(text, &number)) return false;
  *value = Bytes(number);
  return true;
}

// Calls `take` with each word of `text` (words are separated by blanks)
// until it returns false.
template <typename Take>
void ForEachWord(std::string_view text, const Take& take) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start && !take(text.substr(start, i - start))) return;
  }
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  ForEachWord(text, [&](std::string_view word) {
    words.push_back(word);
    return true;
  });
  return words;
}

// The first words of `text` into `words`, and how many there were: N at
// most, so N words and more read alike.
template <size_t N>
size_t SplitWords(std::string_view text, std::string_view (&words)[N]) {
  size_t count = 0;
  ForEachWord(text, [&](std::string_view word) {
    words[count++] = word;
    return count < N;
  });
  return count;
}

struct GroupParts {
  bool seen = false;
  Group group;
  std::map<uint32_t, Attribute> attributes;
  // row number -> (attribute, text in the parsed file), in the file's order
  std::map<uint32_t, std::vector<std::pair<uint32_t, std::string_view>>> rows;
};

struct ComponentParts {
  bool seen = false;
  Component component;
  std::map<uint32_t, GroupParts> groups;
};

}  // namespace

std::string EncodeStoreText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const bool edge_blank = c == ' ' && (i == 0 || i + 1 == bytes.size());
    if (c < 0x20 || c > 0x7E || c == '%' || c == '"' || c == '\'' || edge_blank) {
      out.push_back('%');
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

bool DecodeStoreText(std::string_view text, std::string* bytes) {
  // Most texts have nothing escaped.
  const size_t first = text.find('%');
  if (first == std::string_view::npos) {
    bytes->assign(text);
    return true;
  }
  std::string out;
  out.reserve(text.size());
  out.append(text.substr(0, first));
  for (size_t i = first; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    const int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi << 4 | lo));
    i += 2;
  }
  *bytes = std::move(out);
  return true;
}

std::string FormatStoreValue(uint32_t type, const Value& value) {
  const size_t fixed = FixedValueSize(type);
  if (fixed && value.size() != fixed) return "x" + Hex(value);
  switch (type) {
    case dmi::kDmiCounter:
    case dmi::kDmiGauge:
      return std::to_string(FromBytes<uint32_t>(value));
    case dmi::kDmiInteger:
      return std::to_string(FromBytes<int32_t>(value));
    case dmi::kDmiCounter64:
      return std::to_string(FromBytes<uint64_t>(value));
    case dmi::kDmiInteger64:
      return std::to_string(FromBytes<int64_t>(value));
    case dmi::kDmiDisplayString:
    case dmi::kDmiDate:
      return EncodeStoreText(value);
    default:  // octet strings, and values of an unknown type
      return Hex(value);
  }
}

bool ParseStoreValue(uint32_t type, std::string_view text, Value* value) {
  if (FixedValueSize(type) && !text.empty() && text[0] == 'x') return Unhex(text.substr(1), value);
  switch (type) {
    case dmi::kDmiCounter:
    case dmi::kDmiGauge:
      return ParseNumberValue<uint32_t>(text, value);
    case dmi::kDmiInteger:
      return ParseNumberValue<int32_t>(text, value);
    case dmi::kDmiCounter64:
      return ParseNumberValue<uint64_t>(text, value);
    case dmi::kDmiInteger64:
      return ParseNumberValue<int64_t>(text, value);
    case dmi::kDmiDisplayString:
    case dmi::kDmiDate:
      return DecodeStoreText(text, value);
    default:
      return Unhex(text, value);
  }
}

namespace {

// One section of the file and its keys with their values, in the order the
// file has them.
struct StoreSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};

StoreSection GenerationSection(const Tables& tables) {
  return {"Store", {{"Generation", std::to_string(tables.generation)}}};
}

std::string ComponentName(const Component& c) { return "Component " + std::to_string(c.id); }

std::string GroupName(const Component& c, const Group& g) {
  return ComponentName(c) + " Group " + std::to_string(g.id);
}

StoreSection ComponentSection(const Component& c) {
  return {ComponentName(c),
          {{"Name", EncodeStoreText(c.name)}, {"Language", EncodeStoreText(c.language)}}};
}

StoreSection GroupSection(const Component& c, const Group& g) {
  std::string keys;
  for (const uint32_t k : g.keyIds) keys += (keys.empty() ? "" : " ") + std::to_string(k);
  return {GroupName(c, g),
          {{"Name", EncodeStoreText(g.name)},
           {"Class", EncodeStoreText(g.classString)},
           {"Keys", keys}}};
}

StoreSection AttributeSection(const Component& c, const Group& g, const Attribute& a) {
  StoreSection s{GroupName(c, g) + " Attribute " + std::to_string(a.id),
                 {{"Name", EncodeStoreText(a.name)},
                  {"Type", std::to_string(a.type)},
                  {"Size", std::to_string(a.size)},
                  {"Initial", FormatStoreValue(a.type, a.initial)}}};
  for (const auto& [number, text] : a.enumeration) {
    s.keys.emplace_back("Enum " + std::to_string(number), EncodeStoreText(text));
  }
  return s;
}

// Row r, numbered from 0; the file numbers rows from 1.
StoreSection RowSection(const Component& c, const Group& g, size_t r) {
  StoreSection s{GroupName(c, g) + " Row " + std::to_string(r + 1), {}};
  for (const auto& [id, value] : g.rows[r].values) {
    const Attribute* a = FindAttribute(g, id);
    s.keys.emplace_back("A" + std::to_string(id), FormatStoreValue(a ? a->type : 0, value));
  }
  return s;
}

void AppendGroupSections(const Component& c, const Group& g, std::vector<StoreSection>* sections) {
  sections->push_back(GroupSection(c, g));
  for (const Attribute& a : g.attributes) sections->push_back(AttributeSection(c, g, a));
  for (size_t r = 0; r < g.rows.size(); ++r) sections->push_back(RowSection(c, g, r));
}

void AppendComponentSections(const Component& c, std::vector<StoreSection>* sections) {
  sections->push_back(ComponentSection(c));
  for (const Group& g : c.groups) AppendGroupSections(c, g, sections);
}

// The changes between two stores, found part by part: only the parts that
// compare unequal are written out and compared key by key.
class StoreDiff {
 public:
  void Diff(const Tables& before, const Tables& after) {
    if (before.generation != after.generation) {
      Section(GenerationSection(before), GenerationSection(after));
    }
    Matched(
        before.components, after.components,
        [&](const Component& old, const Component& now) { Components(old, now); },
        [&](const Component& c, std::vector<StoreSection>* out) {
          AppendComponentSections(c, out);
        });
  }

  std::vector<kvbase::ProfileChange> Changes() {
    std::vector<kvbase::ProfileChange> changes = std::move(removals_);
    for (auto* part : {&sets_, &additions_}) {
      changes.insert(changes.end(), std::make_move_iterator(part->begin()),
                     std::make_move_iterator(part->end()));
    }
    return changes;
  }

 private:
  // Parts of two lists matched by id: the unequal pairs go to `compare`,
  // the rest are removed or added whole.
  template <typename Part, typename Compare, typename Write>
  void Matched(const std::vector<Part>& before, const std::vector<Part>& after,
               const Compare& compare, const Write& write) {
    std::map<uint32_t, const Part*> old_parts;
    for (const Part& p : before) old_parts[p.id] = &p;
    std::vector<StoreSection> sections;
    for (const Part& p : after) {
      const auto it = old_parts.find(p.id);
      if (it == old_parts.end()) {
        write(p, &sections);
        continue;
      }
      if (!(*it->second == p)) compare(*it->second, p);
      old_parts.erase(it);
    }
    for (StoreSection& s : sections) {
      additions_.push_back(kvbase::ProfileChange::AddSection(std::move(s.name), std::move(s.keys)));
    }
    sections.clear();
    for (const auto& [id, p] : old_parts) write(*p, &sections);
    for (StoreSection& s : sections) {
      removals_.push_back(kvbase::ProfileChange::DeleteSection(std::move(s.name)));
    }
  }

  void Components(const Component& old, const Component& now) {
    Section(ComponentSection(old), ComponentSection(now));
    Matched(
        old.groups, now.groups, [&](const Group& o, const Group& n) { Groups(now, o, n); },
        [&](const Group& g, std::vector<StoreSection>* out) { AppendGroupSections(now, g, out); });
  }

  void Groups(const Component& c, const Group& old, const Group& now) {
    Section(GroupSection(c, old), GroupSection(c, now));
    Matched(
        old.attributes, now.attributes,
        [&](const Attribute& o, const Attribute& n) {
          Section(AttributeSection(c, old, o), AttributeSection(c, now, n));
        },
        [&](const Attribute& a, std::vector<StoreSection>* out) {
          out->push_back(AttributeSection(c, now, a));
        });
    // A row's text depends on the types of the attributes as well.
    const bool same_attributes = old.attributes == now.attributes;
    const size_t common = std::min(old.rows.size(), now.rows.size());
    for (size_t r = 0; r < common; ++r) {
      if (!same_attributes || !(old.rows[r] == now.rows[r])) {
        Section(RowSection(c, old, r), RowSection(c, now, r));
      }
    }
    for (size_t r = common; r < now.rows.size(); ++r) {
      StoreSection s = RowSection(c, now, r);
      additions_.push_back(kvbase::ProfileChange::AddSection(std::move(s.name), std::move(s.keys)));
    }
    for (size_t r = common; r < old.rows.size(); ++r) {
      removals_.push_back(kvbase::ProfileChange::DeleteSection(RowSection(c, old, r).name));
    }
  }

  // One section in both: its keys that are gone, changed or new.
  void Section(const StoreSection& old, const StoreSection& now) {
    std::map<std::string_view, std::string_view> old_keys;
    for (const auto& [key, value] : old.keys) old_keys[key] = value;
    for (const auto& [key, value] : now.keys) {
      const auto it = old_keys.find(key);
      if (it == old_keys.end() || it->second != value) {
        sets_.push_back(kvbase::ProfileChange::SetKey(now.name, key, value));
      }
      if (it != old_keys.end()) old_keys.erase(it);
    }
    for (const auto& [key, value] : old_keys) {
      removals_.push_back(kvbase::ProfileChange::DeleteKey(now.name, std::string(key)));
    }
  }

  std::vector<kvbase::ProfileChange> removals_;
  std::vector<kvbase::ProfileChange> sets_;
  std::vector<kvbase::ProfileChange> additions_;
};

// The sections of a store that holds `tables`: [Store], then every component
// with its groups, each followed by its attributes and rows.
std::vector<StoreSection> StoreSections(const Tables& tables) {
  std::vector<StoreSection> sections;
  sections.push_back(GenerationSection(tables));
  for (const Component& c : tables.components) AppendComponentSections(c, &sections);
  return sections;
}

}  // namespace

std::string FormatStore(const Tables& tables, std::string_view line_end) {
  std::string out;
  const auto line = [&](std::string_view text) { out.append(text).append(line_end); };
  line("; The DMI tables of this agent installation, kept by the DMI provider.");
  line("; Texts are percent-encoded (%XX), numbers decimal, octet strings hexadecimal.");
  bool first = true;
  for (const StoreSection& s : StoreSections(tables)) {
    if (!first) out.append(line_end);
    first = false;
    line("[" + s.name + "]");
    for (const auto& [key, value] : s.keys) {
      out.append(key).append("=").append(value).append(line_end);
    }
  }
  return out;
}

std::vector<kvbase::ProfileChange> StoreChanges(const Tables& before, const Tables& after) {
  StoreDiff diff;
  diff.Diff(before, after);
  return diff.Changes();
}

bool ParseStore(std::string_view raw, Tables* tables, std::string* error) {
  return ParseStoreText(kvbase::ProfileText::Parse(raw), tables, error);
}

bool ParseStoreText(const kvbase::ProfileText& text, Tables* tables, std::string* error) {
  Tables result;
  std::map<uint32_t, ComponentParts> components;
  // Where a failure is: the section being read, else `where`. Said only
  // on failure: a store has hundreds of sections.
  const kvbase::ProfileSection* section = nullptr;
  std::string where;
  const auto fail = [&](const std::string& what) {
    if (section) {
      where = "line " + std::to_string(section->header_line + 1) + " [" +
              std::string(section->name) + "]";
    }
    *error = where + ": " + what;
    return false;
  };
  const auto decode = [&](const kvbase::ProfileKey& key, std::string* out) {
    return DecodeStoreText(key.value, out) || fail("bad escape in " + std::string(key.name));
  };
  const auto number = [&](const kvbase::ProfileKey& key, uint32_t* out) {
    return ParseNumber(key.value, out) || fail("bad number in " + std::string(key.name));
  };
  for (const kvbase::ProfileSection& s : text.sections()) {
    if (s.header_line == kvbase::ProfileSection::kNoHeader) continue;
    // Read as the profile functions read it, and as changes are written
    // into it: a repeated section or key counts in its first place only.
    if (text.FindSection(s.folded) != &s) continue;
    section = &s;
    std::string_view w[7];
    const size_t word_count = SplitWords(s.folded, w);
    uint32_t ids[3] = {0, 0, 0};
    for (size_t i = 1; i < word_count && i < 6; i += 2) {
      if (!ParseNumber(w[i], &ids[i / 2]) || ids[i / 2] == 0) return fail("bad section name");
    }
    const bool is_component = word_count > 0 && w[0] == "component" && word_count % 2 == 0;
    if (word_count == 1 && w[0] == "store") {
      for (const kvbase::ProfileKey& k : s.keys) {
        if (kvbase::ProfileText::FindKey(s, k.folded) != &k) continue;
        if (k.has_value && k.folded == "generation" && !number(k, &result.generation)) return false;
      }
    } else if (is_component && word_count == 2) {
      ComponentParts& c = components[ids[0]];
      c.seen = true;
      for (const kvbase::ProfileKey& k : s.keys) {
        if (kvbase::ProfileText::FindKey(s, k.folded) != &k) continue;
        if (!k.has_value) continue;
        if (k.folded == "name" && !decode(k, &c.component.name)) return false;
        if (k.folded == "language" && !decode(k, &c.component.language)) return false;
      }
    } else if (is_component && word_count == 4 && w[2] == "group") {
      GroupParts& g = components[ids[0]].groups[ids[1]];
      g.seen = true;
      for (const kvbase::ProfileKey& k : s.keys) {
        if (kvbase::ProfileText::FindKey(s, k.folded) != &k) continue;
        if (!k.has_value) continue;
        if (k.folded == "name" && !decode(k, &g.group.name)) return false;
        if (k.folded == "class" && !decode(k, &g.group.classString)) return false;
        if (k.folded == "keys") {
          for (const std::string_view id : Words(k.value)) {
            uint32_t key_id = 0;
            if (!ParseNumber(id, &key_id)) return fail("bad key list");
            g.group.keyIds.push_back(key_id);
          }
        }
      }
    } else if (is_component && word_count == 6 && w[2] == "group" && w[4] == "attribute") {
      Attribute& a = components[ids[0]].groups[ids[1]].attributes[ids[2]];
      a.id = ids[2];
      std::string_view initial;
      for (const kvbase::ProfileKey& k : s.keys) {
        if (kvbase::ProfileText::FindKey(s, k.folded) != &k) continue;
        if (!k.has_value) continue;
        if (k.folded == "name" && !decode(k, &a.name)) return false;
        if (k.folded == "type" && !number(k, &a.type)) return false;
        if (k.folded == "size" && !number(k, &a.size)) return false;
        if (k.folded == "initial") initial = k.value;
        if (k.folded.rfind("enum ", 0) == 0) {
          int32_t value = 0;
          std::string enum_text;
          if (!ParseNumber(k.folded.substr(5), &value)) {
            return fail("bad enumeration value " + std::string(k.name));
          }
          if (!decode(k, &enum_text)) return false;
          a.enumeration[value] = std::move(enum_text);
        }
      }
      if (!ParseStoreValue(a.type, initial, &a.initial)) return fail("bad initial value");
    } else if (is_component && word_count == 6 && w[2] == "group" && w[4] == "row") {
      auto& row = components[ids[0]].groups[ids[1]].rows[ids[2]];
      if (!row.empty()) return fail("duplicate row");
      for (const kvbase::ProfileKey& k : s.keys) {
        if (kvbase::ProfileText::FindKey(s, k.folded) != &k) continue;
        uint32_t id = 0;
        if (!k.has_value || k.folded.size() < 2 || k.folded[0] != 'a') continue;
        if (!ParseNumber(k.folded.substr(1), &id)) return fail("bad " + std::string(k.name));
        row.emplace_back(id, k.value);
      }
    } else {
      return fail("unknown section");
    }
  }
  section = nullptr;
  for (auto& [cid, c] : components) {
    where = "component " + std::to_string(cid);
    if (!c.seen) return fail("no [Component " + std::to_string(cid) + "] section");
    c.component.id = cid;
    for (auto& [gid, g] : c.groups) {
      where = "component " + std::to_string(cid) + " group " + std::to_string(gid);
      if (!g.seen) return fail("no section of the group");
      g.group.id = gid;
      for (auto& [aid, a] : g.attributes) g.group.attributes.push_back(std::move(a));
      for (auto& [row_number, texts] : g.rows) {
        // Of two keys that name one attribute (A1, A01), the later counts.
        std::stable_sort(texts.begin(), texts.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        Row row;
        row.values.reserve(texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
          if (i + 1 < texts.size() && texts[i + 1].first == texts[i].first) continue;
          const auto& [aid, value_text] = texts[i];
          const Attribute* a = FindAttribute(g.group, aid);
          if (!ParseStoreValue(a ? a->type : 0, value_text, &row.values[aid])) {
            return fail("row " + std::to_string(row_number) + ": bad value of A" +
                        std::to_string(aid));
          }
        }
        g.group.rows.push_back(std::move(row));
      }
      c.component.groups.push_back(std::move(g.group));
    }
    result.components.push_back(std::move(c.component));
  }
  *tables = std::move(result);
  return true;
}

}  // namespace dmisp
