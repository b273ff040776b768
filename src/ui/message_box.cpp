// The one message box function.
#include "ui/message_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace kestrine {

namespace {
MessageBoxResponder g_responder;
}

void SetMessageBoxResponder(MessageBoxResponder responder) { g_responder = std::move(responder); }

QString ApplicationTitle()
{
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? QStringLiteral("kestrine") : QFileInfo(path).completeBaseName();
}

int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
                   MessageButtons buttons)
{
    const MessageBoxRequest request{text, caption.isEmpty() ? ApplicationTitle() : caption, icon, buttons};
    if (g_responder) return g_responder(request);

    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, request.caption,
                    QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    buttons == MessageButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok,
                    parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(buttons == MessageButtons::OkCancel ? QMessageBox::Cancel : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? MESSAGE_OK : MESSAGE_CANCEL;
}

}  // namespace kestrine
