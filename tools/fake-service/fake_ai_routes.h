#pragma once

#include "fake-service/fake_content.h"

// "/api/ai.php": a deterministic stand-in for the AI assistant. Every answer is built from the action
// and the page's own text (a summary is its first sentences as bullets, an outline its headings), so
// tests can predict it; each user has a daily allowance that the reply counts down.
class FakeAIRoutes
{
public:
    static void install(FakeService &service);

private:
    // Text cut into sentences, in order.
    static QStringList sentences(const QString &text);

    explicit FakeAIRoutes(FakeService &service);

    HttpResponse run(const FakeService::Call &call);

    QString answer(const QString &action, const FakeServiceState::Page *page, const QString &input);
    // body: the page's sentences, which stand in for headings the page lacks.
    QString outline(const FakeServiceState::Page &page, const QStringList &body);

    FakeContent m_content;
};
