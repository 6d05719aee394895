#include "desktop/launcher/installer/net_installer/wininet_downloader.h"

#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <utility>

#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/task_runner.h"
#include "base/strings/number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "build_constants.h"
#include "desktop/launcher/installer/net_installer/downloader_delegate.h"

namespace vulmo {
namespace net_installer {

namespace {

constexpr wchar_t kUserAgentPrefix[] = L"Vulmo NetInstaller/";
// URL_COMPONENTS buffers, in UTF-16 units including the terminating zero.
constexpr DWORD kHostBufferSize = 256;
constexpr DWORD kPathBufferSize = 4096;

constexpr char kHandleRequestComplete[] =
    "vulmo::net_installer::WininetDownloader::HandleRequestComplete";
constexpr char kInternetStatusCallback[] =
    "vulmo::net_installer::WininetDownloader::InternetStatusCallback";
constexpr char kCheckRetriesAndResume[] =
    "vulmo::net_installer::WininetDownloader::CheckRetriesAndResume";

// A failed request completion with one of these is worth a counted retry.
bool IsRequestConnectivityError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return true;
    default:
      return false;
  }
}

// A failed read with one of these resumes at once, uncounted.
bool IsReadConnectivityError(DWORD error) {
  return error == ERROR_INTERNET_NAME_NOT_RESOLVED ||
         error == ERROR_INTERNET_CONNECTION_ABORTED ||
         error == ERROR_INTERNET_CONNECTION_RESET;
}

// Wine's WinINet passes a reset or aborted connection on as the socket error
// (10054, 10053); Windows reports the same events with its own codes, which
// the classification above knows.
DWORD ToInternetError(DWORD error) {
  switch (error) {
    case WSAECONNRESET:
      return ERROR_INTERNET_CONNECTION_RESET;
    case WSAECONNABORTED:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    default:
      return error;
  }
}

// "bytes FIRST-LAST/TOTAL" of a partial reply; |total| is -1 for "/*".
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  int64_t total = -1;
};

bool ParseNumber(const wchar_t** text, uint64_t* value) {
  if (!iswdigit(**text))
    return false;
  wchar_t* end = nullptr;
  *value = wcstoull(*text, &end, 10);
  *text = end;
  return true;
}

bool ParseContentRange(const wchar_t* text, ContentRange* range) {
  if (_wcsnicmp(text, L"bytes", 5) != 0)
    return false;
  text += 5;
  while (*text == L' ')
    ++text;
  uint64_t total = 0;
  if (!ParseNumber(&text, &range->first) || *text++ != L'-' ||
      !ParseNumber(&text, &range->last) || *text++ != L'/' ||
      range->last < range->first) {
    return false;
  }
  if (text[0] == L'*' && text[1] == L'\0') {
    range->total = -1;
    return true;
  }
  if (!ParseNumber(&text, &total) || *text != L'\0' || total <= range->last ||
      total > INT64_MAX) {
    return false;
  }
  range->total = static_cast<int64_t>(total);
  return true;
}

}  // namespace

// Shared by the downloader, the contexts of its WinINet handles and its
// posted tasks. The lock is held while a callback works on the downloader and
// while the owner changes what callbacks read, so the two never overlap; it
// is recursive because WinINet may call back synchronously from inside a
// call made under it (handle creation, closing).
struct WininetDownloader::Core {
  base::Lock lock;  // Re-entrant on the owning thread.
  // Cleared (under the lock) by the destructor. Written only on the owner's
  // thread, so posted tasks may read it there without the lock.
  std::atomic<WininetDownloader*> downloader{nullptr};
  // Set by StopDownload and the destructor before they take the lock, so a
  // read loop that holds it stops after the piece in hand instead of
  // draining everything that has arrived.
  std::atomic<bool> interrupted{false};
  // Progress on its way to the owner's thread (see PostProgress): the
  // latest position, whether a task that will deliver it is queued, whether
  // a position is held back, and when the last task was queued.
  std::atomic<uint32_t> progress{0};
  std::atomic<bool> progress_queued{false};
  std::atomic<bool> progress_held{false};
  std::atomic<uint64_t> progress_posted_at{0};
  // The position the delegate was given last, -1 before the first; read and
  // written on the owner's thread only.
  int64_t progress_delivered = -1;
};

// The WinINet context value of one connection or request handle. It lives
// until the handle's INTERNET_STATUS_HANDLE_CLOSING, the last notification
// WinINet sends for it, and owns everything that an asynchronous operation
// on the handle may still read or write after the call that started it has
// returned: the read buffer, the bytes-read counter, the headers and the
// request body.
struct WininetDownloader::HandleContext {
  HandleContext(std::shared_ptr<Core> core, uint32_t serial)
      : core(std::move(core)), serial(serial) {}

  const std::shared_ptr<Core> core;
  // Number of the request, from 1; 0 for the connection handle.
  const uint32_t serial;
  char read_buffer[kReadBufferSize];
  // Starts at 0 for every request, so bytes are never stored twice.
  DWORD bytes_read = 0;
  std::wstring headers;
  std::string post_data;
};

WininetDownloader::WininetDownloader() : core_(std::make_shared<Core>()) {
  core_->downloader = this;
}

WininetDownloader::~WininetDownloader() {
  {
    // Waits for a callback that is working on this object right now; later
    // ones, and tasks still queued, find the pointer cleared.
    core_->interrupted = true;
    base::AutoLock lock(core_->lock);
    core_->downloader = nullptr;
    request_context_ = nullptr;
    // The bytes stored so far belong in the file, also those still
    // buffered: the file never holds less than the delegate was shown.
    CloseFile();
  }
  // The request and connection keep the callback they were created with, so
  // their contexts are still released by HANDLE_CLOSING.
  if (internet_)
    InternetSetStatusCallbackW(internet_, nullptr);
  if (request_)
    InternetCloseHandle(request_);
  if (connection_)
    InternetCloseHandle(connection_);
  if (internet_)
    InternetCloseHandle(internet_);
}

bool WininetDownloader::PrepareDownloadToFile(const std::wstring& path) {
  LOG(INFO) << "Preparing to download to " << path;
  file_.Set(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.IsValid()) {
    LOG(ERROR) << "Could not open download file for writing";
    return false;
  }
  return OpenInternet();
}

bool WininetDownloader::PrepareDownloadToString() {
  LOG(INFO) << "Preparing to download to a string";
  to_string_ = true;
  return OpenInternet();
}

void WininetDownloader::SetAllowedDomainSuffixes(
    const std::vector<std::wstring>& suffixes) {
  allowed_domain_suffixes_ = suffixes;
}

bool WininetDownloader::StartDownload(const std::wstring& url,
                                      const std::string& post_data,
                                      DownloaderDelegate* delegate,
                                      base::RepeatingClosure done_callback) {
  LOG(INFO) << "Starting download from " << url;
  // Tasks that an earlier transfer posted, and its stop, would act on a
  // second one: a downloader carries one transfer.
  if (state_ != kStateIdle) {
    LOG(ERROR) << "The downloader has already been started";
    return false;
  }
  base::MessageLoop* loop = base::MessageLoop::current();
  CHECK(loop);
  {
    base::AutoLock lock(core_->lock);
    delegate_ = delegate;
    done_callback_ = std::move(done_callback);
    task_runner_ = loop->task_runner();
    url_ = url;
    if (!post_data.empty())
      post_data_ = std::make_unique<std::string>(post_data);
  }

  UrlComponents components;
  if (!CrackUrl(url_, &components)) {
    PLOG(ERROR) << "Could not parse URL";
    return false;
  }
  if (!IsAllowedHost(components.host)) {
    LOG(ERROR) << "Attempting to download from a disallowed domain";
    return false;
  }

  // Held until the state says a request is out, so that its completion,
  // which may arrive on another thread at once, finds the state it expects.
  base::AutoLock lock(core_->lock);
  // What a start that failed half-way left open.
  AbandonRequest(/*close_connection=*/true);
  auto* connection_context = new HandleContext(core_, 0);
  connection_ = InternetConnectW(
      internet_, components.host.c_str(),
      static_cast<INTERNET_PORT>(components.port), nullptr, nullptr,
      INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(connection_context));
  if (!connection_) {
    PLOG(ERROR) << "Could not start session";
    delete connection_context;
    return false;
  }
  if (!SendRequest(components, std::wstring())) {
    PLOG(ERROR) << "Could not send Request";
    return false;
  }
  SetState(kStateRequesting);
  return true;
}

void WininetDownloader::StopDownload() {
  LOG(INFO) << "Stopping the download";
  // Waits for a callback that may be writing to the file right now.
  core_->interrupted = true;
  base::AutoLock lock(core_->lock);
  CloseFile();
  SetState(kStateStopped);
}

// static
std::wstring WininetDownloader::BuildUserAgent() {
  std::string version = VULMO_VERSION_STRING;
  int dots = 0;
  for (size_t i = 0; i < version.size(); ++i) {
    if (version[i] == '.' && ++dots == 4) {
      version.resize(i);
      break;
    }
  }
  return kUserAgentPrefix + base::UTF8ToUTF16(version);
}

bool WininetDownloader::OpenInternet() {
  if (!internet_) {
    internet_ = InternetOpenW(BuildUserAgent().c_str(),
                              INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                              INTERNET_FLAG_ASYNC);
  }
  if (!internet_) {
    LOG(ERROR) << "Could not open internet";
    return false;
  }
  // Inherited by the connection and request handles made from it. Without
  // it no completion would ever be seen, and the download would never end.
  if (InternetSetStatusCallbackW(
          refuse_status_callback_for_testing_ ? nullptr : internet_,
          &WininetDownloader::InternetStatusCallback) ==
      INTERNET_INVALID_STATUS_CALLBACK) {
    PLOG(ERROR) << "Could not install the internet status callback";
    InternetCloseHandle(std::exchange(internet_, nullptr));
    LOG(ERROR) << "Could not open internet";
    return false;
  }
  return true;
}

// static
bool WininetDownloader::CrackUrl(const std::wstring& url,
                                 UrlComponents* components) {
  wchar_t host[kHostBufferSize] = {};
  wchar_t path[kPathBufferSize] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostBufferSize - 1;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathBufferSize - 1;
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()),
                         ICU_DECODE | ICU_ESCAPE, &parts)) {
    return false;
  }
  components->scheme = parts.nScheme;
  components->host = host;
  components->port = parts.nPort;
  components->path = path;
  return true;
}

bool WininetDownloader::IsAllowedHost(const std::wstring& host) const {
  if (allowed_domain_suffixes_.empty())
    return true;
  for (const std::wstring& suffix : allowed_domain_suffixes_) {
    if (host.size() >= suffix.size() &&
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

bool WininetDownloader::SendRequest(const UrlComponents& components,
                                    const std::wstring& headers) {
  auto* context = new HandleContext(core_, ++next_request_serial_);
  context->headers = headers;
  if (post_data_)
    context->post_data.assign(post_data_->c_str());  // Up to the first zero.

  DWORD flags = INTERNET_FLAG_RELOAD;
  if (components.scheme == INTERNET_SCHEME_HTTPS)
    flags |= INTERNET_FLAG_SECURE;
  request_ = HttpOpenRequestW(connection_, post_data_ ? L"POST" : L"GET",
                              components.path.c_str(), L"HTTP/1.1", nullptr,
                              nullptr, flags,
                              reinterpret_cast<DWORD_PTR>(context));
  if (!request_) {
    PLOG(ERROR) << "Could not open Request";
    delete context;
    request_context_ = nullptr;
    return false;
  }
  request_context_ = context;

  const BOOL sent = HttpSendRequestW(
      request_, context->headers.empty() ? nullptr : context->headers.c_str(),
      static_cast<DWORD>(context->headers.size()),
      post_data_ ? &context->post_data[0] : nullptr,
      post_data_ ? static_cast<DWORD>(context->post_data.size()) : 0);
  if (!sent && GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Could not send Request";
    return false;
  }
  return true;
}

// static
void CALLBACK WininetDownloader::InternetStatusCallback(LPVOID /*handle*/,
                                                        DWORD_PTR context,
                                                        DWORD status,
                                                        LPVOID info,
                                                        DWORD info_length) {
  auto* handle_context = reinterpret_cast<HandleContext*>(context);
  if (!handle_context)
    return;  // The session handle has no context of ours.
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    delete handle_context;
    return;
  }
  if (status != INTERNET_STATUS_REQUEST_COMPLETE &&
      status != INTERNET_STATUS_REDIRECT) {
    return;
  }

  // |handle_context| may be released while the handlers below close its
  // handle; only these copies are used afterwards.
  const std::shared_ptr<Core> core = handle_context->core;
  base::AutoLock lock(core->lock);
  WininetDownloader* downloader = core->downloader.load();
  // Notifications of a replaced or abandoned request (and the connection's)
  // never act: the request they belong to is no longer ours.
  if (!downloader || downloader->request_context_ != handle_context)
    return;
  // A stopped or finished transfer hears nothing more: no retry, no resume,
  // no second outcome.
  if (!downloader->IsActive())
    return;

  if (status == INTERNET_STATUS_REQUEST_COMPLETE)
    downloader->OnRequestComplete(info);
  else
    downloader->OnRedirect(info, info_length);

  if (!downloader->proxy_prompt_pending_)
    return;
  downloader->proxy_prompt_pending_ = false;
  const HWND owner =
      downloader->delegate_ ? downloader->delegate_->hwnd() : nullptr;
  const HINTERNET request = downloader->request_;
  const uint32_t serial = downloader->request_context_->serial;
  // The prompt waits for the user, and its owner window belongs to the
  // owner's thread: holding the lock here could leave that thread waiting
  // for us while the prompt waits for it.
  DWORD result;
  {
    base::AutoUnlock unlock(core->lock);
    result = InternetErrorDlg(
        owner, request, ERROR_INTERNET_INCORRECT_PASSWORD,
        FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
            FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
        nullptr);
  }
  downloader = core->downloader.load();
  if (!downloader || !downloader->request_context_ ||
      downloader->request_context_->serial != serial ||
      !downloader->IsActive()) {
    return;
  }
  downloader->OnProxyPromptResult(result);
}

void WininetDownloader::OnRequestComplete(const void* info) {
  const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
  if (!result)
    return;
  const DWORD error = ToInternetError(result->dwError);
  if (error == ERROR_SUCCESS) {
    HandleRequestComplete();
  } else if (IsRequestConnectivityError(error)) {
    LOG(WARNING) << "Request completed with an error "
                 << "indicating connectivity issues: " << error;
    CheckRetriesAndResume();
  } else {
    LOG(ERROR) << "Request completed with an unexpected error: " << error;
    PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kInternetStatusCallback),
                &WininetDownloader::OnDownloadFailed);
  }
}

void WininetDownloader::OnRedirect(const void* info, DWORD info_length) {
  VLOG(1) << "Redirect occured";
  // Some platforms count the length in bytes with the terminating zero: trust
  // the zero first.
  std::wstring new_url;
  if (info) {
    const auto* text = static_cast<const wchar_t*>(info);
    new_url.assign(text, wcsnlen(text, info_length));
  }
  UrlComponents components;
  if (!CrackUrl(new_url, &components)) {
    PLOG(ERROR) << "Failed to parse redirect URL";
  } else if (IsAllowedHost(components.host)) {
    return;
  } else {
    LOG(ERROR) << "Attempting to redirect to a disallowed domain: "
               << components.host;
  }
  AbandonRequest(/*close_connection=*/true);
  // Closing does not stop every platform from following the redirect, and
  // what arrives afterwards belongs to the abandoned request and is ignored;
  // so the failure is reported here, exactly once.
  PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kInternetStatusCallback),
              &WininetDownloader::OnDownloadFailed);
}

void WininetDownloader::HandleRequestComplete() {
  const int state = state_.load();
  if (state == kStateReceiving) {
    ReadBody();
    return;
  }
  if (state != kStateRequesting)
    return;

  LOG(INFO) << "Initial request completion";
  DWORD status_code = 0;
  DWORD size = sizeof(status_code);
  if (!HttpQueryInfoW(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                      &status_code, &size, nullptr)) {
    PLOG(ERROR) << "Could not read the reply status";
    PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                &WininetDownloader::OnDownloadFailed);
    return;
  }

  switch (status_code) {
    case HTTP_STATUS_OK: {
      // A server that ignores the range sends the whole resource again.
      if (downloaded_size_ > 0 && !RestartFromZero()) {
        PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                    &WininetDownloader::OnDownloadFailed);
        return;
      }
      DWORD content_length = 0;
      size = sizeof(content_length);
      if (HttpQueryInfoW(request_,
                         HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                         &content_length, &size, nullptr)) {
        expected_size_ = content_length;
      }
      VLOG(1) << "Expected total size: " << expected_size_;
      PostProgressRange(expected_size_);
      [[fallthrough]];
    }
    case HTTP_STATUS_PARTIAL_CONTENT:
      if (status_code == HTTP_STATUS_PARTIAL_CONTENT &&
          !AcceptPartialReply()) {
        PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                    &WininetDownloader::OnDownloadFailed);
        return;
      }
      // The retry count starts afresh only once this reply gets further than
      // the earlier ones did (see ReadBody).
      SetState(kStateReceiving);
      ReadBody();
      return;
    case HTTP_STATUS_PROXY_AUTH_REQ:
      LOG(WARNING) << "Request completed with a "
                   << "proxy authentication request";
      // Shown by InternetStatusCallback once the lock is released.
      proxy_prompt_pending_ = true;
      return;
    case HTTP_STATUS_BAD_GATEWAY:
    case HTTP_STATUS_SERVICE_UNAVAIL:
    case HTTP_STATUS_GATEWAY_TIMEOUT:
      LOG(WARNING) << "Download failed with " << status_code << " error";
      CheckRetriesAndResume();
      return;
    default:
      LOG(ERROR) << "Request completed with an unexpected HTTP status";
      PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                  &WininetDownloader::OnDownloadFailed);
      return;
  }
}

void WininetDownloader::ReadBody() {
  HandleContext* context = request_context_;
  while (true) {
    VLOG(2) << "Additional data downloaded";
    if (context->bytes_read != 0 && !StoreReadBytes()) {
      PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                  &WininetDownloader::OnDownloadFailed);
      return;
    }
    downloaded_size_ += context->bytes_read;
    if (downloaded_size_ > resume_mark_)
      retry_count_ = 0;  // Real progress: the failures before it are over.
    VLOG(2) << "Downloaded size: " << downloaded_size_;
    PostProgress(downloaded_size_);
    if (core_->interrupted)
      return;  // Stopped or being destroyed: read no further.

    context->bytes_read = 0;
    if (InternetReadFile(request_, context->read_buffer, kReadBufferSize,
                         &context->bytes_read)) {
      if (context->bytes_read > 0)
        continue;
      // End of body. A short body (the connection ended early) resumes.
      if (downloaded_size_ < expected_size_) {
        ResumeAfterInterruption();
      } else {
        PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                    &WininetDownloader::OnDownloadCompleted);
      }
      return;
    }
    const DWORD error = ToInternetError(GetLastError());
    if (error == ERROR_IO_PENDING) {
      // WinINet fills the context's buffer and counter, then reports
      // completion, which brings us back here. The bar shows what has
      // arrived while the network keeps us waiting.
      FlushProgress();
      return;
    }
    if (IsReadConnectivityError(error)) {
      LOG(ERROR) << "Download interrupted by loss of connectivity: " << error;
      ResumeAfterInterruption();
    } else {
      LOG(ERROR) << "Download interrupted for unknown reason: " << error;
      PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                  &WininetDownloader::OnDownloadFailed);
    }
    return;
  }
}

bool WininetDownloader::AcceptPartialReply() {
  // Appended bytes must continue exactly where the stored ones end; a
  // server that answers another range than the one asked (or a resource
  // that changed size) would splice foreign bytes into the result. Such a
  // reply is not used: the download fails, and the owner starts over.
  wchar_t text[128] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  ContentRange range;
  if (!HttpQueryInfoW(request_, HTTP_QUERY_CONTENT_RANGE, text, &size,
                      nullptr) ||
      !ParseContentRange(text, &range)) {
    LOG(ERROR) << "The partial reply has no valid Content-Range";
    return false;
  }
  if (range.first != downloaded_size_) {
    LOG(ERROR) << "The partial reply starts at byte " << range.first
               << " instead of " << downloaded_size_;
    return false;
  }
  if (range.total < 0 || range.total > UINT32_MAX)
    return true;  // "bytes A-B/*": the total is unknown.
  const uint32_t total = static_cast<uint32_t>(range.total);
  if (expected_size_ != 0 && total != expected_size_) {
    LOG(ERROR) << "The partial reply is of " << total
               << " bytes in all instead of " << expected_size_;
    return false;
  }
  if (expected_size_ == 0) {
    // The first accepted reply is partial when every earlier one failed (a
    // retry asks "bytes=0-"). Without the total, the end of a body cut
    // short would pass for the end of the download.
    expected_size_ = total;
    VLOG(1) << "Expected total size: " << expected_size_;
    PostProgressRange(expected_size_);
  }
  return true;
}

bool WininetDownloader::StoreReadBytes() {
  const HandleContext* context = request_context_;
  if (to_string_) {
    // A reply held in memory comes from the network: a server (or anything
    // in between) must not be able to make it grow without bound.
    if (data_.size() + context->bytes_read > max_string_size_) {
      LOG(ERROR) << "The reply is larger than " << max_string_size_
                 << " bytes";
      return false;
    }
    data_.append(context->read_buffer, context->bytes_read);
    return true;
  }
  write_buffer_.append(context->read_buffer, context->bytes_read);
  if (write_buffer_.size() < kWriteBufferSize || FlushWrites())
    return true;
  PLOG(ERROR) << "Could not write to the download file";
  return false;
}

bool WininetDownloader::FlushWrites() {
  if (write_buffer_.empty())
    return true;
  const DWORD size = static_cast<DWORD>(write_buffer_.size());
  DWORD written = 0;
  bool succeeded =
      WriteFile(file_.Get(), write_buffer_.data(), size, &written, nullptr) != FALSE;
  if (succeeded && written != size) {
    // Wine hands on the short write of a full disk as a success; Windows
    // fails the call. Report it the way Windows does.
    ::SetLastError(ERROR_DISK_FULL);
    succeeded = false;
  }
  write_buffer_.clear();
  return succeeded;
}

void WininetDownloader::CloseFile() {
  if (file_.IsValid() && !FlushWrites())
    PLOG(ERROR) << "Could not write the end of the download file";
  write_buffer_.clear();
  file_.Close();
}

bool WininetDownloader::RestartFromZero() {
  LOG(WARNING) << "The server ignored the range request; restarting the "
                  "download from the beginning";
  write_buffer_.clear();
  if (to_string_) {
    data_.clear();
  } else if (SetFilePointer(file_.Get(), 0, nullptr, FILE_BEGIN) ==
                 INVALID_SET_FILE_POINTER ||
             !SetEndOfFile(file_.Get())) {
    PLOG(ERROR) << "Could not truncate the download file";
    return false;
  }
  downloaded_size_ = 0;
  expected_size_ = 0;
  return true;
}

void WininetDownloader::ResumeAfterInterruption() {
  if (downloaded_size_ > resume_mark_) {
    PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                &WininetDownloader::ResumeDownload);
    return;
  }
  // Nothing new since the last request (after a restart from zero: the body
  // ended again before the size reached then). Resuming at once would loop
  // for ever against a server that always breaks off at the same place, so
  // this counts as a failure, with the delay and the limit of a retry.
  LOG(WARNING) << "The download got no further than " << resume_mark_
               << " bytes";
  CheckRetriesAndResume();
}

void WininetDownloader::CheckRetriesAndResume() {
  if (retry_count_ > kMaxRetries) {
    PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kCheckRetriesAndResume),
                &WininetDownloader::OnDownloadFailed);
    return;
  }
  LOG(INFO) << "Retrying " << retry_count_.load() << " of " << kMaxRetries;
  ++retry_count_;
  PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kCheckRetriesAndResume),
              &WininetDownloader::ResumeDownload, retry_delay_us_);
}

void WininetDownloader::OnProxyPromptResult(DWORD result) {
  if (result == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                &WininetDownloader::ResumeDownload);
  } else {
    LOG(ERROR) << "Could not obtain credentials for proxy";
    PostToOwner(FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete),
                &WininetDownloader::OnDownloadFailed);
  }
}

void WininetDownloader::AbandonRequest(bool close_connection) {
  // Cleared before closing: a notification delivered from inside the close
  // already finds the request abandoned.
  request_context_ = nullptr;
  if (void* request = std::exchange(request_, nullptr))
    InternetCloseHandle(request);
  if (close_connection) {
    if (void* connection = std::exchange(connection_, nullptr))
      InternetCloseHandle(connection);
  }
}

void WininetDownloader::SetState(DownloaderState state) {
  state_ = state;
  VLOG(1) << "Downloader state: " << static_cast<int>(state);
}

bool WininetDownloader::IsActive() const {
  const int state = state_.load();
  return state == kStateRequesting || state == kStateReceiving;
}

void WininetDownloader::ResumeDownload() {
  if (!IsActive())
    return;
  {
    base::AutoLock lock(core_->lock);
    AbandonRequest(/*close_connection=*/false);
    // What the next reply has to get past to count as progress.
    resume_mark_ = std::max(resume_mark_, downloaded_size_);
    LOG(INFO) << "Attempting download resume";
    // The range starts after the bytes stored so far; they go to the file
    // first, so that the file on disk ends where the new request begins.
    const bool flushed = FlushWrites();
    const std::wstring headers =
        L"Range: bytes=" + base::NumberToWString(downloaded_size_) + L"-";
    // The URL given to StartDownload, not the target of a followed redirect.
    UrlComponents components;
    if (!flushed) {
      PLOG(ERROR) << "Could not write to the download file";
    } else if (!CrackUrl(url_, &components)) {
      PLOG(ERROR) << "Could not parse URL";
    } else if (!SendRequest(components, headers)) {
      LOG(ERROR) << "Could not resume downloading";
    } else {
      // Set under the lock: the reply may arrive on another thread at once.
      SetState(kStateRequesting);
      return;
    }
  }
  // Outside the lock: the done callback may destroy this object.
  OnDownloadFailed();
}

void WininetDownloader::OnDownloadCompleted() {
  if (!IsActive())
    return;
  bool written;
  {
    base::AutoLock lock(core_->lock);
    written = FlushWrites();
    if (written) {
      file_.Close();
      LOG(INFO) << "Download completed";
      SetState(kStateCompleted);
    } else {
      PLOG(ERROR) << "Could not write the end of the download file";
    }
  }
  if (!written) {
    OnDownloadFailed();
    return;
  }
  // A copy: the callback may destroy this object, and with it the member.
  base::RepeatingClosure done = done_callback_;
  if (done)
    done();
}

void WininetDownloader::OnDownloadFailed() {
  if (!IsActive())
    return;
  {
    base::AutoLock lock(core_->lock);
    LOG(ERROR) << "Download failed";
    CloseFile();
    SetState(kStateFailed);
  }
  base::RepeatingClosure done = done_callback_;
  if (done)
    done();
}

void WininetDownloader::PostToOwner(const base::Location& from_here,
                                    Method method, int64_t delay_us) {
  if (!task_runner_)
    return;
  // The owner sees the last position before it hears how the read ended.
  FlushProgress();
  // Bound to the core, not to this object: a task that runs after the
  // downloader is gone finds the core's pointer cleared and does nothing.
  std::shared_ptr<Core> core = core_;
  base::OnceClosure task = [core, method] {
    if (WininetDownloader* downloader = core->downloader.load())
      (downloader->*method)();
  };
  if (delay_us > 0)
    task_runner_->PostDelayedTask(from_here, std::move(task), delay_us);
  else
    task_runner_->PostTask(from_here, std::move(task));
}

void WininetDownloader::PostProgressRange(uint32_t total) {
  if (!task_runner_)
    return;
  std::shared_ptr<Core> core = core_;
  task_runner_->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete), [core, total] {
        WininetDownloader* downloader = core->downloader.load();
        if (downloader && downloader->delegate_)
          downloader->delegate_->SetProgressRange(total);
      });
}

void WininetDownloader::PostProgress(uint32_t position) {
  if (!task_runner_)
    return;
  core_->progress.store(position);
  const uint64_t now = ::GetTickCount64();
  if (core_->progress_queued.load() ||
      now - core_->progress_posted_at.load() < kProgressIntervalMs) {
    core_->progress_held.store(true);
    return;
  }
  QueueProgressTask(now);
}

void WininetDownloader::FlushProgress() {
  if (core_->progress_held.load() && !core_->progress_queued.load())
    QueueProgressTask(::GetTickCount64());
}

void WininetDownloader::QueueProgressTask(uint64_t now) {
  core_->progress_held.store(false);
  core_->progress_posted_at.store(now);
  if (core_->progress_queued.exchange(true))
    return;  // The queued task delivers the value it finds when it runs.
  std::shared_ptr<Core> core = core_;
  task_runner_->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION(kHandleRequestComplete), [core] {
        // Cleared before the value is read: a position stored after the
        // read queues a task of its own, or is held and flushed later.
        core->progress_queued.store(false);
        const uint32_t latest = core->progress.load();
        // A flush may queue a position an earlier task has already taken.
        if (latest == core->progress_delivered)
          return;
        core->progress_delivered = latest;
        WininetDownloader* downloader = core->downloader.load();
        if (downloader && downloader->delegate_)
          downloader->delegate_->SetProgress(latest);
      });
}

}  // namespace net_installer
}  // namespace vulmo
