#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "tools/ctl.h"

bool Args::Option(const std::string& name, std::string* value) {
  for (size_t i = 0; i < words_.size(); ++i) {
    const std::string& w = words_[i];
    if (w == "--") break;
    if (w == name) {
      if (i + 1 >= words_.size()) {
        error_ = name + " needs a value";
        words_.erase(words_.begin() + static_cast<long>(i));
        return false;
      }
      *value = words_[i + 1];
      words_.erase(words_.begin() + static_cast<long>(i), words_.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (w.size() > name.size() && w.compare(0, name.size(), name) == 0 && w[name.size()] == '=') {
      *value = w.substr(name.size() + 1);
      words_.erase(words_.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool Args::Flag(const std::string& name) {
  for (size_t i = 0; i < words_.size(); ++i) {
    if (words_[i] == "--") break;
    if (words_[i] == name) {
      words_.erase(words_.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

std::vector<std::string> Args::Rest() {
  std::vector<std::string> rest;
  bool literal = false;
  for (const std::string& w : words_) {
    if (!literal && w == "--") {
      literal = true;
      continue;
    }
    if (!literal && w.size() > 1 && w[0] == '-' && error_.empty()) error_ = "unknown option " + w;
    rest.push_back(w);
  }
  return rest;
}

bool ParseSeconds(const std::string& text, unsigned* ms) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(v >= 0) || v > 86400.0 * 365) return false;
  *ms = static_cast<unsigned>(v * 1000.0 + 0.5);
  return true;
}

void CtlError(const char* verb, const char* fmt, ...) {
  fprintf(stderr, "brakmorctl %s: ", verb);
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stderr, fmt, ap);
  va_end(ap);
  fputc('\n', stderr);
}
