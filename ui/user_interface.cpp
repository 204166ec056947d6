#include "ui/user_interface.h"

#include "text/messages.h"

void ShowErrorMessage(UserInterface& ui, const std::wstring& text) {
    ui.MessageBox(text, LoadMessage(kMsgCaption), kMbOk | kMbIconError);
}

bool UserInterface::RunChecking(const std::function<void(const std::atomic<bool>& stop)>& work) {
    const std::atomic<bool> neverStopped{false};
    if (work)
        work(neverStopped);
    return true;
}
