// Microcode images that the simulated drives accept.
//
// A simulated drive takes a download (WRITE BUFFER, mode 05h) only when the
// image it reassembles carries this 20-byte header and the code after it:
//
//   bytes 0-3    "HCFW"
//   bytes 4-11   the drive family the image is for, ASCII, padded with
//                blanks: the drive's series, "CV-4", "CV-5", "CV-6" or "CV-7"
//                (GetLog generation 1 to 4)
//   bytes 12-15  length of the whole image in bytes, header included,
//                big-endian; exactly the bytes the drive received
//   bytes 16-19  CRC-32 (IEEE 802.3, reflected, as zlib's crc32) of bytes 20
//                to the end, big-endian
//
// The image arrives from its end backwards, so the WRITE BUFFER at offset 0
// completes it: the drive checks it then. A wrong image is refused with
// CHECK CONDITION, ILLEGAL REQUEST, ASC 26h (invalid field in parameter
// list), and the sense-key-specific bytes 15-17 (SKSV set) point at the
// first field found wrong: 0 the mark, 4 the family, 12 the length, 16 the
// checksum. The drive then keeps its old microcode and forgets the chunks.
//
// Used by the simulator, by the tool that makes the sample images
// (make_microcode.cpp) and by tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace sim_microcode {

inline constexpr std::size_t kHeaderLength = 20;
inline constexpr char kMark[4] = {'H', 'C', 'F', 'W'};
inline constexpr std::size_t kFamilyLength = 8;

// Header fields by offset; the offset is also the refusal's field pointer.
enum Field : int { kMarkField = 0, kFamilyField = 4, kLengthField = 12, kChecksumField = 16 };

inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The family name of a drive whose log has generation 1 to 4.
inline std::string FamilyOf(int generation) { return "CV-" + std::to_string(generation + 3); }

inline std::uint32_t GetBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 3; i >= 0; --i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
}

inline std::string PaddedFamily(std::string_view family) {
    std::string padded(family.substr(0, kFamilyLength));
    padded.resize(kFamilyLength, ' ');
    return padded;
}

// The first header field that makes the image wrong for a drive of
// `family`, or -1 when the drive takes it.
inline int WrongField(const std::uint8_t* image, std::size_t length, std::string_view family) {
    if (length < kHeaderLength || std::memcmp(image, kMark, sizeof kMark) != 0) return kMarkField;
    if (std::memcmp(image + kFamilyField, PaddedFamily(family).data(), kFamilyLength) != 0) return kFamilyField;
    if (GetBe32(image + kLengthField) != length) return kLengthField;
    if (GetBe32(image + kChecksumField) != Crc32(image + kHeaderLength, length - kHeaderLength))
        return kChecksumField;
    return -1;
}

// A whole image for `family` around the given code.
inline std::vector<std::uint8_t> MakeImage(std::string_view family, const std::uint8_t* code, std::size_t n) {
    std::vector<std::uint8_t> image(kHeaderLength + n);
    std::memcpy(image.data(), kMark, sizeof kMark);
    std::memcpy(image.data() + kFamilyField, PaddedFamily(family).data(), kFamilyLength);
    PutBe32(image.data() + kLengthField, static_cast<std::uint32_t>(image.size()));
    if (n) std::memcpy(image.data() + kHeaderLength, code, n);
    PutBe32(image.data() + kChecksumField, Crc32(image.data() + kHeaderLength, n));
    return image;
}

}  // namespace sim_microcode
