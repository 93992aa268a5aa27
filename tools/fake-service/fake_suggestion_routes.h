#pragma once

#include "fake-service/fake_content.h"

// "/api/suggestions.php": a page's suggested edits (made by holders of the "suggest" share, see
// FakeSuggestRole) and the decision on one; an accepted suggestion is applied to the page and logged
// like any other change.
class FakeSuggestionRoutes
{
public:
    static void install(FakeService &service);

private:
    explicit FakeSuggestionRoutes(FakeService &service);

    HttpResponse list(const FakeService::Call &call);
    HttpResponse decide(const FakeService::Call &call);

    // Empty when the change could be made; else why not.
    QString apply(const FakeServiceState::Suggestion &suggestion, FakeServiceState::Page &page,
                  qint64 userId);

    FakeContent m_content;
};
