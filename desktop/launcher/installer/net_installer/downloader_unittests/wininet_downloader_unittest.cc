// Tests of WininetDownloader on real WinINet against the local test server.
// scripts/test.d/30-downloader.sh runs them inside a private network
// namespace (the test host names resolve to 127.0.0.1 there), with the server
// started and its ports passed in the environment. Run directly, they skip.
#include "desktop/launcher/installer/net_installer/wininet_downloader.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/net_installer/downloader_delegate.h"
#include "desktop/launcher/installer/net_installer/downloader_unittests/downloader_test_server.h"
#include "gtest/gtest.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr char kResourceName[] = "resource.bin";
constexpr uint32_t kResourceSize = 50000;  // Not a multiple of the 1 KB reads.
constexpr int kDownloadTimeoutMs = 20000;
// Walking through all 601 counted retries takes hundreds of requests.
constexpr int kRetryLimitTimeoutMs = 240000;

DownloaderTestServer* g_server = nullptr;
std::wstring g_log_path;

// Deterministic bytes of every value, so a misplaced or repeated piece shows.
std::string MakeBytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  return bytes;
}

const std::string& Resource() {
  static const std::string* resource = new std::string(MakeBytes(kResourceSize));
  return *resource;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string contents;
  (void)base::ReadFileToString(base::FilePath(path), &contents);
  return contents;
}

// The part of the process log written since construction.
class LogWatcher {
 public:
  LogWatcher() : start_(ReadFileBytes(g_log_path).size()) {}

  std::vector<std::string> Lines() const {
    const std::string text = ReadFileBytes(g_log_path);
    std::vector<std::string> lines;
    size_t pos = std::min(start_, text.size());
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos)
        end = text.size();
      std::string line = text.substr(pos, end - pos);
      // Keep the message only: "[date:SEVERITY:file(line)] message".
      const size_t close = line.find("] ");
      lines.push_back(close == std::string::npos ? line : line.substr(close + 2));
      pos = end + 1;
    }
    return lines;
  }

  int Count(const std::string& text) const {
    int count = 0;
    for (const std::string& line : Lines())
      count += line.find(text) != std::string::npos;
    return count;
  }

  // Lines whose message begins with |prefix|, in order.
  std::vector<std::string> Starting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : Lines()) {
      if (line.compare(0, prefix.size(), prefix) == 0)
        found.push_back(line);
    }
    return found;
  }

  // Each of |texts| appears in a line after the line of the one before it.
  ::testing::AssertionResult HasInOrder(const std::vector<std::string>& texts) const {
    const std::vector<std::string> lines = Lines();
    size_t next = 0;
    for (const std::string& text : texts) {
      while (next < lines.size() && lines[next].find(text) == std::string::npos)
        ++next;
      if (next == lines.size()) {
        std::string all;
        for (const std::string& line : lines)
          all += "\n  " + line;
        return ::testing::AssertionFailure()
               << "missing (in order) \"" << text << "\" in the log:" << all;
      }
      ++next;
    }
    return ::testing::AssertionSuccess();
  }

 private:
  size_t start_;
};

// Records what the downloader reports, and on which thread.
class RecordingDelegate : public DownloaderDelegate {
 public:
  RecordingDelegate() : owner_thread_(GetCurrentThreadId()) {}
  ~RecordingDelegate() override {
    if (window_)
      DestroyWindow(window_);
  }

  // A hidden top-level window to own the proxy prompt; false without a
  // display.
  bool CreateOwnerWindow() {
    window_ = CreateWindowExW(0, L"STATIC", L"Downloader test owner",
                              WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    return window_ != nullptr;
  }

  HWND hwnd() const override { return window_; }
  void SetProgressRange(uint32_t total) override {
    Check();
    ranges.push_back(total);
  }
  void SetProgress(uint32_t position) override {
    Check();
    positions.push_back(position);
  }

  std::vector<uint32_t> ranges;
  std::vector<uint32_t> positions;
  int calls_off_owner_thread = 0;
  // Set while no downloader may report to this delegate.
  bool closed = false;
  int calls_while_closed = 0;

 private:
  void Check() {
    if (GetCurrentThreadId() != owner_thread_)
      ++calls_off_owner_thread;
    if (closed)
      ++calls_while_closed;
  }

  const DWORD owner_thread_;
  HWND window_ = nullptr;
};

std::string TestPathPrefix() {
  const ::testing::TestInfo* info =
      ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c)))
      c = '_';
  }
  return "/" + name + "/";
}

bool ProxyRun() {
  const char* value = std::getenv("VULMO_TEST_PROXY_RUN");
  return value && std::strcmp(value, "1") == 0;
}

class WininetDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_server) {
      GTEST_SKIP() << "needs the local test server in a private network "
                      "namespace: run scripts/test.d/30-downloader.sh";
    }
    if (ProxyRun() && !UsesProxy())
      GTEST_SKIP() << "this process runs the proxy tests only";
    static bool resource_written = false;
    if (!resource_written) {
      ASSERT_TRUE(g_server->WriteFile(kResourceName, Resource()));
      resource_written = true;
    }
    prefix_ = TestPathPrefix();
    loop_ = std::make_unique<base::MessageLoop>(base::MessageLoop::TYPE_UI);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    target_ = std::wstring(temp) + L"vulmo_downloader_test_" +
              std::to_wstring(GetCurrentProcessId()) + L".bin";
  }

  void TearDown() override {
    downloader_.reset();
    loop_.reset();
    DeleteFileW(target_.c_str());
  }

  virtual bool UsesProxy() const { return false; }

  // Writes the behaviour script; "@/" stands for this test's path prefix.
  void SetScript(std::string json) {
    for (size_t pos = 0; (pos = json.find("@/", pos)) != std::string::npos;)
      json.replace(pos, 2, prefix_), pos += prefix_.size();
    ASSERT_TRUE(g_server->SetScript(json));
  }

  std::wstring Url(const std::string& name,
                   const std::string& host = "autoupdate.vulmo.com",
                   const std::string& scheme = "http") const {
    return g_server->Url(scheme, host, prefix_ + name);
  }

  std::vector<DownloaderTestServer::Request> Requests(const std::string& name = "") const {
    return g_server->Requests(prefix_ + name);
  }

  // A fresh downloader, prepared for a string or for target_.
  void MakeDownloader(bool to_file, int64_t retry_delay_ms = -1) {
    downloader_ = std::make_unique<WininetDownloader>();
    if (retry_delay_ms >= 0)
      downloader_->set_retry_delay_for_testing(retry_delay_ms * 1000);
    if (to_file)
      ASSERT_TRUE(downloader_->PrepareDownloadToFile(target_));
    else
      ASSERT_TRUE(downloader_->PrepareDownloadToString());
  }

  bool Start(const std::wstring& url, const std::string& post_data = "") {
    return downloader_->StartDownload(url, post_data, &delegate_, [this] {
      ++done_count_;
      done_state_ = downloader_->state();
    });
  }

  // Runs the loop for about |ms| milliseconds.
  void RunFor(int ms) {
    base::RunLoop run_loop;
    loop_->PostDelayedTask(FROM_HERE, [&run_loop] { run_loop.Quit(); },
                           static_cast<int64_t>(ms) * 1000);
    run_loop.Run();
  }

  bool RunUntil(const std::function<bool()>& condition, int timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (!condition()) {
      if (GetTickCount64() >= deadline)
        return false;
      RunFor(5);
    }
    return true;
  }

  bool WaitForDone() {
    return RunUntil([this] { return done_count_ > 0; }, kDownloadTimeoutMs);
  }

  // The body of the finished download, from the string or the file.
  std::string Body(bool to_file) const {
    return to_file ? ReadFileBytes(target_) : downloader_->data();
  }

  std::string prefix_;
  std::unique_ptr<base::MessageLoop> loop_;
  std::unique_ptr<WininetDownloader> downloader_;
  RecordingDelegate delegate_;
  std::wstring target_;
  int done_count_ = 0;
  DownloaderState done_state_ = kStateIdle;
};

// --- Scenarios that differ only in the server's script and the outcome. ---

struct Scenario {
  const char* name;
  // Routes of the behaviour script; the download is of "@/file".
  const char* routes;
  bool to_file;
  int64_t retry_delay_ms;
  DownloaderState state;
  // The body is the whole resource; otherwise its first |stored_prefix|
  // bytes.
  bool full_body;
  // Range header of each request, in order ("" for none); empty: unchecked.
  std::vector<std::string> ranges;
  int requests;  // Number of requests; -1 when |ranges| says it.
  int retry_count;
  int64_t progress_range;  // The total reported to the delegate; -1 unchecked.
  int min_gap_ms;  // Least time between two consecutive requests.
  std::vector<std::string> log_in_order;
  std::vector<std::string> log_absent;
  // A host that no other test uses has no pooled connection: WinINet
  // silently resends a request whose reused connection is reset.
  const char* host = "autoupdate.vulmo.com";
  size_t stored_prefix = 0;
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
  *os << scenario.name;
}

const Scenario kScenarios[] = {
    {"GetToString", R"({"@/file": {"body_file": "resource.bin"}})", false, -1,
     kStateCompleted, true, {""}, -1, 0, kResourceSize, 0,
     {"Starting download from http://autoupdate.vulmo.com:", "Downloader state: 1",
      "Initial request completion", "Expected total size: 50000",
      "Downloader state: 2", "Download completed", "Downloader state: 5"},
     {"Retrying", "Attempting download resume", "Download failed"}},
    {"GetToFile", R"({"@/file": {"body_file": "resource.bin"}})", true, -1,
     kStateCompleted, true, {""}, -1, 0, kResourceSize, 0,
     {"Initial request completion", "Download completed", "Downloader state: 5"},
     {"Retrying", "Attempting download resume"}},
    {"NoContentLengthCompletesAtEndOfBody",
     R"({"@/file": {"body_file": "resource.bin", "content_length": false}})",
     false, -1, kStateCompleted, true, {""}, -1, 0, 0, 0,
     {"Expected total size: 0", "Download completed"},
     {"Attempting download resume"}},
    {"ShortBodyResumesFromStoredSize",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 20000},
                    {"body_file": "resource.bin"}]})",
     true, -1, kStateCompleted, true, {"", "bytes=20000-"}, -1, 0, kResourceSize, 0,
     {"Downloader state: 2", "Attempting download resume", "Downloader state: 1",
      "Initial request completion", "Downloader state: 2", "Download completed"},
     {"Retrying"}},
    {"ShortBodyTwiceResumesTwice",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 10000},
                    {"body_file": "resource.bin", "truncate_after": 7000},
                    {"body_file": "resource.bin"}]})",
     false, -1, kStateCompleted, true, {"", "bytes=10000-", "bytes=17000-"}, -1,
     0, kResourceSize, 0, {"Download completed"}, {"Retrying"}},
    {"Status503IsRetriedAfterTheDelay",
     R"({"@/file": [{"status": 503}, {"status": 503},
                    {"body_file": "resource.bin"}]})",
     false, 300, kStateCompleted, true, {"", "bytes=0-", "bytes=0-"}, -1, 0,
     kResourceSize, 280,
     {"Download failed with 503 error", "Retrying 0 of 600",
      "Attempting download resume", "Download failed with 503 error",
      "Retrying 1 of 600", "Attempting download resume", "Download completed"},
     {"Retrying 2 of 600"}},
    {"Status502IsRetried",
     R"({"@/file": [{"status": 502}, {"body_file": "resource.bin"}]})", true,
     100, kStateCompleted, true, {"", "bytes=0-"}, -1, 0, kResourceSize, 90,
     {"Download failed with 502 error", "Retrying 0 of 600", "Download completed"},
     {}},
    {"Status504IsRetried",
     R"({"@/file": [{"status": 504}, {"body_file": "resource.bin"}]})", false,
     100, kStateCompleted, true, {"", "bytes=0-"}, -1, 0, kResourceSize, 90,
     {"Download failed with 504 error", "Retrying 0 of 600", "Download completed"},
     {}},
    // The reset comes while WinINet waits for the reply: one that is already
    // there when Wine first reads passes there as an empty reply, status 0.
    {"ResetBeforeReplyIsACountedRetry",
     R"({"@/file": [{"reset_before_head": true, "delay_ms": 100},
                    {"body_file": "resource.bin"}]})",
     false, 100, kStateCompleted, true, {"", "bytes=0-"}, -1, 0, kResourceSize,
     90,
     {"Request completed with an error indicating connectivity issues: ",
      "Retrying 0 of 600", "Attempting download resume", "Download completed"},
     {"Download failed"}, "127.0.0.1"},
    {"RetriedRequestTakesTheSizeFromThePartialReply",
     R"({"@/file": [{"status": 503},
                    {"body_file": "resource.bin", "truncate_after": 10000},
                    {"body_file": "resource.bin"}]})",
     true, 10, kStateCompleted, true, {"", "bytes=0-", "bytes=10000-"}, -1, 0,
     kResourceSize, 0,
     {"Retrying 0 of 600", "Initial request completion",
      "Expected total size: 50000", "Attempting download resume",
      "Download completed"},
     {}},
    {"AcceptedReplyRestartsTheRetryCount",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 10000},
                    {"status": 503}, {"status": 503},
                    {"body_file": "resource.bin", "truncate_after": 7000},
                    {"status": 503},
                    {"body_file": "resource.bin"}]})",
     false, 20, kStateCompleted, true,
     {"", "bytes=10000-", "bytes=10000-", "bytes=10000-", "bytes=17000-",
      "bytes=17000-"},
     -1, 0, kResourceSize, 0,
     {"Retrying 0 of 600", "Retrying 1 of 600", "Retrying 0 of 600",
      "Download completed"},
     {"Retrying 2 of 600"}},
    {"Status503UntilTheRetryLimit", R"({"@/file": {"status": 503}})", false, 0,
     kStateFailed, false, {}, 602, 601, -1, 0,
     {"Retrying 0 of 600", "Retrying 1 of 600", "Retrying 600 of 600",
      "Download failed with 503 error", "Download failed", "Downloader state: 4"},
     {"Retrying 601", "Download completed"}},
    {"Status404FailsAtOnce", R"({"@/file": {"status": 404, "body": "gone"}})",
     false, 0, kStateFailed, false, {""}, -1, 0, -1, 0,
     {"Initial request completion",
      "Request completed with an unexpected HTTP status", "Download failed",
      "Downloader state: 4"},
     {"Retrying", "Attempting download resume"}},
    {"Status500FailsAtOnce", R"({"@/file": {"status": 500}})", true, 0,
     kStateFailed, false, {""}, -1, 0, -1, 0,
     {"Request completed with an unexpected HTTP status", "Download failed"},
     {"Retrying", "Attempting download resume"}},
    {"Status403FailsAtOnce", R"({"@/file": {"status": 403}})", false, 0,
     kStateFailed, false, {""}, -1, 0, -1, 0,
     {"Request completed with an unexpected HTTP status", "Download failed"},
     {"Retrying"}},
    {"ServerIgnoringRangeRestartsTheString",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 20000,
                     "range": "ignore"},
                    {"body_file": "resource.bin", "range": "ignore"}]})",
     false, -1, kStateCompleted, true, {"", "bytes=20000-"}, -1, 0, kResourceSize,
     0, {"Attempting download resume", "ignored the range", "Download completed"},
     {}},
    {"ServerIgnoringRangeRestartsTheFile",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 30000,
                     "range": "ignore"},
                    {"body_file": "resource.bin", "truncate_after": 40000,
                     "range": "ignore"},
                    {"body_file": "resource.bin"}]})",
     true, -1, kStateCompleted, true, {"", "bytes=30000-", "bytes=40000-"}, -1, 0,
     kResourceSize, 0, {"ignored the range", "Download completed"}, {}},
    {"RestartThatGetsNoFurtherIsACountedRetry",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 20000,
                     "range": "ignore"},
                    {"body_file": "resource.bin", "truncate_after": 20000,
                     "range": "ignore"},
                    {"body_file": "resource.bin", "range": "ignore"}]})",
     true, 20, kStateCompleted, true, {"", "bytes=20000-", "bytes=20000-"}, -1,
     0, kResourceSize, 0,
     {"ignored the range", "The download got no further than 20000 bytes",
      "Retrying 0 of 600", "Attempting download resume", "ignored the range",
      "Download completed"},
     {"Retrying 1 of 600"}},
    // Servers that would keep a download going for ever: every resume brings
    // nothing new, so each is a counted retry and the limit ends it. The
    // first request stores 2000 bytes, the next 602 add nothing.
    {"ServerIgnoringRangeThatAlwaysBreaksOffFails",
     R"({"@/file": {"body_file": "resource.bin", "truncate_after": 2000,
                    "range": "ignore"}})",
     true, 0, kStateFailed, false, {"", "bytes=2000-", "bytes=2000-"}, 603, 601,
     -1, 0,
     {"ignored the range", "The download got no further than 2000 bytes",
      "Retrying 0 of 600", "Retrying 600 of 600", "Download failed",
      "Downloader state: 4"},
     {"Retrying 601", "Download completed"}, "autoupdate.vulmo.com", 2000},
    {"EmptyPartialRepliesFail",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 2000},
                    {"status": 206,
                     "headers": {"Content-Range": "bytes 2000-49999/50000"}}]})",
     false, 0, kStateFailed, false, {"", "bytes=2000-", "bytes=2000-"}, 603, 601,
     -1, 0,
     {"The download got no further than 2000 bytes", "Retrying 0 of 600",
      "Retrying 600 of 600", "Download failed", "Downloader state: 4"},
     {"Retrying 601", "Download completed"}, "autoupdate.vulmo.com", 2000},
    // The reset comes once the partial reply's head has been taken.
    {"ResetAfterEveryPartialReplyFails",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 2000},
                    {"body_file": "resource.bin", "reset_after": 0,
                     "end_delay_ms": 20}]})",
     true, 0, kStateFailed, false, {"", "bytes=2000-", "bytes=2000-"}, 603, 601,
     -1, 0,
     {"Downloader state: 2", "Retrying 0 of 600", "Retrying 600 of 600",
      "Download failed", "Downloader state: 4"},
     {"Retrying 601", "Download completed"}, "127.0.0.1", 2000},
    // Partial replies whose bytes would not continue the stored ones are not
    // appended: the download fails with what it had.
    {"PartialReplyAtTheWrongOffsetFails",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 20000},
                    {"status": 206, "body_file": "resource.bin",
                     "headers": {"Content-Range": "bytes 0-49999/50000"}}]})",
     true, 0, kStateFailed, false, {"", "bytes=20000-"}, -1, 0, -1, 0,
     {"The partial reply starts at byte 0 instead of 20000", "Download failed",
      "Downloader state: 4"},
     {"Retrying", "Download completed"}, "autoupdate.vulmo.com", 20000},
    {"PartialReplyWithoutContentRangeFails",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 20000},
                    {"status": 206, "body_file": "resource.bin"}]})",
     false, 0, kStateFailed, false, {"", "bytes=20000-"}, -1, 0, -1, 0,
     {"The partial reply has no valid Content-Range", "Download failed"},
     {"Retrying", "Download completed"}, "autoupdate.vulmo.com", 20000},
    {"PartialReplyOfAnotherSizeFails",
     R"({"@/file": [{"body_file": "resource.bin", "truncate_after": 20000},
                    {"status": 206, "body_file": "resource.bin",
                     "headers": {"Content-Range": "bytes 20000-69999/70000"}}]})",
     true, 0, kStateFailed, false, {"", "bytes=20000-"}, -1, 0, -1, 0,
     {"The partial reply is of 70000 bytes in all instead of 50000",
      "Download failed"},
     {"Retrying", "Download completed"}, "autoupdate.vulmo.com", 20000},
    // A name that the namespace's hosts file lacks, and no name server.
    {"UnresolvableHostUntilTheRetryLimit", R"({})", false, 0, kStateFailed,
     false, {}, 0, 601, -1, 0,
     {"Request completed with an error indicating connectivity issues: 12007",
      "Retrying 0 of 600", "Retrying 600 of 600", "Download failed",
      "Downloader state: 4"},
     {"Retrying 601", "Initial request completion"}, "nowhere.invalid"},
};

class DownloaderScenarioTest : public WininetDownloaderTest,
                               public ::testing::WithParamInterface<Scenario> {};

TEST_P(DownloaderScenarioTest, Outcome) {
  const Scenario& scenario = GetParam();
  SetScript(std::string(R"({"routes": )") + scenario.routes + "}");
  LogWatcher log;
  MakeDownloader(scenario.to_file, scenario.retry_delay_ms);
  ASSERT_TRUE(Start(Url("file", scenario.host)));
  EXPECT_EQ(kStateRequesting, downloader_->state());
  ASSERT_TRUE(RunUntil([this] { return done_count_ > 0; },
                       scenario.retry_count > 100 ? kRetryLimitTimeoutMs
                                                  : kDownloadTimeoutMs));
  // Nothing more arrives after the final state.
  RunFor(100);

  EXPECT_EQ(1, done_count_);
  EXPECT_EQ(scenario.state, done_state_);
  EXPECT_EQ(scenario.state, downloader_->state());
  EXPECT_EQ(scenario.retry_count, downloader_->retry_count());
  const std::string body = Body(scenario.to_file);
  if (scenario.full_body) {
    EXPECT_EQ(Resource().size(), body.size());
    EXPECT_TRUE(body == Resource()) << "the body differs from the resource";
  } else {
    EXPECT_EQ(scenario.stored_prefix, body.size());
    EXPECT_TRUE(body == Resource().substr(0, scenario.stored_prefix))
        << "the stored bytes differ from the resource's beginning";
  }

  const auto requests = Requests("file");
  const int expected_requests =
      scenario.requests >= 0 ? scenario.requests
                             : static_cast<int>(scenario.ranges.size());
  EXPECT_EQ(expected_requests, static_cast<int>(requests.size()));
  for (size_t i = 0; i < scenario.ranges.size() && i < requests.size(); ++i) {
    bool has_range = false;
    const std::string range = requests[i].Header("Range", &has_range);
    EXPECT_EQ(scenario.ranges[i], range) << "request " << i;
    EXPECT_EQ(!scenario.ranges[i].empty(), has_range) << "request " << i;
  }
  for (const auto& request : requests) {
    EXPECT_EQ("GET", request.method);
    EXPECT_EQ("Vulmo NetInstaller/1.0.0.1", request.Header("User-Agent"));
  }
  for (size_t i = 1; scenario.min_gap_ms > 0 && i < requests.size(); ++i) {
    EXPECT_GE((requests[i].time - requests[i - 1].time) * 1000,
              scenario.min_gap_ms)
        << "request " << i << " came too early after a counted retry";
  }

  if (scenario.progress_range >= 0) {
    ASSERT_FALSE(delegate_.ranges.empty());
    EXPECT_EQ(static_cast<uint32_t>(scenario.progress_range),
              delegate_.ranges.back());
  }
  if (scenario.state == kStateCompleted) {
    ASSERT_FALSE(delegate_.positions.empty());
    EXPECT_EQ(kResourceSize, delegate_.positions.back());
  }
  EXPECT_EQ(0, delegate_.calls_off_owner_thread);

  EXPECT_TRUE(log.HasInOrder(scenario.log_in_order));
  for (const std::string& absent : scenario.log_absent)
    EXPECT_EQ(0, log.Count(absent)) << "\"" << absent << "\" was logged";
  if (scenario.retry_count > 0) {
    // Exactly one "Retrying" line per counted retry.
    EXPECT_EQ(scenario.retry_count,
              static_cast<int>(log.Starting("Retrying ").size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Server, DownloaderScenarioTest, ::testing::ValuesIn(kScenarios),
    [](const ::testing::TestParamInfo<Scenario>& info) {
      return std::string(info.param.name);
    });

// --- Requests as sent. ---

TEST_F(WininetDownloaderTest, DownloadReportsItsStatesAndProgressInOrder) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin"}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  EXPECT_EQ(kStateIdle, downloader_->state());
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(WaitForDone());
  std::vector<std::string> states = log.Starting("Downloader state: ");
  EXPECT_EQ((std::vector<std::string>{"Downloader state: 1",
                                      "Downloader state: 2",
                                      "Downloader state: 5"}),
            states);
  ASSERT_EQ(1u, delegate_.ranges.size());
  EXPECT_EQ(kResourceSize, delegate_.ranges[0]);
  // Progress moves forward, never back or twice to the same size, and ends
  // at the size.
  ASSERT_FALSE(delegate_.positions.empty());
  for (size_t i = 1; i < delegate_.positions.size(); ++i)
    EXPECT_LT(delegate_.positions[i - 1], delegate_.positions[i]);
  EXPECT_EQ(kResourceSize, delegate_.positions.back());
}

TEST_F(WininetDownloaderTest, PiecesThatArriveWhileTheOwnerIsBusyMakeOneUpdate) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin"}}})");
  MakeDownloader(/*to_file=*/true);
  ASSERT_TRUE(Start(Url("file")));
  // The owner's thread does not run tasks meanwhile; the body's 49 pieces
  // arrive and queue a single progress task, which finds the latest size.
  ::Sleep(1000);
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, done_state_);
  EXPECT_TRUE(ReadFileBytes(target_) == Resource());
  EXPECT_EQ((std::vector<uint32_t>{kResourceSize}), delegate_.positions);
}

TEST_F(WininetDownloaderTest, ProgressKeepsUpWithABodyThatArrivesSlowly) {
  // A full read every 150 ms, far longer than the shortest interval between
  // updates: every read shows (after the 0 of the reply's arrival).
  SetScript(R"({"routes": {"@/slow": {"body": ")" + std::string(4096, 'x') +
            R"(", "drip": {"chunk": 1024, "delay_ms": 150}}}})");
  MakeDownloader(/*to_file=*/true);
  ASSERT_TRUE(Start(Url("slow")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, done_state_);
  std::vector<uint32_t> positions = delegate_.positions;
  if (!positions.empty() && positions.front() == 0)
    positions.erase(positions.begin());
  EXPECT_EQ((std::vector<uint32_t>{1024, 2048, 3072, 4096}), positions);
}

TEST_F(WininetDownloaderTest, PostSendsExactlyThePostDataAndNoExtraHeaders) {
  SetScript(R"({"routes": {"@/exchange": {"json": {"installer": "x"}}}})");
  std::string payload = "tracking=";
  for (int i = 1; i < 256; ++i)
    payload.push_back(static_cast<char>(i));
  MakeDownloader(/*to_file=*/false);
  ASSERT_TRUE(Start(Url("exchange"), payload));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_EQ(R"({"installer": "x"})", downloader_->data());

  const auto requests = Requests("exchange");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_TRUE(requests[0].body == payload);
  EXPECT_EQ(std::to_string(payload.size()), requests[0].Header("Content-Length"));
  EXPECT_EQ("Vulmo NetInstaller/1.0.0.1", requests[0].Header("User-Agent"));
  bool found = true;
  requests[0].Header("Range", &found);
  EXPECT_FALSE(found) << "a first request carries no Range";
  requests[0].Header("Content-Type", &found);
  EXPECT_FALSE(found) << "the downloader adds no headers of its own";
}

TEST_F(WininetDownloaderTest, PostBodyEndsAtTheFirstZeroByte) {
  SetScript(R"({"routes": {"@/exchange": {"body": "ok"}}})");
  MakeDownloader(/*to_file=*/false);
  ASSERT_TRUE(Start(Url("exchange"), std::string("abc\0def", 7)));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  const auto requests = Requests("exchange");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("abc", requests[0].body);
}

TEST_F(WininetDownloaderTest, EmptyPostDataSendsAGet) {
  SetScript(R"({"routes": {"@/exchange": {"body": "ok"}}})");
  MakeDownloader(/*to_file=*/false);
  ASSERT_TRUE(Start(Url("exchange"), ""));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ("ok", downloader_->data());
  const auto requests = Requests("exchange");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("GET", requests[0].method);
  EXPECT_TRUE(requests[0].body.empty());
}

// A reply held in memory cannot grow without bound.
TEST_F(WininetDownloaderTest, StringDownloadLargerThanTheLimitFails) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin"}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  downloader_->set_max_string_size_for_testing(kResourceSize - 1);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateFailed, downloader_->state());
  EXPECT_EQ(1, log.Count("The reply is larger than " +
                         std::to_string(kResourceSize - 1) + " bytes"));
  EXPECT_EQ(1, log.Count("Download failed"));
}

// A connection reset in the middle of the body resumes from the stored size.
// A read that fails resumes at once, uncounted; Wine reports the reset either
// as an early end of the body (resumed the same way) or, when a read was
// pending, as a failed completion with the socket's error, which is a
// connectivity failure and so a counted retry.
TEST_F(WininetDownloaderTest, ResetWhileReadingResumesFromTheStoredSize) {
  SetScript(R"({"routes": {"@/file": [
      {"body_file": "resource.bin", "reset_after": 20000},
      {"body_file": "resource.bin"}]}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/true, /*retry_delay_ms=*/50);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(ReadFileBytes(target_) == Resource());
  EXPECT_EQ(0, downloader_->retry_count());
  EXPECT_TRUE(log.HasInOrder({"Downloader state: 2", "Attempting download resume",
                              "Download completed"}));
  EXPECT_EQ(0, log.Count("Download failed"));
  if (log.Count("Request completed with an error indicating connectivity "
                "issues: 12031") == 1) {
    EXPECT_EQ(1, log.Count("Retrying 0 of 600"));
  } else {
    EXPECT_EQ(0, log.Count("Request completed with an error"));
    EXPECT_EQ(0, log.Count("Retrying"));
  }
  const auto requests = Requests("file");
  ASSERT_EQ(2u, requests.size());
  const std::string range = requests[1].Header("Range");
  ASSERT_EQ(0u, range.rfind("bytes=", 0)) << range;
  const unsigned long resumed_at = std::strtoul(range.c_str() + 6, nullptr, 10);
  EXPECT_LE(resumed_at, 20000u);
  EXPECT_EQ("bytes=" + std::to_string(resumed_at) + "-", range);
}

// Pieces reach the file in blocks: a body several blocks long that ends
// early, in the middle of a block, resumes after exactly the bytes stored,
// and the file holds the body once, in order.
TEST_F(WininetDownloaderTest, EarlyEndInTheMiddleOfAWriteBlockResumesExactly) {
  constexpr size_t kLargeSize = 5 * WininetDownloader::kWriteBufferSize + 777;
  constexpr size_t kCut = 2 * WininetDownloader::kWriteBufferSize + 18928;
  const std::string large = MakeBytes(kLargeSize);
  ASSERT_TRUE(g_server->WriteFile("large.bin", large));
  SetScript(R"({"routes": {"@/large": [
      {"body_file": "large.bin", "truncate_after": )" + std::to_string(kCut) + R"(},
      {"body_file": "large.bin"}]}})");
  MakeDownloader(/*to_file=*/true, /*retry_delay_ms=*/50);
  ASSERT_TRUE(Start(Url("large")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(ReadFileBytes(target_) == large);
  const auto requests = Requests("large");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("bytes=" + std::to_string(kCut) + "-", requests[1].Header("Range"));
}

// --- Failures that reach the retry limit without a server. ---

TEST_F(WininetDownloaderTest, ConnectionRefusedUntilTheRetryLimit) {
  LogWatcher log;
  MakeDownloader(/*to_file=*/false, /*retry_delay_ms=*/0);
  // Nothing listens on port 1 of the namespace's loopback.
  ASSERT_TRUE(Start(L"http://autoupdate.vulmo.com:1/" +
                    base::UTF8ToUTF16(prefix_) + L"file"));
  ASSERT_TRUE(RunUntil([this] { return done_count_ > 0; }, 120000));
  EXPECT_EQ(kStateFailed, downloader_->state());
  EXPECT_EQ(601, downloader_->retry_count());
  EXPECT_EQ(602, log.Count("Request completed with an error indicating "
                           "connectivity issues: 12029"));
  const auto retries = log.Starting("Retrying ");
  ASSERT_EQ(601u, retries.size());
  EXPECT_EQ("Retrying 0 of 600", retries.front());
  EXPECT_EQ("Retrying 600 of 600", retries.back());
  EXPECT_TRUE(log.HasInOrder({"Retrying 600 of 600", "Attempting download resume",
                              "Request completed with an error", "Download failed",
                              "Downloader state: 4"}));
}

TEST_F(WininetDownloaderTest, TheRetryDelayIsSixSecondsByDefault) {
  EXPECT_EQ(6000000, WininetDownloader::kRetryDelay);
  EXPECT_EQ(600, WininetDownloader::kMaxRetries);
  SetScript(R"({"routes": {"@/file": [{"status": 503}, {"body": "late"}]}})");
  MakeDownloader(/*to_file=*/false);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(RunUntil([this] { return Requests("file").size() == 1; }, 5000));
  const ULONGLONG retried = GetTickCount64();
  ASSERT_TRUE(WaitForDone());
  EXPECT_GE(GetTickCount64() - retried, 5500u);
  EXPECT_EQ("late", downloader_->data());
}

// --- Host policy. ---

TEST_F(WininetDownloaderTest, StartRefusesHostsOutsideTheAllowedSuffixes) {
  SetScript(R"({"routes": {"@/file": {"body": "never"}}})");
  struct Case {
    const char* host;
    const char* message;
  } const cases[] = {
      // The domain itself lacks the leading dot of the suffix.
      {"vulmo.com", "Attempting to download from a disallowed domain"},
      {"evil.example", "Attempting to download from a disallowed domain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    LogWatcher log;
    MakeDownloader(/*to_file=*/false);
    downloader_->SetAllowedDomainSuffixes({L".vulmo.com", L".vulmo.io"});
    EXPECT_FALSE(Start(Url("file", c.host)));
    EXPECT_EQ(kStateIdle, downloader_->state());
    EXPECT_EQ(1, log.Count(c.message));
  }
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  EXPECT_FALSE(Start(L"no url at all"));
  EXPECT_EQ(1, log.Count("Could not parse URL"));
  RunFor(300);
  EXPECT_EQ(0, done_count_);
  EXPECT_TRUE(Requests().empty()) << "a refused start sent a request";
}

TEST_F(WininetDownloaderTest, AnyListedSuffixAllowsTheStartHost) {
  SetScript(R"({"routes": {"@/file": {"body": "fine"}}})");
  MakeDownloader(/*to_file=*/false);
  downloader_->SetAllowedDomainSuffixes({L".vulmo.io", L".vulmo.com"});
  ASSERT_TRUE(Start(Url("file", "allowed.vulmo.com")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_EQ("fine", downloader_->data());
}

TEST_F(WininetDownloaderTest, RedirectToAnAllowedHostIsFollowed) {
  SetScript(R"({"routes": {
      "@/start": {"status": 302, "location": "{base:allowed.vulmo.com}@/target"},
      "@/target": {"body_file": "resource.bin"}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  downloader_->SetAllowedDomainSuffixes({L".vulmo.com"});
  ASSERT_TRUE(Start(Url("start")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(downloader_->data() == Resource());
  EXPECT_EQ(1, log.Count("Redirect occured"));
  EXPECT_EQ(0, log.Count("disallowed"));
  const auto target = Requests("target");
  ASSERT_EQ(1u, target.size());
  EXPECT_EQ(0u, target[0].host.rfind("allowed.vulmo.com", 0));
}

TEST_F(WininetDownloaderTest, RedirectToARefusedHostFailsWithoutUsingItsReply) {
  SetScript(R"({"routes": {
      "@/start": {"status": 302, "location": "{base:evil.example}@/target"},
      "@/target": {"body": "EVIL REPLY"}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  downloader_->SetAllowedDomainSuffixes({L".vulmo.com"});
  ASSERT_TRUE(Start(Url("start")));
  ASSERT_TRUE(WaitForDone());
  // Whatever the platform still does with the abandoned request changes
  // nothing.
  RunFor(1000);
  EXPECT_EQ(1, done_count_);
  EXPECT_EQ(kStateFailed, downloader_->state());
  EXPECT_TRUE(downloader_->data().empty()) << downloader_->data();
  EXPECT_TRUE(log.HasInOrder({"Redirect occured",
                              "Attempting to redirect to a disallowed domain: "
                              "evil.example",
                              "Download failed", "Downloader state: 4"}));
  EXPECT_EQ(0, log.Count("Initial request completion"));
  EXPECT_EQ(0, log.Count("Downloader state: 2"));
  EXPECT_EQ(0, log.Count("Download completed"));
  EXPECT_TRUE(delegate_.positions.empty());
  EXPECT_EQ(1u, Requests("start").size());
}

TEST_F(WininetDownloaderTest, WithoutSuffixesEveryRedirectIsFollowed) {
  SetScript(R"({"routes": {
      "@/start": {"status": 302, "location": "{base:evil.example}@/target"},
      "@/target": {"body": "partner file"}}})");
  MakeDownloader(/*to_file=*/true);
  ASSERT_TRUE(Start(Url("start")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_EQ("partner file", ReadFileBytes(target_));
}

// A resume asks the URL given at start again, not the redirect's target.
// (Under Wine the resumed request goes to the redirect's host: the kept
// connection handle names it after the redirect. Its path is the start's.)
TEST_F(WininetDownloaderTest, ResumeAfterARedirectAsksTheStartUrlAgain) {
  SetScript(R"({"routes": {
      "@/start": {"status": 302, "location": "{base:allowed.vulmo.com}@/target"},
      "@/target": [{"body_file": "resource.bin", "truncate_after": 20000},
                   {"body_file": "resource.bin"}]}})");
  MakeDownloader(/*to_file=*/true);
  downloader_->SetAllowedDomainSuffixes({L".vulmo.com"});
  ASSERT_TRUE(Start(Url("start")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(ReadFileBytes(target_) == Resource());
  const auto start = Requests("start");
  ASSERT_EQ(2u, start.size());
  EXPECT_EQ("bytes=20000-", start[1].Header("Range"));
}

// --- Stop and lifetime. ---

TEST_F(WininetDownloaderTest, StopDuringTheBodyClosesTheFileAndEndsEverything) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin",
                                      "drip": {"chunk": 1000, "delay_ms": 40}}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/true);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(RunUntil(
      [this] {
        return !delegate_.positions.empty() && delegate_.positions.back() > 0;
      },
      kDownloadTimeoutMs));
  downloader_->StopDownload();
  EXPECT_EQ(kStateStopped, downloader_->state());
  // The file is closed: it can be opened without sharing.
  HANDLE file = CreateFileW(target_.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, file);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  const std::string stored = ReadFileBytes(target_);
  EXPECT_GT(stored.size(), 0u);
  EXPECT_LT(stored.size(), kResourceSize);
  EXPECT_TRUE(stored == Resource().substr(0, stored.size()));

  RunFor(1500);
  EXPECT_EQ(0, done_count_);
  EXPECT_EQ(kStateStopped, downloader_->state());
  EXPECT_EQ(stored.size(), ReadFileBytes(target_).size());
  EXPECT_TRUE(log.HasInOrder({"Downloader state: 2", "Stopping the download",
                              "Downloader state: 3"}));
  EXPECT_EQ(0, log.Count("Download completed"));
  EXPECT_EQ(0, log.Count("Download failed"));
}

TEST_F(WininetDownloaderTest, StopBeforeTheReplyIgnoresTheLaterCompletion) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin",
                                      "delay_ms": 300}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  ASSERT_TRUE(Start(Url("file")));
  downloader_->StopDownload();
  ASSERT_TRUE(RunUntil([this] { return Requests("file").size() == 1; }, 5000));
  RunFor(1000);
  EXPECT_EQ(0, done_count_);
  EXPECT_EQ(kStateStopped, downloader_->state());
  EXPECT_TRUE(downloader_->data().empty());
  EXPECT_EQ(0, log.Count("Initial request completion"));
}

// The installer's driver destroys the downloader from its done callback.
TEST_F(WininetDownloaderTest, DoneCallbackMayDestroyTheDownloader) {
  SetScript(R"({"routes": {"@/file": {"body": "small"}}})");
  MakeDownloader(/*to_file=*/false);
  std::string body;
  ASSERT_TRUE(downloader_->StartDownload(Url("file"), "", &delegate_, [&] {
    body = downloader_->data();
    downloader_.reset();
  }));
  ASSERT_TRUE(RunUntil([this] { return !downloader_; }, kDownloadTimeoutMs));
  RunFor(200);
  EXPECT_EQ("small", body);
}

// Downloaders destroyed at every point of a transfer: no crash, and nothing
// reaches a destroyed downloader or its delegate afterwards.
TEST_F(WininetDownloaderTest, DestroyingDownloadersMidTransferIsSafe) {
  SetScript(R"({"routes": {
      "@/drip": {"body_file": "resource.bin", "drip": {"chunk": 700, "delay_ms": 3}},
      "@/slow": {"body_file": "resource.bin", "delay_ms": 15},
      "@/retry": {"status": 503},
      "@/short": [{"body_file": "resource.bin", "truncate_after": 3000},
                  {"body_file": "resource.bin", "drip": {"chunk": 2000, "delay_ms": 2}}],
      "@/redirect": {"status": 302, "location": "{base:evil.example}@/drip"}}})");
  const char* const routes[] = {"drip", "slow", "retry", "short", "redirect"};
  constexpr int kIterations = 200;
  int late_callbacks = 0;
  int destroyed_with_data = 0;
  int destroyed_before_done = 0;
  for (int i = 0; i < kIterations; ++i) {
    const bool to_file = (i / 5) % 2 == 1;
    MakeDownloader(to_file, /*retry_delay_ms=*/2);
    downloader_->SetAllowedDomainSuffixes({L".vulmo.com"});
    auto destroyed = std::make_shared<bool>(false);
    auto done = std::make_shared<bool>(false);
    delegate_.closed = false;
    delegate_.positions.clear();
    ASSERT_TRUE(downloader_->StartDownload(
        Url(routes[i % 5]), "", &delegate_, [destroyed, done, &late_callbacks] {
          if (*destroyed)
            ++late_callbacks;
          *done = true;
        }));
    // From no time at all to well into the body.
    const int lifetime_ms = (i * 7) % 45;
    if (lifetime_ms > 0)
      RunFor(lifetime_ms);
    destroyed_with_data += !delegate_.positions.empty() && !*done;
    destroyed_before_done += !*done;
    downloader_.reset();
    *destroyed = true;
    delegate_.closed = true;
  }
  RunFor(1500);
  EXPECT_EQ(0, late_callbacks);
  EXPECT_EQ(0, delegate_.calls_while_closed);
  // The iterations really caught transfers in flight.
  EXPECT_GT(destroyed_with_data, 10);
  EXPECT_GT(destroyed_before_done, kIterations / 2);
}

// A stopped transfer says nothing more about retries, also when the failed
// completion of its request arrives after the stop.
TEST_F(WininetDownloaderTest, CompletionErrorAfterAStopIsNotRetried) {
  SetScript(R"({"routes": {"@/file": [{"reset_before_head": true, "delay_ms": 300},
                                      {"body_file": "resource.bin"}]}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false, /*retry_delay_ms=*/0);
  // A host that no other test uses: no pooled connection to be resent on.
  ASSERT_TRUE(Start(Url("file", "127.0.0.1")));
  downloader_->StopDownload();
  ASSERT_TRUE(RunUntil([this] { return Requests("file").size() == 1; }, 5000));
  RunFor(1000);
  EXPECT_EQ(0, done_count_);
  EXPECT_EQ(kStateStopped, downloader_->state());
  EXPECT_EQ(0, downloader_->retry_count());
  EXPECT_EQ(0, log.Count("Retrying"));
  EXPECT_EQ(0, log.Count("Request completed with an error"));
  EXPECT_EQ(0, log.Count("Attempting download resume"));
  EXPECT_EQ(1u, Requests("file").size());
}

// A stop while a counted retry waits for its delay is final.
TEST_F(WininetDownloaderTest, StopDuringTheRetryDelayIsFinal) {
  SetScript(R"({"routes": {"@/file": [{"status": 503}, {"body_file": "resource.bin"}]}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/true, /*retry_delay_ms=*/500);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(RunUntil([&log] { return log.Count("Retrying 0 of 600") == 1; },
                       kDownloadTimeoutMs));
  downloader_->StopDownload();
  RunFor(1500);
  EXPECT_EQ(0, done_count_);
  EXPECT_EQ(kStateStopped, downloader_->state());
  EXPECT_EQ(0, log.Count("Attempting download resume"));
  EXPECT_EQ(1, log.Count("Retrying"));
  EXPECT_EQ(1u, Requests("file").size());
  EXPECT_TRUE(ReadFileBytes(target_).empty());
}

// A downloader carries one transfer: a second start is refused, after a stop
// as after an outcome, and sends nothing.
TEST_F(WininetDownloaderTest, SecondStartIsRefused) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin", "delay_ms": 200},
                           "@/second": {"body": "second"}}})");
  for (const bool stop_first : {true, false}) {
    SCOPED_TRACE(stop_first ? "after a stop" : "after completion");
    LogWatcher log;
    done_count_ = 0;
    MakeDownloader(/*to_file=*/false);
    ASSERT_TRUE(Start(Url("file")));
    if (stop_first)
      downloader_->StopDownload();
    else
      ASSERT_TRUE(WaitForDone());
    const DownloaderState state = downloader_->state();
    EXPECT_FALSE(Start(Url("second")));
    EXPECT_EQ(1, log.Count("The downloader has already been started"));
    RunFor(700);
    EXPECT_EQ(state, downloader_->state());
    EXPECT_EQ(stop_first ? 0 : 1, done_count_);
    EXPECT_TRUE(downloader_->data() == (stop_first ? "" : Resource()));
    EXPECT_EQ(stop_first ? 0 : 1, log.Count("Initial request completion"));
  }
  EXPECT_TRUE(Requests("second").empty());
}

// Destroyed mid-transfer without a stop, the downloader still writes every
// byte it stored: the file never holds less than the delegate was shown.
TEST_F(WininetDownloaderTest, DestructionWritesTheBufferedBytes) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin",
                                      "drip": {"chunk": 1000, "delay_ms": 40}}}})");
  MakeDownloader(/*to_file=*/true);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(RunUntil(
      [this] {
        return !delegate_.positions.empty() && delegate_.positions.back() >= 3000;
      },
      kDownloadTimeoutMs));
  const uint32_t shown = delegate_.positions.back();
  downloader_.reset();
  const std::string stored = ReadFileBytes(target_);
  EXPECT_GE(stored.size(), shown);
  EXPECT_LT(stored.size(), kResourceSize);
  EXPECT_TRUE(stored == Resource().substr(0, stored.size()));
}

// Without its status callback a session could never report: it is refused
// before anything is sent.
TEST_F(WininetDownloaderTest, SessionWithoutStatusCallbackIsRefused) {
  SetScript(R"({"routes": {"@/file": {"body": "never"}}})");
  LogWatcher log;
  downloader_ = std::make_unique<WininetDownloader>();
  downloader_->set_refuse_status_callback_for_testing();
  EXPECT_FALSE(downloader_->PrepareDownloadToString());
  EXPECT_TRUE(log.HasInOrder({"Could not install the internet status callback",
                              "Could not open internet"}));
  EXPECT_FALSE(Start(Url("file")));
  RunFor(500);
  EXPECT_EQ(0, done_count_);
  EXPECT_EQ(kStateIdle, downloader_->state());
  EXPECT_TRUE(Requests("file").empty());
}

TEST_F(WininetDownloaderTest, TargetInAMissingFolderIsRefused) {
  LogWatcher log;
  downloader_ = std::make_unique<WininetDownloader>();
  target_ = target_ + L".missing\\resource.bin";
  EXPECT_FALSE(downloader_->PrepareDownloadToFile(target_));
  EXPECT_EQ(1, log.Count("Could not open download file for writing"));
}

// A reply that may be cached for an hour is still fetched from the server
// by every download. (Wine's WinINet stores such a reply in its cache but
// never answers from it, so under Wine this holds even without
// INTERNET_FLAG_RELOAD; on Windows the flag is what makes it hold.)
TEST_F(WininetDownloaderTest, CacheableReplyIsFetchedAgain) {
  SetScript(R"({"routes": {"@/file": {"body": "fresh",
      "headers": {"Cache-Control": "public, max-age=3600",
                  "Last-Modified": "Mon, 07 Dec 2026 10:00:00 GMT",
                  "Expires": "Thu, 01 Dec 2033 16:00:00 GMT",
                  "ETag": "\"v1\""}}}})");
  for (int i = 0; i < 2; ++i) {
    done_count_ = 0;
    MakeDownloader(/*to_file=*/false);
    ASSERT_TRUE(Start(Url("file")));
    ASSERT_TRUE(WaitForDone());
    EXPECT_EQ("fresh", downloader_->data());
  }
  const auto requests = Requests("file");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(200, requests[1].status);
}

// The target on a file system that is full: the download fails and never
// says it completed, whether the write fails with the last block or in the
// middle of the body.
TEST_F(WininetDownloaderTest, WriteToAFullFileSystemFails) {
  const char* full = std::getenv("VULMO_TEST_FULL_DIR");
  if (!full || !*full)
    GTEST_SKIP() << "needs the small file system that 30-downloader.sh mounts";
  const std::string large = MakeBytes(5 * WininetDownloader::kWriteBufferSize);
  ASSERT_TRUE(g_server->WriteFile("large.bin", large));
  SetScript(R"({"routes": {"@/small": {"body_file": "resource.bin"},
                           "@/large": {"body_file": "large.bin"}}})");
  target_ = base::UTF8ToUTF16(full) + L"\\target.bin";
  for (const char* name : {"small", "large"}) {
    SCOPED_TRACE(name);
    LogWatcher log;
    done_count_ = 0;
    MakeDownloader(/*to_file=*/true);
    ASSERT_TRUE(Start(Url(name)));
    ASSERT_TRUE(WaitForDone());
    RunFor(100);
    EXPECT_EQ(1, done_count_);
    EXPECT_EQ(kStateFailed, downloader_->state());
    EXPECT_TRUE(log.HasInOrder({"Download failed", "Downloader state: 4"}));
    EXPECT_EQ(0, log.Count("Download completed"));
    EXPECT_EQ(0, log.Count("Attempting download resume"));
    downloader_.reset();
    EXPECT_TRUE(DeleteFileW(target_.c_str()));
  }
}

// --- HTTPS. ---

TEST_F(WininetDownloaderTest, HttpsThroughTheTestAuthority) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin"}}})");
  MakeDownloader(/*to_file=*/true);
  ASSERT_TRUE(Start(Url("file", "autoupdate.vulmo.com", "https")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(ReadFileBytes(target_) == Resource());
  const auto requests = Requests("file");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("https", requests[0].listener);
}

TEST_F(WininetDownloaderTest, HttpsResumesAfterAShortBody) {
  SetScript(R"({"routes": {"@/file": [
      {"body_file": "resource.bin", "truncate_after": 25000},
      {"body_file": "resource.bin"}]}})");
  MakeDownloader(/*to_file=*/false);
  ASSERT_TRUE(Start(Url("file", "autoupdate.vulmo.com", "https")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(downloader_->data() == Resource());
  const auto requests = Requests("file");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("bytes=25000-", requests[1].Header("Range"));
}

// Any completion error outside the connectivity set fails at once.
TEST_F(WininetDownloaderTest, CertificateForAnotherNameFailsAtOnce) {
  SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin"}}})");
  LogWatcher log;
  MakeDownloader(/*to_file=*/false, /*retry_delay_ms=*/0);
  // The server's certificate does not name this host.
  ASSERT_TRUE(Start(Url("file", "allowed.vulmo.com", "https")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(kStateFailed, downloader_->state());
  EXPECT_EQ(0, downloader_->retry_count());
  EXPECT_TRUE(log.HasInOrder({"Request completed with an unexpected error: ",
                              "Download failed", "Downloader state: 4"}));
  EXPECT_EQ(0, log.Count("Retrying"));
  EXPECT_TRUE(downloader_->data().empty());
}

// --- Proxy authentication. ---

// Answers the proxy credentials prompt from another thread, as a user would.
class PromptAnswerer {
 public:
  PromptAnswerer(std::wstring user, std::wstring password, bool confirm)
      : user_(std::move(user)), password_(std::move(password)), confirm_(confirm) {
    thread_ = std::thread([this] { Run(); });
  }
  ~PromptAnswerer() {
    stop_ = true;
    thread_.join();
  }
  int answered() const { return answered_; }

 private:
  struct Search {
    DWORD process;
    HWND found;
  };
  static BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && wcscmp(class_name, L"#32770") == 0 &&
        IsWindowVisible(window)) {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }
  static BOOL CALLBACK FindEdits(HWND window, LPARAM param) {
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    if (_wcsicmp(class_name, L"Edit") == 0)
      reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
  }

  void Run() {
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (!stop_ && GetTickCount64() < deadline) {
      Search search = {GetCurrentProcessId(), nullptr};
      EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
      if (!search.found) {
        Sleep(20);
        continue;
      }
      std::vector<HWND> edits;
      EnumChildWindows(search.found, &FindEdits, reinterpret_cast<LPARAM>(&edits));
      for (HWND edit : edits) {
        const bool password = GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD;
        SendMessageW(edit, WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(password ? password_.c_str()
                                                       : user_.c_str()));
      }
      SendMessageW(search.found, WM_COMMAND, confirm_ ? IDOK : IDCANCEL, 0);
      ++answered_;
      return;
    }
  }

  const std::wstring user_;
  const std::wstring password_;
  const bool confirm_;
  std::atomic<bool> stop_{false};
  std::atomic<int> answered_{0};
  std::thread thread_;
};

// Sets (or, with an empty |server|, clears) the current user's proxy in this
// Wine prefix's registry, where INTERNET_OPEN_TYPE_PRECONFIG reads it.
bool UseProxy(const std::wstring& server) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                      0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD enable = server.empty() ? 0 : 1;
  bool ok = RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&enable),
                           sizeof(enable)) == ERROR_SUCCESS;
  if (server.empty()) {
    RegDeleteValueW(key, L"ProxyServer");
  } else {
    ok = ok && RegSetValueExW(key, L"ProxyServer", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(server.c_str()),
                              static_cast<DWORD>((server.size() + 1) *
                                                 sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

class ProxyAuthenticationTest : public WininetDownloaderTest {
 protected:
  void SetUp() override {
    WininetDownloaderTest::SetUp();
    if (IsSkipped())
      return;
    // Wine keeps the proxy settings of the process's first internet session
    // for all later ones, so these tests need a process whose sessions all
    // go through the proxy.
    if (!ProxyRun()) {
      GTEST_SKIP() << "runs in a process of its own with the test proxy "
                      "(30-downloader.sh does that after the other tests)";
    }
    if (!delegate_.CreateOwnerWindow())
      GTEST_SKIP() << "the credentials prompt needs a display (run under Xvfb)";
    // The session takes the system's proxy configuration when it opens.
    ASSERT_TRUE(UseProxy(L"127.0.0.1:" + std::to_wstring(g_server->proxy_port())));
    SetScript(R"({"routes": {"@/file": {"body_file": "resource.bin"}}})");
  }
  void TearDown() override {
    UseProxy(L"");
    WininetDownloaderTest::TearDown();
  }
  bool UsesProxy() const override { return true; }
  std::vector<DownloaderTestServer::Request> ProxyRequests() const {
    std::vector<DownloaderTestServer::Request> proxied;
    for (const auto& request : Requests("file")) {
      if (request.listener == "proxy")
        proxied.push_back(request);
    }
    return proxied;
  }
  std::vector<DownloaderTestServer::Request> OriginRequests() const {
    std::vector<DownloaderTestServer::Request> origin;
    for (const auto& request : Requests("file")) {
      if (request.listener != "proxy")
        origin.push_back(request);
    }
    return origin;
  }
};

TEST_F(ProxyAuthenticationTest, AnsweredPromptResumesFromZeroWithCredentials) {
  LogWatcher log;
  MakeDownloader(/*to_file=*/true);
  PromptAnswerer answerer(base::UTF8ToUTF16(g_server->proxy_user()),
                          base::UTF8ToUTF16(g_server->proxy_password()),
                          /*confirm=*/true);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(WaitForDone());
  EXPECT_EQ(1, answerer.answered());
  EXPECT_EQ(kStateCompleted, downloader_->state());
  EXPECT_TRUE(ReadFileBytes(target_) == Resource());
  EXPECT_EQ(0, downloader_->retry_count());
  EXPECT_TRUE(log.HasInOrder({"Request completed with a proxy authentication "
                              "request",
                              "Logged in to proxy - resuming download",
                              "Attempting download resume",
                              "Download completed"}));

  // The first request meets the 407. The resumed one asks "bytes=0-"; WinINet
  // itself answers the proxy's challenge on it with the stored credentials.
  const auto proxied = ProxyRequests();
  ASSERT_GE(proxied.size(), 2u);
  EXPECT_EQ(407, proxied[0].status);
  bool found = true;
  proxied[0].Header("Range", &found);
  EXPECT_FALSE(found);
  for (size_t i = 1; i < proxied.size(); ++i)
    EXPECT_EQ("bytes=0-", proxied[i].Header("Range")) << "request " << i;
  EXPECT_EQ("Basic dnVsbW86cHJveHktc2VjcmV0",  // vulmo:proxy-secret
            proxied.back().Header("Proxy-Authorization"));
  const auto origin = OriginRequests();
  ASSERT_EQ(1u, origin.size());
  EXPECT_EQ("bytes=0-", origin[0].Header("Range"));
  EXPECT_EQ(1, log.Count("Logged in to proxy - resuming download"));
}

TEST_F(ProxyAuthenticationTest, CancelledPromptFailsWithoutRetrying) {
  LogWatcher log;
  MakeDownloader(/*to_file=*/false);
  PromptAnswerer answerer(L"", L"", /*confirm=*/false);
  ASSERT_TRUE(Start(Url("file")));
  ASSERT_TRUE(WaitForDone());
  RunFor(300);
  EXPECT_EQ(1, answerer.answered());
  EXPECT_EQ(1, done_count_);
  EXPECT_EQ(kStateFailed, downloader_->state());
  EXPECT_TRUE(log.HasInOrder({"Request completed with a proxy authentication "
                              "request",
                              "Could not obtain credentials for proxy",
                              "Download failed"}));
  EXPECT_EQ(0, log.Count("Attempting download resume"));
  EXPECT_EQ(1u, ProxyRequests().size());
  EXPECT_TRUE(OriginRequests().empty());
}

// Adds the test CA (PEM file named by VULMO_TEST_CA_CERT) to the machine's
// root store of this Wine prefix, so HTTPS to the test server is trusted.
int TrustTestRoot() {
  const char* path = std::getenv("VULMO_TEST_CA_CERT");
  if (!path) {
    std::fprintf(stderr, "VULMO_TEST_CA_CERT is not set\n");
    return 1;
  }
  std::wstring windows_path = L"Z:";
  for (const char* c = path; *c; ++c)
    windows_path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
  const std::string pem = ReadFileBytes(windows_path);
  DWORD size = 0;
  if (pem.empty() ||
      !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                            nullptr)) {
    std::fprintf(stderr, "cannot read the certificate %s\n", path);
    return 1;
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                            CRYPT_STRING_BASE64HEADER, der.data(), &size,
                            nullptr, nullptr)) {
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, der.data(), size,
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", error);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace net_installer
}  // namespace vulmo

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trust-root-certificate") == 0)
      return vulmo::net_installer::TrustTestRoot();
  }
  ::testing::InitGoogleTest(&argc, argv);
  base::AtExitManager at_exit;
  base::CommandLine::Init();
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative("v", L"1");
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  vulmo::net_installer::g_log_path =
      std::wstring(temp) + L"vulmo_downloader_tests_" +
      std::to_wstring(GetCurrentProcessId()) + L".log";
  logging::LoggingSettings settings;
  settings.log_file = vulmo::net_installer::g_log_path.c_str();
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  if (!logging::InitLogging(settings)) {
    std::fprintf(stderr, "cannot open the log file\n");
    return 1;
  }
  vulmo::net_installer::DownloaderTestServer server;
  if (server.Init()) {
    vulmo::net_installer::g_server = &server;
    // A run that crashed may have left the test proxy configured.
    vulmo::net_installer::UseProxy(L"");
  }
  const int result = RUN_ALL_TESTS();
  if (result == 0)
    DeleteFileW(vulmo::net_installer::g_log_path.c_str());
  return result;
}
