// The IPv4 address entry of the dialogs: four octet fields separated by dots, drawn as one
// line edit. Qt has no such widget.
//
// Typing accepts digits only. '.' or space moves to the next field when the current one
// holds something; a third digit moves on by itself (except in the last field), and a '.'
// or space typed right after that is dropped, so a dotted address typed over a filled
// control lands octet by octet. Backspace in an empty field, Left at the start and Right
// at the end cross to the neighbouring field; Home and End go to the first and last field.
// A field is tidied when it is left: values above 255 become 255 (already when the third
// digit is typed), leading zeros go.
// Reading never fails: a blank field reads 0 and an untidied one reads its clamped value.
//
// The control is one tab stop entered at the first field, which is also its focus proxy.
#pragma once

#include <QFrame>
#include <QString>
#include <array>
#include <cstdint>

class QKeyEvent;
class QLabel;
class QLineEdit;

namespace kestrine {

class IpAddressControl : public QFrame {
    Q_OBJECT

public:
    explicit IpAddressControl(QWidget* parent = nullptr);

    // Host order: the first octet is the most significant byte (0xC0A80114 is 192.168.1.20).
    void SetAddress(uint32_t hostOrder);
    uint32_t Address() const;
    void ClearAddress();
    bool IsBlank() const;

    // Names the control and its fields "<name>, octet N" for screen readers; an empty name
    // gives the fields "Octet N". Use this instead of setAccessibleName, whose changes no
    // event reports to the control.
    void SetAccessibleBaseName(const QString& name);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // Each edit the user makes to a field, even one that leaves the value as it was (a
    // leading zero). SetAddress and ClearAddress are the program's own doing and stay quiet,
    // so a dialog filling itself in does not take that for the user's input.
    void AddressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int FIELD_COUNT = 4;

    enum class Caret { AT_START, AT_END, SELECT_ALL };

    int IndexOf(const QObject* object) const;
    bool HandleKey(int index, const QKeyEvent& key);
    void OnEdited(int index);
    void MoveTo(int from, int to, Caret caret);
    void Tidy(int index);

    std::array<QLineEdit*, FIELD_COUNT> m_fields{};
    std::array<QLabel*, FIELD_COUNT - 1> m_dots{};
    int m_advancedInto = -1;  // the field a third digit just moved to, until the next key
};

}  // namespace kestrine
