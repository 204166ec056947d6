#include "ui/console/console_prompt.h"

#include <string_view>

#include "platform/interrupt.h"
#include "platform/platform.h"
#include "text/utf8.h"
#include "ui/console/console_ui.h"

ConsolePrompt::ConsolePrompt(ConsoleUserInterface& ui) : m_ui(ui) {}

void ConsolePrompt::WatchInterrupts(const platform::ScopedInterruptCatcher* interrupt) {
    m_interrupt = interrupt;
}

bool ConsolePrompt::Interrupted() const {
    return m_interrupt != nullptr && m_interrupt->Interrupted();
}

std::optional<std::wstring> ConsolePrompt::AskLine(const std::wstring& prompt) {
    m_ui.Write(prompt);
    if (m_ui.AssumeYes()) {
        m_ui.Write(L"\n");
        return std::wstring();
    }
    std::string line;
    if (Interrupted() || !m_ui.ReadLine(line) || Interrupted()) {
        m_ui.Write(L"\n");
        return std::nullopt;
    }
    // A line typed on a system that ends lines with CR LF: the CR is not part of the answer.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::wstring answer = Utf8ToWide(std::string_view(line));
    // Scripted answers are not echoed by a terminal: write them, so the record reads as a
    // dialogue.
    if (!platform::IsTerminal(m_ui.Input()))
        m_ui.Write(answer + L"\n");
    return answer;
}

bool ConsolePrompt::AskYesNo(const std::wstring& prompt) {
    if (m_ui.AssumeYes()) {
        m_ui.Write(prompt + L"y\n");
        return true;
    }
    for (;;) {
        const std::optional<std::wstring> answer = AskLine(prompt);
        if (!answer)
            return false;
        const int choice = ParseYesNoAnswer(*answer);
        if (choice != 0)
            return choice == kIdYes;
    }
}

BackOrCancel ConsolePrompt::AskBackOrCancel(const std::wstring& prompt) {
    if (m_ui.AssumeYes())
        return BackOrCancel::kCancel;
    for (;;) {
        const std::optional<std::wstring> answer = AskLine(prompt);
        if (!answer)
            return BackOrCancel::kCancel;
        const BackOrCancel choice = ParseBackOrCancelAnswer(*answer);
        if (choice != BackOrCancel::kNeither)
            return choice;
    }
}
