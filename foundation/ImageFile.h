#pragma once
// Images the program loads from folders others can write to (skins, language flags): their
// declared size is read from the PNG or BMP header before anything decodes them, so a small file
// that declares a huge picture is refused instead of costing gigabytes of memory.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quilmer {

struct ImageSize {
    int width = 0;
    int height = 0;
};

// Largest width or height of an image read from such a folder.
constexpr int kMaxImageSide = 8192;
// Largest image file read from such a folder.
constexpr std::size_t kMaxImageFileBytes = 32u * 1024 * 1024;

// The size a PNG (IHDR) or BMP (core or info header) declares; nothing for anything else.
std::optional<ImageSize> DeclaredImageSize(std::string_view bytes);

// Reads an image file for decoding: a regular file (ReadRegularFile) of at most maxBytes, a PNG or
// BMP whose declared sides are at most maxSide. On refusal why says what is wrong (English).
bool ReadImageFile(const std::wstring& path, std::string& bytes, ImageSize& size, std::wstring& why,
                   int maxSide = kMaxImageSide, std::size_t maxBytes = kMaxImageFileBytes);

}  // namespace quilmer
