#include "kvbase/profile_edit.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <unordered_map>

#include "kvbase/profile_text.h"

namespace kvbase {

namespace {

// Each change is one edit of the text as last read: at most one line
// changed, inserted or removed, one section's lines removed, or a block
// appended.
struct Edit {
  size_t first_line;  // lines [first_line, last_line) are replaced
  size_t last_line;
  std::string text;  // raw bytes put in their place
};

// The raw line end of `line`, or the file's own one when it has none.
std::string RawLineEnd(std::string_view raw, const ProfileText& text, size_t line,
                       const std::string& file_line_end) {
  const ProfileLine& l = text.lines()[line];
  if (l.end > l.content_end) return std::string(raw.substr(l.content_end, l.end - l.content_end));
  return text.Encode(file_line_end);
}

bool IsBlankLine(std::string_view raw, const ProfileText& text, size_t line) {
  return TrimProfileSpace(text.DecodeLine(raw, line)).empty();
}

// The new bytes that end the file: when its last line has no line end yet,
// the edit takes that line over and gives it one.
Edit AppendEdit(std::string_view raw, const ProfileText& text, const std::string& add,
                const std::string& line_end) {
  const auto& lines = text.lines();
  if (!lines.empty() && lines.back().end == lines.back().content_end) {
    const ProfileLine& l = lines.back();
    return Edit{lines.size() - 1, lines.size(),
                std::string(raw.substr(l.begin, l.end - l.begin)) + text.Encode(line_end + add)};
  }
  return Edit{lines.size(), lines.size(), text.Encode(add)};
}

// The edit that sets the key; nullopt when the file already says so.
std::optional<Edit> SetKeyEdit(std::string_view raw, const ProfileText& text,
                               std::string_view section, std::string_view key,
                               std::string_view value, const std::string& line_end) {
  const ProfileSection* s = text.FindSection(FoldProfileName(section));
  if (s) {
    if (const ProfileKey* k = ProfileText::FindKey(*s, FoldProfileName(key))) {
      if (k->has_value && k->value == value) return std::nullopt;
      // Keep the key as the file spells it, and the blanks around '='.
      const std::string old = text.DecodeLine(raw, k->line);
      std::string line;
      const size_t eq = old.find('=');
      if (eq == std::string::npos) {
        size_t end = old.size();
        while (end > 0 && IsProfileSpace(static_cast<unsigned char>(old[end - 1]))) --end;
        line = old.substr(0, end);
        line += '=';
      } else {
        size_t v = eq + 1;
        while (v < old.size() && IsProfileSpace(static_cast<unsigned char>(old[v]))) ++v;
        line = old.substr(0, v == old.size() ? eq + 1 : v);
      }
      line += value;
      return Edit{k->line, k->line + 1,
                  text.Encode(line) + RawLineEnd(raw, text, k->line, line_end)};
    }
    // A new key goes after the section's last non-blank line.
    size_t after = s->header_line;  // kNoHeader: the top of the file
    const size_t first = s->header_line == ProfileSection::kNoHeader ? 0 : s->header_line + 1;
    for (size_t i = s->end_line; i > first; --i) {
      if (!IsBlankLine(raw, text, i - 1)) {
        after = i - 1;
        break;
      }
    }
    std::string insert = text.Encode(std::string(key) + "=" + std::string(value) + line_end);
    if (after == ProfileSection::kNoHeader) return Edit{0, 0, insert};
    const ProfileLine& l = text.lines()[after];
    if (l.end == l.content_end) {
      // The last line of the file has no line end yet: give it one.
      return Edit{
          after, after + 1,
          std::string(raw.substr(l.begin, l.end - l.begin)) + text.Encode(line_end) + insert};
    }
    return Edit{after + 1, after + 1, insert};
  }
  // A new section goes at the end of the file.
  return AppendEdit(raw, text,
                    "[" + std::string(section) + "]" + line_end + std::string(key) + "=" +
                        std::string(value) + line_end,
                    line_end);
}

std::optional<Edit> DeleteSectionEdit(const ProfileText& text, std::string_view section) {
  const ProfileSection* s = text.FindSection(FoldProfileName(section));
  if (!s) return std::nullopt;
  const size_t first = s->header_line == ProfileSection::kNoHeader ? 0 : s->header_line;
  if (first == s->end_line) return std::nullopt;
  return Edit{first, s->end_line, std::string()};
}

// The key in the first section of that name that has it.
std::optional<Edit> DeleteKeyEdit(const ProfileText& text, std::string_view section,
                                  std::string_view key) {
  const std::string folded_section = FoldProfileName(section);
  const std::string folded_key = FoldProfileName(key);
  const ProfileSection* first = text.FindSection(folded_section);
  if (!first) return std::nullopt;
  const auto& sections = text.sections();
  for (size_t i = static_cast<size_t>(first - sections.data()); i < sections.size(); ++i) {
    if (sections[i].folded != folded_section) continue;
    if (const ProfileKey* k = ProfileText::FindKey(sections[i], folded_key)) {
      return Edit{k->line, k->line + 1, std::string()};
    }
  }
  return std::nullopt;
}

bool IsKeyChange(const ProfileChange& c) {
  return c.kind == ProfileChange::Kind::kSetKey || c.kind == ProfileChange::Kind::kDeleteKey;
}

// A new section with its keys as one block, set off from what comes before
// by a blank line. `after_append`: an earlier block of this reading already
// ends the file with a line that is not blank.
Edit AddSectionEdit(std::string_view raw, const ProfileText& text, const ProfileChange& change,
                    const std::string& line_end, bool after_append) {
  const auto& lines = text.lines();
  std::string add;
  if (after_append || (!lines.empty() && !IsBlankLine(raw, text, lines.size() - 1))) {
    add += line_end;
  }
  add += "[" + change.section + "]" + line_end;
  for (const auto& [key, value] : change.keys) {
    add.append(key).append("=").append(value).append(line_end);
  }
  return AppendEdit(raw, text, add, line_end);
}

// The changes are collected as edits of one reading of the text and made in
// one pass. A change that depends on what an earlier one did (the same key
// again, a section made or removed, lines an edit already replaces) first
// makes the collected edits and reads the text again.
class Editor {
 public:
  Editor(std::string_view raw, std::string_view default_line_end, const ProfileText* parsed)
      : raw_(raw) {
    if (!parsed) {
      own_text_ = ProfileText::Parse(raw_);
      parsed = &own_text_;
    }
    text_ = parsed;
    line_end_ = text_->LineEnd(raw_);
    if (line_end_.empty()) line_end_ = std::string(default_line_end);
  }
  // text_ may point into the object itself.
  Editor(const Editor&) = delete;
  Editor& operator=(const Editor&) = delete;

  void Make(const ProfileChange& change) {
    const std::string section = FoldProfileName(change.section);
    const std::string key = IsKeyChange(change) ? FoldProfileName(change.key) : std::string();
    if (DependsOnPending(change, section, key)) Flush();
    if (change.kind == ProfileChange::Kind::kAddSection && text_->FindSection(section)) {
      for (const auto& [name, value] : change.keys) {
        Make(ProfileChange::SetKey(change.section, name, value));
      }
      return;
    }
    std::optional<Edit> edit = EditFor(change);
    if (edit && DependsOnEdits(change, section, *edit)) {
      Flush();
      edit = EditFor(change);
    }
    if (!edit) return;
    Note(change, section, key);
    if (edit->first_line == edit->last_line) {
      insertions_.insert(edit->first_line);
    } else {
      replaced_[edit->first_line] = edit->last_line;
    }
    if (edit->last_line == text_->lines().size() && !edit->text.empty()) appended_ = true;
    pending_.push_back(std::move(*edit));
    changed_ = true;
  }

  std::optional<std::string> Result() {
    Flush(false);
    if (!changed_) return std::nullopt;
    return raw_;
  }

 private:
  struct Touched {
    bool sections = false;  // made or removed
    std::set<std::string> keys;
  };

  // `section` and `key` are the change's names folded.
  bool DependsOnPending(const ProfileChange& c, const std::string& section,
                        const std::string& key) const {
    const auto it = touched_.find(section);
    if (it == touched_.end()) return false;
    if (!IsKeyChange(c)) return true;
    return it->second.sections || it->second.keys.count(key) != 0;
  }

  void Note(const ProfileChange& c, const std::string& section, const std::string& key) {
    Touched& t = touched_[section];
    if (IsKeyChange(c) && text_->FindSection(section)) {
      t.keys.insert(key);
    } else {
      t.sections = true;
    }
  }

  std::optional<Edit> EditFor(const ProfileChange& c) const {
    switch (c.kind) {
      case ProfileChange::Kind::kSetKey:
        return SetKeyEdit(raw_, *text_, c.section, c.key, c.value, line_end_);
      case ProfileChange::Kind::kDeleteKey:
        return DeleteKeyEdit(*text_, c.section, c.key);
      case ProfileChange::Kind::kDeleteSection:
        return DeleteSectionEdit(*text_, c.section);
      case ProfileChange::Kind::kAddSection:
        return AddSectionEdit(raw_, *text_, c, line_end_, appended_);
    }
    return std::nullopt;
  }

  // Where the edit goes depends on what collected edits do to the text
  // around it: they replace its lines, or an insertion lands inside theirs;
  // a block at the end follows lines that an edit replaces, or lines it
  // follows are replaced after it; a new key
  // follows the last line of its section that a deletion may remove, or
  // lands where a block is already appended.
  bool DependsOnEdits(const ProfileChange& c, const std::string& section, const Edit& edit) const {
    if (Overlaps(edit)) return true;
    const size_t end = text_->lines().size();
    // The blank line in front of an appended block belongs to the section
    // before it, and goes when that section is removed.
    if (appended_ && edit.last_line == end && edit.first_line != end) return true;
    if (c.kind == ProfileChange::Kind::kAddSection) {
      return !replaced_.empty() && replaced_.rbegin()->second == end;
    }
    if (c.kind != ProfileChange::Kind::kSetKey || edit.first_line != edit.last_line) return false;
    const auto it = touched_.find(section);
    return (it != touched_.end() && !it->second.keys.empty()) ||
           (appended_ && edit.first_line == end);
  }

  // Lines that a collected edit replaces, or an insertion inside them. The
  // replaced ranges never overlap, so of those that start before a line the
  // last one reaches furthest.
  bool Overlaps(const Edit& edit) const {
    const auto reach_before = [&](size_t line) -> size_t {
      auto it = replaced_.lower_bound(line);
      return it == replaced_.begin() ? 0 : std::prev(it)->second;
    };
    if (edit.first_line == edit.last_line) return reach_before(edit.first_line) > edit.first_line;
    const auto inserted = insertions_.upper_bound(edit.first_line);
    if (inserted != insertions_.end() && *inserted < edit.last_line) return true;
    return reach_before(edit.last_line) > edit.first_line;
  }

  size_t Offset(size_t line) const {
    const auto& lines = text_->lines();
    if (line < lines.size()) return lines[line].begin;
    return lines.empty() ? text_->body_start() : lines.back().end;
  }

  // `read_again` false: no change follows, and the text is not read again.
  void Flush(bool read_again = true) {
    if (pending_.empty()) return;
    // Insertions before a line come before the edit that replaces it, and
    // insertions at one place stay in the order of their changes.
    std::stable_sort(pending_.begin(), pending_.end(), [](const Edit& a, const Edit& b) {
      if (a.first_line != b.first_line) return a.first_line < b.first_line;
      return a.first_line == a.last_line && b.first_line != b.last_line;
    });
    std::string out;
    out.reserve(raw_.size());
    size_t at = 0;
    for (const Edit& e : pending_) {
      const size_t from = Offset(e.first_line);
      out.append(raw_, at, from - at);
      out.append(e.text);
      at = Offset(e.last_line);
    }
    out.append(raw_, at, std::string::npos);
    // The first bytes of a file choose how every line of it decodes. An
    // ANSI file whose new first line (the old second one, or an inserted
    // key) begins with the bytes of a byte order mark would turn into UTF-8
    // or UTF-16 and garble every key we did not touch: a blank line in
    // front keeps it ANSI, and readers skip blank lines.
    if (text_->encoding() == TextEncoding::kAnsi && EncodingOf(out) != TextEncoding::kAnsi) {
      out.insert(0, line_end_);
    }
    raw_ = std::move(out);
    if (read_again) {
      own_text_ = ProfileText::Parse(raw_);
      text_ = &own_text_;
    }
    pending_.clear();
    replaced_.clear();
    insertions_.clear();
    appended_ = false;
    touched_.clear();
  }

  std::string raw_;
  ProfileText own_text_;     // the text as parsed here, when it was
  const ProfileText* text_;  // the parse of raw_: own_text_ or the caller's
  std::string line_end_;     // as ANSI text
  std::vector<Edit> pending_;
  std::map<size_t, size_t> replaced_;  // first line -> last line of each replacing edit
  std::set<size_t> insertions_;        // where edits insert without replacing
  bool appended_ = false;              // an edit ends the text with a line that is not blank
  std::unordered_map<std::string, Touched> touched_;  // by folded section name
  bool changed_ = false;
};

}  // namespace

ProfileChange ProfileChange::SetKey(std::string section, std::string key, std::string value) {
  ProfileChange c;
  c.kind = Kind::kSetKey;
  c.section = std::move(section);
  c.key = std::move(key);
  c.value = std::move(value);
  return c;
}

ProfileChange ProfileChange::DeleteKey(std::string section, std::string key) {
  ProfileChange c;
  c.kind = Kind::kDeleteKey;
  c.section = std::move(section);
  c.key = std::move(key);
  return c;
}

ProfileChange ProfileChange::DeleteSection(std::string section) {
  ProfileChange c;
  c.kind = Kind::kDeleteSection;
  c.section = std::move(section);
  return c;
}

ProfileChange ProfileChange::AddSection(std::string section,
                                        std::vector<std::pair<std::string, std::string>> keys) {
  ProfileChange c;
  c.kind = Kind::kAddSection;
  c.section = std::move(section);
  c.keys = std::move(keys);
  return c;
}

std::optional<std::string> ApplyProfileChanges(std::string_view raw,
                                               const std::vector<ProfileChange>& changes,
                                               std::string_view default_line_end,
                                               const ProfileText* parsed) {
  Editor editor(raw, default_line_end, parsed);
  for (const ProfileChange& c : changes) editor.Make(c);
  return editor.Result();
}

}  // namespace kvbase
