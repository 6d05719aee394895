#include "base/files/file_util.h"

#include <windows.h>

#include <string>

#include "base/strings/utf_string_conversions.h"
#include "base/test/temp_dir.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class FileUtilTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_dir_.path().empty()); }

  FilePath Path(const wchar_t* relative) const {
    return temp_dir_.path().Append(relative);
  }

  // A small tree: dir\a.txt, dir\sub\b.txt (read-only), dir\sub\empty\.
  void MakeTree(const FilePath& dir) {
    ASSERT_TRUE(CreateDirectory(dir.Append(L"sub").Append(L"empty")));
    ASSERT_TRUE(WriteTextFile(dir.Append(L"a.txt"), "alpha"));
    ASSERT_TRUE(WriteTextFile(dir.Append(L"sub").Append(L"b.txt"), "beta"));
    ASSERT_TRUE(::SetFileAttributesW(
        dir.Append(L"sub").Append(L"b.txt").value().c_str(),
        FILE_ATTRIBUTE_READONLY));
  }

  TempDir temp_dir_;
};

TEST_F(FileUtilTest, ExistenceChecks) {
  ASSERT_TRUE(WriteTextFile(Path(L"file"), "x"));
  EXPECT_TRUE(PathExists(Path(L"file")));
  EXPECT_FALSE(DirectoryExists(Path(L"file")));
  EXPECT_TRUE(PathExists(temp_dir_.path()));
  EXPECT_TRUE(DirectoryExists(temp_dir_.path()));
  EXPECT_FALSE(PathExists(Path(L"missing")));
  EXPECT_FALSE(DirectoryExists(Path(L"missing")));
}

TEST_F(FileUtilTest, CreateDirectoryMakesAllAncestors) {
  const FilePath deep = Path(L"a\\b\\c");
  EXPECT_TRUE(CreateDirectory(deep));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(CreateDirectory(deep));  // Already there.
  EXPECT_TRUE(CreateDirectory(Path(L"a/b/d/")));
  EXPECT_TRUE(DirectoryExists(Path(L"a\\b\\d")));
}

TEST_F(FileUtilTest, CreateDirectoryOverAFileFails) {
  ASSERT_TRUE(WriteTextFile(Path(L"file"), "x"));
  EXPECT_FALSE(CreateDirectory(Path(L"file")));
  EXPECT_FALSE(CreateDirectory(Path(L"file\\below")));
  EXPECT_FALSE(DirectoryExists(Path(L"file\\below")));
}

TEST_F(FileUtilTest, CreateDirectoryOnAMissingDriveFails) {
  // Find a drive letter that does not exist.
  const DWORD drives = ::GetLogicalDrives();
  wchar_t letter = 0;
  for (int i = 25; i >= 3 && !letter; --i) {
    if (!(drives & (1u << i)))
      letter = static_cast<wchar_t>(L'A' + i);
  }
  ASSERT_NE(0, letter);
  const std::wstring path = std::wstring(1, letter) + L":\\vulmo\\dir";
  EXPECT_FALSE(CreateDirectory(FilePath(path)));
}

TEST_F(FileUtilTest, DeleteMissingPathsSucceeds) {
  EXPECT_TRUE(DeleteFile(Path(L"missing"), false));
  EXPECT_TRUE(DeleteFile(Path(L"missing"), true));
  EXPECT_TRUE(DeleteFile(Path(L"missing\\parent\\file"), true));
  EXPECT_TRUE(DeleteFile(FilePath(), true));
}

TEST_F(FileUtilTest, DeleteFileNonRecursive) {
  ASSERT_TRUE(WriteTextFile(Path(L"file"), "x"));
  EXPECT_TRUE(DeleteFile(Path(L"file"), false));
  EXPECT_FALSE(PathExists(Path(L"file")));

  ASSERT_TRUE(CreateDirectory(Path(L"empty")));
  EXPECT_TRUE(DeleteFile(Path(L"empty"), false));
  EXPECT_FALSE(PathExists(Path(L"empty")));
}

TEST_F(FileUtilTest, NonRecursiveDeleteOfANonEmptyDirectoryFails) {
  MakeTree(Path(L"tree"));
  EXPECT_FALSE(DeleteFile(Path(L"tree"), false));
  EXPECT_TRUE(PathExists(Path(L"tree\\a.txt")));
  EXPECT_TRUE(PathExists(Path(L"tree\\sub\\b.txt")));
}

TEST_F(FileUtilTest, RecursiveDeleteRemovesATreeWithReadOnlyFiles) {
  MakeTree(Path(L"tree"));
  EXPECT_TRUE(DeleteFile(Path(L"tree"), true));
  EXPECT_FALSE(PathExists(Path(L"tree")));
}

TEST_F(FileUtilTest, DeleteRefusesLongAndWildcardPaths) {
  ASSERT_TRUE(WriteTextFile(Path(L"keep1.txt"), "1"));
  ASSERT_TRUE(WriteTextFile(Path(L"keep2.txt"), "2"));
  // The shell would expand these to every matching file.
  EXPECT_FALSE(DeleteFile(Path(L"*"), true));
  EXPECT_FALSE(DeleteFile(Path(L"keep?.txt"), false));
  EXPECT_TRUE(PathExists(Path(L"keep1.txt")));
  EXPECT_TRUE(PathExists(Path(L"keep2.txt")));

  const FilePath long_path = Path(std::wstring(260, L'x').c_str());
  EXPECT_FALSE(DeleteFile(long_path, true));
  EXPECT_FALSE(DeleteFile(long_path, false));
}

TEST_F(FileUtilTest, MoveReplacesAnExistingFile) {
  ASSERT_TRUE(WriteTextFile(Path(L"from"), "new"));
  ASSERT_TRUE(WriteTextFile(Path(L"to"), "old contents"));
  EXPECT_TRUE(Move(Path(L"from"), Path(L"to")));
  EXPECT_FALSE(PathExists(Path(L"from")));
  EXPECT_EQ("new", ReadTextFile(Path(L"to")));
}

TEST_F(FileUtilTest, MoveDirectory) {
  MakeTree(Path(L"tree"));
  EXPECT_TRUE(Move(Path(L"tree"), Path(L"moved")));
  EXPECT_FALSE(PathExists(Path(L"tree")));
  EXPECT_EQ("beta", ReadTextFile(Path(L"moved\\sub\\b.txt")));
  EXPECT_TRUE(DirectoryExists(Path(L"moved\\sub\\empty")));
}

TEST_F(FileUtilTest, MoveRefusesParentReferencesAndKeepsTheSystemError) {
  ASSERT_TRUE(CreateDirectory(Path(L"d")));
  ASSERT_TRUE(WriteTextFile(Path(L"file"), "x"));
  EXPECT_FALSE(Move(Path(L"file"), Path(L"d\\..\\other")));
  EXPECT_FALSE(Move(Path(L"d\\..\\file"), Path(L"other")));
  EXPECT_TRUE(PathExists(Path(L"file")));
  EXPECT_FALSE(PathExists(Path(L"other")));

  // A failed move reports MoveFileExW's own error, not one from the
  // directory-copy fallback.
  ::SetLastError(0);
  EXPECT_FALSE(Move(Path(L"missing"), Path(L"other")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
}

TEST_F(FileUtilTest, MoveOfAFileOntoADirectoryFails) {
  ASSERT_TRUE(WriteTextFile(Path(L"file"), "x"));
  MakeTree(Path(L"tree"));
  EXPECT_FALSE(Move(Path(L"file"), Path(L"tree")));
  EXPECT_EQ("x", ReadTextFile(Path(L"file")));
  EXPECT_EQ("alpha", ReadTextFile(Path(L"tree\\a.txt")));
}

TEST_F(FileUtilTest, MoveAcrossVolumes) {
  // Wine maps drive Z: to the Linux root, and /dev/shm is a separate file
  // system from the prefix's C: drive. A directory cannot be renamed across
  // file systems, so Move has to copy it.
  const FilePath other_volume(L"Z:\\dev\\shm\\vulmo_move_" +
                              std::to_wstring(::GetCurrentProcessId()));
  if (!CreateDirectory(other_volume))
    GTEST_SKIP() << "no second file system at Z:\\dev\\shm";
  MakeTree(Path(L"tree"));
  const FilePath target = other_volume.Append(L"tree");
  const bool moved = Move(Path(L"tree"), target);
  const std::string b = ReadTextFile(target.Append(L"sub\\b.txt"));
  const bool empty_copied = DirectoryExists(target.Append(L"sub\\empty"));
  const bool source_gone = !PathExists(Path(L"tree"));
  ASSERT_TRUE(WriteTextFile(Path(L"file"), "file contents"));
  const bool file_moved = Move(Path(L"file"), other_volume.Append(L"file"));
  const std::string file = ReadTextFile(other_volume.Append(L"file"));
  (void)DeleteFile(other_volume, true);
  EXPECT_TRUE(moved);
  EXPECT_EQ("beta", b);
  EXPECT_TRUE(empty_copied);
  EXPECT_TRUE(source_gone);
  EXPECT_TRUE(file_moved);
  EXPECT_EQ("file contents", file);
}

bool IsReparsePoint(const FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Under Wine only: the Unix path of |path|, or empty.
std::string UnixPath(const FilePath& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"),
                       "wine_get_unix_file_name")));
  char* unix_path = to_unix ? to_unix(path.value().c_str()) : nullptr;
  if (!unix_path)
    return std::string();
  std::string result = unix_path;
  ::HeapFree(::GetProcessHeap(), 0, unix_path);
  return result;
}

// Makes |link| a directory symbolic link to |target|. Wine's
// CreateSymbolicLinkW reports success without making anything, but Wine
// shows a Unix symbolic link as a reparse point: there the link is made
// with the system's ln (Wine runs Unix programs too).
bool MakeDirectoryLink(const FilePath& link, const FilePath& target) {
  if (::CreateSymbolicLinkW(link.value().c_str(), target.value().c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY) &&
      IsReparsePoint(link)) {
    return true;
  }
  const std::string unix_target = UnixPath(target);
  const std::string unix_link = UnixPath(link);
  if (unix_target.empty() || unix_link.empty())
    return false;
  std::wstring command = L"/bin/ln -s \"" + UTF8ToUTF16(unix_target) + L"\" \"" +
                         UTF8ToUTF16(unix_link) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE,
                        0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  // Wine does not track a Unix child: its handle may be signalled before
  // ln has run. Look for the link itself, for a bounded time.
  ::WaitForSingleObject(process.hProcess, 10000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int i = 0; i < 100 && !IsReparsePoint(link); ++i)
    ::Sleep(50);
  return IsReparsePoint(link);
}

// A link inside a tree that has to be copied across volumes: the copy must
// not walk into the tree it leads to, or the delete of the source that ends
// the move would reach that tree too. The move is refused; both trees stay.
TEST_F(FileUtilTest, MoveAcrossVolumesNeverFollowsALink) {
  const FilePath other_volume(L"Z:\\dev\\shm\\vulmo_link_" +
                              std::to_wstring(::GetCurrentProcessId()));
  if (!CreateDirectory(other_volume))
    GTEST_SKIP() << "no second file system at Z:\\dev\\shm";
  MakeTree(Path(L"outside"));
  ASSERT_TRUE(CreateDirectory(Path(L"tree")));
  ASSERT_TRUE(WriteTextFile(Path(L"tree\\own.txt"), "own"));
  if (!MakeDirectoryLink(Path(L"tree\\link"), Path(L"outside"))) {
    (void)DeleteFile(other_volume, true);
    GTEST_SKIP() << "cannot make a directory link here";
  }
  const FilePath target = other_volume.Append(L"tree");
  const bool moved = Move(Path(L"tree"), target);
  const bool followed = PathExists(target.Append(L"link\\a.txt"));
  (void)DeleteFile(other_volume, true);
  EXPECT_FALSE(moved);
  EXPECT_FALSE(followed);
  EXPECT_EQ("alpha", ReadTextFile(Path(L"outside\\a.txt")));
  EXPECT_EQ("beta", ReadTextFile(Path(L"outside\\sub\\b.txt")));
  EXPECT_EQ("own", ReadTextFile(Path(L"tree\\own.txt")));
  EXPECT_TRUE(IsReparsePoint(Path(L"tree\\link")));
}

TEST_F(FileUtilTest, CopyFileOverwritesAndClearsReadOnly) {
  MakeTree(Path(L"tree"));
  ASSERT_TRUE(WriteTextFile(Path(L"copy.txt"), "will be replaced"));
  EXPECT_TRUE(CopyFile(Path(L"tree\\sub\\b.txt"), Path(L"copy.txt")));
  EXPECT_EQ("beta", ReadTextFile(Path(L"copy.txt")));
  const DWORD attributes = ::GetFileAttributesW(Path(L"copy.txt").value().c_str());
  EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(CopyFile(Path(L"missing"), Path(L"copy2.txt")));
}

TEST_F(FileUtilTest, WriteToFileReplacesTheWholeFile) {
  const FilePath file = Path(L"data.bin");
  ASSERT_TRUE(WriteTextFile(file, "a much longer earlier content"));
  const char kData[] = {'a', '\0', 'b'};
  EXPECT_EQ(3, WriteToFile(file, kData, 3));
  EXPECT_EQ(std::string(kData, 3), ReadTextFile(file));
  EXPECT_EQ(0, WriteToFile(file, "", 0));
  EXPECT_EQ("", ReadTextFile(file));
  EXPECT_EQ(-1, WriteToFile(Path(L"missing\\data.bin"), "x", 1));
  EXPECT_EQ(-1, WriteToFile(file, "x", -1));
}

TEST_F(FileUtilTest, AppendToFileNeedsAnExistingFile) {
  const FilePath file = Path(L"list.txt");
  EXPECT_EQ(-1, AppendToFile(file, "x", 1));
  EXPECT_FALSE(PathExists(file));
  ASSERT_TRUE(WriteTextFile(file, "one\n"));
  EXPECT_EQ(4, AppendToFile(file, "two\n", 4));
  EXPECT_EQ("one\ntwo\n", ReadTextFile(file));
}

TEST_F(FileUtilTest, WriteFailsWhileAnotherHandleIsOpen) {
  // Both writes ask for exclusive access.
  const FilePath file = Path(L"locked.txt");
  ASSERT_TRUE(WriteTextFile(file, "keep"));
  HANDLE open = ::CreateFileW(file.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, open);
  EXPECT_EQ(-1, WriteToFile(file, "x", 1));
  EXPECT_EQ(-1, AppendToFile(file, "x", 1));
  ::CloseHandle(open);
  EXPECT_EQ("keep", ReadTextFile(file));
}

TEST_F(FileUtilTest, GetTempDirHasNoTrailingSeparator) {
  FilePath temp;
  ASSERT_TRUE(GetTempDir(&temp));
  ASSERT_FALSE(temp.empty());
  EXPECT_FALSE(FilePath::IsSeparator(temp.value().back()));
  EXPECT_TRUE(DirectoryExists(temp));
}

TEST_F(FileUtilTest, GetFileInfo) {
  const Time before = Time::Now() - TimeDelta::FromSeconds(5);
  ASSERT_TRUE(WriteTextFile(Path(L"f"), "12345"));
  FileInfo info;
  ASSERT_TRUE(GetFileInfo(Path(L"f"), &info));
  EXPECT_EQ(5, info.size);
  EXPECT_FALSE(info.is_directory);
  const Time after = Time::Now() + TimeDelta::FromSeconds(5);
  EXPECT_LT(before, info.last_modified);
  EXPECT_GT(after, info.last_modified);
  EXPECT_LT(before, info.creation_time);
  EXPECT_GT(after, info.last_accessed);

  ASSERT_TRUE(GetFileInfo(temp_dir_.path(), &info));
  EXPECT_TRUE(info.is_directory);
  EXPECT_FALSE(GetFileInfo(Path(L"missing"), &info));
}

}  // namespace
}  // namespace base
