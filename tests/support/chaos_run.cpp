#include "support/chaos_run.h"

#include "fake-service/fake_content.h"
#include "fake-service/fake_service.h"
#include "support/chaos_device.h"
#include "support/test_device.h"

#include "library/library_creator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkReply>
#include <QTimer>

#include <cstdio>

namespace {

using Kind = ChaosStep::Kind;

// Far past the longest delay a fault adds; only a hang takes this long.
constexpr qint64 kDrainCapMs = 20000;
// Past the longest back-off, so every waiting operation is due in the next cycle.
constexpr qint64 kSettleAdvanceSecs = 61;

FakeService::Fault faultFor(const ChaosStep &step)
{
    FakeService::Fault f;
    switch (step.fault) {
    case ChaosStep::Fault::Http500:
        f = FakeService::Fault::http(500, R"({"error":"Internal server error"})");
        break;
    case ChaosStep::Fault::HtmlPage:
        f = FakeService::Fault::htmlPage(502);
        break;
    case ChaosStep::Fault::TooManyRequests:
        f = FakeService::Fault::http(429, R"({"error":"Too many requests"})");
        break;
    case ChaosStep::Fault::InvalidUtf8:
        f = FakeService::Fault::invalidUtf8(200);
        break;
    case ChaosStep::Fault::Drop:
        f = FakeService::Fault::drop();
        break;
    case ChaosStep::Fault::Delay:
        f = FakeService::Fault::delay(step.delayMs);
        break;
    case ChaosStep::Fault::ApplyThenDrop:
        f = FakeService::Fault::applyThenDrop();
        break;
    }
    f.remaining = step.count;
    return f;
}

QString outboxLine(const QString &who, const std::vector<FNSyncOp> &outbox)
{
    const FNSyncOp &first = outbox.front();
    return QStringLiteral("%1's outbox still holds %2 (first: %3/%4, %5 attempts, \"%6\")")
        .arg(who)
        .arg(outbox.size())
        .arg(first.entity, first.op)
        .arg(first.attempts)
        .arg(first.lastError.value_or(QString()));
}

} // namespace

void ChaosRun::traceRequests(const QList<HttpRequest> &requests) const
{
    for (const HttpRequest &r : requests) {
        const QByteArray auth = r.header("Authorization").value_or(QByteArray());
        const QString who = auth.endsWith(m_tokens[0].toUtf8())   ? QStringLiteral("A")
                            : auth.endsWith(m_tokens[1].toUtf8()) ? QStringLiteral("B")
                                                                  : QStringLiteral("?");
        std::fprintf(stderr, "        %s %s %s %s\n", qPrintable(who), r.method.constData(),
                     r.target.constData(), r.method == "GET" ? "" : r.body.left(600).constData());
    }
}

QString ChaosReport::summary() const
{
    return QStringLiteral("seed %1: %2 steps, %3 edits (%4 adapted, %5 skipped), %6 syncs, %7 refreshes, "
                          "%8 faults, %9; %10; lost edits %11, merges %12, duplicates %13; %14 fill checks "
                          "left; %15 ms")
        .arg(seed)
        .arg(steps.size())
        .arg(edits)
        .arg(adapted)
        .arg(skipped)
        .arg(syncs)
        .arg(refreshes)
        .arg(faults)
        .arg(crashes == 0 ? QStringLiteral("%1 requests").arg(requests)
                          : QStringLiteral("%1 requests, %2 crashes").arg(requests).arg(crashes))
        .arg(settled ? QStringLiteral("settled in %1 rounds").arg(settleRounds)
                     : QStringLiteral("NOT settled"))
        .arg(findings.lost)
        .arg(findings.merges)
        .arg(findings.duplicates)
        .arg(leftChecks)
        .arg(wallMs);
}

QString ChaosReport::details() const
{
    QStringList lines{summary()};
    QStringList kinds;
    for (const auto &[kind, count] : findings.kinds)
        kinds << QStringLiteral("%1 %2").arg(count).arg(kind);
    if (!kinds.isEmpty())
        lines << QStringLiteral("  by kind: ") + kinds.join(QStringLiteral(", "));
    for (const QString &p : problems)
        lines << QStringLiteral("  problem: ") + p;
    for (const QString &l : findings.lostExamples)
        lines << QStringLiteral("  lost: ") + l;
    for (const QString &m : findings.mergeExamples)
        lines << QStringLiteral("  merged: ") + m;
    for (const QString &d : findings.duplicateExamples)
        lines << QStringLiteral("  duplicate: ") + d;
    for (const QString &c : leftCheckExamples)
        lines << QStringLiteral("  fill check left: ") + c;
    return lines.join(QLatin1Char('\n'));
}

ChaosRun::ChaosRun(const ChaosOptions &options)
    : m_options(options)
    , m_service(std::make_unique<FakeService>())
    , m_now(QDateTime::currentDateTimeUtc())
{
}

ChaosRun::~ChaosRun()
{
    // The devices' engines and sidebars may still hold requests to the service: they go first.
    for (auto &device : m_devices)
        device.reset();
}

ChaosReport ChaosRun::run()
{
    QElapsedTimer wall;
    wall.start();
    ChaosReport report;
    report.seed = m_options.seed;
    const std::vector<ChaosStep> plan = makeChaosPlan(m_options.seed, m_options.steps, m_options.faults);
    for (const ChaosStep &step : plan)
        report.steps << step.describe();

    if (!m_service->start()) {
        report.problems << QStringLiteral("the fake service did not start");
        return report;
    }
    const FakeService::Account account = m_service->createAccount(
        QStringLiteral("chaos@example.com"), QStringLiteral("secret12"), QStringLiteral("Chaos"));
    m_workspaceId = account.workspaceId;
    const auto clock = [this] { return m_now; };
    m_tokens = {account.token, m_service->issueToken(account.userId, QStringLiteral("B"))};
    m_devices[0] = std::make_unique<ChaosDevice>(m_service->origin(), m_tokens[0], clock);
    m_devices[1] = std::make_unique<ChaosDevice>(m_service->origin(), m_tokens[1], clock);
    for (auto &device : m_devices) {
        device->refresh(); // the sidebar's first load brings the workspace
        drain();
        if (device->store().currentWorkspaceServerID() != m_workspaceId)
            report.problems << QStringLiteral("a device did not learn its workspace");
    }

    if (report.problems.isEmpty()) {
        for (size_t i = 0; i < plan.size(); ++i) {
            m_now = m_now.addMSecs(plan[i].advanceMs);
            QElapsedTimer stepTime;
            stepTime.start();
            const qsizetype requestsBefore = m_service->requests().size();
            execute(plan[i], report);
            const bool drained = drain();
            if (m_options.trace) {
                const QList<HttpRequest> requests = m_service->requests();
                std::fprintf(stderr, "%5zu %5lld ms %3lld requests  %s\n", i, qlonglong(stepTime.elapsed()),
                             qlonglong(requests.size() - requestsBefore),
                             qPrintable(report.steps[qsizetype(i)]));
                if (qEnvironmentVariableIsSet("CHAOS_TRACE_REQUESTS"))
                    traceRequests(requests.mid(requestsBefore));
            }
            if (!drained) {
                report.problems << QStringLiteral("step %1 (%2) never came to rest")
                                       .arg(i)
                                       .arg(report.steps[qsizetype(i)]);
                break;
            }
        }
        report.settled = settle(report);
        report.findings = check();
        for (size_t d = 0; d < m_devices.size(); ++d) {
            if (!m_devices[d])
                continue;
            const LocalStore &store = m_devices[d]->store();
            for (const FNFillCheck &c : store.state().fillChecks) {
                ++report.leftChecks;
                const FNBlock *block = store.block(c.blockLocalID);
                report.leftCheckExamples
                    << QStringLiteral("%1 %2 (id %3) fields %4 repaired %5 room %6%7%8")
                           .arg(chaosDeviceName(int(d)), c.blockLocalID)
                           .arg(block ? block->serverID : 0)
                           .arg(c.fields)
                           .arg(c.repaired)
                           .arg(c.roomFrom ? QString::number(*c.roomFrom) : QStringLiteral("-"))
                           .arg(c.other ? QStringLiteral(" other ") +
                                              QString::fromUtf8(serializeJSONObject(*c.other))
                                        : QString())
                           .arg(c.awaitingEcho ? QStringLiteral(" awaiting its echo") : QString());
            }
        }
    }
    report.requests = int(m_service->requests().size());
    report.wallMs = wall.elapsed();
    return report;
}

ChaosFindings ChaosRun::check() const
{
    if (!m_devices[0] || !m_devices[1])
        return {};
    return checkChaos(m_model, m_service->state(), m_workspaceId,
                      {&m_devices[0]->store(), &m_devices[1]->store()});
}

LocalStore &ChaosRun::store(int device)
{
    return m_devices[size_t(device)]->store();
}

void ChaosRun::execute(const ChaosStep &step, ChaosReport &report)
{
    ChaosDevice &device = *m_devices[size_t(step.device)];
    switch (step.kind) {
    case Kind::Sync:
        ++report.syncs;
        device.sync();
        return;
    case Kind::Refresh:
        ++report.refreshes;
        device.refresh();
        return;
    case Kind::InjectFault:
        ++report.faults;
        injectFault(step);
        return;
    case Kind::GoOffline:
        ++report.faults;
        m_service->setOffline(true);
        return;
    case Kind::GoOnline:
        m_service->setOffline(false);
        return;
    case Kind::Crash:
        ++report.crashes;
        crash(step);
        return;
    case Kind::ReshapeSharedPage:
        executeReshape(step, report);
        return;
    default:
        executeEdit(step, report);
        return;
    }
}

std::optional<FNFolder> ChaosRun::madeFolder(int device, int folder) const
{
    if (folder < 0)
        return std::nullopt;
    return m_devices[size_t(device)]->folder(m_model.devices[size_t(device)].folders[size_t(folder)].localID);
}

void ChaosRun::executeEdit(const ChaosStep &step, ChaosReport &report)
{
    ChaosDevice &device = *m_devices[size_t(step.device)];
    ChaosModel::Made &made = m_model.devices[size_t(step.device)];
    // The sidebar offers a folder as a place only once the service has numbered it.
    const bool toFolder = step.kind == Kind::CreatePage || step.kind == Kind::MovePage ||
                          step.kind == Kind::CreateFolder || step.kind == Kind::MoveFolder;
    const std::optional<FNFolder> target = toFolder ? madeFolder(step.device, step.target) : std::nullopt;
    const bool targetReady = step.target < 0 || (target && target->serverID != 0);
    ++report.edits;

    switch (step.kind) {
    case Kind::CreatePage: {
        const int folder = targetReady ? step.target : -1;
        report.adapted += targetReady ? 0 : 1;
        const auto id = device.createPage(folder < 0 ? std::nullopt : target);
        made.pages.push_back({id.value_or(QString()), step.text, folder});
        ChaosModel::Made &other = m_model.devices[size_t(1 - step.device)];
        if (step.twin) {
            ++report.edits;
            const auto twin = m_devices[size_t(1 - step.device)]->createPage(std::nullopt);
            other.pages.push_back({twin.value_or(QString()), step.twinText, -1});
        }
        if (!step.namedAtOnce)
            drain();
        device.renamePage(made.pages.back().localID, step.text);
        if (step.twin)
            m_devices[size_t(1 - step.device)]->renamePage(other.pages.back().localID, step.twinText);
        return;
    }
    case Kind::DeletePage: {
        ChaosModel::Page &page = made.pages[size_t(step.record)];
        if (page.lost) {
            ++report.skipped;
            return;
        }
        device.deletePage(page.localID);
        page.deleted = true;
        return;
    }
    case Kind::RenamePage: {
        ChaosModel::Page &page = made.pages[size_t(step.record)];
        if (page.lost) {
            ++report.skipped;
            return;
        }
        device.renamePage(page.localID, step.text);
        page.title = step.text;
        return;
    }
    case Kind::MovePage: {
        ChaosModel::Page &page = made.pages[size_t(step.record)];
        if (!targetReady || page.lost) {
            ++report.skipped;
            return;
        }
        device.movePage(page.localID, target);
        page.folder = step.target;
        return;
    }
    case Kind::CreateFolder: {
        const int parent = targetReady ? step.target : -1;
        report.adapted += targetReady ? 0 : 1;
        const auto id = device.createFolder(parent < 0 ? std::nullopt : target);
        made.folders.push_back(
            {id.value_or(QString()), step.text, QString::fromUtf8(LibraryCreator::kFolderIcon), parent});
        ChaosModel::Made &other = m_model.devices[size_t(1 - step.device)];
        if (step.twin) {
            ++report.edits;
            const auto twin = m_devices[size_t(1 - step.device)]->createFolder(std::nullopt);
            other.folders.push_back({twin.value_or(QString()), step.twinText,
                                     QString::fromUtf8(LibraryCreator::kFolderIcon), -1});
        }
        if (!step.namedAtOnce)
            drain();
        device.renameFolder(made.folders.back().localID, step.text);
        if (step.twin)
            m_devices[size_t(1 - step.device)]->renameFolder(other.folders.back().localID, step.twinText);
        return;
    }
    case Kind::RenameFolder: {
        ChaosModel::Folder &folder = made.folders[size_t(step.record)];
        if (folder.lost) {
            ++report.skipped;
            return;
        }
        device.renameFolder(folder.localID, step.text);
        folder.name = step.text;
        return;
    }
    case Kind::SetFolderIcon: {
        ChaosModel::Folder &folder = made.folders[size_t(step.record)];
        if (folder.lost) {
            ++report.skipped;
            return;
        }
        device.setFolderIcon(folder.localID, step.text);
        folder.icon = step.text;
        return;
    }
    case Kind::MoveFolder: {
        ChaosModel::Folder &folder = made.folders[size_t(step.record)];
        const auto moved = device.folder(folder.localID);
        // A drop that would put the folder inside itself is refused, and so is one to the top
        // level of a folder without a server id (the sidebar takes both ids for the same place).
        const bool refused = !targetReady || !moved || folder.lost ||
                             m_model.isWithin(step.device, step.target, step.record) ||
                             (step.target < 0 && moved->serverID == 0);
        if (refused) {
            ++report.skipped;
            return;
        }
        device.moveFolder(folder.localID, target);
        folder.parent = step.target;
        return;
    }
    case Kind::AddBlock: {
        const ChaosModel::Ref page{step.device, step.record};
        const auto before = heldOrder(step.device, page);
        const auto id = device.addBlock(made.pages[size_t(step.record)].localID, step.text);
        made.blocks.push_back(ChaosModel::Block::made(id.value_or(QString()), step.record, step.device,
                                                      step.text, step.device, !id));
        report.skipped += id ? 0 : 1;
        if (id)
            noteAppend(page, before, {step.device, step.target});
        return;
    }
    case Kind::EditBlock:
        report.skipped += editMadeBlock(step.device, step.device, step.record, step.text) ? 0 : 1;
        return;
    case Kind::EditSharedPage: {
        ++report.edits;
        report.skipped += editMadeBlock(step.device, step.device, step.record, step.text) ? 0 : 1;
        const int peer = 1 - step.device;
        const ChaosStep::Other &other = step.other;
        if (!other.adds) {
            report.skipped += editMadeBlock(peer, other.blockMaker, other.block, other.text) ? 0 : 1;
            return;
        }
        const auto page = heldPage(peer, other.pageMaker, other.page);
        const ChaosModel::Ref pageRef{other.pageMaker, other.page};
        const auto before = page ? heldOrder(peer, pageRef) : std::nullopt;
        const auto id = page ? m_devices[size_t(peer)]->addBlock(*page, other.text) : std::nullopt;
        m_model.devices[size_t(peer)].blocks.push_back(ChaosModel::Block::made(
            id.value_or(QString()), other.page, other.pageMaker, other.text, peer, !id));
        report.skipped += id ? 0 : 1;
        if (id)
            noteAppend(pageRef, before, {peer, other.block});
        return;
    }
    default:
        --report.edits;
        return;
    }
}

std::optional<QString> ChaosRun::heldPage(int device, int maker, int page) const
{
    const FNPage *copy =
        m_devices[size_t(maker)]->store().page(m_model.devices[size_t(maker)].pages[size_t(page)].localID);
    if (copy && device != maker)
        copy = copy->serverID != 0 ? m_devices[size_t(device)]->store().pageWithServerID(copy->serverID)
                                   : nullptr;
    if (!copy || copy->deletedAt)
        return std::nullopt;
    return copy->localID;
}

std::optional<QString> ChaosRun::heldBlock(int device, int maker, int block) const
{
    const ChaosModel::Block &made = m_model.devices[size_t(maker)].blocks[size_t(block)];
    if (made.skipped)
        return std::nullopt;
    const FNBlock *copy = m_devices[size_t(maker)]->store().block(made.localID);
    if (copy && device != maker)
        copy = copy->serverID != 0 ? m_devices[size_t(device)]->store().blockWithServerID(copy->serverID)
                                   : nullptr;
    // A copy behind the last edit would race it, and which of two such edits lasts is push order.
    if (!copy || copy->deletedAt || TestDevice::textOf(*copy) != made.text)
        return std::nullopt;
    return copy->localID;
}

bool ChaosRun::editMadeBlock(int device, int maker, int block, const QString &text)
{
    const auto localID = heldBlock(device, maker, block);
    if (!localID)
        return false;
    m_devices[size_t(device)]->editBlock(*localID, text);
    ChaosModel::Block &made = m_model.devices[size_t(maker)].blocks[size_t(block)];
    made.text = text;
    made.editedBy = device;
    return true;
}

void ChaosRun::injectFault(const ChaosStep &step)
{
    const FakeService::Fault fault = faultFor(step);
    if (step.path >= 0) {
        m_service->setFault(chaosFaultPaths()[step.path], fault);
        return;
    }
    for (const QString &path : chaosFaultPaths())
        m_service->setFault(path, fault);
}

bool ChaosRun::isBusy() const
{
    return std::any_of(m_devices.begin(), m_devices.end(),
                       [](const auto &device) { return device && device->isBusy(); });
}

bool ChaosRun::drain()
{
    QElapsedTimer waited;
    waited.start();
    // Several idle turns in a row: a finished request may have queued its follow-up for the next.
    for (int quiet = 0; quiet < 3;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!isBusy()) {
            ++quiet;
            continue;
        }
        quiet = 0;
        if (waited.elapsed() > kDrainCapMs)
            return false;
        QEventLoop pause;
        QTimer::singleShot(1, &pause, &QEventLoop::quit);
        pause.exec();
    }
    // Finished replies are let go with deleteLater, which no outer loop here would ever run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return true;
}

bool ChaosRun::settle(ChaosReport &report)
{
    m_service->clearFaults();
    m_service->setOffline(false);
    QString before = snapshot();
    for (int round = 1; round <= m_options.maxSettleRounds; ++round) {
        report.settleRounds = round;
        for (auto &device : m_devices) {
            m_now = m_now.addSecs(kSettleAdvanceSecs);
            device->sync();
            const bool synced = drain();
            device->refresh();
            if (!synced || !drain()) {
                report.problems << QStringLiteral("settling never came to rest");
                return false;
            }
        }
        const QString after = snapshot();
        const bool empty = std::all_of(m_devices.begin(), m_devices.end(),
                                       [](const auto &d) { return d->store().state().outbox.empty(); });
        if (empty && after == before)
            return true;
        before = after;
    }
    QString why = QStringLiteral("did not settle in %1 rounds").arg(m_options.maxSettleRounds);
    for (int k = 0; k < 2; ++k) {
        const auto &outbox = m_devices[size_t(k)]->store().state().outbox;
        if (!outbox.empty())
            why += QStringLiteral("; ") + outboxLine(chaosDeviceName(k), outbox);
    }
    report.problems << why;
    return false;
}

QString ChaosRun::snapshot() const
{
    QStringList lines;
    for (int k = 0; k < 2; ++k) {
        const StoreState &s = m_devices[size_t(k)]->store().state();
        const QString who = chaosDeviceName(k);
        for (const FNFolder &f : s.folders)
            lines << QStringLiteral("%1 f %2 #%3 %4 %5 ^%6 %7")
                         .arg(who, f.localID)
                         .arg(f.serverID)
                         .arg(f.name, f.icon)
                         .arg(f.parentFolderServerID)
                         .arg(f.deletedAt.has_value());
        for (const FNPage &p : s.pages)
            lines << QStringLiteral("%1 p %2 #%3 %4 in %5 %6")
                         .arg(who, p.localID)
                         .arg(p.serverID)
                         .arg(p.title)
                         .arg(p.folderServerID)
                         .arg(p.deletedAt.has_value());
        for (const FNBlock &b : s.blocks)
            lines << QStringLiteral("%1 b %2 #%3 %4 on %5 %6")
                         .arg(who, b.localID)
                         .arg(b.serverID)
                         .arg(TestDevice::textOf(b), b.pageLocalID)
                         .arg(b.deletedAt.has_value());
        lines << QStringLiteral("%1 outbox %2").arg(who).arg(s.outbox.size());
    }
    const FakeServiceState &s = m_service->state();
    for (const auto &[id, f] : s.folders)
        lines << QStringLiteral("service f #%1 %2 %3 ^%4").arg(id).arg(f.name, f.icon).arg(f.parentFolderId);
    for (const auto &[id, p] : s.pages)
        lines << QStringLiteral("service p #%1 %2 in %3 %4")
                     .arg(id)
                     .arg(p.title)
                     .arg(p.folderId)
                     .arg(p.inTrash());
    for (const auto &[id, b] : s.blocks)
        lines
            << QStringLiteral("service b #%1 on %2 %3").arg(id).arg(b.pageId).arg(FakeContent::blockText(b));
    return lines.join(QLatin1Char('\n'));
}
