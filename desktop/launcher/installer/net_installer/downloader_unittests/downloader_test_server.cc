#include "desktop/launcher/installer/net_installer/downloader_unittests/downloader_test_server.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"

namespace vulmo {
namespace net_installer {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Just enough JSON for the server's log lines: objects, arrays, strings,
// numbers, true, false, null.
struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  double number = 0;
  bool boolean = false;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json* Find(const std::string& key) const {
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
  }
  std::string String(const std::string& key) const {
    const Json* value = Find(key);
    return value && value->type == kString ? value->text : std::string();
  }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}

  bool Parse(Json* out) {
    if (!Value(out))
      return false;
    SkipSpace();
    return pos_ == text_.size();
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]))
      ++pos_;
  }
  bool Literal(const char* word) {
    const size_t length = std::strlen(word);
    if (text_.compare(pos_, length, word) != 0)
      return false;
    pos_ += length;
    return true;
  }
  bool Value(Json* out) {
    SkipSpace();
    if (pos_ >= text_.size())
      return false;
    const char c = text_[pos_];
    if (c == '{')
      return Object(out);
    if (c == '[')
      return Array(out);
    if (c == '"') {
      out->type = Json::kString;
      return String(&out->text);
    }
    if (Literal("true")) {
      out->type = Json::kBool;
      out->boolean = true;
      return true;
    }
    if (Literal("false")) {
      out->type = Json::kBool;
      return true;
    }
    if (Literal("null"))
      return true;
    char* end = nullptr;
    out->number = std::strtod(text_.c_str() + pos_, &end);
    if (end == text_.c_str() + pos_)
      return false;
    out->type = Json::kNumber;
    pos_ = end - text_.c_str();
    return true;
  }
  bool Object(Json* out) {
    out->type = Json::kObject;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      SkipSpace();
      std::string key;
      if (pos_ >= text_.size() || text_[pos_] != '"' || !String(&key))
        return false;
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_++] != ':')
        return false;
      if (!Value(&out->members[key]))
        return false;
      SkipSpace();
      if (pos_ >= text_.size())
        return false;
      const char c = text_[pos_++];
      if (c == '}')
        return true;
      if (c != ',')
        return false;
    }
  }
  bool Array(Json* out) {
    out->type = Json::kArray;
    ++pos_;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      out->items.emplace_back();
      if (!Value(&out->items.back()))
        return false;
      SkipSpace();
      if (pos_ >= text_.size())
        return false;
      const char c = text_[pos_++];
      if (c == ']')
        return true;
      if (c != ',')
        return false;
    }
  }
  bool Hex4(uint32_t* value) {
    if (pos_ + 4 > text_.size())
      return false;
    *value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      *value <<= 4;
      if (c >= '0' && c <= '9')
        *value |= c - '0';
      else if (c >= 'a' && c <= 'f')
        *value |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        *value |= c - 'A' + 10;
      else
        return false;
    }
    return true;
  }
  bool String(std::string* out) {
    ++pos_;  // The opening quote.
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"')
        return true;
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= text_.size())
        return false;
      const char escape = text_[pos_++];
      switch (escape) {
        case 'n': out->push_back('\n'); break;
        case 't': out->push_back('\t'); break;
        case 'r': out->push_back('\r'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'u': {
          uint32_t code = 0;
          if (!Hex4(&code))
            return false;
          if (code >= 0xD800 && code < 0xDC00 && text_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            uint32_t low = 0;
            if (!Hex4(&low))
              return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          base::AppendUTF8CodePoint(code, out);
          break;
        }
        default: out->push_back(escape); break;
      }
    }
    return false;
  }

  const std::string& text_;
  size_t pos_ = 0;
};

std::string DecodeBase64(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const size_t value = kAlphabet.find(c);
    if (value == std::string::npos)
      continue;  // Padding.
    bits = (bits << 6) | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The path of a request target, also for the proxy's absolute form.
std::string TargetPath(const std::string& target) {
  const size_t scheme = target.find("://");
  if (scheme == std::string::npos)
    return target;
  const size_t slash = target.find('/', scheme + 3);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

// The whole file, which the server may be appending to right now.
std::string ReadWholeFile(const std::wstring& path) {
  std::string contents;
  (void)base::ReadFileToString(base::FilePath(path), &contents);
  return contents;
}

}  // namespace

std::string DownloaderTestServer::Request::Header(const std::string& name,
                                                  bool* found) const {
  for (const auto& header : headers) {
    if (Lower(header.first) == Lower(name)) {
      if (found)
        *found = true;
      return header.second;
    }
  }
  if (found)
    *found = false;
  return std::string();
}

bool DownloaderTestServer::Init() {
  directory_ = Environment("VULMO_TEST_SERVER_DIR");
  script_name_ = Environment("VULMO_TEST_SERVER_SCRIPT");
  log_name_ = Environment("VULMO_TEST_SERVER_LOG");
  http_port_ = std::atoi(Environment("VULMO_TEST_HTTP_PORT").c_str());
  https_port_ = std::atoi(Environment("VULMO_TEST_HTTPS_PORT").c_str());
  proxy_port_ = std::atoi(Environment("VULMO_TEST_PROXY_PORT").c_str());
  proxy_user_ = Environment("VULMO_TEST_PROXY_USER");
  proxy_password_ = Environment("VULMO_TEST_PROXY_PASSWORD");
  std::string ca = Environment("VULMO_TEST_CA_CERT");
  ca_certificate_.clear();
  if (!ca.empty()) {
    ca_certificate_ = L"Z:";
    for (char c : ca)
      ca_certificate_.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  }
  return !directory_.empty() && !script_name_.empty() && !log_name_.empty() &&
         http_port_ > 0;
}

std::wstring DownloaderTestServer::Url(const std::string& scheme,
                                       const std::string& host,
                                       const std::string& path) const {
  const int port = scheme == "https" ? https_port_ : http_port_;
  return base::UTF8ToUTF16(scheme + "://" + host + ":" + std::to_string(port) +
                           path);
}

std::wstring DownloaderTestServer::WindowsPath(const std::string& name) const {
  // Wine maps drive Z: to the Linux root.
  std::wstring path = L"Z:";
  for (char c : directory_ + "/" + name)
    path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

bool DownloaderTestServer::WriteFile(const std::string& name,
                                     const std::string& bytes) const {
  const std::wstring path = WindowsPath(name);
  const std::wstring temporary = path + L".tmp";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(),
                              static_cast<DWORD>(bytes.size()), &written,
                              nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  // A rename, so the server never reads a half-written file.
  return ok && MoveFileExW(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING) != 0;
}

bool DownloaderTestServer::SetScript(const std::string& json) const {
  return WriteFile(script_name_, json);
}

std::vector<DownloaderTestServer::Request> DownloaderTestServer::Requests(
    const std::string& path_prefix) const {
  std::vector<Request> requests;
  std::istringstream in(ReadWholeFile(WindowsPath(log_name_)));
  std::string line;
  while (std::getline(in, line)) {
    Json entry;
    if (line.empty() || !JsonParser(line).Parse(&entry) ||
        entry.type != Json::kObject) {
      continue;  // A line being written right now.
    }
    Request request;
    request.path = entry.String("path");
    if (TargetPath(request.path).compare(0, path_prefix.size(), path_prefix) != 0)
      continue;
    if (const Json* time = entry.Find("time"))
      request.time = time->number;
    request.listener = entry.String("listener");
    request.method = entry.String("method");
    request.body = DecodeBase64(entry.String("body_b64"));
    if (const Json* headers = entry.Find("headers")) {
      for (const Json& pair : headers->items) {
        if (pair.items.size() == 2)
          request.headers.emplace_back(pair.items[0].text, pair.items[1].text);
      }
    }
    request.host = request.Header("Host");
    if (const Json* behaviour = entry.Find("behaviour")) {
      if (const Json* status = behaviour->Find("status"))
        request.status = static_cast<int>(status->number);
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

}  // namespace net_installer
}  // namespace vulmo
