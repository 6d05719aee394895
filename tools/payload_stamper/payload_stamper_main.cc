// payload_stamper stamp <signed.exe> <payload-file-or-text> <out.exe>
// payload_stamper read <file>
//
// "stamp" writes a copy of a signed program with the payload block in its
// certificate table, replacing a block stamped earlier. The second argument
// names a file whose content is the payload when such a file exists;
// otherwise it is the payload text itself. The payload is padded with
// trailing spaces (see payload_stamper.h). <out.exe> may be the input file.
//
// "read" prints the payload of a stamped file (raw bytes, padding included).
//
// Exit codes: 0 done, 1 refused or failed (reason on stderr), 2 usage.
#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/payload_stamper/payload_stamper.h"

namespace {

bool ReadFile(const char* path, payload_stamper::Bytes* bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file)
    return false;
  bytes->clear();
  unsigned char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool WriteFile(const char* path, const payload_stamper::Bytes& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file)
    return false;
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

int Usage() {
  std::fprintf(stderr,
               "usage: payload_stamper stamp <signed.exe> "
               "<payload-file-or-text> <out.exe>\n"
               "       payload_stamper read <file>\n");
  return 2;
}

int Stamp(const char* in, const char* payload_arg, const char* out) {
  payload_stamper::Bytes image;
  if (!ReadFile(in, &image)) {
    std::fprintf(stderr, "payload_stamper: cannot read %s\n", in);
    return 1;
  }
  std::string payload;
  payload_stamper::Bytes payload_file;
  if (ReadFile(payload_arg, &payload_file))
    payload.assign(payload_file.begin(), payload_file.end());
  else
    payload = payload_arg;

  payload_stamper::Bytes stamped;
  std::string error;
  if (!payload_stamper::Stamp(image, payload, &stamped, &error)) {
    std::fprintf(stderr, "payload_stamper: %s: %s\n", in, error.c_str());
    return 1;
  }
  if (!WriteFile(out, stamped)) {
    std::fprintf(stderr, "payload_stamper: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int Read(const char* path) {
  payload_stamper::Bytes file;
  if (!ReadFile(path, &file)) {
    std::fprintf(stderr, "payload_stamper: cannot read %s\n", path);
    return 1;
  }
  std::string payload;
  if (!payload_stamper::ReadBlock(file, &payload)) {
    std::fprintf(stderr, "payload_stamper: %s carries no payload\n", path);
    return 1;
  }
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::fwrite(payload.data(), 1, payload.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "stamp") == 0)
    return Stamp(argv[2], argv[3], argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "read") == 0)
    return Read(argv[2]);
  return Usage();
}
