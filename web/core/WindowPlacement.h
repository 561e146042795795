#pragma once
// The remembered position and size of a window: a 44-byte record in the layout of the system
// window-placement structure (little-endian 32-bit fields), kept as a byte-array setting.

#include "foundation/Settings.h"

#include <cstdint>
#include <optional>

namespace quilmer {

struct PlacementRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct WindowPlacementRecord {
    static constexpr std::uint32_t kLength = 44;
    std::uint32_t flags = 0;    // 2: restore to maximised
    std::uint32_t showCmd = 1;  // 3 maximised, 1 normal
    std::int32_t minX = -1, minY = -1, maxX = -1, maxY = -1;
    PlacementRect normal;

    static WindowPlacementRecord ForWindow(const PlacementRect& normal, bool maximised);
    ByteList Encode() const;
    // Empty unless the bytes are exactly 44 long and their length field says 44.
    static std::optional<WindowPlacementRecord> Decode(const ByteList& bytes);
    // True when the normal rectangle overlaps (0, 0, screenWidth, screenHeight).
    bool IntersectsScreen(int screenWidth, int screenHeight) const;
};

// Reads and writes one record as a setting (section, key); Load gives the record only when it is
// valid.
std::optional<WindowPlacementRecord> LoadPlacement(const SettingsStore& store, const std::wstring& section,
                                                   const std::wstring& key);
bool SavePlacement(SettingsStore& store, const std::wstring& section, const std::wstring& key,
                   const WindowPlacementRecord& record);

}  // namespace quilmer
