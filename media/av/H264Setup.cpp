#include "media/av/H264Setup.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <cstdio>
#include <optional>
#include <vector>

namespace quilmer {

namespace {

// Reads the bits of one parameter set, its emulation prevention bytes taken out.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (i >= 2 && data[i] == 3 && data[i - 1] == 0 && data[i - 2] == 0) continue;
            bytes_.push_back(data[i]);
        }
    }
    std::size_t Position() const { return at_; }
    bool Failed() const { return failed_; }
    unsigned Bit() {
        if (at_ >= bytes_.size() * 8) {
            failed_ = true;
            return 0;
        }
        unsigned bit = (bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u;
        ++at_;
        return bit;
    }
    std::uint32_t Read(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
        return value;
    }
    std::uint32_t Ue() {
        int zeros = 0;
        while (!failed_ && Bit() == 0) {
            if (++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        return (zeros == 0 ? 0u : ((1u << zeros) - 1u + Read(zeros)));
    }
    void Se() { Ue(); }
    // The first `count` bits, one character each.
    std::string Prefix(std::size_t count) const {
        std::string text;
        for (std::size_t i = 0; i < count && i < bytes_.size() * 8; ++i)
            text += static_cast<char>('0' + ((bytes_[i / 8] >> (7 - i % 8)) & 1u));
        return text;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

bool SkipHrd(Bits& bits) {
    const std::uint32_t count = bits.Ue() + 1;
    if (count > 32) return false;
    bits.Read(8);
    for (std::uint32_t i = 0; i < count; ++i) {
        bits.Ue();
        bits.Ue();
        bits.Bit();
    }
    bits.Read(20);
    return !bits.Failed();
}

// The decoding part of one sequence parameter set (a whole NAL unit, header byte first).
std::optional<std::string> SpsKey(const std::uint8_t* nal, std::size_t size) {
    Bits bits(nal, size);
    bits.Read(8);  // the NAL header
    const std::uint32_t profile = bits.Read(8);
    bits.Read(16);  // constraint flags and level
    bits.Ue();      // the set's id
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
        profile == 86 || profile == 118 || profile == 128 || profile == 138 || profile == 139 || profile == 134 ||
        profile == 135) {
        if (bits.Ue() == 3) bits.Bit();
        bits.Ue();
        bits.Ue();
        bits.Bit();
        if (bits.Bit()) return std::nullopt;  // scaling matrices: not followed here
    }
    bits.Ue();
    const std::uint32_t order = bits.Ue();
    if (order == 0) {
        bits.Ue();
    } else if (order == 1) {
        bits.Bit();
        bits.Se();
        bits.Se();
        const std::uint32_t cycle = bits.Ue();
        if (cycle > 255) return std::nullopt;
        for (std::uint32_t i = 0; i < cycle; ++i) bits.Se();
    }
    bits.Ue();  // reference frames
    bits.Bit();
    bits.Ue();
    bits.Ue();
    if (!bits.Bit()) bits.Bit();
    bits.Bit();
    if (bits.Bit()) {
        for (int i = 0; i < 4; ++i) bits.Ue();
    }
    const bool vui = bits.Bit() != 0;
    if (bits.Failed()) return std::nullopt;
    // Everything up to here but the level (bits 24 to 31 of the set).
    std::string key = bits.Prefix(bits.Position());
    key.replace(24, 8, "--------");
    if (!vui) return key;
    if (bits.Bit() && bits.Read(8) == 255) bits.Read(32);  // aspect
    if (bits.Bit()) bits.Bit();                             // overscan
    if (bits.Bit()) {                                       // video signal and colour
        bits.Read(5);
        if (bits.Bit()) bits.Read(24);
    }
    if (bits.Bit()) {  // chroma location
        bits.Ue();
        bits.Ue();
    }
    if (bits.Bit()) bits.Read(65);  // timing
    const bool nalHrd = bits.Bit() != 0;
    if (nalHrd && !SkipHrd(bits)) return std::nullopt;
    const bool vclHrd = bits.Bit() != 0;
    if (vclHrd && !SkipHrd(bits)) return std::nullopt;
    if (nalHrd || vclHrd) bits.Bit();
    bits.Bit();  // picture structure
    // The reordering limits decide when pictures leave the decoder: they count.
    if (bits.Bit()) {
        key += "|";
        bits.Bit();
        for (int i = 0; i < 6; ++i) key += std::to_string(bits.Ue()) + ",";
    }
    if (bits.Failed()) return std::nullopt;
    return key;
}

}  // namespace

std::string H264DecodingSetupHash(const std::uint8_t* data, std::size_t size) {
    if (!data || size < 7 || data[0] != 1) return {};
    std::string key(1, static_cast<char>(data[4] & 3));  // the length field's size
    std::size_t at = 5;
    for (int kind = 0; kind < 2; ++kind) {  // sequence, then picture parameter sets
        if (at >= size) return {};
        const int sets = kind == 0 ? (data[at] & 0x1f) : data[at];
        ++at;
        for (int s = 0; s < sets; ++s) {
            if (at + 2 > size) return {};
            const std::size_t length = (std::size_t{data[at]} << 8) | data[at + 1];
            at += 2;
            if (length < 4 || at + length > size) return {};
            if (kind == 0) {
                std::optional<std::string> sps = SpsKey(data + at, length);
                if (!sps) return {};
                key += "S" + *sps;
            } else {
                key += "P" + std::string(reinterpret_cast<const char*>(data + at), length);
            }
            at += length;
        }
    }
    const std::uint32_t crc = av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0,
                                     reinterpret_cast<const std::uint8_t*>(key.data()), key.size());
    char text[24];
    std::snprintf(text, sizeof text, "crc32:%08x", crc);
    return text;
}

}  // namespace quilmer
