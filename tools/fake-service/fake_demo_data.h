#pragma once

#include "fake-service/fake_service.h"

#include <QString>

// The demo data set the standalone fake service starts with under --demo: a signed-up account with
// pages of every block kind, people holding shares of one page, saved versions, a published page and
// a database with rows. Everything is seeded through the service's own state and change log, so a
// device that signs in pulls it as it would pull anyone's pages.
class FakeDemoData
{
public:
    struct Login {
        QString email;
        QString password;
        QString name;
    };

    struct Seeded {
        Login owner;         // holds every page
        Login editor;        // holds an "edit" share of the shared page
        Login suggester;     // holds a "suggest" share of the shared page
        QString sharedTitle; // the page shared, versioned and published
        QString publishedURL;
    };

    // The service must be listening already: the demo's images and files are served at its origin.
    static Seeded seed(FakeService &service);

    static constexpr auto kPassword = "penroost-demo";
};
