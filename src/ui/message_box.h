// Modal message boxes with an exact text, caption, icon and buttons, all through one
// function. Tests install a responder instead, so no test ever waits for a person.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kestrine {

enum class MessageIcon { None, Stop };
enum class MessageButtons { Ok, OkCancel };
// The result codes of the platform's message box.
inline constexpr int MESSAGE_OK = 1;
inline constexpr int MESSAGE_CANCEL = 2;

struct MessageBoxRequest {
    QString text;
    QString caption;
    MessageIcon icon;
    MessageButtons buttons;
};

// Shows the box modally and returns MESSAGE_OK or MESSAGE_CANCEL. An empty caption means
// the application title. "\r\n" in the text is a line break.
int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
                   MessageButtons buttons);

// Answers every box instead of showing it (tests); an empty function restores the boxes.
using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxResponder(MessageBoxResponder responder);

// The caption of a box that names none: the executable's file name without extension.
QString ApplicationTitle();

}  // namespace kestrine
