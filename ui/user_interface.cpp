#include "ui/user_interface.h"

#include "text/messages.h"

namespace {
UserInterface* g_activeUserInterface = nullptr;
}

void SetActiveUserInterface(UserInterface* ui) {
    g_activeUserInterface = ui;
}

UserInterface* ActiveUserInterface() {
    return g_activeUserInterface;
}

void ShowErrorMessage(const std::wstring& text) {
    if (g_activeUserInterface != nullptr)
        g_activeUserInterface->MessageBox(text, LoadMessage(kMsgCaption), kMbOk | kMbIconError);
}
