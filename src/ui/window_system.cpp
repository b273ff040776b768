// The realisation in use, and the message boxes and save-file question that tests answer.
#include "ui/window_system.h"

namespace kestrine {

namespace {
WindowSystem* g_windowSystem = nullptr;
MessageBoxResponder g_responder;
FileChooser g_saveFileChooser;
FileChooser g_openFileChooser;
}  // namespace

void SetWindowSystem(WindowSystem* windowSystem) { g_windowSystem = windowSystem; }

WindowSystem& Windows() { return *g_windowSystem; }

void SetMessageBoxResponder(MessageBoxResponder responder) { g_responder = std::move(responder); }

int ShowMessageBox(Dialog* owner, std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageButtons buttons)
{
    const std::string shownCaption = caption.empty() ? Windows().ApplicationTitle() : std::string(caption);
    if (g_responder) return g_responder(MessageBoxRequest{std::string(text), shownCaption, icon, buttons});
    return Windows().RunMessageBox(owner, text, shownCaption, icon, buttons);
}

void SetSaveFileChooser(FileChooser chooser) { g_saveFileChooser = std::move(chooser); }

std::string ChooseSaveFile(Dialog* owner)
{
    return g_saveFileChooser ? g_saveFileChooser() : Windows().AskSaveFileName(owner);
}

void SetOpenFileChooser(FileChooser chooser) { g_openFileChooser = std::move(chooser); }

std::string ChooseOpenFile(Dialog* owner)
{
    return g_openFileChooser ? g_openFileChooser() : Windows().AskOpenFileName(owner);
}

}  // namespace kestrine
