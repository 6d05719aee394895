#include "desktop/launcher/installer/net_installer/payload_reader.h"

#include <cstring>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"

namespace vulmo {
namespace net_installer {
namespace {

constexpr char kMagic[] = {'V', 'L', 'M'};
constexpr size_t kMagicSize = sizeof(kMagic);
constexpr size_t kLengthSize = 4;

}  // namespace

PayloadReader::PayloadReader(const std::wstring& file_path)
    : file_path_(file_path) {}

PayloadReader::~PayloadReader() = default;

bool PayloadReader::ReadPayload() {
  if (payload_read_)
    return true;
  LOG(INFO) << "Reading Payload";

  // A failed earlier attempt leaves the mapping in place; mapping again
  // would be refused, and the answer cannot change.
  if (!mapped_file_.IsValid() &&
      !mapped_file_.Initialize(base::FilePath(file_path_))) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    return false;
  }

  const uint8_t* data = mapped_file_.data();
  const size_t file_size = mapped_file_.length();
  if (file_size < kMagicSize + kLengthSize) {
    LOG(ERROR) << "Could not find a valid starting position";
    return false;
  }
  const uint8_t* length_field = data + file_size - kLengthSize;
  const uint32_t length = static_cast<uint32_t>(length_field[0]) |
                          static_cast<uint32_t>(length_field[1]) << 8 |
                          static_cast<uint32_t>(length_field[2]) << 16 |
                          static_cast<uint32_t>(length_field[3]) << 24;
  if (length > file_size - kMagicSize - kLengthSize) {
    LOG(ERROR) << "Could not find a valid starting position";
    return false;
  }
  const size_t magic_offset = file_size - length - kLengthSize - kMagicSize;
  if (std::memcmp(data + magic_offset, kMagic, kMagicSize) != 0) {
    LOG(ERROR) << "Payload data invalid";
    return false;
  }

  // The mapping is at most 2^31 - 1 bytes long, so the offset fits.
  payload_offset_ = static_cast<uint32_t>(magic_offset + kMagicSize);
  payload_length_ = length;
  payload_read_ = true;
  return true;
}

std::string PayloadReader::GetPayload() const {
  if (!payload_read_)
    return std::string();
  return std::string(
      reinterpret_cast<const char*>(mapped_file_.data()) + payload_offset_,
      payload_length_);
}

bool PayloadReader::WritePayloadToFile(const std::wstring& path) const {
  if (!payload_read_)
    return false;
  LOG(INFO) << "Writing payload to file" << path;
  const int written = base::WriteToFile(
      base::FilePath(path),
      reinterpret_cast<const char*>(mapped_file_.data()) + payload_offset_,
      static_cast<int>(payload_length_));
  return written >= 0 && static_cast<uint32_t>(written) == payload_length_;
}

}  // namespace net_installer
}  // namespace vulmo
