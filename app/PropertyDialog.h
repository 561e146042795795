#pragma once
// The properties of one clip or of the joined output, as read-only texts, with "Play...".

#include <wx/dialog.h>

#include <vector>

#include "media/ClipProperties.h"

class wxStaticText;
class wxTextCtrl;

namespace quilmer {

enum PropertyDialogId : int {
    kIdPropFileName = 224,
    kIdPropType = 193,
    kIdPropDimensions = 194,
    kIdPropBitrate = 196,
    kIdPropFrameRate = 197,
    kIdPropDuration = 205,
    kIdPropVideoCodec = 220,
    kIdPropAudioCodec = 221,
    kIdPropAudioBitrate = 222,
    kIdPropPlay = 223,
    kIdPropClose = 2,
};

class PropertyDialog : public wxDialog {
public:
    // resultFlag: 0 for a clip of the list, 1 for the joined output (both are shown alike).
    // The record must outlive the dialog.
    PropertyDialog(wxWindow* owner, const ClipProperties& record, int resultFlag);

    // Shows the dialog modally; returns its result (1 when closed).
    static int Open(wxWindow* owner, const ClipProperties& record, int resultFlag);

    int ResultFlag() const { return resultFlag_; }
    // Translations longer than the label column widen the dialog instead of being cut.
    bool Layout() override;
    const ClipProperties& Record() const { return record_; }

private:
    // "&Close", Escape and the close button: the result 1.
    void Finish();

    const ClipProperties& record_;
    int resultFlag_;
    std::vector<wxStaticText*> labels_;
    std::vector<wxWindow*> rightColumn_;
    int widened_ = 0;
};

}  // namespace quilmer
