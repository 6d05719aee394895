// Stamps a payload block into the certificate table of an Authenticode-signed
// PE file, and reads it back.
//
// Block layout, at the very end of the file: "VLM", the payload, and the
// payload length as 32-bit little-endian. The block sits inside the file's
// certificate table, after the PKCS #7 signature and the zero bytes up to the
// next 8-byte boundary; the table's declared lengths (WIN_CERTIFICATE
// dwLength and the security data directory size) cover it, and the payload
// is padded with trailing spaces so that the table stays a multiple of 8
// bytes. The signature does not cover the certificate table, so it stays
// valid.
//
// Pure byte handling: builds for Windows and natively elsewhere.
#ifndef TOOLS_PAYLOAD_STAMPER_PAYLOAD_STAMPER_H_
#define TOOLS_PAYLOAD_STAMPER_PAYLOAD_STAMPER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace payload_stamper {

using Bytes = std::vector<uint8_t>;

// Returns |image| with |payload| stamped into its certificate table. A block
// stamped earlier is replaced. Fails (false, |error| set) for a file that is
// not a PE image, carries no signature, has data after its certificate table
// or an unexpected table layout, or for a payload holding a zero byte (its
// consumer treats it as a zero-terminated string). The PE checksum is
// recomputed.
bool Stamp(const Bytes& image, const std::string& payload, Bytes* stamped,
           std::string* error);

// Reads the block at the end of |file| as the installer does: false when the
// framing does not fit or the magic is missing.
bool ReadBlock(const Bytes& file, std::string* payload);

// The number of trailing spaces Stamp adds to a payload of |size| bytes.
size_t PaddingFor(size_t size);

// The PE image checksum of |image| (the field itself is not summed).
uint32_t ComputePeChecksum(const Bytes& image, size_t checksum_offset);

}  // namespace payload_stamper

#endif  // TOOLS_PAYLOAD_STAMPER_PAYLOAD_STAMPER_H_
