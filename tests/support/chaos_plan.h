#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// One step of a randomized two-device run. Records are named by their maker and their index among
// that device's own pages, folders or blocks, so a step means the same thing in every run of a seed.
struct ChaosStep {
    enum class Kind {
        CreatePage,   // target: the folder it is made in, -1 at the top level
        RenamePage,   // record: page; text: new title
        MovePage,     // record: page; target: folder, -1 = out to the top level
        CreateFolder, // target: parent folder, -1 at the top level; text: its name
        RenameFolder, // record: folder; text: new name
        SetFolderIcon,
        MoveFolder, // record: folder; target: new parent, -1 = top level
        AddBlock,   // record: page; text: the block's text
        EditBlock,  // record: block; text: new text
        // One page on both devices at once: record: the device's block on it; text: its new text;
        // `other`: what the other device does to another block of the same page.
        EditSharedPage,
        // One page on both devices at once: the device changes its structure (`shape`) through the
        // editor while the other types into a block of it (`other`, never the block deleted).
        ReshapeSharedPage,
        DeletePage, // record: page
        Sync,
        Refresh,
        InjectFault,
        GoOffline,
        GoOnline,
        // The device ends as in a crash, keeping only what its data folder already holds, and is
        // started again on that folder. `midFlight`: while a cycle it has just begun is under way.
        Crash,
    };
    enum class Fault { Http500, HtmlPage, TooManyRequests, InvalidUtf8, Drop, Delay, ApplyThenDrop };

    Kind kind = Kind::Sync;
    int device = 0;
    int record = -1;
    int target = -1;
    QString text;
    Fault fault = Fault::Http500;
    int path = -1; // index into faultPaths(); -1 for every one of them
    int count = 1; // requests the fault lasts for, per path
    int delayMs = 0;
    qint64 advanceMs = 0; // how far the devices' clock moves before the step
    // A create's name typed before its request has had a turn, or only once it has run its course.
    bool namedAtOnce = true;
    // A create: the other device makes a look-alike at the top level in the same step, its record
    // `twinRecord` among that device's own, named `twinText` once both creates have run.
    bool twin = false;
    int twinRecord = -1;
    QString twinText;
    // EditSharedPage: the page, among its maker's, and the other device's part in it. That part
    // edits a block made by `blockMaker`, or, when `adds`, appends a block of its own, `block`
    // among that device's blocks. Never the block `record` names: who wins that depends on push order.
    struct Other {
        int pageMaker = -1;
        int page = -1;
        int blockMaker = -1;
        int block = -1;
        bool adds = false;
        QString text;
    } other;
    // ReshapeSharedPage: on the page `other` names, the block of `blockMaker` the change is made on.
    struct Shape {
        enum class Op { Insert, Delete, Move, Indent };
        Op op = Op::Insert;
        int blockMaker = -1;
        int block = -1;
        int newBlock = -1; // Insert: the new block, among the device's own; typed `text`
        int to = 0;        // Move: where it is dropped among the top-level blocks, modulo their count
        int delta = 1;     // Indent: in (+1) or out (-1)
    } shape;
    bool midFlight = false;

    bool isEdit() const { return kind <= Kind::DeletePage; }
    QString describe() const;
};

// The service paths the devices' sync and sidebar use, where faults are injected.
const QStringList &chaosFaultPaths();

// The steps of a run, from the seed alone: records are picked among those the plan itself has made.
// A device touches only its own records, but for the other device's part of a shared page's edit.
// Without faults no fault or offline step is planned.
std::vector<ChaosStep> makeChaosPlan(quint64 seed, int steps, bool faults);

// "A" or "B".
QString chaosDeviceName(int device);
