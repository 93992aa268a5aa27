#pragma once

#include "store/page_template.h"

#include <QWidget>

#include <vector>

class QFrame;
class QMenu;
class QToolButton;

// The row of buttons at the foot of the sidebar: "Home", "Trash", "New folder", "New page", and the
// "New from template" menu while there are templates. It only reports the clicks.
class LibraryDock : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kHome = "Home";
    static constexpr const char *kTrash = "Trash";
    static constexpr const char *kNewFolder = "New folder";
    static constexpr const char *kNewPage = "New page";
    static constexpr const char *kNewFromTemplate = "New from template";
    static constexpr const char *kDeleteTemplate = "Delete template";

    explicit LibraryDock(QWidget *parent = nullptr);

    // Rebuilds the template menu; it and its divider are hidden without templates.
    void setTemplates(const std::vector<PageTemplate> &templates);

    // The button with that tooltip, or null.
    QToolButton *button(const QString &toolTip) const;
    QToolButton *templateButton() const { return m_templateButton; }
    QMenu *templateMenu() const { return m_templateMenu; }

Q_SIGNALS:
    void homeClicked();
    void trashClicked();
    void newFolderClicked();
    void newPageClicked();
    void templateChosen(const QString &templateID);
    void templateDeleteChosen(const QString &templateID);

protected:
    void changeEvent(QEvent *event) override;

private:
    QToolButton *addButton(const QString &symbol, const QString &toolTip);
    QFrame *addDivider();
    void applyIcons();

    std::vector<std::pair<QToolButton *, QString>> m_buttons; // with their symbol names
    QFrame *m_templateDivider = nullptr;
    QToolButton *m_templateButton = nullptr;
    QMenu *m_templateMenu = nullptr;
    QMenu *m_deleteMenu = nullptr;
};
