#include "app/core/ClipList.h"

#include <algorithm>
#include <utility>

#include "foundation/Exceptions.h"
#include "foundation/PathName.h"

namespace quilmer {

std::wstring ClipItem::FolderText() const {
    try {
        return CPathName(path).FolderPath();
    } catch (const CZ4RException&) {
        return {};
    }
}

bool ClipList::Append(const std::wstring& path) {
    if (path.empty() || Contains(path)) return false;
    std::wstring name;
    try {
        name = CPathName(path).Name();
    } catch (const CZ4RException&) {
        return false;
    }
    if (name.empty()) return false;  // a folder path names no clip
    items_.push_back(ClipItem{name, path});
    return true;
}

std::size_t ClipList::AppendAll(const std::vector<std::wstring>& paths) {
    std::size_t added = 0;
    for (const auto& path : paths)
        if (Append(path)) ++added;
    return added;
}

void ClipList::EraseAt(std::size_t index) {
    if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void ClipList::SwapNeighbours(std::size_t first) {
    if (first + 1 < items_.size()) std::swap(items_[first], items_[first + 1]);
}

bool ClipList::Contains(const std::wstring& path) const {
    return std::any_of(items_.begin(), items_.end(),
                       [&path](const ClipItem& item) { return item.path == path; });
}

std::vector<std::wstring> ClipList::Paths() const {
    std::vector<std::wstring> paths;
    paths.reserve(items_.size());
    for (const auto& item : items_) paths.push_back(item.path);
    return paths;
}

std::optional<std::size_t> ClipList::MoveUp(std::optional<std::size_t> selected) {
    if (!selected || *selected == 0 || *selected >= items_.size()) return std::nullopt;
    SwapNeighbours(*selected - 1);
    return *selected - 1;
}

std::optional<std::size_t> ClipList::MoveDown(std::optional<std::size_t> selected) {
    if (!selected || *selected + 1 >= items_.size()) return std::nullopt;
    SwapNeighbours(*selected);
    return *selected + 1;
}

std::optional<std::size_t> ClipList::Remove(std::optional<std::size_t> selected, bool* removed) {
    if (removed) *removed = false;
    if (!selected || *selected >= items_.size()) return std::nullopt;
    EraseAt(*selected);
    if (removed) *removed = true;
    if (items_.empty()) return std::nullopt;
    return std::min(*selected, items_.size() - 1);
}

std::optional<std::size_t> ClipList::TargetOf(std::optional<std::size_t> selected) const {
    if (items_.empty()) return std::nullopt;
    if (selected && *selected < items_.size()) return selected;
    return 0;
}

}  // namespace quilmer
