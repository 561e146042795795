#pragma once
// The modal dialogs of the program that are open now, so that a window can end them before it
// goes away: a dialog lives on the stack of the code that opened it, and destroying its parent
// while its loop runs would free it under that code. Each dialog is known from the moment its
// ShowModal starts until that ShowModal has returned or the dialog is destroyed.

class wxDialog;

namespace quilmer {

// Starts keeping count (once per process; later calls do nothing).
void TrackModalDialogs();

// The dialog opened last whose modal loop still runs, or nullptr.
wxDialog* TopmostModalDialog();
// Whether some ShowModal has not returned yet (a dialog that was ended may still be unwinding).
bool AnyModalDialogOpen();

// While set, a dialog that is about to be shown modally ends at once with wxID_CANCEL (the
// program is on its way out and asks nothing more).
void RefuseModalDialogs(bool refuse);

}  // namespace quilmer
