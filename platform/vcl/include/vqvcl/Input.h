// User actions on the forms, as a person would do them: each checks that the
// control can take it (shown, enabled, not behind a modal form) and runs the
// control's reaction on the GUI thread. The result is empty on success, else
// why the action could not be done.
#pragma once

#include <string>

class TControl;
class TComponent;
class TCustomForm;

namespace vcl {

// A control or form by name: "Name" (the modal form on top is searched
// first, then every form) or "Form.Name".
TComponent* FindByName(const std::string& name);

std::string UserClick(TControl* control);
// Combo box, radio group: choose item `index`; list view: select row `index`.
std::string UserSelect(TControl* control, int index);
// Edit or editable combo box: the text becomes `text` (OnChange).
std::string UserType(TControl* control, const std::string& text);
// A key (a character, '\r' Enter, '\x1b' Esc) with the focus on `control`
// (a form: on its active control).
std::string UserKey(TControl* control, char key);
std::string UserHover(TControl* control);
// The close box of a form.
std::string UserClose(TCustomForm* form);

}  // namespace vcl
