#include "tools/payload_stamper/payload_stamper.h"

#include <algorithm>
#include <cstring>

namespace payload_stamper {
namespace {

constexpr char kMagic[] = {'V', 'L', 'M'};
constexpr size_t kMagicSize = sizeof(kMagic);
constexpr size_t kLengthSize = 4;
constexpr size_t kBlockOverhead = kMagicSize + kLengthSize;
constexpr size_t kWinCertificateHeaderSize = 8;
constexpr uint16_t kWinCertTypePkcsSignedData = 2;
constexpr size_t kSecurityDirectoryIndex = 4;

uint16_t Read16(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t Read32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(b[at + 3]) << 24;
}

void Write32(Bytes* b, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*b)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

size_t RoundUp8(size_t value) {
  return (value + 7) & ~static_cast<size_t>(7);
}

// Where the parts of a signed PE file are.
struct PeLayout {
  size_t checksum_offset = 0;
  size_t security_entry_offset = 0;  // The data directory entry.
  size_t table_offset = 0;
  size_t table_size = 0;
};

bool ParsePe(const Bytes& image, PeLayout* layout, std::string* error) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
    *error = "not a PE file (no MZ header)";
    return false;
  }
  const size_t pe = Read32(image, 0x3C);
  if (pe > image.size() || image.size() - pe < 24 ||
      std::memcmp(&image[pe], "PE\0\0", 4) != 0) {
    *error = "not a PE file (no PE signature)";
    return false;
  }
  const size_t optional_size = Read16(image, pe + 20);
  const size_t optional = pe + 24;
  if (image.size() - optional < optional_size || optional_size < 2) {
    *error = "truncated optional header";
    return false;
  }
  size_t count_offset;
  size_t directories;
  switch (Read16(image, optional)) {
    case 0x10B:  // PE32
      count_offset = 92;
      directories = 96;
      break;
    case 0x20B:  // PE32+
      count_offset = 108;
      directories = 112;
      break;
    default:
      *error = "unknown optional header magic";
      return false;
  }
  const size_t entry = directories + kSecurityDirectoryIndex * 8;
  if (optional_size < entry + 8 ||
      Read32(image, optional + count_offset) <= kSecurityDirectoryIndex) {
    *error = "no security data directory";
    return false;
  }
  layout->checksum_offset = optional + 64;
  layout->security_entry_offset = optional + entry;
  layout->table_offset = Read32(image, optional + entry);
  layout->table_size = Read32(image, optional + entry + 4);
  if (layout->table_offset == 0 || layout->table_size == 0) {
    *error = "the file is not signed (empty certificate table)";
    return false;
  }
  if (layout->table_offset > image.size() ||
      image.size() - layout->table_offset != layout->table_size) {
    *error = "the certificate table is not the end of the file";
    return false;
  }
  if (layout->table_offset % 8 != 0 || layout->table_size % 8 != 0 ||
      layout->table_size < kWinCertificateHeaderSize) {
    *error = "the certificate table is not 8-byte aligned";
    return false;
  }
  return true;
}

// Length of the DER element at |at| (header included), or 0.
size_t DerElementLength(const Bytes& b, size_t at, size_t end) {
  if (end - at < 2 || b[at] != 0x30)
    return 0;
  const uint8_t first = b[at + 1];
  size_t header = 2;
  size_t content = 0;
  if (first < 0x80) {
    content = first;
  } else {
    const size_t count = first & 0x7F;
    if (count == 0 || count > 4 || end - at < 2 + count)
      return 0;
    for (size_t i = 0; i < count; ++i)
      content = content << 8 | b[at + 2 + i];
    header += count;
  }
  if (content > end - at - header)
    return 0;
  return header + content;
}

}  // namespace

size_t PaddingFor(size_t size) {
  // The block is size + padding + 7 bytes; keep it a multiple of 8.
  return (9 - size % 8) % 8;
}

uint32_t ComputePeChecksum(const Bytes& image, size_t checksum_offset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    if (i == checksum_offset || i == checksum_offset + 2)
      continue;
    uint32_t word = image[i];
    if (i + 1 < image.size())
      word |= static_cast<uint32_t>(image[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

bool ReadBlock(const Bytes& file, std::string* payload) {
  if (file.size() < kBlockOverhead)
    return false;
  const size_t length = Read32(file, file.size() - kLengthSize);
  if (length > file.size() - kBlockOverhead)
    return false;
  const size_t magic = file.size() - kLengthSize - length - kMagicSize;
  if (std::memcmp(&file[magic], kMagic, kMagicSize) != 0)
    return false;
  payload->assign(reinterpret_cast<const char*>(&file[magic + kMagicSize]),
                  length);
  return true;
}

bool Stamp(const Bytes& image, const std::string& payload, Bytes* stamped,
           std::string* error) {
  if (payload.find('\0') != std::string::npos) {
    *error = "the payload holds a zero byte";
    return false;
  }
  PeLayout pe;
  if (!ParsePe(image, &pe, error))
    return false;

  const size_t table = pe.table_offset;
  const uint32_t entry_length = Read32(image, table);
  if (Read16(image, table + 6) != kWinCertTypePkcsSignedData) {
    *error = "the certificate table does not start with a PKCS #7 signature";
    return false;
  }
  if (entry_length < kWinCertificateHeaderSize ||
      RoundUp8(entry_length) != pe.table_size) {
    *error = "the certificate table holds more than one entry";
    return false;
  }
  const size_t signature = table + kWinCertificateHeaderSize;
  const size_t signature_length =
      DerElementLength(image, signature, table + entry_length);
  if (signature_length == 0) {
    *error = "the signature is not a DER sequence inside its entry";
    return false;
  }
  // Everything after the signature's 8-byte boundary is either zero padding
  // or a block stamped earlier; both are dropped. Anything else is someone
  // else's data, which we do not overwrite.
  const size_t signature_end = signature + signature_length;
  const size_t block_start = RoundUp8(signature_end);
  if (block_start > image.size()) {
    *error = "the certificate table ends inside the signature's padding";
    return false;
  }
  const bool padding_zero =
      std::all_of(image.begin() + signature_end, image.begin() + block_start,
                  [](uint8_t b) { return b == 0; });
  const bool tail_zero = std::all_of(image.begin() + block_start, image.end(),
                                     [](uint8_t b) { return b == 0; });
  bool tail_is_block = false;
  if (!tail_zero) {
    const Bytes tail(image.begin() + block_start, image.end());
    std::string old_payload;
    tail_is_block = ReadBlock(tail, &old_payload) &&
                    old_payload.size() + kBlockOverhead == tail.size();
  }
  if (!padding_zero || !(tail_zero || tail_is_block)) {
    *error = "unknown data after the signature in the certificate table";
    return false;
  }

  const size_t padded = payload.size() + PaddingFor(payload.size());
  const size_t new_size = block_start + kMagicSize + padded + kLengthSize;
  if (padded > 0xFFFFFFFFu || new_size - table > 0xFFFFFFFFu) {
    *error = "the payload is too large";
    return false;
  }

  Bytes out(image.begin(), image.begin() + block_start);
  out.insert(out.end(), kMagic, kMagic + kMagicSize);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), padded - payload.size(), ' ');
  out.resize(out.size() + kLengthSize);
  Write32(&out, out.size() - kLengthSize, static_cast<uint32_t>(padded));

  const uint32_t new_table_size = static_cast<uint32_t>(out.size() - table);
  Write32(&out, table, new_table_size);
  Write32(&out, pe.security_entry_offset + 4, new_table_size);
  Write32(&out, pe.checksum_offset, ComputePeChecksum(out, pe.checksum_offset));
  stamped->swap(out);
  return true;
}

}  // namespace payload_stamper
