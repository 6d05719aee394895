#include "base/files/file_path.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

struct BinaryCase {
  const wchar_t* path;
  const wchar_t* argument;
  const wchar_t* expected;
};

struct UnaryCase {
  const wchar_t* path;
  const wchar_t* expected;
};

TEST(FilePathTest, Append) {
  const BinaryCase kCases[] = {
      {L"C:", L"a.txt", L"C:a.txt"},  // Drive-relative: no separator.
      {L"C:\\", L"a.txt", L"C:\\a.txt"},
      {L"C:\\dir\\", L"a.txt", L"C:\\dir\\a.txt"},
      {L"C:\\dir\\\\", L"a.txt", L"C:\\dir\\a.txt"},
      {L"C:\\dir", L"a.txt", L"C:\\dir\\a.txt"},
      {L"C:/dir/", L"a.txt", L"C:/dir\\a.txt"},
      {L".", L"a.txt", L"a.txt"},
      {L"", L"a.txt", L"a.txt"},
      {L"C:\\dir", L"", L"C:\\dir"},
      {L"\\", L"a", L"\\a"},
      {L"\\\\server", L"share", L"\\\\server\\share"},
      {L"dir", L"sub\\file", L"dir\\sub\\file"},
  };
  for (const BinaryCase& test : kCases) {
    SCOPED_TRACE(std::wstring(test.path) + L" + " + test.argument);
    EXPECT_EQ(test.expected, FilePath(test.path).Append(test.argument).value());
  }
}

TEST(FilePathTest, AppendCutsTheComponentAtItsFirstNul) {
  const std::wstring component(L"evil.txt\0.exe", 13);
  EXPECT_EQ(L"C:\\d\\evil.txt", FilePath(L"C:\\d").Append(component).value());
}

TEST(FilePathTest, DirName) {
  const UnaryCase kCases[] = {
      {L"C:\\dir\\file", L"C:\\dir"},
      {L"C:\\dir\\file\\", L"C:\\dir"},
      {L"C:\\file", L"C:\\"},
      {L"C:\\", L"C:\\"},
      {L"C:/dir/file", L"C:/dir"},
      {L"C:file", L"C:"},
      {L"C:", L"C:"},
      {L"\\\\server\\share\\file", L"\\\\server\\share"},
      {L"\\\\server\\share", L"\\\\server"},
      {L"\\\\server", L"\\\\"},
      {L"\\file", L"\\"},
      {L"dir\\\\file", L"dir"},
      {L"file", L"."},
  };
  for (const UnaryCase& test : kCases) {
    SCOPED_TRACE(test.path);
    EXPECT_EQ(test.expected, FilePath(test.path).DirName().value());
  }
}

TEST(FilePathTest, BaseName) {
  const UnaryCase kCases[] = {
      {L"C:\\dir\\file.exe", L"file.exe"},
      {L"C:\\dir\\sub\\", L"sub"},
      {L"C:/dir/file", L"file"},
      {L"C:file", L"file"},
      {L"file", L"file"},
      {L"C:\\", L"\\"},
      {L"\\\\server", L"server"},
  };
  for (const UnaryCase& test : kCases) {
    SCOPED_TRACE(test.path);
    EXPECT_EQ(test.expected, FilePath(test.path).BaseName().value());
  }
}

TEST(FilePathTest, RemoveExtension) {
  const UnaryCase kCases[] = {
      {L"C:\\t\\vulmo_installer_20140925093005.exe",
       L"C:\\t\\vulmo_installer_20140925093005"},
      {L"C:\\t\\archive.tar.gz", L"C:\\t\\archive.tar"},
      {L"C:\\dir.d\\file", L"C:\\dir.d\\file"},  // The dot is not in the base name.
      {L"C:\\t\\noext", L"C:\\t\\noext"},
      {L"C:\\t\\.", L"C:\\t\\."},
      {L"C:\\t\\..", L"C:\\t\\.."},
      {L"file.", L"file"},
  };
  for (const UnaryCase& test : kCases) {
    SCOPED_TRACE(test.path);
    EXPECT_EQ(test.expected, FilePath(test.path).RemoveExtension().value());
  }
}

TEST(FilePathTest, AddExtension) {
  const BinaryCase kCases[] = {
      {L"C:\\t\\package", L"7z", L"C:\\t\\package.7z"},
      {L"C:\\t\\package", L".7z", L"C:\\t\\package.7z"},
      {L"C:\\t\\package.", L"7z", L"C:\\t\\package.7z"},
      {L"C:\\t\\package.tar", L"gz", L"C:\\t\\package.tar.gz"},
      {L"C:\\t\\package", L"", L"C:\\t\\package"},
      {L"C:\\t\\package", L".", L"C:\\t\\package"},
      {L"C:\\t\\.", L"7z", L""},
      {L"C:\\t\\..", L"7z", L""},
  };
  for (const BinaryCase& test : kCases) {
    SCOPED_TRACE(std::wstring(test.path) + L" + " + test.argument);
    EXPECT_EQ(test.expected, FilePath(test.path).AddExtension(test.argument).value());
  }
}

TEST(FilePathTest, ReferencesParent) {
  const struct {
    const wchar_t* path;
    bool expected;
  } kCases[] = {
      {L"..", true},
      {L"..\\a", true},
      {L"a\\..", true},
      {L"a/../b", true},
      {L"C:\\a\\..\\b", true},
      {L"a..b", false},
      {L"...", false},
      {L"a\\..b\\c", false},
      {L"C:\\a\\b", false},
      {L"", false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.path);
    EXPECT_EQ(test.expected, FilePath(test.path).ReferencesParent());
  }
}

TEST(FilePathTest, StripTrailingSeparatorsKeepsTheRoot) {
  const UnaryCase kCases[] = {
      {L"C:\\dir\\\\", L"C:\\dir"},
      {L"C:\\", L"C:\\"},
      {L"\\\\", L"\\\\"},
      {L"\\", L"\\"},
      {L"dir/", L"dir"},
  };
  for (const UnaryCase& test : kCases) {
    SCOPED_TRACE(test.path);
    FilePath path(test.path);
    path.StripTrailingSeparators();
    EXPECT_EQ(test.expected, path.value());
  }
}

}  // namespace
}  // namespace base
