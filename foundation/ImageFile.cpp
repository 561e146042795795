#include "foundation/ImageFile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/FileUtil.h"

namespace quilmer {

namespace {

std::uint32_t Byte(std::string_view b, std::size_t at) { return static_cast<unsigned char>(b[at]); }
std::uint32_t Be32(std::string_view b, std::size_t at) {
    return Byte(b, at) << 24 | Byte(b, at + 1) << 16 | Byte(b, at + 2) << 8 | Byte(b, at + 3);
}
std::uint32_t Le16(std::string_view b, std::size_t at) { return Byte(b, at) | Byte(b, at + 1) << 8; }
std::uint32_t Le32(std::string_view b, std::size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

std::optional<ImageSize> PngSize(std::string_view b) {
    static const char signature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1A', '\n'};
    if (b.size() < 24 || std::memcmp(b.data(), signature, 8) != 0 || b.substr(12, 4) != "IHDR")
        return std::nullopt;
    std::uint32_t w = Be32(b, 16), h = Be32(b, 20);
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return std::nullopt;
    return ImageSize{static_cast<int>(w), static_cast<int>(h)};
}

std::optional<ImageSize> BmpSize(std::string_view b) {
    if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return std::nullopt;
    std::uint32_t infoSize = Le32(b, 14);
    long long w = 0, h = 0;
    if (infoSize == 12) {
        w = Le16(b, 18);
        h = Le16(b, 20);
    } else if (infoSize >= 40) {
        w = static_cast<std::int32_t>(Le32(b, 18));
        h = std::llabs(static_cast<std::int32_t>(Le32(b, 22)));  // top-down images: negative
    } else {
        return std::nullopt;
    }
    if (w <= 0 || h <= 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return std::nullopt;
    return ImageSize{static_cast<int>(w), static_cast<int>(h)};
}

}  // namespace

std::optional<ImageSize> DeclaredImageSize(std::string_view bytes) {
    if (auto png = PngSize(bytes)) return png;
    return BmpSize(bytes);
}

bool ReadImageFile(const std::wstring& path, std::string& bytes, ImageSize& size, std::wstring& why,
                   int maxSide, std::size_t maxBytes) {
    std::string data;
    if (!ReadRegularFile(path, maxBytes, data, &why)) return false;
    std::optional<ImageSize> declared = DeclaredImageSize(data);
    if (!declared) {
        why = L"it is not a PNG or BMP image";
        return false;
    }
    if (declared->width > maxSide || declared->height > maxSide) {
        why = L"the image declares " + std::to_wstring(declared->width) + L"x" +
              std::to_wstring(declared->height) + L" pixels, more than " + std::to_wstring(maxSide) +
              L" a side";
        return false;
    }
    bytes = std::move(data);
    size = *declared;
    return true;
}

}  // namespace quilmer
