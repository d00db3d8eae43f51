// Component description files: what command 1026 installs. A small text
// format of this provider's own, one statement a line:
//
//   # a comment line (blank lines are ignored too)
//   component "Corvane Events, Alarms & Responses Creation"
//   language "en|US|iso8859-1"
//   group 2 name "Scheduler Profile Table" class "CORVANEX|Scheduler Profile Table|001" key 1
//   attribute 1 name "Profile Row" type 5 value 0
//   attribute 2 name "Profile Name" type 8 size 64 value "Unused"
//   enum 0 "Off"
//   row 1=1 2="Profile one"
//
// Words are separated by blanks or tabs. Numbers are decimal, with one
// optional sign ("+-5" is no number). Texts stand in double quotes; inside them \" \\ \t \r \n
// \0 and \xHH (any byte, two hexadecimal digits) are escapes, so that
// blanks at either end, quotes and any byte can be written.
//
// `component` and `language` come once each, the language before the first
// group. `group` takes its id (1 to 65535), its name, its class string and
// any number of `key` attribute ids (each an attribute of the group of type
// 5 or 8); a group without keys has exactly one row. `attribute` belongs to
// the group above it: id (1 to 65535), name, type (1, 2, 3, 5, 6, 7, 8 or
// 11), size (the longest value: bytes of an octet string, characters of a
// display string, 1 to 4091; fixed for the numbers and 25 for a date) and
// its initial value (0 or the empty text when missing). Types 7 and 8 must
// give their size: every value set later is held to it, and a text has no
// natural bound to fall back on, so neither a missing size nor size 0 (which
// once meant "any length") is taken. `enum` names a value of the attribute
// above it (types 1, 3 and 5). `row` adds a row to the group above it:
// attribute id, '=', value; the attributes it leaves out hold their initial
// values, and no two rows may hold the same keys. A group without keys and
// without a row gets one row of initial values. Ids may not repeat within
// their component or group. A file with any fault is refused whole, with
// "line N: what".
//
// For a component whose language contains "unicode", display-string values
// are kept as UTF-16LE, converted from the file's ANSI text, and their size
// doubles to count bytes; names stay ANSI.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/store_values.h"
#include "dmisp/table_store.h"
#include "platform/code_page.h"

namespace dmisp {

namespace {

constexpr uint32_t kMaxId = 65535;
constexpr uint32_t kMaxTextSize = 4091;  // what a management application sends at most
constexpr uint32_t kDateSize = 25;       // "19800101000000.000000+000"

struct Token {
  enum Kind { kWord, kText, kEquals } kind = kWord;
  std::string text;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '=') {
      tokens->push_back({Token::kEquals, "="});
      ++i;
    } else if (c == '"') {
      std::string text;
      for (++i;; ++i) {
        if (i >= line.size()) {
          *error = "text without its closing quote";
          return false;
        }
        if (line[i] == '"') break;
        if (line[i] != '\\') {
          text.push_back(line[i]);
          continue;
        }
        if (++i >= line.size()) continue;  // reported as an unclosed text
        switch (line[i]) {
          case '"':
          case '\\':
            text.push_back(line[i]);
            break;
          case 't':
            text.push_back('\t');
            break;
          case 'r':
            text.push_back('\r');
            break;
          case 'n':
            text.push_back('\n');
            break;
          case '0':
            text.push_back('\0');
            break;
          case 'x': {
            const int hi = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
            const int lo = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
              *error = "\\x needs two hexadecimal digits";
              return false;
            }
            text.push_back(static_cast<char>(hi << 4 | lo));
            i += 2;
            break;
          }
          default:
            *error = std::string("unknown escape \\") + line[i];
            return false;
        }
      }
      ++i;
      tokens->push_back({Token::kText, std::move(text)});
    } else {
      const size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
             line[i] != '=' && line[i] != '"') {
        ++i;
      }
      tokens->push_back({Token::kWord, std::string(line.substr(start, i - start))});
    }
  }
  return true;
}

template <typename T>
bool ParseDecimal(const std::string& word, T* number) {
  std::string_view text = word;
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return false;  // from_chars would take "+-5" as -5
  }
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *number);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// One group while its lines are read; checked as a whole when it ends.
struct GroupDraft {
  size_t line = 0;
  Group group;
  std::vector<size_t> row_lines;
};

class DescriptionParser {
 public:
  bool Parse(std::string_view text, Component* out, std::string* error) {
    size_t line_number = 0;
    for (size_t pos = 0;;) {
      const size_t eol = text.find('\n', pos);
      line_ = ++line_number;
      if (!Statement(text.substr(pos, eol == std::string_view::npos ? eol : eol - pos))) break;
      if (eol == std::string_view::npos) break;
      pos = eol + 1;
    }
    if (error_.empty()) {
      line_ = line_number;
      if (FinishGroup() && component_.name.empty()) Fail("no component statement");
      if (error_.empty() && component_.language.empty()) Fail("no language statement");
      if (error_.empty() && component_.groups.empty()) Fail("no group");
    }
    if (!error_.empty()) {
      *error = error_;
      return false;
    }
    std::sort(component_.groups.begin(), component_.groups.end(),
              [](const Group& a, const Group& b) { return a.id < b.id; });
    *out = std::move(component_);
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = "line " + std::to_string(line_) + ": " + what;
    return false;
  }

  bool Statement(std::string_view line) {
    std::string tokenize_error;
    tokens_.clear();
    next_ = 0;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') return true;
    if (!Tokenize(line, &tokens_, &tokenize_error)) return Fail(tokenize_error);
    std::string keyword;
    if (!Word(&keyword, "a statement")) return false;
    if (keyword == "component") return Header(&component_.name, "component");
    if (keyword == "language") return Header(&component_.language, "language");
    if (keyword == "group") return GroupStatement();
    if (keyword == "attribute") return AttributeStatement();
    if (keyword == "enum") return EnumStatement();
    if (keyword == "row") return RowStatement();
    return Fail("unknown statement \"" + keyword + "\"");
  }

  bool Word(std::string* word, const std::string& what) {
    if (next_ >= tokens_.size() || tokens_[next_].kind != Token::kWord) {
      return Fail("expected " + what);
    }
    *word = tokens_[next_++].text;
    return true;
  }
  bool Text(std::string* text, const std::string& what) {
    if (next_ >= tokens_.size() || tokens_[next_].kind != Token::kText) {
      return Fail("expected " + what + " in double quotes");
    }
    *text = tokens_[next_++].text;
    return true;
  }
  bool Id(uint32_t* id, const std::string& what) {
    std::string word;
    if (!Word(&word, what)) return false;
    if (!ParseDecimal(word, id) || *id < 1 || *id > kMaxId) {
      return Fail(what + " must be a number from 1 to " + std::to_string(kMaxId));
    }
    return true;
  }
  bool AtEnd() {
    return next_ == tokens_.size() || Fail("unexpected \"" + tokens_[next_].text + "\"");
  }

  bool Header(std::string* field, const std::string& keyword) {
    if (!field->empty()) return Fail("second " + keyword + " statement");
    if (!Text(field, "the " + keyword) || !AtEnd()) return false;
    if (field->empty()) return Fail("empty " + keyword);
    return true;
  }

  bool GroupStatement() {
    if (!FinishGroup()) return false;
    if (component_.language.empty()) return Fail("group before the language statement");
    group_ = GroupDraft();
    group_.line = line_;
    Group& g = group_.group;
    if (!Id(&g.id, "group id")) return false;
    for (const Group& other : component_.groups) {
      if (other.id == g.id) return Fail("duplicate group id " + std::to_string(g.id));
    }
    while (next_ < tokens_.size()) {
      std::string field;
      if (!Word(&field, "name, class or key")) return false;
      if (field == "name") {
        if (!Text(&g.name, "the group name")) return false;
      } else if (field == "class") {
        if (!Text(&g.classString, "the class string")) return false;
      } else if (field == "key") {
        uint32_t key = 0;
        if (!Id(&key, "key attribute id")) return false;
        if (std::count(g.keyIds.begin(), g.keyIds.end(), key)) {
          return Fail("key attribute " + std::to_string(key) + " named twice");
        }
        g.keyIds.push_back(key);
      } else {
        return Fail("unknown group field \"" + field + "\"");
      }
    }
    if (g.name.empty()) return Fail("group without a name");
    if (g.classString.empty()) return Fail("group without a class string");
    in_group_ = true;
    return true;
  }

  bool AttributeStatement() {
    if (!in_group_) return Fail("attribute outside a group");
    Attribute a;
    if (!Id(&a.id, "attribute id")) return false;
    for (const Attribute& other : group_.group.attributes) {
      if (other.id == a.id) return Fail("duplicate attribute id " + std::to_string(a.id));
    }
    bool has_type = false;
    bool has_size = false;
    size_t value_token = 0;
    while (next_ < tokens_.size()) {
      std::string field;
      if (!Word(&field, "name, type, size or value")) return false;
      if (field == "name") {
        if (!Text(&a.name, "the attribute name")) return false;
      } else if (field == "type") {
        std::string word;
        if (!Word(&word, "type") || !ParseDecimal(word, &a.type) || !IsKnownType(a.type)) {
          return Fail("type must be 1, 2, 3, 5, 6, 7, 8 or 11");
        }
        has_type = true;
      } else if (field == "size") {
        std::string word;
        if (!Word(&word, "size") || !ParseDecimal(word, &a.size)) return Fail("bad size");
        has_size = true;
      } else if (field == "value") {
        if (next_ >= tokens_.size() || tokens_[next_].kind == Token::kEquals) {
          return Fail("expected the initial value");
        }
        value_token = ++next_;
      } else {
        return Fail("unknown attribute field \"" + field + "\"");
      }
    }
    if (a.name.empty()) return Fail("attribute without a name");
    if (!has_type) return Fail("attribute without a type");
    if (!SizeFor(&a, has_size)) return false;
    if (Unicode() && a.type == dmi::kDmiDisplayString) a.size *= 2;
    a.initial = Value(FixedValueSize(a.type), '\0');
    if (value_token && !ValueFor(a, tokens_[value_token - 1], &a.initial)) return false;
    group_.group.attributes.push_back(std::move(a));
    return true;
  }

  bool SizeFor(Attribute* a, bool has_size) {
    const size_t fixed = FixedValueSize(a->type);
    const uint32_t wanted = fixed                      ? static_cast<uint32_t>(fixed)
                            : a->type == dmi::kDmiDate ? kDateSize
                                                       : 0;
    if (wanted) {
      if (has_size && a->size != wanted) {
        return Fail("the size of type " + std::to_string(a->type) + " is " +
                    std::to_string(wanted));
      }
      a->size = wanted;
      return true;
    }
    if (!has_size || a->size == 0) {
      return Fail("attribute of type " + std::to_string(a->type) + " needs a size from 1 to " +
                  std::to_string(kMaxTextSize));
    }
    if (a->size > kMaxTextSize) return Fail("size above " + std::to_string(kMaxTextSize));
    return true;
  }

  bool Unicode() const { return IsUnicodeLanguage(component_.language); }

  // The value a token gives attribute `a`, checked against its type and size.
  bool ValueFor(const Attribute& a, const Token& token, Value* value) {
    const std::string& t = token.text;
    const std::string bad = "value " + (token.kind == Token::kText ? "\"" + t + "\"" : t) +
                            " does not fit attribute " + std::to_string(a.id);
    bool ok = false;
    switch (a.type) {
      case dmi::kDmiCounter:
      case dmi::kDmiGauge: {
        uint32_t n = 0;
        ok = token.kind == Token::kWord && ParseDecimal(t, &n);
        *value = Int32Value(static_cast<int32_t>(n));
        break;
      }
      case dmi::kDmiInteger: {
        int32_t n = 0;
        ok = token.kind == Token::kWord && ParseDecimal(t, &n);
        *value = Int32Value(n);
        break;
      }
      case dmi::kDmiCounter64: {
        uint64_t n = 0;
        ok = token.kind == Token::kWord && ParseDecimal(t, &n);
        *value = Int64Value(static_cast<int64_t>(n));
        break;
      }
      case dmi::kDmiInteger64: {
        int64_t n = 0;
        ok = token.kind == Token::kWord && ParseDecimal(t, &n);
        *value = Int64Value(n);
        break;
      }
      default: {
        ok = token.kind == Token::kText;
        const bool date = a.type == dmi::kDmiDate;
        if (date && t.find('\0') != std::string::npos) ok = false;
        const bool wide = Unicode() && a.type == dmi::kDmiDisplayString;
        *value = wide ? platform::AnsiToUtf16Le(t) : t;
        if (ok && value->size() > a.size) {
          return Fail("value \"" + t + "\" is longer than the size of attribute " +
                      std::to_string(a.id));
        }
        break;
      }
    }
    return ok || Fail(bad);
  }

  Attribute* LastAttribute() {
    return in_group_ && !group_.group.attributes.empty() ? &group_.group.attributes.back()
                                                         : nullptr;
  }

  bool EnumStatement() {
    Attribute* a = LastAttribute();
    if (!a) return Fail("enum without an attribute");
    if (a->type != dmi::kDmiCounter && a->type != dmi::kDmiGauge && a->type != dmi::kDmiInteger) {
      return Fail("enum for attribute " + std::to_string(a->id) +
                  ", which is not of type 1, 3 or 5");
    }
    if (!group_.group.rows.empty()) return Fail("enum after the rows");
    std::string word;
    int32_t number = 0;
    if (!Word(&word, "the enumerated value") || !ParseDecimal(word, &number)) {
      return Fail("the enumerated value must be a 32-bit number");
    }
    std::string text;
    if (!Text(&text, "the enumeration text") || !AtEnd()) return false;
    if (!a->enumeration.emplace(number, std::move(text)).second) {
      return Fail("enum value " + word + " named twice");
    }
    return true;
  }

  bool RowStatement() {
    if (!in_group_ || group_.group.attributes.empty()) return Fail("row outside a group");
    Group& g = group_.group;
    if (g.keyIds.empty() && !g.rows.empty()) return Fail("second row of a group without keys");
    std::set<uint32_t> named;
    Row row;
    while (next_ < tokens_.size()) {
      uint32_t id = 0;
      if (!Id(&id, "attribute id")) return false;
      if (next_ >= tokens_.size() || tokens_[next_].kind != Token::kEquals) {
        return Fail("expected = after attribute " + std::to_string(id));
      }
      if (++next_ >= tokens_.size() || tokens_[next_].kind == Token::kEquals) {
        return Fail("expected the value of attribute " + std::to_string(id));
      }
      const Attribute* a = FindAttribute(g, id);
      if (!a)
        return Fail("no attribute " + std::to_string(id) + " in group " + std::to_string(g.id));
      if (!named.insert(id).second) return Fail("attribute " + std::to_string(id) + " named twice");
      if (!ValueFor(*a, tokens_[next_++], &row.values[id])) return false;
    }
    g.rows.push_back(std::move(row));
    group_.row_lines.push_back(line_);
    return true;
  }

  // Checks the group that ends here and adds it to the component.
  bool FinishGroup() {
    if (!in_group_) return true;
    in_group_ = false;
    Group& g = group_.group;
    const size_t end_line = line_;
    line_ = group_.line;
    if (g.attributes.empty()) return Fail("group " + std::to_string(g.id) + " has no attributes");
    std::sort(g.attributes.begin(), g.attributes.end(),
              [](const Attribute& a, const Attribute& b) { return a.id < b.id; });
    for (const uint32_t key : g.keyIds) {
      const Attribute* a = FindAttribute(g, key);
      if (!a) return Fail("key attribute " + std::to_string(key) + " is not in the group");
      if (a->type != dmi::kDmiInteger && a->type != dmi::kDmiDisplayString) {
        return Fail("key attribute " + std::to_string(key) + " must be of type 5 or 8");
      }
    }
    if (g.rows.empty() && g.keyIds.empty()) g.rows.emplace_back();
    for (Row& row : g.rows) {
      for (const Attribute& a : g.attributes) row.values.emplace(a.id, a.initial);
    }
    for (size_t i = 0; i < g.rows.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (!KeyOrderLess(g, g.rows[i], g.rows[j]) && !KeyOrderLess(g, g.rows[j], g.rows[i])) {
          line_ = group_.row_lines[i];
          return Fail("row with the same keys as the row of line " +
                      std::to_string(group_.row_lines[j]));
        }
      }
    }
    std::stable_sort(g.rows.begin(), g.rows.end(),
                     [&](const Row& a, const Row& b) { return KeyOrderLess(g, a, b); });
    component_.groups.push_back(std::move(g));
    line_ = end_line;
    return true;
  }

  Component component_;
  GroupDraft group_;
  bool in_group_ = false;
  std::vector<Token> tokens_;
  size_t next_ = 0;
  size_t line_ = 0;
  std::string error_;
};

}  // namespace

bool ParseDescription(std::string_view text, Component* component, std::string* error) {
  std::string ignored;
  DescriptionParser parser;
  return parser.Parse(text, component, error ? error : &ignored);
}

}  // namespace dmisp
