#include "base/vlog.h"

#include <cstdlib>

namespace logging {
namespace {

// Parses a leading decimal number; returns whether the whole text parsed.
// Like the C library, a partial parse keeps the prefix's value.
bool ParseLevel(const std::string& text, int* level) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  *level = static_cast<int>(value);
  return !text.empty() && end && *end == '\0';
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

VlogInfo::VlogInfo(const std::string& v_switch,
                   const std::string& vmodule_switch, int* min_log_level)
    : min_log_level_(min_log_level) {
  // A negative level would raise the minimum severity above FATAL and
  // silence errors; such a value is refused like one that does not parse.
  int v = 0;
  if (ParseLevel(v_switch, &v) && v >= 0)
    *min_log_level_ = -v;

  size_t start = 0;
  while (start <= vmodule_switch.size() && !vmodule_switch.empty()) {
    size_t end = vmodule_switch.find(',', start);
    if (end == std::string::npos)
      end = vmodule_switch.size();
    const std::string pair = vmodule_switch.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (equals != std::string::npos) {
      VmodulePattern entry;
      entry.pattern = pair.substr(0, equals);
      ParseLevel(pair.substr(equals + 1), &entry.level);
      entry.match_whole_path =
          entry.pattern.find_first_of("/\\") != std::string::npos;
      patterns_.push_back(entry);
    }
    start = end + 1;
  }
}

int VlogInfo::GetMaxVlogLevel() const {
  return -*min_log_level_;
}

int VlogInfo::GetVlogLevel(std::string_view file) const {
  if (!patterns_.empty()) {
    const std::string_view module = GetVlogModuleName(file);
    for (const VmodulePattern& entry : patterns_) {
      const std::string_view target = entry.match_whole_path ? file : module;
      if (MatchVlogPattern(target, entry.pattern))
        return entry.level;
    }
  }
  return GetMaxVlogLevel();
}

std::string_view GetVlogModuleName(std::string_view file) {
  const size_t last_separator = file.find_last_of("/\\");
  std::string_view module = last_separator == std::string_view::npos
                                ? file
                                : file.substr(last_separator + 1);
  const size_t dot = module.rfind('.');
  if (dot != std::string_view::npos)
    module = module.substr(0, dot);
  constexpr std::string_view kInlSuffix = "-inl";
  if (module.size() >= kInlSuffix.size() &&
      module.substr(module.size() - kInlSuffix.size()) == kInlSuffix) {
    module.remove_suffix(kInlSuffix.size());
  }
  return module;
}

bool MatchVlogPattern(std::string_view text, std::string_view pattern) {
  // Iterative glob with single-star backtracking: linear in practice and no
  // recursion on hostile patterns.
  size_t t = 0, p = 0;
  size_t star_p = std::string_view::npos, star_t = 0;
  while (t < text.size()) {
    if (p < pattern.size()) {
      const char pc = pattern[p];
      if (pc == '*') {
        star_p = p++;
        star_t = t;
        continue;
      }
      const bool same = pc == '?' ||
                        (IsSeparator(pc) ? IsSeparator(text[t]) : pc == text[t]);
      if (same) {
        ++p;
        ++t;
        continue;
      }
    }
    if (star_p == std::string_view::npos)
      return false;
    p = star_p + 1;
    t = ++star_t;
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

}  // namespace logging
