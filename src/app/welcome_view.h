#pragma once

#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <vector>

class QPushButton;
class QScrollArea;

// The first-run screen: the logo, a title, four feature rows and "Get started", which hands control
// back through `onContinue`. It keeps no state and makes no request.
class WelcomeView : public QWidget
{
    Q_OBJECT
public:
    struct Feature {
        QUuid id;
        QString icon; // a symbol name
        QString title;
        QString detail;
    };

    static constexpr int kMaxWidth = 480;

    explicit WelcomeView(std::function<void()> onContinue, QWidget *parent = nullptr);

    // The four rows, each with a fresh id.
    static std::vector<Feature> makeFeatures();
    const std::vector<Feature> &features() const { return m_features; }

    QPushButton *continueButton() const { return m_continue; }
    QScrollArea *scrollArea() const { return m_scroll; }
    QWidget *contentColumn() const { return m_column; }

private:
    QWidget *featureRow(const Feature &feature);

    std::function<void()> m_onContinue;
    std::vector<Feature> m_features;
    QScrollArea *m_scroll;
    QWidget *m_column;
    QPushButton *m_continue;
};
