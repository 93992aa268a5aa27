// The run's changes of a page's structure, the order the edits meant, and crashes.
#include "support/chaos_device.h"
#include "support/chaos_order.h"
#include "support/chaos_run.h"
#include "support/test_device.h"

#include "editor/block_row_model.h"
#include "fake-service/fake_service.h"
#include "store/create_adoption.h"

#include <QCoreApplication>
#include <QHash>
#include <QTest>

#include <algorithm>

namespace {

using Ref = ChaosModel::Ref;
using Op = ChaosStep::Shape::Op;

const ChaosModel::Block &madeBlock(const ChaosModel &model, Ref ref)
{
    return model.devices[size_t(ref.first)].blocks[size_t(ref.second)];
}

} // namespace

std::optional<QString> ChaosRun::copyOfBlock(int device, Ref ref) const
{
    const ChaosModel::Block &made = madeBlock(m_model, ref);
    const FNBlock *own = made.skipped ? nullptr : m_devices[size_t(ref.first)]->store().block(made.localID);
    const qint64 serverID = own ? own->serverID : made.lostServerID;
    const FNBlock *copy = ref.first == device && own ? own : nullptr;
    if (!copy && serverID != 0)
        copy = m_devices[size_t(device)]->store().blockWithServerID(serverID);
    if (!copy || copy->deletedAt)
        return std::nullopt;
    return copy->localID;
}

std::optional<std::vector<Ref>> ChaosRun::heldOrder(int device, Ref page) const
{
    const auto pageID = heldPage(device, page.first, page.second);
    if (!pageID)
        return std::nullopt;
    QHash<QString, Ref> refs;
    for (int maker = 0; maker < 2; ++maker) {
        const auto &blocks = m_model.devices[size_t(maker)].blocks;
        for (int i = 0; i < int(blocks.size()); ++i) {
            if (Ref(blocks[size_t(i)].pageMaker, blocks[size_t(i)].page) != page)
                continue;
            if (const auto copy = copyOfBlock(device, {maker, i}))
                refs.insert(*copy, {maker, i});
        }
    }
    std::vector<Ref> order;
    for (const FNBlock *block : chaosDeviceOrder(m_devices[size_t(device)]->store(), *pageID)) {
        const auto it = refs.constFind(block->localID);
        if (it == refs.constEnd())
            return std::nullopt;
        order.push_back(*it);
    }
    return order;
}

std::optional<std::vector<Ref>> ChaosRun::serviceOrder(Ref page) const
{
    const ChaosModel::Page &made = m_model.devices[size_t(page.first)].pages[size_t(page.second)];
    const FNPage *own = m_devices[size_t(page.first)]->store().page(made.localID);
    if (!own || own->serverID == 0)
        return std::nullopt;
    QHash<qint64, Ref> refs;
    for (int maker = 0; maker < 2; ++maker) {
        const auto &blocks = m_model.devices[size_t(maker)].blocks;
        for (int i = 0; i < int(blocks.size()); ++i) {
            const ChaosModel::Block &b = blocks[size_t(i)];
            const FNBlock *copy = b.skipped ? nullptr : m_devices[size_t(maker)]->store().block(b.localID);
            const qint64 id = copy ? copy->serverID : b.lostServerID;
            if (id != 0 && Ref(b.pageMaker, b.page) == page)
                refs.insert(id, {maker, i});
        }
    }
    std::vector<Ref> order;
    for (const FakeServiceState::Block *block : chaosServiceOrder(m_service->state(), own->serverID)) {
        const auto it = refs.constFind(block->id);
        if (it == refs.constEnd())
            return std::nullopt;
        order.push_back(*it);
    }
    return order;
}

bool ChaosRun::pageAtRest(Ref page) const
{
    const auto service = serviceOrder(page);
    if (!service)
        return false;
    for (int k = 0; k < 2; ++k) {
        if (heldOrder(k, page) != service)
            return false;
    }
    // The same places too: a device holding an older position of a block would put a block it
    // inserts next to it somewhere else than it sees.
    QHash<qint64, qint64> positions;
    for (const auto &[id, block] : m_service->state().blocks)
        positions.insert(id, block.position);
    for (const Ref &ref : *service) {
        for (int k = 0; k < 2; ++k) {
            const FNBlock *copy =
                m_devices[size_t(k)]->store().block(copyOfBlock(k, ref).value_or(QString()));
            if (!copy || copy->serverID == 0 || positions.value(copy->serverID, -1) != copy->position)
                return false;
        }
    }
    return true;
}

bool ChaosRun::showsMeantOrder(int device, Ref page)
{
    ChaosModel::Order &order = m_model.orders[page];
    if (!order.known && pageAtRest(page)) {
        order.blocks = *serviceOrder(page);
        order.known = true;
    }
    return order.known && heldOrder(device, page) == order.blocks;
}

void ChaosRun::noteAppend(Ref page, const std::optional<std::vector<Ref>> &before, Ref block)
{
    ChaosModel::Order &order = m_model.orders[page];
    // Appended on a copy that had not seen another append: which of the two ends last is nobody's
    // choice.
    if (!before || *before != order.blocks)
        order.known = false;
    order.blocks.push_back(block);
}

void ChaosRun::executeReshape(const ChaosStep &step, ChaosReport &report)
{
    const int self = step.device;
    const ChaosStep::Shape &shape = step.shape;
    const Ref page{step.other.pageMaker, step.other.page};
    const Ref target{shape.blockMaker, shape.block};
    ChaosDevice &device = *m_devices[size_t(self)];
    ChaosModel::Made &mine = m_model.devices[size_t(self)];
    report.edits += 2;

    // Only on a copy showing the order the edits meant does the change mean one thing.
    const bool caughtUp = showsMeantOrder(self, page);
    std::vector<Ref> &order = m_model.orders[page].blocks;
    const auto at = std::find(order.begin(), order.end(), target);
    const auto copy = caughtUp && at != order.end() ? copyOfBlock(self, target) : std::nullopt;
    bool done = false;
    switch (shape.op) {
    case Op::Insert: {
        const auto id = copy ? device.insertBlockAfter(*copy, step.text) : std::nullopt;
        mine.blocks.push_back(
            ChaosModel::Block::made(id.value_or(QString()), page.second, page.first, step.text, self, !id));
        if (id) {
            // The new block takes the indent of the one it follows, on this device.
            mine.blocks.back().indent[size_t(self)] = madeBlock(m_model, target).indent[size_t(self)];
            order.insert(at + 1, {self, shape.newBlock});
            done = true;
        }
        break;
    }
    case Op::Delete:
        // The editor would put a fresh block in place of the page's last.
        if (copy && order.size() > 1) {
            device.deleteBlock(*copy);
            ChaosModel::Block &block = m_model.devices[size_t(target.first)].blocks[size_t(target.second)];
            block.deleted = true;
            block.deletedBy = self;
            order.erase(at);
            done = true;
        }
        break;
    case Op::Move: {
        const int from = int(at - order.begin());
        const int to = order.empty() ? 0 : shape.to % int(order.size());
        if (copy && to != from) {
            device.moveBlock(*copy, to);
            order.erase(at);
            order.insert(order.begin() + to, target);
            done = true;
        }
        break;
    }
    case Op::Indent:
        if (copy) {
            device.indentBlock(*copy, shape.delta);
            qint64 &indent =
                m_model.devices[size_t(target.first)].blocks[size_t(target.second)].indent[size_t(self)];
            indent = std::clamp<qint64>(indent + shape.delta, 0, BlockRowModel::kMaxIndent);
            done = true;
        }
        break;
    }
    report.skipped += done ? 0 : 1;
    report.skipped +=
        editMadeBlock(1 - self, step.other.blockMaker, step.other.block, step.other.text) ? 0 : 1;
}

void ChaosRun::crash(const ChaosStep &step)
{
    const int k = step.device;
    // Every other crash in flight comes between a push and the pull after it, where the state holds
    // what was sent but not yet what the feed says of it.
    if (step.midFlight && (m_midFlightCrashes++ % 2 == 1) &&
        !m_devices[size_t(k)]->store().state().outbox.empty()) {
        const QByteArray token = m_tokens[size_t(k)].toUtf8();
        bool pushed = false;
        bool pulling = false;
        const auto watch = QObject::connect(m_service.get(), &FakeService::requestReceived,
                                            [&](const HttpRequest &r) {
                                                if (!r.header("Authorization").value_or(QByteArray()).endsWith(token))
                                                    return;
                                                const bool pull = r.target.startsWith("/api/sync.php");
                                                if (!pull && r.method != "GET")
                                                    pushed = true;
                                                else if (pull && pushed)
                                                    pulling = true;
                                            });
        m_devices[size_t(k)]->sync();
        QTest::qWaitFor([&] { return pulling || !m_devices[size_t(k)]->engine().isSyncing(); }, 10000);
        QObject::disconnect(watch);
    } else if (step.midFlight) {
        // A cycle begun and given a few turns: its first request out, its answer maybe in.
        m_devices[size_t(k)]->sync();
        for (int turn = 0; turn < 3; ++turn)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    const StoreState before = m_devices[size_t(k)]->store().state();
    ChaosDevice::Remains remains = m_devices[size_t(k)]->crash();
    m_devices[size_t(k)].reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_devices[size_t(k)] = std::make_unique<ChaosDevice>(
        m_service->origin(), m_tokens[size_t(k)], [this] { return m_now; }, std::move(remains));
    takeCrashedState(k, before);
    m_devices[size_t(k)]->refresh();
}

void ChaosRun::takeCrashedState(int k, const StoreState &before)
{
    const LocalStore &now = m_devices[size_t(k)]->store();
    QHash<QString, const FNFolder *> oldFolders;
    QHash<QString, const FNPage *> oldPages;
    QHash<QString, const FNBlock *> oldBlocks;
    QHash<qint64, const FNBlock *> oldBlocksByServer;
    for (const FNFolder &f : before.folders)
        oldFolders.insert(f.localID, &f);
    for (const FNPage &p : before.pages)
        oldPages.insert(p.localID, &p);
    for (const FNBlock &b : before.blocks) {
        oldBlocks.insert(b.localID, &b);
        if (b.serverID != 0)
            oldBlocksByServer.insert(b.serverID, &b);
    }
    ChaosModel::Made &made = m_model.devices[size_t(k)];
    QSet<QString> &leftovers = m_model.crashLeftovers;

    for (ChaosModel::Folder &f : made.folders) {
        const FNFolder *was = oldFolders.value(f.localID);
        const FNFolder *is = f.lost ? nullptr : now.folder(f.localID);
        if (f.lost)
            continue;
        if (!is) {
            f.lost = true;
            f.lostServerID = was ? was->serverID : 0;
            for (const QString &name :
                 {f.name, QString::fromLatin1(kNewFolderName), was ? was->name : f.name})
                leftovers.insert(QStringLiteral("folder: ") + name);
            continue;
        }
        if (!was || is->name != was->name || is->icon != was->icon || is->serverID != was->serverID ||
            is->parentFolderServerID != was->parentFolderServerID ||
            is->parentFolderLocalID != was->parentFolderLocalID)
            f.loose = true;
    }
    for (ChaosModel::Page &p : made.pages) {
        const FNPage *was = oldPages.value(p.localID);
        const FNPage *is = p.lost ? nullptr : now.page(p.localID);
        if (p.lost)
            continue;
        if (!is) {
            p.lost = true;
            p.lostServerID = was ? was->serverID : 0;
            for (const QString &title :
                 {p.title, QString::fromLatin1(kNewPageTitle), was ? was->title : p.title})
                leftovers.insert(QStringLiteral("page: ") + title);
            continue;
        }
        if (!was || is->title != was->title || is->serverID != was->serverID ||
            is->folderServerID != was->folderServerID)
            p.loose = true;
        if (p.deleted && !is->deletedAt)
            p.eitherWay = true;
    }
    for (int maker = 0; maker < 2; ++maker) {
        auto &blocks = m_model.devices[size_t(maker)].blocks;
        for (int i = 0; i < int(blocks.size()); ++i) {
            ChaosModel::Block &b = blocks[size_t(i)];
            if (b.skipped)
                continue;
            const Ref ref{maker, i};
            ChaosModel::Order &order = m_model.orders[{b.pageMaker, b.page}];
            const FNBlock *was = nullptr;
            const FNBlock *is = nullptr;
            if (maker == k) {
                was = oldBlocks.value(b.localID);
                is = now.block(b.localID);
            } else if (const FNBlock *own = m_devices[size_t(maker)]->store().block(b.localID);
                       own && own->serverID != 0) {
                was = oldBlocksByServer.value(own->serverID);
                is = now.blockWithServerID(own->serverID);
            }
            if (maker == k && !is) {
                b.skipped = true;
                b.lostServerID = was ? was->serverID : 0;
                for (const QString &text : QStringList{b.text} + b.textAlso)
                    leftovers.insert(QStringLiteral("block: ") + text);
                if (was)
                    leftovers.insert(QStringLiteral("block: ") + TestDevice::textOf(*was));
                std::erase(order.blocks, ref);
                order.known = false;
                continue;
            }
            b.indent[size_t(k)] = is ? is->indentLevel : 0;
            // Its last text from here may not have been saved, nor have gone out.
            if (b.editedBy == k && was && (!is || TestDevice::textOf(*is) != TestDevice::textOf(*was))) {
                if (is)
                    b.textAlso << TestDevice::textOf(*is);
                else
                    b.loose = true;
            }
            if (b.deleted && b.deletedBy == k && (!is || !is->deletedAt))
                b.eitherWay = true;
            if (!was != !is || (was && (was->position != is->position ||
                                        was->deletedAt.has_value() != is->deletedAt.has_value())))
                order.known = false;
        }
    }
}
