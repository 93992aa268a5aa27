#pragma once

#include "fake-service/fake_service_state.h"

#include <QString>
#include <QStringList>

#include <QSet>

#include <array>
#include <map>
#include <utility>
#include <vector>

class LocalStore;

// What each device made in a chaos run and the last value it gave every field, in the order the
// plan names them (A.p0, A.p1, ...). Kept by the run as it carries the steps out.
//
// A crash leaves its device with what its data folder held, which may be older than what it had
// sent: a record whose last edit may or may not have been saved is `loose` (its values are held
// only to agreeing everywhere), one never saved is `lost` (only a service copy it made is its own).
struct ChaosModel {
    struct Page {
        QString localID;
        QString title;
        int folder = -1; // index among the same device's folders; -1 at the top level
        bool deleted = false;
        bool lost = false;
        bool loose = false;
        bool eitherWay = false; // a delete a crash may have undone: live or gone, but alike everywhere
        qint64 lostServerID = 0;
    };
    struct Folder {
        QString localID;
        QString name;
        QString icon;
        int parent = -1;
        bool lost = false;
        bool loose = false;
        qint64 lostServerID = 0;
    };
    struct Block {
        QString localID;
        int page = -1;      // index among the pages of `pageMaker`
        int pageMaker = -1; // another device when the block was added to a page it shares
        QString text;       // the last text written, by whichever device wrote it
        int editedBy = -1;
        // Never made: its device did not hold the page when the plan added it there, or a crash
        // came before it was saved (its service copy, if it made one: `lostServerID`).
        bool skipped = false;
        qint64 lostServerID = 0;
        bool deleted = false;
        int deletedBy = -1;
        QStringList textAlso; // texts a crash may have left instead of `text`
        bool loose = false;   // a text a crash may have left, not known which
        bool eitherWay = false;
        std::array<qint64, 2> indent{}; // per device: the service keeps none, so each keeps its own

        static Block made(const QString &localID, int page, int pageMaker, const QString &text, int editedBy,
                          bool skipped)
        {
            Block b;
            b.localID = localID;
            b.page = page;
            b.pageMaker = pageMaker;
            b.text = text;
            b.editedBy = editedBy;
            b.skipped = skipped;
            return b;
        }
    };
    using Ref = std::pair<int, int>; // maker, index
    // A page's live blocks in the order the edits meant; not `known` once a device changed the
    // order on a copy that was behind, where no one order was meant.
    struct Order {
        std::vector<Ref> blocks;
        bool known = true;
    };
    struct Made {
        std::vector<Page> pages;
        std::vector<Folder> folders;
        std::vector<Block> blocks;
    };

    std::array<Made, 2> devices;
    std::map<Ref, Order> orders; // by page
    // Labels ("block: text") of records a crash took before they were saved: a copy of one on the
    // service is its create having landed, not a record nobody made.
    QSet<QString> crashLeftovers;

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
