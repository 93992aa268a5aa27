#include "support/chaos_order.h"

#include "support/chaos_plan.h"
#include "support/test_device.h"

#include "store/local_store.h"

#include <QHash>
#include <QStringList>

#include <algorithm>

std::vector<const FNBlock *> chaosDeviceOrder(const LocalStore &store, const QString &pageLocalID)
{
    std::vector<const FNBlock *> blocks;
    for (const FNBlock *block : store.blocksOfPage(pageLocalID)) {
        if (!block->deletedAt)
            blocks.push_back(block);
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const FNBlock *a, const FNBlock *b) { return listedBefore(*a, *b); });
    return blocks;
}

std::vector<const FakeServiceState::Block *> chaosServiceOrder(const FakeServiceState &service, qint64 pageId)
{
    std::vector<const FakeServiceState::Block *> blocks;
    for (const auto &[id, block] : service.blocks) {
        if (block.pageId == pageId)
            blocks.push_back(&block);
    }
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const auto *a, const auto *b) { return a->position < b->position; });
    return blocks;
}

namespace {

QString blockName(ChaosModel::Ref ref)
{
    return QStringLiteral("%1.b%2").arg(chaosDeviceName(ref.first)).arg(ref.second);
}

class OrderChecker
{
public:
    OrderChecker(const ChaosModel &model, const FakeServiceState &service,
                 const std::array<const LocalStore *, 2> &devices, ChaosFindings &findings)
        : m_model(model)
        , m_service(service)
        , m_devices(devices)
        , m_findings(findings)
    {
        // The made blocks by the service id their makers' copies carry.
        for (int maker = 0; maker < 2; ++maker) {
            const auto &blocks = m_model.devices[size_t(maker)].blocks;
            for (size_t i = 0; i < blocks.size(); ++i) {
                const ChaosModel::Block &b = blocks[i];
                const FNBlock *own = b.skipped ? nullptr : m_devices[size_t(maker)]->block(b.localID);
                const qint64 id = own ? own->serverID : b.lostServerID;
                if (id != 0)
                    m_names.insert(id, blockName({maker, int(i)}));
                if (own)
                    m_localNames.insert(own->localID, blockName({maker, int(i)}));
            }
        }
    }

    void run()
    {
        for (int maker = 0; maker < 2; ++maker) {
            const auto &pages = m_model.devices[size_t(maker)].pages;
            for (size_t i = 0; i < pages.size(); ++i)
                checkPage({maker, int(i)});
        }
    }

private:
    void checkPage(ChaosModel::Ref ref)
    {
        const ChaosModel::Page &page = m_model.devices[size_t(ref.first)].pages[size_t(ref.second)];
        if (page.deleted || page.lost || page.eitherWay)
            return;
        const FNPage *own = m_devices[size_t(ref.first)]->page(page.localID);
        if (!own || own->serverID == 0)
            return; // a lost page, counted as such
        const QString name = QStringLiteral("%1.p%2").arg(chaosDeviceName(ref.first)).arg(ref.second);
        QStringList service;
        QStringList servicePlaces;
        for (const FakeServiceState::Block *b : chaosServiceOrder(m_service, own->serverID)) {
            service << m_names.value(b->id, QLatin1Char('#') + QString::number(b->id));
            servicePlaces << service.back() + QLatin1Char('@') + QString::number(b->position);
        }
        for (int k = 0; k < 2; ++k) {
            const FNPage *copy = k == ref.first ? own : m_devices[size_t(k)]->pageWithServerID(own->serverID);
            if (!copy || copy->deletedAt)
                continue; // a missing page, counted as such
            QStringList held;
            QStringList heldPlaces;
            for (const FNBlock *b : chaosDeviceOrder(*m_devices[size_t(k)], copy->localID)) {
                held << (b->serverID != 0
                             ? m_names.value(b->serverID, QLatin1Char('#') + QString::number(b->serverID))
                             : m_localNames.value(b->localID,
                                                  QStringLiteral("unsent ") + TestDevice::textOf(*b)));
                heldPlaces << held.back() + QLatin1Char('@') + QString::number(b->position);
            }
            // One order everywhere, ties included: every device lists them as the service does.
            if (heldPlaces != servicePlaces)
                m_findings.lose(
                    QStringLiteral("block order on a device"),
                    QStringLiteral("%1 on %2 lists %3, the service %4")
                        .arg(name, chaosDeviceName(k), listed(heldPlaces), listed(servicePlaces)));
        }
        const auto order = m_model.orders.find(ref);
        if (order == m_model.orders.end() || !order->second.known)
            return;
        QStringList meant;
        for (const ChaosModel::Ref &b : order->second.blocks)
            meant << blockName(b);
        if (meant != service)
            m_findings.lose(QStringLiteral("block order on the service"),
                            QStringLiteral("%1 on the service lists %2, the edits meant %3")
                                .arg(name, listed(servicePlaces), listed(meant)));
    }

    static QString listed(const QStringList &names)
    {
        return QLatin1Char('[') + names.join(QStringLiteral(", ")) + QLatin1Char(']');
    }

    const ChaosModel &m_model;
    const FakeServiceState &m_service;
    std::array<const LocalStore *, 2> m_devices;
    ChaosFindings &m_findings;
    QHash<qint64, QString> m_names;
    QHash<QString, QString> m_localNames;
};

} // namespace

void checkChaosOrders(const ChaosModel &model, const FakeServiceState &service,
                      const std::array<const LocalStore *, 2> &devices, ChaosFindings &findings)
{
    OrderChecker(model, service, devices, findings).run();
}
