#pragma once

#include "ui/app_context.h"

#include <QWidget>

class QLabel;

// Stands in for the signed-in user's main screen until that screen is built: shows who is signed in.
class MainPlaceholderView : public QWidget
{
    Q_OBJECT
public:
    explicit MainPlaceholderView(const AppContext &context, QWidget *parent = nullptr);

private:
    void render();

    AppContext m_context;
    QLabel *m_user;
};
