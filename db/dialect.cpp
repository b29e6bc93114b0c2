#include "db/dialect.h"

#include <cctype>

namespace db {
namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$'; }

bool WordAt(const std::string& s, size_t i, const char* word) {
  size_t n = std::char_traits<char>::length(word);
  if (i + n > s.size()) return false;
  if (i > 0 && IsWordChar(s[i - 1])) return false;
  for (size_t k = 0; k < n; ++k) {
    if (std::tolower(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
  }
  return i + n == s.size() || !IsWordChar(s[i + n]);
}

// Index of the parenthesis closing the one at `open`, outside literals.
size_t Closing(const std::string& s, size_t open) {
  int depth = 0;
  bool quoted = false;
  for (size_t i = open; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      if (c == '\'') quoted = false;
    } else if (c == '\'') {
      quoted = true;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return i;
    }
  }
  return std::string::npos;
}

}  // namespace

Translated Translate(const std::string& in, Dialect dialect) {
  Translated t;
  std::string& out = t.sql;
  bool quoted = false;
  for (size_t i = 0; i < in.size();) {
    char c = in[i];
    if (quoted) {
      out += c;
      if (c == '\'') quoted = false;
      ++i;
      continue;
    }
    if (c == '\'') {
      quoted = true;
      out += c;
      ++i;
      continue;
    }
    if (WordAt(in, i, "into")) {
      size_t j = i + 4;
      while (j < in.size() && in[j] == ' ') ++j;
      if (j < in.size() && in[j] == ':') {
        // "into :x": the outputs of a single-row query, bound, not written.
        ++j;
        while (j < in.size() && IsWordChar(in[j])) ++j;
        if (dialect == Dialect::Oracle) out.append(in, i, j - i);
        i = j;
        continue;
      }
    }
    if (c == ':' && i + 1 < in.size() && IsWordChar(in[i + 1]) && (i == 0 || in[i - 1] != ':')) {
      size_t j = i + 1;
      while (j < in.size() && IsWordChar(in[j])) ++j;
      ++t.placeholders;
      if (dialect == Dialect::Sqlite) out += '?';
      else if (dialect == Dialect::Postgres) out += "$" + std::to_string(t.placeholders);
      else out.append(in, i, j - i);
      i = j;
      continue;
    }
    if (WordAt(in, i, "sysdate")) {
      if (dialect == Dialect::Sqlite) out += "datetime('now','localtime')";
      else if (dialect == Dialect::Postgres) out += "LOCALTIMESTAMP(0)";
      else out += in.substr(i, 7);
      i += 7;
      continue;
    }
    if (dialect == Dialect::Postgres && WordAt(in, i, "to_date")) {
      size_t open = i + 7;
      while (open < in.size() && in[open] == ' ') ++open;
      size_t close = open < in.size() && in[open] == '(' ? Closing(in, open) : std::string::npos;
      if (close == std::string::npos) {
        t.ok = false;
        t.error = "TO_DATE without its arguments";
        return t;
      }
      // The arguments are translated on their own (they hold placeholders).
      Translated args = Translate(in.substr(open + 1, close - open - 1), dialect);
      // Renumber the inner placeholders after the ones already written.
      std::string inner;
      int seen = 0;
      for (size_t k = 0; k < args.sql.size(); ++k) {
        if (args.sql[k] == '$' && k + 1 < args.sql.size() && std::isdigit(static_cast<unsigned char>(args.sql[k + 1]))) {
          while (k + 1 < args.sql.size() && std::isdigit(static_cast<unsigned char>(args.sql[k + 1]))) ++k;
          ++seen;
          inner += "$" + std::to_string(t.placeholders + seen);
        } else {
          inner += args.sql[k];
        }
      }
      t.placeholders += args.placeholders;
      out += "CAST(to_timestamp(" + inner + ") AS timestamp(0))";
      i = close + 1;
      continue;
    }
    out += c;
    ++i;
  }
  if (quoted) {
    t.ok = false;
    t.error = "unterminated literal";
  }
  return t;
}

}  // namespace db
