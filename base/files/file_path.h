// A path held as a UTF-16 string. Both '\' and '/' separate components;
// '\' is the one this class adds. All operations are pure string work.
#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

#include <string>

namespace base {

class FilePath {
 public:
  using StringType = std::wstring;
  using CharType = wchar_t;

  static constexpr CharType kSeparators[] = L"\\/";
  static constexpr CharType kPreferredSeparator = L'\\';
  static constexpr CharType kExtensionSeparator = L'.';
  static constexpr CharType kCurrentDirectory[] = L".";
  static constexpr CharType kParentDirectory[] = L"..";

  FilePath() = default;
  explicit FilePath(const StringType& path) : path_(path) {}
  explicit FilePath(const CharType* path) : path_(path) {}

  const StringType& value() const { return path_; }
  bool empty() const { return path_.empty(); }
  bool operator==(const FilePath& other) const { return path_ == other.path_; }
  bool operator!=(const FilePath& other) const { return path_ != other.path_; }
  bool operator<(const FilePath& other) const { return path_ < other.path_; }

  static bool IsSeparator(CharType c) { return c == L'\\' || c == L'/'; }

  // |component| is cut at its first NUL. See the .cc for the separator rule.
  FilePath Append(const StringType& component) const;
  FilePath Append(const FilePath& component) const { return Append(component.value()); }
  FilePath DirName() const;
  FilePath BaseName() const;
  // The final extension of the base name, with its dot ("" for "." and "..").
  StringType Extension() const;
  FilePath RemoveExtension() const;
  FilePath AddExtension(const StringType& extension) const;
  bool ReferencesParent() const;
  // True when this is a relative path that, appended to a directory, names
  // something inside that directory: not empty, no drive letter or other
  // ':' (which would also name an alternate data stream), no leading
  // separator, no ".." component.
  bool IsContainedRelativePath() const;
  // True for "C:\..." and "\\server\..." paths.
  bool IsAbsolute() const;
  void StripTrailingSeparators();

 private:
  // Position just past a drive letter and colon, or 0.
  size_t FindDriveLetter() const;
  void StripTrailingSeparatorsInternal();

  StringType path_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
