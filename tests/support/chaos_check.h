#pragma once

#include "fake-service/fake_service_state.h"

#include <QString>
#include <QStringList>

#include <array>
#include <map>
#include <vector>

class LocalStore;

// What each device made in a chaos run and the last value it gave every field, in the order the
// plan names them (A.p0, A.p1, ...). Kept by the run as it carries the steps out.
struct ChaosModel {
    struct Page {
        QString localID;
        QString title;
        int folder = -1; // index among the same device's folders; -1 at the top level
        bool deleted = false;
    };
    struct Folder {
        QString localID;
        QString name;
        QString icon;
        int parent = -1;
    };
    struct Block {
        QString localID;
        int page = -1;      // index among the pages of `pageMaker`
        int pageMaker = -1; // another device when the block was added to a page it shares
        QString text;       // the last text written, by whichever device wrote it
        int editedBy = -1;
        // Never made: its device did not hold the page when the plan added it there.
        bool skipped = false;
    };
    struct Made {
        std::vector<Page> pages;
        std::vector<Folder> folders;
        std::vector<Block> blocks;
    };

    std::array<Made, 2> devices;

    // True when `folder` of the device is `ancestor` or lies below it.
    bool isWithin(int device, int folder, int ancestor) const;
};

// Lost edits and extra copies found after a run, with the first few of each spelled out.
struct ChaosFindings {
    static constexpr int kExamples = 8;

    int lost = 0;
    int duplicates = 0;
    int merges = 0; // made records, of one device or both, that ended as one record of the service
    QStringList lostExamples;
    QStringList duplicateExamples;
    QStringList mergeExamples;
    std::map<QString, int> kinds; // how many of each kind ("folder name on the service", ...)

    void lose(const QString &kind, const QString &what);
    void duplicate(const QString &kind, const QString &what);
    void merge(const QString &kind, const QString &what);
};

// Holds the settled service and both devices against the model: (a) the service has each record's
// last write and both devices hold what the service holds, and a deleted page is live nowhere;
// (b) no two made records share one record of the service (a merge); (c) the service has one copy
// of each made record and nothing else, and no device holds a record twice or one nobody made.
ChaosFindings checkChaos(const ChaosModel &model, const FakeServiceState &service, qint64 workspaceId,
                         const std::array<const LocalStore *, 2> &devices);
