// The downloader tests' view of the local test server that
// scripts/test.d/30-downloader.sh starts inside the test's network namespace:
// its ports, its behaviour script, the body files beside the script and its
// request log. The driver passes everything through environment variables;
// outside the driver Init() returns false and the tests skip.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DOWNLOADER_UNITTESTS_DOWNLOADER_TEST_SERVER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DOWNLOADER_UNITTESTS_DOWNLOADER_TEST_SERVER_H_

#include <string>
#include <utility>
#include <vector>

namespace vulmo {
namespace net_installer {

class DownloaderTestServer {
 public:
  // One line of the server's request log.
  struct Request {
    double time = 0;  // Seconds since the epoch, when the reply started.
    std::string listener;  // "http", "https" or "proxy".
    std::string method;
    std::string path;  // The request target as sent.
    std::string host;  // The Host header.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int status = 0;  // What the server answered; 0 when it relayed a reply.

    // First value of a header (name compared without case); |found| tells
    // an empty value from a missing header.
    std::string Header(const std::string& name, bool* found = nullptr) const;
  };

  // Reads the environment. False when the tests do not run under the driver.
  bool Init();

  int http_port() const { return http_port_; }
  int https_port() const { return https_port_; }
  int proxy_port() const { return proxy_port_; }
  const std::string& proxy_user() const { return proxy_user_; }
  const std::string& proxy_password() const { return proxy_password_; }
  // The test CA's certificate (PEM), as a Windows path.
  const std::wstring& ca_certificate() const { return ca_certificate_; }

  // "scheme://host:port/path" for the listener of |scheme|.
  std::wstring Url(const std::string& scheme, const std::string& host,
                   const std::string& path) const;

  // Replaces the behaviour script (JSON text) atomically; the server restarts
  // every route's sequence when it sees the change.
  bool SetScript(const std::string& json) const;
  // Writes a file beside the script, for "body_file".
  bool WriteFile(const std::string& name, const std::string& bytes) const;

  // Every request logged so far whose target begins with |path_prefix|
  // (absolute-form proxy targets are compared by their path).
  std::vector<Request> Requests(const std::string& path_prefix) const;

 private:
  std::wstring WindowsPath(const std::string& name) const;

  int http_port_ = 0;
  int https_port_ = 0;
  int proxy_port_ = 0;
  std::string proxy_user_;
  std::string proxy_password_;
  std::string directory_;  // Linux path of the server's folder.
  std::string script_name_;
  std::string log_name_;
  std::wstring ca_certificate_;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_DOWNLOADER_UNITTESTS_DOWNLOADER_TEST_SERVER_H_
