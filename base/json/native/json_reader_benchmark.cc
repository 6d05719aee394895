// Measures the JSON reader's throughput on large replies and prints MB/s.
// Not a test: it fails only if a document does not parse. Build it without
// sanitizers for meaningful figures (scripts/bench-json.sh does).
//
//   json_reader_benchmark [megabytes]   (default 8)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/json/json_reader.h"
#include "base/values.h"

namespace {

std::string Hex64(unsigned seed) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 64; ++i) {
    seed = seed * 1103515245u + 12345u;
    out += kDigits[(seed >> 16) & 15];
  }
  return out;
}

// An update-server reply whose partner_content list makes it |bytes| long.
std::string MakeReply(size_t bytes) {
  std::string text =
      "{\n  \"installer\": \"https://dl.vulmo.example/stable/"
      "vulmo_installer_1.0.0.1.exe\",\n  \"installer_checksum\": \"" +
      Hex64(1) +
      "\",\n  \"url_welcome\": \"https://www.vulmo.example/welcome?l=de\",\n"
      "  \"partner_content\": [\n";
  for (unsigned i = 0; text.size() < bytes; ++i) {
    if (i)
      text += ",\n";
    text += "    {\"href\": \"https://cdn.partner.example/files/" +
            std::to_string(i) + "/r\\u00e9sum\\u00e9.dat\", \"filename\": "
            "\"partner_" + std::to_string(i) +
            "_\xC3\xBC\xE2\x82\xAC.dat\", \"checksum\": \"" + Hex64(i) +
            "\", \"size\": " + std::to_string(i * 7919) +
            ", \"weight\": 0." + std::to_string(i) + "e1, \"optional\": " +
            (i % 2 ? "true" : "null") + "}";
  }
  text += "\n  ]\n}\n";
  return text;
}

// One string value of |bytes| characters, mostly plain with some escapes.
std::string MakeLongString(size_t bytes) {
  std::string text = "{\"notes\": \"";
  while (text.size() < bytes) {
    text += "Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
    text += "\\\"quoted\\\" \\t caf\\u00e9 na\xC3\xAFve \\ud83d\\ude00 ";
  }
  text += "\"}";
  return text;
}

std::string MakeNumbers(size_t bytes) {
  std::string text = "[";
  for (unsigned i = 0; text.size() < bytes; ++i) {
    if (i)
      text += ",";
    text += std::to_string(static_cast<int>(i * 2654435761u));
    text += ",";
    text += std::to_string(i) + ".25e-3";
  }
  text += "]";
  return text;
}

// Many siblings nested to the limit: the outer list, 97 lists, one
// dictionary.
std::string MakeDeep(size_t bytes) {
  std::string nested;
  for (int i = 0; i < 97; ++i)
    nested += "[";
  nested += "{\"k\":1}";
  for (int i = 0; i < 97; ++i)
    nested += "]";
  std::string text = "[";
  while (text.size() < bytes) {
    if (text.size() > 1)
      text += ",";
    text += nested;
  }
  text += "]";
  return text;
}

bool Measure(const char* name, const std::string& text) {
  int error_code = 0;
  std::string error_message;
  // Warm up once and make sure the document is valid.
  if (!base::JSONReader::Read(text, base::JSON_PARSE_RFC, &error_code,
                              &error_message)) {
    std::fprintf(stderr, "%s: parse failed: %s\n", name, error_message.c_str());
    return false;
  }
  const auto start = std::chrono::steady_clock::now();
  int runs = 0;
  double seconds = 0;
  do {
    std::unique_ptr<base::Value> root = base::JSONReader::Read(text);
    if (!root)
      return false;
    ++runs;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                            start)
                  .count();
  } while (seconds < 1.0 || runs < 3);
  const double megabytes = text.size() / (1024.0 * 1024.0);
  std::printf("%-14s %7.2f MB  %4d runs  %8.1f MB/s\n", name, megabytes, runs,
              megabytes * runs / seconds);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 8.0;
  if (megabytes <= 0) {
    std::fprintf(stderr, "usage: %s [megabytes]\n", argv[0]);
    return 2;
  }
  const size_t bytes = static_cast<size_t>(megabytes * 1024 * 1024);
  bool ok = Measure("reply", MakeReply(bytes));
  ok = Measure("long-string", MakeLongString(bytes)) && ok;
  ok = Measure("numbers", MakeNumbers(bytes)) && ok;
  ok = Measure("deep", MakeDeep(bytes)) && ok;
  return ok ? 0 : 1;
}
