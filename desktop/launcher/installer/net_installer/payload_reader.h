// Finds the payload block stamped at the end of the program's own file:
// "VLM", the payload bytes, and their length as 32-bit little-endian.
//
// Used on the main thread only.
#ifndef DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_PAYLOAD_READER_H_
#define DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_PAYLOAD_READER_H_

#include <cstdint>
#include <string>

#include "base/files/memory_mapped_file.h"

namespace vulmo {
namespace net_installer {

class PayloadReader {
 public:
  explicit PayloadReader(const std::wstring& file_path);
  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;
  ~PayloadReader();

  // True when a valid block was found, now or by an earlier call. The file
  // stays mapped until destruction, whatever the outcome.
  bool ReadPayload();

  // The payload bytes; empty when no payload has been read.
  std::string GetPayload() const;

  // Writes the payload to |path|, replacing any file there. False when no
  // payload has been read or the file was not written whole.
  [[nodiscard]] bool WritePayloadToFile(const std::wstring& path) const;

 private:
  const std::wstring file_path_;
  base::MemoryMappedFile mapped_file_;
  uint32_t payload_length_ = 0;
  uint32_t payload_offset_ = 0;
  bool payload_read_ = false;
};

}  // namespace net_installer
}  // namespace vulmo

#endif  // DESKTOP_LAUNCHER_INSTALLER_NET_INSTALLER_PAYLOAD_READER_H_
