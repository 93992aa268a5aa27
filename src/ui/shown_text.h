#pragma once

#include <QString>

class QLabel;
class QWidget;

// Text from people or the service (titles, names, e-mails, file names, addresses, options, error
// messages) shown exactly as written: Qt would otherwise read "<b>" as markup and "&" as a mnemonic.
namespace ShownText {

// A label that never reads its text as markup.
QLabel *label(const QString &text = {}, QWidget *parent = nullptr);
// Turns an existing label to plain text; returns it for chaining.
QLabel *plain(QLabel *label);

// The text for a button, action, menu, check box or tab: every "&" doubled, so it is drawn and never
// becomes an Alt shortcut.
QString mnemonicSafe(const QString &text);

// The text for a tooltip: Qt draws a tooltip that looks like markup as rich text, so such a text is
// handed over escaped.
QString toolTip(const QString &text);

} // namespace ShownText
