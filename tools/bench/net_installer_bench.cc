// The benchmark's Windows side: runs one step of the installer with the
// program's own code and prints how long the step took inside the process,
// so the caller can tell the step's cost from Wine's start-up cost.
//
//   net_installer_bench nothing
//   net_installer_bench download URL OUTPUT_FILE
//   net_installer_bench wininet-reads URL OUTPUT_FILE READ_SIZE
//   net_installer_bench checksum FILE EXPECTED_SHA256
//   net_installer_bench signature FILE
//   net_installer_bench strip PACKAGE ARCHIVE
//   net_installer_bench extract ARCHIVE OUTPUT_DIRECTORY
//
// Prints "step_ms=N" and exits with 0 when the step succeeded.

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/at_exit.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/checksum_checker.h"
#include "desktop/launcher/installer/net_installer/downloader_delegate.h"
#include "desktop/launcher/installer/net_installer/lzma_util.h"
#include "desktop/launcher/installer/net_installer/sfx_stripper.h"
#include "desktop/launcher/installer/net_installer/signature_verifier.h"
#include "desktop/launcher/installer/net_installer/wininet_downloader.h"

namespace vulmo {
namespace net_installer {
namespace {

// Takes the progress the downloader posts, as the progress dialog would.
class CountingDelegate : public DownloaderDelegate {
 public:
  HWND hwnd() const override { return nullptr; }
  void SetProgressRange(uint32_t total) override { total_ = total; }
  void SetProgress(uint32_t position) override {
    position_ = position;
    ++updates_;
  }
  uint32_t total_ = 0;
  uint32_t position_ = 0;
  uint64_t updates_ = 0;
};

bool Download(const std::wstring& url, const std::wstring& output) {
  base::MessageLoop loop(base::MessageLoop::TYPE_UI);
  WininetDownloader downloader;
  if (!downloader.PrepareDownloadToFile(output))
    return false;
  CountingDelegate delegate;
  base::RunLoop run_loop;
  if (!downloader.StartDownload(url, std::string(), &delegate,
                                [&run_loop] { run_loop.Quit(); })) {
    return false;
  }
  run_loop.Run();
  std::printf("bytes=%u progress_updates=%llu\n", delegate.position_,
              static_cast<unsigned long long>(delegate.updates_));
  return downloader.state() == kStateCompleted;
}

// WinINet alone, synchronous, with reads of |read_size| bytes: what the
// platform costs per read, without the downloader around it.
bool ReadWithWininet(const std::wstring& url, const std::wstring& output,
                     DWORD read_size) {
  HINTERNET internet = ::InternetOpenW(L"net_installer_bench",
                                       INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET request =
      internet ? ::InternetOpenUrlW(internet, url.c_str(), nullptr, 0,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
               : nullptr;
  HANDLE file = ::CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
  bool succeeded = request && file != INVALID_HANDLE_VALUE;
  std::string buffer(read_size, '\0');
  DWORD read = 0;
  while (succeeded) {
    succeeded = ::InternetReadFile(request, &buffer[0], read_size, &read) != FALSE;
    if (!succeeded || read == 0)
      break;
    DWORD written = 0;
    succeeded = ::WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
  }
  if (file != INVALID_HANDLE_VALUE)
    ::CloseHandle(file);
  if (request)
    ::InternetCloseHandle(request);
  if (internet)
    ::InternetCloseHandle(internet);
  return succeeded;
}

// Opens both files the way the driver does before it strips the header.
bool Strip(const std::wstring& package_path, const std::wstring& archive_path) {
  HANDLE package = ::CreateFileW(package_path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0,
                                 nullptr);
  if (package == INVALID_HANDLE_VALUE)
    return false;
  HANDLE archive = ::CreateFileW(archive_path.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                                 nullptr);
  if (archive == INVALID_HANDLE_VALUE) {
    ::CloseHandle(package);
    return false;
  }
  const bool stripped = StripSfxHeader(package, archive) == SfxStripResult::kStripped;
  ::CloseHandle(archive);
  ::CloseHandle(package);
  return stripped;
}

bool Extract(const std::wstring& archive, const std::wstring& destination) {
  LzmaUtil lzma;
  const bool extracted =
      lzma.OpenArchive(archive) == 0 && lzma.ExtractArchive(destination) == 0;
  lzma.CloseArchive();
  return extracted;
}

bool RunStep(int argc, wchar_t** argv) {
  const std::wstring step = argc > 1 ? argv[1] : L"";
  if (step == L"nothing" && argc == 2)
    return true;
  if (step == L"signature" && argc == 3)
    return VerifySignature(argv[2]);
  if (step == L"wininet-reads" && argc == 5)
    return ReadWithWininet(argv[2], argv[3], static_cast<DWORD>(_wtoi(argv[4])));
  if (argc != 4)
    return false;
  if (step == L"download")
    return Download(argv[2], argv[3]);
  if (step == L"checksum")
    return VerifyChecksum(argv[2], base::UTF16ToUTF8(argv[3]));
  if (step == L"strip")
    return Strip(argv[2], argv[3]);
  if (step == L"extract")
    return Extract(argv[2], argv[3]);
  return false;
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo

int wmain(int argc, wchar_t** argv) {
  base::AtExitManager exit_manager;
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  const bool succeeded = vulmo::net_installer::RunStep(argc, argv);
  ::QueryPerformanceCounter(&end);
  const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart);
  std::printf("step_ms=%.1f\n", ms);
  if (!succeeded)
    std::fprintf(stderr, "net_installer_bench: the step failed\n");
  return succeeded ? 0 : 1;
}
