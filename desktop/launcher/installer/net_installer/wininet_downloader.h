// One HTTP or HTTPS transfer through WinINet in its asynchronous mode, into a
// file or into memory, with a host policy, progress, resume by byte range,
// counted retries and the proxy credentials prompt.
//
// Threading: every public function, the destructor and every posted
// follow-up (resume, completion, failure, progress) run on the owner's
// thread, which must run a base::MessageLoop. WinINet calls back on threads
// of its own; there the reply head is classified, the body is read and
// stored, and the follow-ups are posted to the owner's loop.
//
// Lifetime: WinINet may call back after a handle was closed, and sometimes
// after this object is gone. Each WinINet handle therefore gets a context
// object of its own that lives until the handle's last notification
// (INTERNET_STATUS_HANDLE_CLOSING) and holds the buffers that a pending
// operation writes into. The contexts share a Core with the downloader: its
// lock serialises every callback against the owner's changes, and its
// downloader pointer, cleared by the destructor, is what callbacks and
// posted tasks go through, so nothing reaches a destroyed downloader. Each
// request has a serial number; notifications of a request that was replaced
// or abandoned are ignored.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WININET_DOWNLOADER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WININET_DOWNLOADER_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/win/scoped_handle.h"

namespace base {
class TaskRunner;
}

namespace vulmo {
namespace net_installer {

class DownloaderDelegate;

enum DownloaderState {
  kStateIdle = 0,
  kStateRequesting = 1,
  kStateReceiving = 2,
  kStateStopped = 3,
  kStateFailed = 4,
  kStateCompleted = 5,
};

class WininetDownloader {
 public:
  // Size of every InternetReadFile request.
  static constexpr DWORD kReadBufferSize = 1024;
  // The largest body a download to a string keeps (the update-server reply
  // is a few kilobytes; a long partner list a few megabytes at most).
  static constexpr size_t kMaxStringDownloadSize = 16 * 1024 * 1024;
  // A retry is refused once the retry count is above this value, so a
  // download survives 601 consecutive failures without an accepted reply.
  static constexpr int kMaxRetries = 600;
  // Delay before a counted retry, in microseconds.
  static constexpr int64_t kRetryDelay = 6 * 1000 * 1000;
  // Shortest time between two progress updates sent to the delegate; a
  // display refresh is about 16 ms.
  static constexpr uint64_t kProgressIntervalMs = 15;
  // Bytes of a download to a file collected before they are written.
  static constexpr size_t kWriteBufferSize = 64 * 1024;

  WininetDownloader();
  WininetDownloader(const WininetDownloader&) = delete;
  WininetDownloader& operator=(const WininetDownloader&) = delete;
  ~WininetDownloader();

  // Creates (or truncates) |path| as the download target and opens the
  // internet session.
  [[nodiscard]] bool PrepareDownloadToFile(const std::wstring& path);
  // The body is kept in memory (see data()); opens the internet session.
  [[nodiscard]] bool PrepareDownloadToString();
  // Hosts that the start URL and every redirect may name: a host is allowed
  // when it ends with one of |suffixes| (case-sensitive). Empty allows all.
  void SetAllowedDomainSuffixes(const std::vector<std::wstring>& suffixes);

  // Sends a GET for |url|, or a POST of |post_data| (up to its first zero
  // byte) when that is not empty. True: the request is on its way and
  // |done_callback| runs later on this thread, once the state is final
  // (kStateCompleted or kStateFailed). False: nothing was sent and
  // |done_callback| will not run. Refused unless the downloader is still
  // idle: a downloader carries one transfer (a start that returned false
  // may be tried again). |delegate| (not owned) must outlive this object.
  [[nodiscard]] bool StartDownload(const std::wstring& url,
                                   const std::string& post_data,
                                   DownloaderDelegate* delegate,
                                   base::RepeatingClosure done_callback);
  // Closes the target file and enters kStateStopped, which is final: no
  // later notification retries, resumes, completes or fails the download,
  // and |done_callback| does not run.
  void StopDownload();

  DownloaderState state() const {
    return static_cast<DownloaderState>(state_.load());
  }
  int retry_count() const { return retry_count_.load(); }
  // The body of a download to a string; complete once the state is
  // kStateCompleted.
  const std::string& data() const { return data_; }

  // Replaces kRetryDelay, so tests can walk through the retry limit quickly.
  void set_retry_delay_for_testing(int64_t delay_us) {
    retry_delay_us_ = delay_us;
  }
  void set_max_string_size_for_testing(size_t size) {
    max_string_size_ = size;
  }
  // The next prepare installs the status callback on no handle, which
  // WinINet refuses, so tests can see a session that cannot report.
  void set_refuse_status_callback_for_testing() {
    refuse_status_callback_for_testing_ = true;
  }

 private:
  struct Core;
  struct HandleContext;
  struct UrlComponents {
    int scheme = 0;
    std::wstring host;
    unsigned int port = 0;
    std::wstring path;
  };

  static std::wstring BuildUserAgent();
  bool OpenInternet();
  static bool CrackUrl(const std::wstring& url, UrlComponents* components);
  bool IsAllowedHost(const std::wstring& host) const;
  bool SendRequest(const UrlComponents& components, const std::wstring& headers);

  // WinINet's status callback; |context| is a HandleContext.
  static void CALLBACK InternetStatusCallback(LPVOID handle, DWORD_PTR context,
                                              DWORD status, LPVOID info,
                                              DWORD info_length);
  void OnRequestComplete(const void* info);
  void OnRedirect(const void* info, DWORD info_length);
  void HandleRequestComplete();
  // Checks a 206 reply's Content-Range against the bytes stored so far and
  // the expected size; false (logged) when its bytes must not be appended.
  bool AcceptPartialReply();
  void ReadBody();
  bool StoreReadBytes();
  // Writes |write_buffer_| to the file and empties it; false when the write
  // failed or was short.
  bool FlushWrites();
  // Flushes, then closes the file (a failed flush loses only those bytes).
  void CloseFile();
  bool RestartFromZero();
  // Resumes after a body that ended early or a read that lost the
  // connection: at once when the transfer got further than before, as a
  // counted retry when it did not.
  void ResumeAfterInterruption();
  void CheckRetriesAndResume();
  void OnProxyPromptResult(DWORD result);

  // Closes the current request (and, with |close_connection|, the
  // connection) so that nothing of it is used again.
  void AbandonRequest(bool close_connection);
  void SetState(DownloaderState state);
  // Requesting or receiving: the only states in which anything still acts.
  bool IsActive() const;

  // Owner-thread follow-ups, always reached through PostToOwner.
  void ResumeDownload();
  void OnDownloadCompleted();
  void OnDownloadFailed();

  using Method = void (WininetDownloader::*)();
  void PostToOwner(const base::Location& from_here, Method method,
                   int64_t delay_us = 0);
  void PostProgressRange(uint32_t total);
  // Hands |position| to the delegate on the owner's thread, at most once
  // per kProgressIntervalMs and one task at a time: a download reports every
  // 1 KiB, and a task per piece would keep the owner's thread (and, under
  // Wine, the wineserver) busier than the transfer itself. A position held
  // back goes out with FlushProgress, which runs before every follow-up
  // task and whenever the read loop waits for the network, so the delegate
  // always sees the latest size, in order, before the download's outcome.
  void PostProgress(uint32_t position);
  void FlushProgress();
  void QueueProgressTask(uint64_t now);

  std::atomic<int> state_{kStateIdle};
  void* internet_ = nullptr;
  void* connection_ = nullptr;
  void* request_ = nullptr;
  bool to_string_ = false;
  std::wstring url_;
  // Request body; null sends a GET.
  std::unique_ptr<std::string> post_data_;
  std::vector<std::wstring> allowed_domain_suffixes_;
  base::win::ScopedFileHandle file_;
  // Pieces stored but not yet written to |file_|: the 1 KiB pieces go to
  // the file kWriteBufferSize bytes at a time, because a write per piece
  // costs about as much as the read itself. Written before every follow-up
  // that relies on the file (resume, completion) and when the file closes.
  std::string write_buffer_;
  uint32_t expected_size_ = 0;
  std::string data_;
  uint32_t downloaded_size_ = 0;
  DownloaderDelegate* delegate_ = nullptr;
  std::shared_ptr<base::TaskRunner> task_runner_;
  base::RepeatingClosure done_callback_;
  std::atomic<int> retry_count_{0};
  int64_t retry_delay_us_ = kRetryDelay;
  size_t max_string_size_ = kMaxStringDownloadSize;
  bool refuse_status_callback_for_testing_ = false;
  // The most bytes stored when a request was last resumed: a reply counts
  // as progress only once the downloaded size passes it.
  uint32_t resume_mark_ = 0;

  // Shared with the handle contexts and posted tasks; outlives this object.
  std::shared_ptr<Core> core_;
  // Context of the live request (owned by its WinINet handle), or null.
  HandleContext* request_context_ = nullptr;
  uint32_t next_request_serial_ = 0;
  // A 407 reply waits for the credentials prompt, which the status callback
  // shows after releasing the lock.
  bool proxy_prompt_pending_ = false;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_WININET_DOWNLOADER_H_
