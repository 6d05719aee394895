// Verbose-level settings from the "v" and "vmodule" switches.
#ifndef BASE_VLOG_H_
#define BASE_VLOG_H_

#include <string>
#include <string_view>
#include <vector>

namespace logging {

class VlogInfo {
 public:
  // |v_switch| is a decimal level; when it parses, |*min_log_level| becomes
  // its negation. |vmodule_switch| is "pattern=level,pattern=level,...".
  VlogInfo(const std::string& v_switch, const std::string& vmodule_switch,
           int* min_log_level);

  // Verbose level for messages from the source file |file|.
  int GetVlogLevel(std::string_view file) const;

 private:
  struct VmodulePattern {
    std::string pattern;
    int level = 0;
    bool match_whole_path = false;
  };

  int GetMaxVlogLevel() const;

  std::vector<VmodulePattern> patterns_;
  int* min_log_level_;
};

// Glob match where '*' is any run, '?' any one character, and a '/' or '\'
// in the pattern matches either separator.
bool MatchVlogPattern(std::string_view text, std::string_view pattern);

// The module name of a source path: base name without extension or "-inl".
std::string_view GetVlogModuleName(std::string_view file);

}  // namespace logging

#endif  // BASE_VLOG_H_
