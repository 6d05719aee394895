#include "base/files/file_path.h"

namespace base {
namespace {

bool IsAsciiLetter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Where the extension's dot is in |path|'s base name, or npos.
FilePath::StringType::size_type FinalExtensionSeparatorPosition(
    const FilePath::StringType& path) {
  const FilePath::StringType base = FilePath(path).BaseName().value();
  if (base == FilePath::kCurrentDirectory || base == FilePath::kParentDirectory)
    return FilePath::StringType::npos;
  const size_t dot = path.rfind(FilePath::kExtensionSeparator);
  const size_t last_separator = path.find_last_of(FilePath::kSeparators);
  if (dot == FilePath::StringType::npos ||
      (last_separator != FilePath::StringType::npos && dot < last_separator)) {
    return FilePath::StringType::npos;
  }
  return dot;
}

}  // namespace

constexpr FilePath::CharType FilePath::kSeparators[];
constexpr FilePath::CharType FilePath::kCurrentDirectory[];
constexpr FilePath::CharType FilePath::kParentDirectory[];

size_t FilePath::FindDriveLetter() const {
  if (path_.size() >= 2 && path_[1] == L':' && IsAsciiLetter(path_[0]))
    return 2;
  return 0;
}

bool FilePath::IsAbsolute() const {
  const size_t letter = FindDriveLetter();
  if (letter > 0)
    return path_.size() > letter && IsSeparator(path_[letter]);
  return path_.size() > 1 && IsSeparator(path_[0]) && IsSeparator(path_[1]);
}

void FilePath::StripTrailingSeparatorsInternal() {
  // Keep a root separator ("C:\", "\"); a path of exactly two leading
  // separators (the start of a network path) stays as it is.
  const size_t drive = FindDriveLetter();
  size_t keep = drive;
  if (path_.size() > drive && IsSeparator(path_[drive])) {
    keep = drive + 1;
    if (path_.size() == drive + 2 && IsSeparator(path_[drive + 1]))
      keep = drive + 2;
  }
  while (path_.size() > keep && IsSeparator(path_.back()))
    path_.pop_back();
}

void FilePath::StripTrailingSeparators() {
  StripTrailingSeparatorsInternal();
}

FilePath FilePath::Append(const StringType& component) const {
  const StringType appended = component.substr(0, component.find(L'\0'));
  if (path_ == kCurrentDirectory)
    return FilePath(appended);

  FilePath result(path_);
  result.StripTrailingSeparatorsInternal();
  const bool needs_separator =
      !appended.empty() && !result.path_.empty() &&
      !IsSeparator(result.path_.back()) &&
      !(result.FindDriveLetter() > 0 && result.path_.size() == 2);
  if (needs_separator)
    result.path_.push_back(kPreferredSeparator);
  result.path_ += appended;
  return result;
}

FilePath FilePath::DirName() const {
  FilePath result(path_);
  result.StripTrailingSeparatorsInternal();
  const size_t letter = result.FindDriveLetter();
  const size_t last_separator = result.path_.find_last_of(kSeparators);
  if (last_separator == StringType::npos) {
    // "C:file" → "C:"; "file" → ".".
    result.path_.resize(letter);
  } else if (last_separator == letter) {
    // The separator is the root ("C:\file", "\file"): keep it.
    result.path_.resize(letter + 1);
  } else if (last_separator == letter + 1 && IsSeparator(result.path_[letter])) {
    // A network path's leading pair ("\\server").
    result.path_.resize(letter + 2);
  } else {
    result.path_.resize(last_separator);
  }
  result.StripTrailingSeparatorsInternal();
  if (result.path_.empty())
    result.path_ = kCurrentDirectory;
  return result;
}

FilePath FilePath::BaseName() const {
  FilePath result(path_);
  result.StripTrailingSeparatorsInternal();
  const size_t letter = result.FindDriveLetter();
  if (letter > 0)
    result.path_.erase(0, letter);
  const size_t last_separator = result.path_.find_last_of(kSeparators);
  if (last_separator != StringType::npos && last_separator < result.path_.size() - 1)
    result.path_.erase(0, last_separator + 1);
  return result;
}

FilePath::StringType FilePath::Extension() const {
  const size_t dot = FinalExtensionSeparatorPosition(path_);
  return dot == StringType::npos ? StringType() : path_.substr(dot);
}

FilePath FilePath::RemoveExtension() const {
  const size_t dot = FinalExtensionSeparatorPosition(path_);
  return dot == StringType::npos ? *this : FilePath(path_.substr(0, dot));
}

FilePath FilePath::AddExtension(const StringType& extension) const {
  const StringType base = BaseName().value();
  if (base == kCurrentDirectory || base == kParentDirectory)
    return FilePath();
  if (extension.empty() || extension == kCurrentDirectory)
    return *this;
  StringType result = path_;
  if (extension[0] != kExtensionSeparator &&
      (result.empty() || result.back() != kExtensionSeparator)) {
    result.push_back(kExtensionSeparator);
  }
  result += extension;
  return FilePath(result);
}

bool FilePath::ReferencesParent() const {
  size_t start = 0;
  while (start <= path_.size()) {
    size_t end = path_.find_first_of(kSeparators, start);
    if (end == StringType::npos)
      end = path_.size();
    if (path_.compare(start, end - start, kParentDirectory) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

bool FilePath::IsContainedRelativePath() const {
  if (path_.empty() || path_.find(L':') != StringType::npos ||
      IsSeparator(path_[0])) {
    return false;
  }
  // Windows strips trailing dots and blanks from a component, so "..." or
  // ".. " would mean ".." to the file system: refuse any component made of
  // nothing but dots and blanks.
  size_t start = 0;
  while (start <= path_.size()) {
    size_t end = path_.find_first_of(kSeparators, start);
    if (end == StringType::npos)
      end = path_.size();
    const StringType component = path_.substr(start, end - start);
    if (!component.empty() &&
        component.find_first_not_of(L". ") == StringType::npos) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace base
