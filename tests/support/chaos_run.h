#pragma once

#include "support/chaos_check.h"
#include "support/chaos_plan.h"

#include "fake-service/http_request.h"
#include "store/fn_folder.h"
#include "store/store_state.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

class ChaosDevice;
class FakeService;
class LocalStore;

struct ChaosOptions {
    quint64 seed = 1;
    int steps = 300;
    bool faults = true;
    int maxSettleRounds = 12;
    bool trace = false; // each step to stderr as it ends, with its time and requests
};

// What one run did and found.
struct ChaosReport {
    quint64 seed = 0;
    QStringList steps; // the plan, one line a step
    int edits = 0;     // edits carried out
    int adapted = 0;   // creates made at the top level: the planned parent was not on the service yet
    // Moves the sidebar could not offer then, for the same reason or a loop; block edits on a device
    // whose copy had not caught up with the block's last edit, and adds to a page it did not hold.
    int skipped = 0;
    int syncs = 0;
    int refreshes = 0;
    int faults = 0; // injections and offline spells
    int crashes = 0;
    int requests = 0;
    bool settled = false;
    int settleRounds = 0;
    // Fill checks the devices still hold once settled: none when nothing is left to check.
    int leftChecks = 0;
    QStringList leftCheckExamples; // each with its device, block, service id and what it holds
    QStringList problems;          // the run itself going wrong: no workspace, a hang, no settling
    ChaosFindings findings;
    qint64 wallMs = 0;

    bool clean() const
    {
        return settled && problems.isEmpty() && findings.lost == 0 && findings.merges == 0 &&
               findings.duplicates == 0;
    }
    QString summary() const;
    // The summary, then each problem and the examples of what was lost or copied.
    QString details() const;
};

// A seeded run of two devices of one account against a fresh fake service: the plan's steps one
// at a time, each carried to its end, then every fault cleared, the devices brought to rest and
// the outcome checked. The same seed makes the same steps.
class ChaosRun
{
public:
    explicit ChaosRun(const ChaosOptions &options);
    ~ChaosRun();

    ChaosReport run();
    // The checks alone, against everything as it stands now.
    ChaosFindings check() const;
    FakeService &service() { return *m_service; }
    LocalStore &store(int device);
    const ChaosModel &model() const { return m_model; }

private:
    void execute(const ChaosStep &step, ChaosReport &report);
    void executeEdit(const ChaosStep &step, ChaosReport &report);
    void executeReshape(const ChaosStep &step, ChaosReport &report);
    // The device ends as in a crash and starts again on its data folder; the model then takes
    // what the folder held (see ChaosModel).
    void crash(const ChaosStep &step);
    void takeCrashedState(int device, const StoreState &before);
    // The made blocks of the page in the order the device's editor lists them; none when it does
    // not hold the page or lists a block nobody made.
    std::optional<std::vector<ChaosModel::Ref>> heldOrder(int device, ChaosModel::Ref page) const;
    // The same on the service; none when it lists a block nobody made.
    std::optional<std::vector<ChaosModel::Ref>> serviceOrder(ChaosModel::Ref page) const;
    // Both devices and the service list the page's blocks alike at the same positions.
    bool pageAtRest(ChaosModel::Ref page) const;
    // The device's copy of the page shows the order the edits meant, taking it over from a page at
    // rest when it was not known.
    bool showsMeantOrder(int device, ChaosModel::Ref page);
    // A block appended at the end of the page on the device, whose copy listed `before` then.
    void noteAppend(ChaosModel::Ref page, const std::optional<std::vector<ChaosModel::Ref>> &before,
                    ChaosModel::Ref block);
    // The device's live copy of a made block, whatever text it shows.
    std::optional<QString> copyOfBlock(int device, ChaosModel::Ref block) const;
    void injectFault(const ChaosStep &step);
    // Lets every request, cycle, folder create and block flush run out; false when that takes
    // longer than any fault here could explain.
    bool drain();
    bool isBusy() const;
    bool settle(ChaosReport &report);
    // Each request with the device that made it (CHAOS_TRACE_REQUESTS with a trace).
    void traceRequests(const QList<HttpRequest> &requests) const;
    QString snapshot() const;
    std::optional<FNFolder> madeFolder(int device, int folder) const;
    // The device's live copy of a made page or block (by its maker and index), as a local id. A
    // block's counts only while it shows the block's last text.
    std::optional<QString> heldPage(int device, int maker, int page) const;
    std::optional<QString> heldBlock(int device, int maker, int block) const;
    // The block's new text typed on the device; false when its copy is not one to edit.
    bool editMadeBlock(int device, int maker, int block, const QString &text);

    ChaosOptions m_options;
    std::unique_ptr<FakeService> m_service;
    qint64 m_workspaceId = 0;
    QDateTime m_now;
    std::array<std::unique_ptr<ChaosDevice>, 2> m_devices;
    std::array<QString, 2> m_tokens;
    ChaosModel m_model;
    int m_midFlightCrashes = 0;
};
