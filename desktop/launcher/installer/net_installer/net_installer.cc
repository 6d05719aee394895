#include "desktop/launcher/installer/net_installer/net_installer.h"

#include <windows.h>

#include <utility>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_service.h"
#include "base/json/json_string_value_serializer.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "build_constants.h"
#include "desktop/launcher/installer/net_installer/checksum_checker.h"
#include "desktop/launcher/installer/net_installer/custom_message_box.h"
#include "desktop/launcher/installer/net_installer/dialog_resources.h"
#include "desktop/launcher/installer/net_installer/language_lookup.h"
#include "desktop/launcher/installer/net_installer/payload_reader.h"
#include "desktop/launcher/installer/net_installer/progress_dialog.h"
#include "desktop/launcher/installer/net_installer/resources/resource_ids.h"
#include "desktop/launcher/installer/net_installer/sfx_stripper.h"
#include "desktop/launcher/installer/net_installer/signature_verifier.h"
#include "desktop/launcher/installer/net_installer/unpack_thread.h"
#include "desktop/launcher/installer/net_installer/win32_dialog_dispatcher.h"
#include "desktop/launcher/installer/net_installer/wininet_downloader.h"
#include "desktop/launcher/installer/net_installer/work_area.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr char kLanguageSwitch[] = "language";
constexpr char kSilentSwitch[] = "silent";
constexpr char kInternalServerSwitch[] = "internal-server";
constexpr char kInstallSwitch[] = "install";
constexpr char kServerTrackingDataSwitch[] = "server-tracking-data";
constexpr char kWelcomeUrlSwitch[] = "welcome-url";

constexpr char kInstallerKey[] = "installer";
constexpr char kInstallerChecksumKey[] = "installer_checksum";
constexpr char kPartnerContentKey[] = "partner_content";
constexpr char kUrlWelcomeKey[] = "url_welcome";
constexpr char kHrefKey[] = "href";
constexpr char kFilenameKey[] = "filename";
constexpr char kChecksumKey[] = "checksum";

constexpr wchar_t kInstallerExeName[] = L"installer.exe";
constexpr wchar_t kTrackingFileName[] = L"server_tracking_data";
constexpr wchar_t kPartnerTemporaryFileName[] = L"partner_content.tmp";
constexpr wchar_t kFilesListName[] = L"files_list";
constexpr wchar_t kArchiveExtension[] = L"7z";

// A run makes at most this many retries of the whole sequence (and of each
// partner file).
constexpr int kMaxSequenceRetries = 3;

void GetAllowedDomains(std::vector<std::wstring>* domains) {
  domains->clear();
  domains->push_back(VULMO_PRODUCTION_DOMAIN);
  domains->push_back(VULMO_INTERNAL_DOMAIN);
}

const base::CommandLine& ProcessCommandLine() {
  return *base::CommandLine::ForCurrentProcess();
}

}  // namespace

NetInstaller::NetInstaller()
    : run_loop_(Win32DialogDispatcher::GetInstance()) {}

NetInstaller::~NetInstaller() {
  if (unpack_thread_)
    unpack_thread_->StopAndJoin();
  if (downloader_ && downloader_->state() != kStateFailed)
    downloader_->StopDownload();
  // Best effort: the log stays, and so does anything that cannot go now.
  (void)base::DeleteFile(package_path_, false);
  (void)base::DeleteFile(ExtractionDirectory(), true);
}

bool NetInstaller::Start() {
  LOG(INFO) << "Vulmo NetInstaller startup - version " << VULMO_VERSION_STRING
            << " " << VULMO_CHANNEL_NAME;
  LOG(INFO) << "Command line: " << ProcessCommandLine().GetCommandLineString();

  if (ProcessCommandLine().HasSwitch(kLanguageSwitch))
    SwitchLanguage();
  else
    UseDialogLayoutOfLanguage(::GetUserDefaultUILanguage());
  silent_ = ProcessCommandLine().HasSwitch(kSilentSwitch);

  base::FilePath exe_path;
  if (base::PathService::Get(base::FILE_EXE, &exe_path)) {
    payload_reader_.reset();
    payload_reader_ = std::make_unique<PayloadReader>(exe_path.value());
    // Without a payload the exchange is a GET and no tracking file is
    // written; that is not an error.
    payload_reader_->ReadPayload();
  }

  if (!GetPackagePath(&package_path_) ||
      !base::DeleteFile(package_path_, false) ||
      !base::DeleteFile(ExtractionDirectory(), true)) {
    LOG(ERROR) << "Unable to obtain or clean the download/extraction path";
    return false;
  }

  base::MessageLoop::current()->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION("vulmo::net_installer::NetInstaller::Start"),
      [this] { FetchDownloadUrl(); });

  progress_dialog_.reset();
  progress_dialog_ = std::make_unique<ProgressDialog>();
  if (!progress_dialog_->Create([this] { RequestClose(); })) {
    LOG(ERROR) << "Unable to initialize the progress dialog";
    return false;
  }
  if (!silent_)
    progress_dialog_->Show();

  run_loop_.Run();
  return succeeded_;
}

void NetInstaller::SwitchLanguage() {
  VLOG(1) << "Switching language";
  const uint32_t lcid =
      LookupLcid(ProcessCommandLine().GetSwitchValueNative(kLanguageSwitch));
  // The result is not checked: an unknown language leaves the platform's
  // own fallback in place.
  if (base::win::GetVersion() >= base::win::VERSION_VISTA)
    ::SetThreadUILanguage(LANGIDFROMLCID(lcid));
  else
    ::SetThreadLocale(lcid);
  // An unknown code leaves the user's own language in place.
  UseDialogLayoutOfLanguage(lcid != 0 ? lcid : ::GetUserDefaultUILanguage());
}

// --- Update-server exchange -------------------------------------------------

void NetInstaller::FetchDownloadUrl() {
  LOG(INFO) << "Preparing to fetch the download URL";
  downloader_.reset();
  downloader_ = std::make_unique<WininetDownloader>();
  if (!downloader_->PrepareDownloadToString()) {
    run_loop_.Quit();
    LOG(ERROR) << "Failed initializing the downloader";
    return;
  }
  std::vector<std::wstring> domains;
  GetAllowedDomains(&domains);
  downloader_->SetAllowedDomainSuffixes(domains);

  std::wstring url = ProcessCommandLine().HasSwitch(kInternalServerSwitch)
                         ? VULMO_INTERNAL_BASE_URL
                         : VULMO_PRODUCTION_BASE_URL;
  url += base::UTF8ToUTF16(VULMO_CHANNEL_NAME);

  LOG(INFO) << "Fetching the download URL";
  const std::string body =
      payload_reader_ ? payload_reader_->GetPayload() : std::string();
  if (!downloader_->StartDownload(url, body, progress_dialog_.get(),
                                  [this] { OnDownloadUrlFetched(); })) {
    LOG(ERROR) << "Failed fetching the download URL";
    HandleError(IDS_DOWNLOAD_FAILED);
  }
}

void NetInstaller::OnDownloadUrlFetched() {
  if (downloader_->state() != kStateCompleted) {
    LOG(ERROR) << "Failed fetching the download URL";
    HandleError(IDS_DOWNLOAD_FAILED);
    return;
  }
  const std::string body = downloader_->data();
  VLOG(1) << "Parsing the fetched URL";
  // The list points into the reply being replaced.
  partner_content_ = nullptr;
  base::JSONStringValueDeserializer deserializer(body);
  reply_ = deserializer.Deserialize(nullptr, nullptr);

  const base::DictionaryValue* reply = nullptr;
  std::wstring installer_url;
  std::string installer_checksum;
  if (!reply_ || !reply_->GetAsDictionary(&reply) ||
      !reply->GetString(kInstallerKey, &installer_url) ||
      !reply->GetString(kInstallerChecksumKey, &installer_checksum)) {
    LOG(ERROR) << "Failed parsing json reply";
    HandleError(IDS_DOWNLOAD_FAILED);
    return;
  }

  LOG(INFO) << "Preparing to fetch the installer";
  downloader_.reset();
  downloader_ = std::make_unique<WininetDownloader>();
  if (!downloader_->PrepareDownloadToFile(package_path_.value())) {
    LOG(ERROR) << "Failed initializing the downloader";
    HandleError(IDS_DOWNLOAD_FAILED);
    return;
  }
  const base::ListValue* partner_content = nullptr;
  if (reply->GetList(kPartnerContentKey, &partner_content))
    partner_content_ = partner_content;

  if (!downloader_->StartDownload(
          installer_url, std::string(), progress_dialog_.get(),
          [this, installer_checksum] { OnPackageDownloaded(installer_checksum); })) {
    LOG(ERROR) << "Failed downloading the Vulmo package";
    HandleError(IDS_DOWNLOAD_FAILED);
  }
}

// --- Package preparation ----------------------------------------------------

void NetInstaller::OnPackageDownloaded(const std::string& expected_checksum) {
  base::FilePath exe_path;
  const bool have_exe_path = base::PathService::Get(base::FILE_EXE, &exe_path);

  if (downloader_->state() != kStateCompleted) {
    LOG(ERROR) << "Failed downloading the Vulmo package";
    HandleError(IDS_DOWNLOAD_FAILED);
    return;
  }
  if (!VerifyChecksum(package_path_.value(), expected_checksum)) {
    LOG(ERROR) << "Checksum incorrect for the downloaded package";
    HandleError(IDS_DOWNLOAD_FAILED);
    return;
  }
  // An unsigned or differently signed build of this program accepts any
  // package on its checksum alone.
  if (have_exe_path && VerifySignature(exe_path.value()) &&
      !VerifySignature(package_path_.value())) {
    LOG(ERROR) << "Signature incorrect for the downloaded package";
    HandleError(IDS_DOWNLOAD_FAILED);
    return;
  }

  const base::FilePath archive_path =
      ExtractionDirectory().AddExtension(kArchiveExtension);
  LOG(INFO) << "Stripping SFX header from package";
  if (!StripPackage(archive_path))
    return;

  SetLabel(IDS_EXTRACTING);
  LOG(INFO) << "Extracting files from archive";
  unpack_thread_ = std::make_unique<UnpackThread>(
      archive_path, ExtractionDirectory(), [this] { OnUnpackDone(); },
      progress_dialog_.get());
  if (!unpack_thread_->Start()) {
    LOG(ERROR) << "Archive unpacking failed";
    HandleError(IDS_EXTRACT_FAILED);
  }
}

bool NetInstaller::StripPackage(const base::FilePath& archive_path) {
  // The previous attempt's worker deletes the archive file after posting its
  // result, and may not have got there yet: join it before a new archive is
  // written at the same path.
  unpack_thread_.reset();
  // Open-always: a missing package is created empty and so ends in "no
  // signature" rather than in the open failure.
  base::win::ScopedFileHandle package(::CreateFileW(
      package_path_.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
      OPEN_ALWAYS, 0, nullptr));
  if (!package.IsValid()) {
    LOG(ERROR) << "Failed opening package file for reading";
    HandleError(IDS_EXTRACT_FAILED);
    return false;
  }
  base::win::ScopedFileHandle archive(::CreateFileW(
      archive_path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
      CREATE_ALWAYS, 0, nullptr));
  if (!archive.IsValid()) {
    LOG(ERROR) << "Failed opening new package file for writing";
    HandleError(IDS_EXTRACT_FAILED);
    return false;
  }
  switch (StripSfxHeader(package.Get(), archive.Get())) {
    case SfxStripResult::kStripped:
      return true;
    case SfxStripResult::kSignatureNotFound:
      LOG(ERROR) << "7z signature no found";
      break;
    case SfxStripResult::kWriteFailed:
      break;
  }
  LOG(ERROR) << "SFX header stripping failed";
  HandleError(IDS_EXTRACT_FAILED);
  return false;
}

void NetInstaller::OnUnpackDone() {
  if (!unpack_thread_->succeeded()) {
    LOG(ERROR) << "Archive unpacking failed";
    HandleError(IDS_EXTRACT_FAILED);
    return;
  }
  if (!partner_content_ || partner_content_->GetSize() == 0) {
    RunInstaller();
    return;
  }
  LOG(INFO) << "We have extra partner content";
  current_partner_ = 0;
  retry_count_ = 0;
  SetLabel(IDS_DOWNLOADING_PARTNER_CONTENT);
  DownloadPartnerContent();
}

// --- Partner content --------------------------------------------------------

void NetInstaller::DownloadPartnerContent() {
  LOG(INFO) << "Preparing to download a partner content file";
  const base::Value* entry_value = partner_content_->Get(current_partner_);
  const base::DictionaryValue* entry = nullptr;
  std::wstring href;
  std::wstring file_name;
  std::string checksum;
  // The name comes from the network and is appended to the extraction
  // directory: one that would leave it is refused like an unreadable entry.
  if (!entry_value || !entry_value->GetAsDictionary(&entry) ||
      !entry->GetString(kHrefKey, &href) ||
      !entry->GetString(kFilenameKey, &file_name) ||
      !entry->GetString(kChecksumKey, &checksum) ||
      !base::FilePath(file_name).IsContainedRelativePath()) {
    LOG(ERROR) << "Failed parsing partner content part of JSON reply";
    RunInstaller();
    return;
  }

  downloader_.reset();
  downloader_ = std::make_unique<WininetDownloader>();
  if (!downloader_->PrepareDownloadToFile(PartnerTemporaryFile().value())) {
    LOG(ERROR) << "Failed initializing the downloader";
    RunInstaller();
    return;
  }
  if (!downloader_->StartDownload(href, std::string(), progress_dialog_.get(),
                                  [this, file_name, checksum] {
                                    OnPartnerContentDownloaded(file_name, checksum);
                                  })) {
    LOG(ERROR) << "Failed downloading partner content";
    RunInstaller();
  }
}

void NetInstaller::OnPartnerContentDownloaded(
    const std::wstring& file_name, const std::string& expected_checksum) {
  const base::FilePath temporary_file = PartnerTemporaryFile();
  if (downloader_->state() == kStateCompleted &&
      VerifyChecksum(temporary_file.value(), expected_checksum)) {
    if (!base::Move(temporary_file, ExtractionDirectory().Append(file_name))) {
      LOG(ERROR) << "Failed moving partner content into place";
      RunInstaller();
      return;
    }
    retry_count_ = 0;
    partner_files_.push_back(base::UTF16ToUTF8(file_name));
    ++current_partner_;
    if (current_partner_ < partner_content_->GetSize()) {
      DownloadPartnerContent();
      return;
    }
    WritePartnerFilesList();
    RunInstaller();
    return;
  }

  LOG(ERROR) << "Failed downloading partner content";
  (void)base::DeleteFile(temporary_file, false);  // Recreated by the retry.
  const int32_t old_retry_count = retry_count_++;
  if (old_retry_count >= kMaxSequenceRetries || DownloaderRetryCount() != 0) {
    LOG(INFO) << "Giving up on partner content download";
    RunInstaller();
    return;
  }
  LOG(INFO) << "Retrying partner content download";
  DownloadPartnerContent();
}

void NetInstaller::WritePartnerFilesList() {
  std::string files_list;
  for (const std::string& name : partner_files_)
    files_list += name + "\r\n";
  base::WriteToFile(ExtractionDirectory().Append(kFilesListName),
                    files_list.data(), static_cast<int>(files_list.size()));
}

// --- Launch -----------------------------------------------------------------

void NetInstaller::RunInstaller() {
  if (close_pending_) {
    launch_deferred_ = true;
    VLOG(1) << "Installer ready to run, "
            << "but we are waiting for user interaction";
    return;
  }
  DestroyDialogs();
  LOG(INFO) << "Running the Vulmo Installer";

  const base::FilePath extraction_directory = ExtractionDirectory();
  base::CommandLine command_line(extraction_directory.Append(kInstallerExeName));
  command_line.AppendSwitch(kInstallSwitch);
  if (payload_reader_ &&
      payload_reader_->WritePayloadToFile(
          extraction_directory.Append(kTrackingFileName).value())) {
    // installer.exe runs beside the file: the bare name is enough.
    command_line.AppendSwitchPath(kServerTrackingDataSwitch,
                                  base::FilePath(kTrackingFileName));
  }
  const base::DictionaryValue* reply = nullptr;
  std::wstring welcome_url;
  if (reply_ && reply_->GetAsDictionary(&reply) &&
      reply->GetString(kUrlWelcomeKey, &welcome_url)) {
    command_line.AppendSwitchNative(kWelcomeUrlSwitch, welcome_url);
  }
  command_line.AppendArguments(ProcessCommandLine(), false);

  base::LaunchOptions options;
  options.wait = true;
  base::win::ScopedHandle process;
  DWORD exit_code = 1;
  succeeded_ = base::LaunchProcess(command_line, options, &process) &&
               ::GetExitCodeProcess(process.Get(), &exit_code) &&
               exit_code == 0;
  run_loop_.Quit();
}

// --- Errors, cancel and close -----------------------------------------------

void NetInstaller::HandleError(int string_id) {
  const int32_t old_retry_count = retry_count_++;
  // A downloader that retried on its own and got no good reply since has
  // already spent its patience: no sequence retry on top of that.
  if (old_retry_count < kMaxSequenceRetries && DownloaderRetryCount() == 0 &&
      base::DeleteFile(ExtractionDirectory(), true)) {
    SetLabel(IDS_DOWNLOADING);
    LOG(INFO) << "Retrying";
    base::MessageLoop::current()->PostTask(
        FROM_HERE_WITH_EXPLICIT_FUNCTION(
            "vulmo::net_installer::NetInstaller::HandleError"),
        [this] { FetchDownloadUrl(); });
    return;
  }

  LOG(ERROR) << "Used up our retries";
  if (silent_) {
    Close();
    return;
  }
  const HWND parent = progress_dialog_ ? progress_dialog_->hwnd() : nullptr;
  // The error box replaces an open cancel confirmation, and ends the run.
  message_box_.reset();
  close_pending_ = false;
  launch_deferred_ = false;
  message_box_ = std::make_unique<CustomMessageBox>();
  error_box_open_ = message_box_->Show(
      parent, IDS_INSTALLER_TITLE, string_id, 0, IDS_OK,
      [this](int result) { OnMessageBoxClosed(kErrorBox, result); });
  if (!error_box_open_)
    Close();
}

void NetInstaller::RequestClose() {
  VLOG(1) << "Attempt to close our dialog";
  // The error box ends the run however it is closed: nothing to ask.
  if (error_box_open_)
    return;
  // Silent runs never show a box: a close request (another program, the end
  // of the session) aborts at once.
  if (silent_) {
    LOG(INFO) << "User aborted the installation";
    Close();
    return;
  }
  const HWND parent = progress_dialog_ ? progress_dialog_->hwnd() : nullptr;
  // The box disables its parent while it is open, so the progress dialog
  // cannot ask again meanwhile.
  message_box_.reset();
  message_box_ = std::make_unique<CustomMessageBox>();
  close_pending_ = message_box_->Show(
      parent, IDS_CANCEL_TITLE, IDS_CANCEL_QUESTION, IDS_CONTINUE_INSTALLING,
      IDS_ABORT_INSTALLATION,
      [this](int result) { OnMessageBoxClosed(kCancelConfirmation, result); });
  if (close_pending_)
    return;
  // No box, nobody to answer (the box has logged why): the request is
  // dropped and the sequence goes on; the user can ask again. A launch that
  // an earlier, replaced confirmation held back goes ahead too.
  message_box_.reset();
  if (launch_deferred_)
    PostRunInstaller();
}

void NetInstaller::OnMessageBoxClosed(int context, int result) {
  const bool resumed = context == kCancelConfirmation &&
                       result != CustomMessageBox::kSecondButton;
  if (resumed)
    VLOG(1) << "The user resumed the installation";
  else if (context == kCancelConfirmation)
    LOG(INFO) << "User aborted the installation";
  // This runs inside the box's window procedure. The box goes first, while
  // its owner still exists; what follows touches none of its windows.
  message_box_.reset();
  close_pending_ = false;
  error_box_open_ = false;
  if (resumed) {
    if (launch_deferred_)
      PostRunInstaller();
  } else if (context == kCancelConfirmation || context == kErrorBox) {
    Close();
  }
}

void NetInstaller::Close() {
  LOG(INFO) << "Closing";
  DestroyDialogs();
  run_loop_.Quit();
}

void NetInstaller::DestroyDialogs() {
  // The box first: it re-enables its owner, which must still exist then.
  message_box_.reset();
  if (progress_dialog_)
    progress_dialog_->Destroy();
}

void NetInstaller::PostRunInstaller() {
  // Posted, not called: installer.exe runs for minutes, and must not run
  // inside the window procedure that delivered the answer.
  launch_deferred_ = false;
  base::MessageLoop::current()->PostTask(
      FROM_HERE_WITH_EXPLICIT_FUNCTION(
          "vulmo::net_installer::NetInstaller::PostRunInstaller"),
      [this] { RunInstaller(); });
}

// --- Helpers ----------------------------------------------------------------

void NetInstaller::SetLabel(int string_id) {
  if (progress_dialog_)
    progress_dialog_->SetLabel(string_id);
}

int NetInstaller::DownloaderRetryCount() const {
  return downloader_ ? downloader_->retry_count() : 0;
}

base::FilePath NetInstaller::ExtractionDirectory() const {
  return package_path_.RemoveExtension();
}

base::FilePath NetInstaller::PartnerTemporaryFile() const {
  return package_path_.DirName().Append(kPartnerTemporaryFileName);
}

}  // namespace net_installer
}  // namespace vulmo
