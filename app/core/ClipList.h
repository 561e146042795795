#pragma once
// The ordered clips the main window joins, and the editing rules of its list: which row is
// selected after each operation, which clip Play and Property act on.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quilmer {

struct ClipItem {
    std::wstring displayName;  // file name with extension
    std::wstring path;         // as chosen, dropped or handed over

    // The folder column of the list: the path's folder with its trailing '/'.
    std::wstring FolderText() const;
};

class ClipList {
public:
    // Appends a clip unless one with an equal path (case-sensitive) is already listed or the path
    // is not usable as a file path. True when it was appended.
    bool Append(const std::wstring& path);
    // Appends each path in order by the rule of Append; returns how many were appended.
    std::size_t AppendAll(const std::vector<std::wstring>& paths);
    // A clip of a handed-over job: listed as the caller gave it, without the duplicate test (a
    // caller may join one clip twice).
    void AppendHandedOver(ClipItem item) { items_.push_back(std::move(item)); }

    void EraseAt(std::size_t index);
    void SwapNeighbours(std::size_t first);  // swaps first and first + 1
    void Clear() { items_.clear(); }
    const ClipItem& At(std::size_t index) const { return items_.at(index); }
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    bool Contains(const std::wstring& path) const;
    std::vector<std::wstring> Paths() const;

    // The editing commands with their selection rules. Each returns the row to select afterwards,
    // or nothing when the command did not change the list (no selection, or nowhere to move).
    std::optional<std::size_t> MoveUp(std::optional<std::size_t> selected);
    std::optional<std::size_t> MoveDown(std::optional<std::size_t> selected);
    // After a removal the row that took the removed one's place is selected (the new last row
    // when the last was removed); nothing when the list is now empty.
    std::optional<std::size_t> Remove(std::optional<std::size_t> selected, bool* removed = nullptr);

    // The clip Play and Property act on: the selected one, else the first; nothing when empty.
    std::optional<std::size_t> TargetOf(std::optional<std::size_t> selected) const;

    // Join needs at least two clips.
    bool CanJoin() const { return items_.size() > 1; }

private:
    std::vector<ClipItem> items_;
};

}  // namespace quilmer
