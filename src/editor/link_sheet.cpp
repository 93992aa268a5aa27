#include "editor/link_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr auto kTitle = "Insert link";
constexpr auto kPlaceholder = "https://example.com";
constexpr auto kCancel = "Cancel";
constexpr auto kInsert = "Insert";
constexpr int kWidth = 380;

} // namespace

LinkSheet::LinkSheet(QWidget *parent)
    : QDialog(parent)
    , m_url(new QLineEdit(this))
    , m_cancel(new QPushButton(QString::fromLatin1(kCancel), this))
    , m_insert(new QPushButton(QString::fromLatin1(kInsert), this))
{
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(12);
    auto *title = new QLabel(QString::fromLatin1(kTitle), this);
    QFont headline = title->font();
    headline.setWeight(QFont::DemiBold);
    title->setFont(headline);
    stack->addWidget(title);
    m_url->setPlaceholderText(QString::fromLatin1(kPlaceholder));
    stack->addWidget(m_url);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_insert);
    stack->addLayout(buttons);

    m_cancel->setAutoDefault(false);
    m_insert->setDefault(true);
    connect(m_cancel, &QPushButton::clicked, this, &LinkSheet::cancelClicked);
    connect(m_insert, &QPushButton::clicked, this, &LinkSheet::insertClicked);
}
