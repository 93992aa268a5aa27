#pragma once

#include "app/auth_form.h"
#include "ui/app_context.h"

#include <QWidget>

class BusyIndicator;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

// The sign-in and sign-up screen. It lays out and forwards; the rules live in its AuthForm. It never
// navigates: the root view replaces it once the session holds a token.
class AuthView : public QWidget
{
    Q_OBJECT
public:
    using Mode = AuthForm::Mode;

    static constexpr int kMaxWidth = 380;

    explicit AuthView(const AppContext &context, QWidget *parent = nullptr);

    AuthForm &form() { return m_form; }

    QLabel *subtitleLabel() const { return m_subtitle; }
    QPushButton *segment(Mode mode) const { return mode == Mode::login ? m_loginSegment : m_signupSegment; }
    QLineEdit *nameField() const { return m_name; }
    QLineEdit *emailField() const { return m_email; }
    QLineEdit *passwordField() const { return m_password; }
    QLabel *errorLabel() const { return m_error; }
    QPushButton *submitButton() const { return m_submit; }
    QPushButton *forgotPasswordButton() const { return m_forgot; }
    QLabel *hostLabel() const { return m_host; }
    bool isBusyIndicatorShown() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void render();
    // The keyboard to the first field still empty (the last field when none is).
    void focusFirstEmptyField();

    AuthForm m_form;
    QLabel *m_subtitle;
    QPushButton *m_loginSegment;
    QPushButton *m_signupSegment;
    QLineEdit *m_name;
    QLineEdit *m_email;
    QLineEdit *m_password;
    QLabel *m_error;
    QPushButton *m_submit;
    QPushButton *m_forgot;
    QLabel *m_host;
    BusyIndicator *m_busy;
    Mode m_renderedMode;
};
