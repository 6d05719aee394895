#include "desktop/launcher/installer/net_installer/lzma_util.h"

#include <atomic>
#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/net_installer/extraction_observer.h"
#include "desktop/launcher/installer/net_installer/verification_unittests/test_support.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

class RecordingObserver : public ExtractionObserver {
 public:
  void SetProgressRange(uint32_t total) override { ranges.push_back(total); }
  void SetProgress(uint32_t position) override {
    positions.push_back(position);
    if (cancel && position == cancel_at)
      cancel->store(true);
  }

  std::vector<uint32_t> ranges;
  std::vector<uint32_t> positions;
  // When set, raised on reaching |cancel_at|, as a closing owner would.
  std::atomic<bool>* cancel = nullptr;
  uint32_t cancel_at = 0;
};

// The last-write time of |path| in 100 ns units, or 0.
uint64_t LastWriteTime(const std::wstring& path) {
  base::win::ScopedFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME written;
  if (!file.IsValid() || !::GetFileTime(file.Get(), nullptr, nullptr, &written))
    return 0;
  return static_cast<uint64_t>(written.dwHighDateTime) << 32 |
         written.dwLowDateTime;
}

uint64_t UtcTime(WORD year, WORD month, WORD day, WORD hour, WORD minute,
                 WORD second) {
  SYSTEMTIME time = {};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  FILETIME file_time;
  if (!::SystemTimeToFileTime(&time, &file_time))
    return 0;
  return static_cast<uint64_t>(file_time.dwHighDateTime) << 32 |
         file_time.dwLowDateTime;
}

class LzmaUtilTest : public VerificationTest {
 protected:
  // Opens archives/|name| and extracts it into |output|.
  DWORD Extract(const std::wstring& name, const std::wstring& output,
                ExtractionObserver* observer = nullptr,
                const std::atomic<bool>* cancel = nullptr) {
    LzmaUtil lzma;
    lzma.SetObserver(observer);
    lzma.SetCancelFlag(cancel);
    const DWORD opened = lzma.OpenArchive(FixturePath(L"archives/" + name));
    EXPECT_EQ(0u, opened) << "cannot open " << base::UTF16ToUTF8(name);
    if (opened != 0)
      return opened;
    const DWORD result = lzma.ExtractArchive(output);
    lzma.CloseArchive();
    return result;
  }

  void ExpectNestedTree(const std::wstring& out) {
    EXPECT_EQ("top level\n", ReadFileBytes(out + L"\\top.txt"));
    EXPECT_EQ("deep file\n", ReadFileBytes(out + L"\\a\\b\\c.txt"));
    EXPECT_EQ(
        "unicode name\n",
        ReadFileBytes(out + L"\\\u00fcn\u00efc\u00f8d\u00e9_\u540d\u524d.txt"));
    EXPECT_TRUE(FileExists(out + L"\\empty.txt"));
    EXPECT_EQ("", ReadFileBytes(out + L"\\empty.txt"));
    EXPECT_TRUE(IsDirectory(out + L"\\a\\d"));
    const std::string big = ReadFileBytes(out + L"\\big.bin");
    EXPECT_EQ(300000u, big.size());
    EXPECT_TRUE(big == ReadFileBytes(FixturePath(L"trees/nested/big.bin")));
  }
};

TEST_F(LzmaUtilTest, ExtractsNestedItemsWithContentNamesAndTimes) {
  const std::wstring out = Scratch(L"out");
  RecordingObserver observer;
  ASSERT_EQ(0u, Extract(L"nested.7z", out, &observer));

  ExpectNestedTree(out);
  EXPECT_EQ(UtcTime(2001, 2, 3, 4, 5, 6), LastWriteTime(out + L"\\empty.txt"));
  EXPECT_EQ(UtcTime(2010, 6, 7, 8, 9, 10),
            LastWriteTime(out + L"\\a\\b\\c.txt"));

  // Three directories and five files; one position per item, in order.
  EXPECT_EQ(std::vector<uint32_t>({8}), observer.ranges);
  EXPECT_EQ(std::vector<uint32_t>({0, 1, 2, 3, 4, 5, 6, 7}),
            observer.positions);
  EXPECT_EQ(std::string::npos, LogText().find(":ERROR:")) << LogText();
}

TEST_F(LzmaUtilTest, ReplacesExistingFilesAndReusesTheOpenArchive) {
  const std::wstring out = Scratch(L"out");
  ASSERT_TRUE(::CreateDirectoryW(out.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((out + L"\\a").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((out + L"\\a\\b").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(out + L"\\a\\b\\c.txt",
                             "an older and much longer content\n"));
  ASSERT_TRUE(WriteFileBytes(out + L"\\empty.txt", "not empty before"));

  LzmaUtil lzma;
  // A second open closes the first archive and reads the new one.
  ASSERT_EQ(0u, lzma.OpenArchive(FixturePath(L"archives/crc_error.7z")));
  ASSERT_EQ(0u, lzma.OpenArchive(FixturePath(L"archives/nested.7z")));
  ASSERT_EQ(0u, lzma.ExtractArchive(out));
  ExpectNestedTree(out);
  // The same open archive extracts again from its start.
  const std::wstring again = Scratch(L"again");
  ASSERT_EQ(0u, lzma.ExtractArchive(again));
  ExpectNestedTree(again);
}

TEST_F(LzmaUtilTest, ArchiveWithoutItemsCreatesNothing) {
  const std::wstring out = Scratch(L"out");
  RecordingObserver observer;
  EXPECT_EQ(0u, Extract(L"empty.7z", out, &observer));
  EXPECT_FALSE(IsDirectory(out));
  EXPECT_EQ(std::vector<uint32_t>({0}), observer.ranges);
  EXPECT_TRUE(observer.positions.empty());
}

TEST_F(LzmaUtilTest, ArchiveLevelFailuresReturnSixAndLogTheDecoderCode) {
  struct {
    const wchar_t* archive;
    const char* message;
  } const kCases[] = {
      // Not a 7z archive: SZ_ERROR_NO_ARCHIVE.
      {L"not_archive.7z", "Error returned by SzArchiveOpen: 17\n"},
      // Shorter than the start header: the read callback's end-of-file code.
      {L"short.7z", "Error returned by SzArchiveOpen: 8\n"},
      // Cut in the middle: the header at the end is gone.
      {L"truncated.7z", "Error returned by SzArchiveOpen: "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::UTF16ToUTF8(c.archive));
    const std::wstring out = Scratch(c.archive);
    RecordingObserver observer;
    EXPECT_EQ(LzmaUtil::kArchiveError, Extract(c.archive, out, &observer));
    EXPECT_NE(std::string::npos, LogText().find(c.message)) << LogText();
    EXPECT_FALSE(IsDirectory(out));
    EXPECT_TRUE(observer.ranges.empty());
  }
  EXPECT_NE(std::string::npos, LogText().find(":ERROR:lzma_util.cc("));
}

// Every method and filter the decoder is built with, each archive made by
// 7zz from the same tree (a program, a text file, random bytes).
TEST_F(LzmaUtilTest, ExtractsEveryDecodableMethodByteForByte) {
  const wchar_t* const kArchives[] = {
      L"method_lzma.7z", L"method_lzma2.7z", L"method_ppmd.7z",
      L"method_bcj.7z",  L"method_bcj2.7z",  L"method_arm64.7z",
      L"method_delta.7z",
  };
  const wchar_t* const kFiles[] = {L"bin\\program.exe", L"numbers.txt",
                                   L"random.bin"};
  for (const wchar_t* archive : kArchives) {
    SCOPED_TRACE(base::UTF16ToUTF8(archive));
    const std::wstring out = Scratch(archive);
    ASSERT_EQ(0u, Extract(archive, out)) << LogText();
    for (const wchar_t* file : kFiles) {
      const std::string expected =
          ReadFileBytes(FixturePath(std::wstring(L"trees/methods/") + file));
      ASSERT_FALSE(expected.empty());
      EXPECT_TRUE(expected == ReadFileBytes(out + L"\\" + file))
          << base::UTF16ToUTF8(file);
    }
  }
  EXPECT_EQ(std::string::npos, LogText().find(":ERROR:")) << LogText();
}

// Methods the SDK's 7z decoder does not have stop at the first file with the
// decoder's "unsupported" code, before anything of it is written.
TEST_F(LzmaUtilTest, UndecodableMethodsFailBeforeWritingAFile) {
  const wchar_t* const kArchives[] = {L"method_deflate.7z", L"method_bzip2.7z",
                                      L"method_aes.7z"};
  for (const wchar_t* archive : kArchives) {
    SCOPED_TRACE(base::UTF16ToUTF8(archive));
    const std::wstring out = Scratch(archive);
    EXPECT_EQ(LzmaUtil::kArchiveError, Extract(archive, out));
    EXPECT_NE(std::string::npos,
              LogText().find("Error returned by SzExtract: 4\n"))
        << LogText();
    EXPECT_FALSE(FileExists(out + L"\\bin\\program.exe"));
    EXPECT_FALSE(FileExists(out + L"\\numbers.txt"));
    EXPECT_FALSE(FileExists(out + L"\\random.bin"));
  }
}

TEST_F(LzmaUtilTest, CrcMismatchStopsAtTheDamagedItemAndKeepsEarlierOnes) {
  const std::wstring out = Scratch(L"out");
  EXPECT_EQ(LzmaUtil::kArchiveError, Extract(L"crc_error.7z", out));
  EXPECT_NE(std::string::npos,
            LogText().find("Error returned by SzExtract: 3\n"))
      << LogText();
  EXPECT_EQ("first item\n", ReadFileBytes(out + L"\\a_first.txt"));
  EXPECT_EQ("second item\n", ReadFileBytes(out + L"\\b_second.txt"));
  EXPECT_FALSE(FileExists(out + L"\\c_damaged.txt"));
}

TEST_F(LzmaUtilTest, NothingOpenAndOpenFailures) {
  LzmaUtil lzma;
  EXPECT_EQ(LzmaUtil::kArchiveError, lzma.ExtractArchive(Scratch(L"out")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            lzma.OpenArchive(Scratch(L"missing.7z")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
            lzma.OpenArchive(Scratch(L"missing\\x.7z")));
  EXPECT_EQ(LzmaUtil::kArchiveError, lzma.ExtractArchive(Scratch(L"out")));

  ASSERT_EQ(0u, lzma.OpenArchive(FixturePath(L"archives/nested.7z")));
  lzma.CloseArchive();
  EXPECT_EQ(LzmaUtil::kArchiveError, lzma.ExtractArchive(Scratch(L"out")));
  EXPECT_FALSE(IsDirectory(Scratch(L"out")));
  EXPECT_EQ(std::string::npos, LogText().find(":ERROR:")) << LogText();
}

TEST_F(LzmaUtilTest, OutputFileErrorsReturnThePlatformCode) {
  // A file where the directory "a" belongs: its items cannot be created.
  const std::wstring blocked = Scratch(L"blocked");
  ASSERT_TRUE(::CreateDirectoryW(blocked.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(blocked + L"\\a", "in the way"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
            Extract(L"nested.7z", blocked));
  EXPECT_NE(std::string::npos,
            LogText().find("Error returned by CreateFile: 3\n"))
      << LogText();
  // Items before the failing one stay.
  EXPECT_TRUE(FileExists(blocked + L"\\empty.txt"));

  // A file that another handle holds without sharing cannot be replaced.
  const std::wstring busy = Scratch(L"busy");
  ASSERT_TRUE(::CreateDirectoryW(busy.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(busy + L"\\empty.txt", "held open"));
  {
    base::win::ScopedFileHandle holder(
        ::CreateFileW((busy + L"\\empty.txt").c_str(), GENERIC_READ, 0, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              Extract(L"nested.7z", busy));
  }
  EXPECT_NE(std::string::npos,
            LogText().find("Error returned by CreateFile: 32\n"))
      << LogText();
  EXPECT_EQ("held open", ReadFileBytes(busy + L"\\empty.txt"));

  // A directory where a file item belongs.
  const std::wstring occupied = Scratch(L"occupied");
  ASSERT_TRUE(::CreateDirectoryW(occupied.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((occupied + L"\\empty.txt").c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            Extract(L"nested.7z", occupied));
  EXPECT_NE(std::string::npos,
            LogText().find("Error returned by CreateFile: 5\n"))
      << LogText();
}

TEST_F(LzmaUtilTest, RefusesItemNamesThatLeaveTheOutputDirectory) {
  struct {
    const wchar_t* archive;
    const wchar_t* name;
  } const kCases[] = {
      {L"unsafe_parent_slash.7z", L"../escape_parent_slash.txt"},
      {L"unsafe_parent_backslash.7z", L"..\\escape_parent_backslash.txt"},
      {L"unsafe_parent_nested.7z", L"a/../../escape_parent_nested.txt"},
      {L"unsafe_rooted_slash.7z", L"/escape_rooted_slash.txt"},
      {L"unsafe_rooted_backslash.7z", L"\\escape_rooted_backslash.txt"},
      {L"unsafe_drive_relative.7z", L"C:escape_drive_relative.txt"},
      {L"unsafe_drive_absolute.7z", L"C:\\escape_drive_absolute.txt"},
      {L"unsafe_unc.7z", L"\\\\localhost\\c$\\escape_unc.txt"},
      {L"unsafe_dots_only.7z", L"a/.../escape_dots_only.txt"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::UTF16ToUTF8(c.archive));
    const std::wstring out = Scratch(std::wstring(c.archive) + L".out");
    EXPECT_EQ(LzmaUtil::kUnsafeItemName, Extract(c.archive, out));
    EXPECT_NE(
        std::string::npos,
        LogText().find("Refusing item name outside the output directory: " +
                       base::UTF16ToUTF8(c.name) + "\n"))
        << LogText();
    // Wherever the platform would have put it, it is not there.
    wchar_t target[MAX_PATH];
    const DWORD length = ::GetFullPathNameW((out + L"\\" + c.name).c_str(),
                                            MAX_PATH, target, nullptr);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_FALSE(FileExists(target)) << base::UTF16ToUTF8(target);
    EXPECT_FALSE(FileExists(std::wstring(c.name)));
  }
}

// Names that would open a device, or that no file can have, are refused with
// the name in the log.
TEST_F(LzmaUtilTest, RefusesDeviceNamesAndReservedCharacters) {
  const std::string kOutside =
      "Refusing item name outside the output directory: ";
  const std::string kCharacter =
      "Refusing item name with a character file names cannot hold: ";
  struct {
    const wchar_t* archive;
    const wchar_t* name;
    const std::string& message;
  } const kCases[] = {
      {L"unsafe_device_nul.7z", L"nul.txt", kOutside},
      {L"unsafe_device_com.7z", L"a/COM1", kOutside},
      {L"unsafe_device_con.7z", L"con .log", kOutside},
      {L"unsafe_reserved_question.7z", L"a?b.txt", kCharacter},
      {L"unsafe_reserved_pipe.7z", L"x/a|b.txt", kCharacter},
      {L"unsafe_reserved_control.7z", L"tab\tname.txt", kCharacter},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(base::UTF16ToUTF8(c.archive));
    const std::wstring out = Scratch(std::wstring(c.archive) + L".out");
    EXPECT_EQ(LzmaUtil::kUnsafeItemName, Extract(c.archive, out));
    EXPECT_NE(std::string::npos,
              LogText().find(c.message + base::UTF16ToUTF8(c.name) + "\n"))
        << LogText();
  }
}

TEST_F(LzmaUtilTest, UnusualButContainedNamesAreExtracted) {
  const std::wstring out = Scratch(L"out");
  ASSERT_EQ(0u, Extract(L"safe_names.7z", out));
  EXPECT_EQ("one\n", ReadFileBytes(out + L"\\a..b\\c..txt"));
  EXPECT_EQ("two\n", ReadFileBytes(out + L"\\.hidden"));
  EXPECT_EQ("three\n", ReadFileBytes(out + L"\\x\\y.txt"));
}

TEST_F(LzmaUtilTest, ItemNameRules) {
  struct {
    const wchar_t* name;
    bool safe;
  } const kCases[] = {
      {L"installer.exe", true},
      {L"a/b/c.txt", true},
      {L"a\\b\\c.txt", true},
      {L"a..b/c..txt", true},
      {L".hidden", true},
      {L"./a.txt", true},
      {L"a/./b.txt", true},
      {L"..a/b..", true},
      {L"", true},
      {L"..", false},
      {L"../a", false},
      {L"a/..", false},
      {L"a\\..\\..\\b", false},
      {L"a/.../b", false},
      {L"a/.. /b", false},
      {L"a/. ./b", false},
      {L"/a", false},
      {L"\\a", false},
      {L"\\\\server\\share\\a", false},
      {L"//server/share/a", false},
      {L"\\\\?\\C:\\a", false},
      {L"C:a", false},
      {L"C:\\a", false},
      {L"c:/a", false},
      {L"a/b:stream", false},
      {L"CON", false},
      {L"nul.txt", false},
      {L"a/Aux.tar.gz", false},
      {L"prn  .txt", false},
      {L"com1", false},
      {L"LPT9.log", false},
      {L"a/conin$", false},
      {L"CONOUT$.txt", false},
      {L"conin.txt", true},
      {L"console.txt", true},
      {L"com10", true},
      {L"com0", true},
      {L"nullable/x", true},
      {L"x.nul", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.safe, LzmaUtil::IsSafeItemName(c.name))
        << "'" << base::UTF16ToUTF8(c.name) << "'";
  }
  struct {
    const wchar_t* name;
    bool valid;
  } const kCharacterCases[] = {
      {L"a b-c_d+e=f,g;h'i[j]k{l}m~n!o@p#q$r%s^t&u(v)w.txt", true},
      {L"\u00fcn\u00efc\u00f8d\u00e9/\u540d\u524d", true},
      {L"a<b", false}, {L"a>b", false}, {L"a\"b", false}, {L"a|b", false},
      {L"a?b", false}, {L"a*b", false}, {L"a\x01z", false}, {L"a\x1fz", false},
  };
  for (const auto& c : kCharacterCases) {
    EXPECT_EQ(c.valid, LzmaUtil::HasOnlyValidCharacters(c.name))
        << "'" << base::UTF16ToUTF8(c.name) << "'";
  }
}

TEST_F(LzmaUtilTest, CancelFlagStopsBeforeTheNextItem) {
  // Raised while item 1 is reported: items 0 and 1 are done, no more.
  std::atomic<bool> cancel(false);
  RecordingObserver observer;
  observer.cancel = &cancel;
  observer.cancel_at = 1;
  const std::wstring out = Scratch(L"out");
  EXPECT_EQ(LzmaUtil::kCancelled,
            Extract(L"nested.7z", out, &observer, &cancel));
  EXPECT_EQ(std::vector<uint32_t>({0, 1}), observer.positions);
  EXPECT_TRUE(IsDirectory(out + L"\\a\\b"));
  EXPECT_FALSE(FileExists(out + L"\\top.txt"));
  EXPECT_NE(std::string::npos, LogText().find(":INFO:lzma_util.cc("));
  EXPECT_NE(std::string::npos, LogText().find("] Extraction cancelled\n"));

  // Raised before the start: nothing is written.
  std::atomic<bool> cancelled(true);
  const std::wstring none = Scratch(L"none");
  EXPECT_EQ(LzmaUtil::kCancelled,
            Extract(L"nested.7z", none, nullptr, &cancelled));
  EXPECT_FALSE(IsDirectory(none));
}

TEST_F(LzmaUtilTest, MakersPackageUnpacksAfterItsFirstSignature) {
  const std::string package = ReadFileBytes(FixturePath(L"signed/package.exe"));
  const std::string stub = ReadFileBytes(FixturePath(L"signed/unsigned.exe"));
  ASSERT_FALSE(stub.empty());
  const std::string signature("7z\xBC\xAF\x27\x1C", 6);
  // The stub holds no signature, so the archive starts right after it.
  ASSERT_EQ(stub.size(), package.find(signature));
  const std::wstring archive = Scratch(L"package.7z");
  ASSERT_TRUE(WriteFileBytes(archive, package.substr(stub.size())));

  LzmaUtil lzma;
  ASSERT_EQ(0u, lzma.OpenArchive(archive));
  const std::wstring out = Scratch(L"out");
  ASSERT_EQ(0u, lzma.ExtractArchive(out));
  ExpectNestedTree(out);

  // The stub run with --extract-archive writes the archive without the
  // signature that follows it.
  const std::wstring written = Scratch(L"written.7z");
  std::wstring command = L"\"" + FixturePath(L"signed/package.exe") +
                         L"\" --extract-archive \"" + written + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process));
  base::win::ScopedHandle process_handle(process.hProcess);
  base::win::ScopedHandle thread_handle(process.hThread);
  ASSERT_EQ(WAIT_OBJECT_0,
            ::WaitForSingleObject(process_handle.Get(), 30 * 1000));
  DWORD exit_code = 1;
  ASSERT_TRUE(::GetExitCodeProcess(process_handle.Get(), &exit_code));
  EXPECT_EQ(0u, exit_code);
  const std::string extracted = ReadFileBytes(written);
  ASSERT_GT(extracted.size(), 32u);
  EXPECT_EQ(0, package.compare(stub.size(), extracted.size(), extracted));
  EXPECT_LT(stub.size() + extracted.size(), package.size());
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo
