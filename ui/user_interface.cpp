#include "ui/user_interface.h"

#include "text/messages.h"

void ShowErrorMessage(UserInterface& ui, const std::wstring& text) {
    ui.MessageBox(text, LoadMessage(kMsgCaption), kMbOk | kMbIconError);
}
