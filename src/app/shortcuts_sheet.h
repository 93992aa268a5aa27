#pragma once

#include <QDialog>
#include <QString>
#include <QUuid>

#include <vector>

class QToolButton;

// The help sheet listing the editor's and the app's keyboard shortcuts. It only shows fixed text;
// its close button closes it. Key combinations read in the platform's own notation ("Ctrl+B").
class ShortcutsSheet : public QDialog
{
    Q_OBJECT
public:
    struct Shortcut {
        QUuid id;
        QString keys;
        QString action;
    };

    static constexpr const char *kTitle = "Keyboard Shortcuts";
    static constexpr const char *kTextSection = "While editing text";
    static constexpr const char *kAppSection = "Around the app";
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 520;

    static std::vector<Shortcut> textShortcuts();
    static std::vector<Shortcut> appShortcuts();

    explicit ShortcutsSheet(QWidget *parent = nullptr);

    QToolButton *closeButton() const { return m_close; }

private:
    QWidget *section(const QString &title, const std::vector<Shortcut> &rows);

    QToolButton *m_close;
};
