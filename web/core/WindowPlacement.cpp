#include "web/core/WindowPlacement.h"

#include <algorithm>

namespace quilmer {

namespace {

void Put(ByteList& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Get(const ByteList& in, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
    return v;
}

}  // namespace

WindowPlacementRecord WindowPlacementRecord::ForWindow(const PlacementRect& normal, bool maximised) {
    WindowPlacementRecord r;
    r.flags = maximised ? 2 : 0;
    r.showCmd = maximised ? 3 : 1;
    r.normal = normal;
    return r;
}

ByteList WindowPlacementRecord::Encode() const {
    ByteList out;
    out.reserve(kLength);
    for (std::uint32_t v : {kLength, flags, showCmd, static_cast<std::uint32_t>(minX), static_cast<std::uint32_t>(minY),
                            static_cast<std::uint32_t>(maxX), static_cast<std::uint32_t>(maxY),
                            static_cast<std::uint32_t>(normal.left), static_cast<std::uint32_t>(normal.top),
                            static_cast<std::uint32_t>(normal.right), static_cast<std::uint32_t>(normal.bottom)}) {
        Put(out, v);
    }
    return out;
}

std::optional<WindowPlacementRecord> WindowPlacementRecord::Decode(const ByteList& bytes) {
    if (bytes.size() != kLength || Get(bytes, 0) != kLength) return std::nullopt;
    WindowPlacementRecord r;
    r.flags = Get(bytes, 4);
    r.showCmd = Get(bytes, 8);
    r.minX = static_cast<std::int32_t>(Get(bytes, 12));
    r.minY = static_cast<std::int32_t>(Get(bytes, 16));
    r.maxX = static_cast<std::int32_t>(Get(bytes, 20));
    r.maxY = static_cast<std::int32_t>(Get(bytes, 24));
    r.normal.left = static_cast<std::int32_t>(Get(bytes, 28));
    r.normal.top = static_cast<std::int32_t>(Get(bytes, 32));
    r.normal.right = static_cast<std::int32_t>(Get(bytes, 36));
    r.normal.bottom = static_cast<std::int32_t>(Get(bytes, 40));
    return r;
}

bool WindowPlacementRecord::IntersectsScreen(int screenWidth, int screenHeight) const {
    int left = std::max(normal.left, 0);
    int top = std::max(normal.top, 0);
    int right = std::min(normal.right, screenWidth);
    int bottom = std::min(normal.bottom, screenHeight);
    return left < right && top < bottom;
}

std::optional<WindowPlacementRecord> LoadPlacement(const SettingsStore& store, const std::wstring& section,
                                                   const std::wstring& key) {
    ByteList bytes;
    if (!store.ReadBytes(section, key, bytes)) return std::nullopt;
    return WindowPlacementRecord::Decode(bytes);
}

bool SavePlacement(SettingsStore& store, const std::wstring& section, const std::wstring& key,
                   const WindowPlacementRecord& record) {
    return store.WriteBytes(section, key, record.Encode());
}

}  // namespace quilmer
