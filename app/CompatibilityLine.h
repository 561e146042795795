#pragma once
// The line under the main window's clip list that tells whether the clips can be joined without
// re-encoding, and its "Details..." button, which shows the whole report: every difference of
// every clip and what the join does about it. The report is made on a worker
// (CompatibilityWatch) each time the list changes.

#include <wx/gdicmn.h>
#include <wx/string.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/CompatibilityWatch.h"

class wxButton;
class wxStaticText;
class wxWindow;

namespace quilmer {

enum CompatibilityLineId : int {
    kIdCompatibilityText = 2110,
    kIdCompatibilityDetails = 2111,
};

class CompatibilityLine {
public:
    // The text spans `textRect`, the button `buttonRect` (both in the parent's pixels).
    CompatibilityLine(wxWindow* parent, EventLoop& loop, const wxRect& textRect, const wxRect& buttonRect);
    ~CompatibilityLine();

    // The clip list now: checked again when it differs from the one checked last.
    void Update(const std::vector<std::wstring>& clips);
    // The same list again (after a language switch: the texts are made in the language shown).
    void Recheck();
    void ShowDetails();

    std::wstring Text() const;
    bool IsChecking() const { return watch_->IsRunning(); }
    // The last finished check, nullopt before one or for an empty list.
    const std::optional<ClipListCheck>& Last() const { return last_; }

private:
    void Start();
    void Show(const ClipListCheck& check);

    wxWindow* parent_;
    wxStaticText* text_ = nullptr;
    wxButton* details_ = nullptr;
    std::vector<std::wstring> clips_;
    std::optional<ClipListCheck> last_;
    std::unique_ptr<CompatibilityWatch> watch_;
};

}  // namespace quilmer
