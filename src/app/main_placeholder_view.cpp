#include "app/main_placeholder_view.h"

#include "api/session_store.h"
#include "ui/app_style.h"
#include "ui/shown_text.h"

#include <QLabel>
#include <QVBoxLayout>

MainPlaceholderView::MainPlaceholderView(const AppContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_user(ShownText::label({}, this))
{
    setObjectName(QStringLiteral("mainView"));
    auto *layout = new QVBoxLayout(this);
    m_user->setFont(AppStyle::headline());
    layout->addWidget(m_user, 0, Qt::AlignCenter);
    connect(m_context.session, &SessionStore::userNameChanged, this, &MainPlaceholderView::render);
    render();
}

void MainPlaceholderView::render()
{
    m_user->setText(m_context.session->userName().value_or(QString()));
}
