#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class AIPanelModel;
class BusyIndicator;
class Clipboard;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class ServiceClient;
class UrlOpener;

// The page's AI assistant, 380 wide beside the block list: the action chips, the input the action
// needs, Run, and the answer with Copy and Clear. The answer's links open through `UrlOpener`.
class AIPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 380;
    static constexpr const char *kTitle = "Derud AI";

    struct Services {
        Clipboard *clipboard = nullptr;
        UrlOpener *urlOpener = nullptr;
    };

    // The seed is a button's question, applied as the panel is shown.
    AIPanel(ServiceClient &client, std::function<qint64()> pageServerID,
            const std::optional<QString> &seedPrompt, Services services, std::function<void()> onClose,
            QWidget *parent = nullptr);

    AIPanelModel &model() const { return *m_model; }
    // A button's question for the panel already shown: as if it had just been opened with it.
    void applySeedPrompt(const std::optional<QString> &seedPrompt);
    // The chips, in the actions' order.
    const QList<QToolButton *> &chips() const { return m_chips; }
    QComboBox *languagePicker() const { return m_language; }
    QPlainTextEdit *promptEditor() const { return m_prompt; }
    QPushButton *runButton() const { return m_run; }
    QLabel *badge() const { return m_badge; }
    QLabel *errorLabel() const { return m_error; }
    QLabel *resultLabel() const { return m_result; }
    QPushButton *copyButton() const { return m_copy; }
    QPushButton *clearButton() const { return m_clear; }
    QToolButton *closeButton() const { return m_close; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void render();
    // The answer's box is as tall as the answer, up to the room there is; beyond that it scrolls.
    void fitResult();
    void openLink(const QString &link);

    AIPanelModel *m_model;
    Services m_services;
    QLabel *m_badge;
    QToolButton *m_close;
    QList<QToolButton *> m_chips;
    QWidget *m_translateRow;
    QComboBox *m_language;
    QPlainTextEdit *m_prompt;
    QPushButton *m_run;
    BusyIndicator *m_busy;
    QLabel *m_error;
    QWidget *m_resultArea;
    QScrollArea *m_resultScroll;
    QWidget *m_resultFrame;
    QLabel *m_result;
    QPushButton *m_copy;
    QPushButton *m_clear;
    QString m_shownResult;
};
