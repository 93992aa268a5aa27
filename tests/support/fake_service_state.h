#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <map>
#include <vector>

// Everything the fake service remembers, as plain data so tests can seed or inspect it directly.
struct FakeServiceState
{
    struct User
    {
        qint64 id = 0;
        QString email; // as registered; compared case-insensitively
        QString password;
        QString name;
        QDateTime createdAt;
    };

    struct Workspace
    {
        qint64 id = 0;
        QString name;
        qint64 ownerUserId = 0;
        QDateTime createdAt;
    };

    struct Membership
    {
        qint64 workspaceId = 0;
        qint64 userId = 0;
        QString role; // "owner", "editor", "viewer"
        QDateTime joinedAt;
    };

    struct Session
    {
        qint64 userId = 0;
        QString deviceLabel;
        QDateTime createdAt;
    };

    std::map<qint64, User> users;
    std::map<qint64, Workspace> workspaces;
    std::vector<Membership> memberships; // in joining order
    QHash<QString, Session> sessions; // by bearer token; one user may hold several
    qint64 nextUserId = 1;
    qint64 nextWorkspaceId = 1;
};
