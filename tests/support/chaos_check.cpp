#include "support/chaos_check.h"

#include "fake-service/fake_content.h"
#include "support/chaos_order.h"
#include "support/chaos_plan.h"
#include "support/test_device.h"

#include "store/local_store.h"

#include <QHash>
#include <QSet>

#include <map>

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString pageName(int device, int index)
{
    return QStringLiteral("%1.p%2").arg(chaosDeviceName(device)).arg(index);
}

QString folderName(int device, int index)
{
    return QStringLiteral("%1.f%2").arg(chaosDeviceName(device)).arg(index);
}

// "page", "folder" or "block" from a name such as "A.f3".
QString kindOf(const QString &name)
{
    switch (name.size() > 2 ? name.at(2).toLatin1() : 0) {
    case 'p':
        return QStringLiteral("page");
    case 'f':
        return QStringLiteral("folder");
    default:
        return QStringLiteral("block");
    }
}

QString blockName(int device, int index)
{
    return QStringLiteral("%1.b%2").arg(chaosDeviceName(device)).arg(index);
}

// The service's live records of the workspace, by id.
struct ServiceView {
    const FakeServiceState &state;
    std::map<qint64, const FakeServiceState::Page *> pages;
    std::map<qint64, const FakeServiceState::Folder *> folders;
    std::map<qint64, const FakeServiceState::Block *> blocks;

    ServiceView(const FakeServiceState &s, qint64 workspaceId)
        : state(s)
    {
        for (const auto &[id, page] : s.pages) {
            if (page.workspaceId == workspaceId && !page.inTrash())
                pages[id] = &page;
        }
        for (const auto &[id, folder] : s.folders) {
            if (folder.workspaceId == workspaceId)
                folders[id] = &folder;
        }
        for (const auto &[id, block] : s.blocks) {
            if (pages.count(block.pageId))
                blocks[id] = &block;
        }
    }
};

class Checker
{
public:
    Checker(const ChaosModel &model, const FakeServiceState &service, qint64 workspaceId,
            const std::array<const LocalStore *, 2> &devices)
        : m_model(model)
        , m_service(service, workspaceId)
        , m_workspaceId(workspaceId)
        , m_devices(devices)
    {
    }

    ChaosFindings run()
    {
        for (int d = 0; d < 2; ++d) {
            const auto &made = m_model.devices[size_t(d)];
            for (size_t i = 0; i < made.folders.size(); ++i)
                checkFolder(d, int(i));
            for (size_t i = 0; i < made.pages.size(); ++i)
                checkPage(d, int(i));
            for (size_t i = 0; i < made.blocks.size(); ++i)
                checkBlock(d, int(i));
        }
        checkServiceCopies();
        for (int k = 0; k < 2; ++k)
            checkDeviceCopies(k);
        checkChaosOrders(m_model, m_service.state, m_devices, m_findings);
        return m_findings;
    }

private:
    const LocalStore &store(int device) const { return *m_devices[size_t(device)]; }

    // The server id the maker's own copy of its folder carries; 0 when it has none.
    qint64 folderServerID(int device, int folder) const
    {
        if (folder < 0)
            return 0;
        const ChaosModel::Folder &made = m_model.devices[size_t(device)].folders[size_t(folder)];
        if (made.lost)
            return made.lostServerID;
        const auto *f = store(device).folder(made.localID);
        return f ? f->serverID : -1;
    }

    // The maker's own live copy with a server id, or a lost edit saying why there is none.
    template <typename Record>
    const Record *ownCopy(const Record *own, int device, const QString &name,
                          std::map<qint64, QStringList> &bound)
    {
        if (!own || own->deletedAt) {
            m_findings.lose(kindOf(name) + QStringLiteral(" gone from its maker"),
                            name + QStringLiteral(": gone from %1").arg(chaosDeviceName(device)));
            return nullptr;
        }
        if (own->serverID == 0) {
            m_findings.lose(kindOf(name) + QStringLiteral(" never on the service"),
                            name + QStringLiteral(": never reached the service (no server id on %1)")
                                       .arg(chaosDeviceName(device)));
            return nullptr;
        }
        bound[own->serverID].append(name);
        return own;
    }

    // One field's value on the service against the last value written.
    void compareWritten(const QString &name, const QString &field, const QString &service,
                        const QString &wrote, const QString &note = QString())
    {
        if (service != wrote)
            m_findings.lose(kindOf(name) + QLatin1Char(' ') + field + QStringLiteral(" on the service"),
                            QStringLiteral("%1 %2 on the service: %3, wrote %4%5")
                                .arg(name, field, service, wrote,
                                     note.isEmpty() ? note : QStringLiteral(" (") + note + QLatin1Char(')')));
    }

    // One field's value on a device against the service's.
    void compareHeld(const QString &name, int device, const QString &field, const QString &held,
                     const QString &service)
    {
        if (held != service)
            m_findings.lose(kindOf(name) + QLatin1Char(' ') + field + QStringLiteral(" on a device"),
                            QStringLiteral("%1 %2 on %3: %4, the service has %5")
                                .arg(name, field, chaosDeviceName(device), held, service));
    }

    static QString id(qint64 serverID) { return QLatin1Char('#') + QString::number(serverID); }

    // Where the maker put the record, as a place on the service and as the plan names it.
    QString placeID(int device, int folder) const { return id(folderServerID(device, folder)); }
    static QString placeName(int device, int folder)
    {
        return folder < 0 ? QStringLiteral("top") : folderName(device, folder);
    }

    void missingOn(const QString &name, int device)
    {
        m_findings.lose(kindOf(name) + QStringLiteral(" missing on a device"),
                        name + QStringLiteral(": missing on %1").arg(chaosDeviceName(device)));
    }

    void checkFolder(int d, int i)
    {
        const ChaosModel::Folder &want = m_model.devices[size_t(d)].folders[size_t(i)];
        const QString name = folderName(d, i);
        const LocalStore &s = store(d);
        if (want.lost) {
            bindLost(m_folderBound, want.lostServerID, name);
            return;
        }
        const FNFolder *own = ownCopy(s.folder(want.localID), d, name, m_folderBound);
        if (!own)
            return;
        const auto it = m_service.folders.find(own->serverID);
        if (it == m_service.folders.end()) {
            m_findings.lose(QStringLiteral("folder gone from the service"),
                            name + QStringLiteral(": the service has no folder #%1").arg(own->serverID));
            return;
        }
        const FakeServiceState::Folder &got = *it->second;
        if (!want.loose) {
            compareWritten(name, QStringLiteral("name"), quoted(got.name), quoted(want.name));
            compareWritten(name, QStringLiteral("icon"), got.icon, want.icon);
            compareWritten(name, QStringLiteral("parent"), id(got.parentFolderId), placeID(d, want.parent),
                           placeName(d, want.parent));
        }
        for (int k = 0; k < 2; ++k) {
            const LocalStore &held = store(k);
            const FNFolder *copy = k == d ? own : held.folderWithServerID(got.id);
            if (!copy || copy->deletedAt) {
                missingOn(name, k);
                continue;
            }
            compareHeld(name, k, QStringLiteral("name"), quoted(copy->name), quoted(got.name));
            compareHeld(name, k, QStringLiteral("icon"), copy->icon, got.icon);
            compareHeld(name, k, QStringLiteral("parent"), id(copy->parentFolderServerID),
                        id(got.parentFolderId));
        }
    }

    void checkPage(int d, int i)
    {
        const ChaosModel::Page &want = m_model.devices[size_t(d)].pages[size_t(i)];
        const QString name = pageName(d, i);
        const LocalStore &s = store(d);
        if (want.lost) {
            bindLost(m_pageBound, want.lostServerID, name);
            return;
        }
        if (want.eitherWay) {
            if (const FNPage *own = s.page(want.localID); own && own->serverID != 0)
                m_pageBound[own->serverID].append(name);
            return;
        }
        if (want.deleted) {
            checkDeletedPage(d, name, s.page(want.localID));
            return;
        }
        const FNPage *own = ownCopy(s.page(want.localID), d, name, m_pageBound);
        if (!own)
            return;
        const auto it = m_service.pages.find(own->serverID);
        if (it == m_service.pages.end()) {
            m_findings.lose(QStringLiteral("page gone from the service"),
                            name + QStringLiteral(": the service has no live page #%1").arg(own->serverID));
            return;
        }
        const FakeServiceState::Page &got = *it->second;
        if (!want.loose) {
            compareWritten(name, QStringLiteral("title"), quoted(got.title), quoted(want.title));
            compareWritten(name, QStringLiteral("folder"), id(got.folderId), placeID(d, want.folder),
                           placeName(d, want.folder));
        }
        for (int k = 0; k < 2; ++k) {
            const LocalStore &held = store(k);
            const FNPage *copy = k == d ? own : held.pageWithServerID(got.id);
            if (!copy || copy->deletedAt) {
                missingOn(name, k);
                continue;
            }
            compareHeld(name, k, QStringLiteral("title"), quoted(copy->title), quoted(got.title));
            compareHeld(name, k, QStringLiteral("folder"), id(copy->folderServerID), id(got.folderId));
        }
    }

    // Deleted by its maker: live on neither the service nor a device. Its server id still counts as
    // the maker's, so another made page on it is a merge.
    void checkDeletedPage(int d, const QString &name, const FNPage *own)
    {
        if (!own || own->serverID == 0)
            return;
        m_pageBound[own->serverID].append(name);
        if (m_service.pages.count(own->serverID))
            m_findings.lose(QStringLiteral("page delete on the service"),
                            name + QStringLiteral(": deleted on %1, live on the service as #%2")
                                       .arg(chaosDeviceName(d))
                                       .arg(own->serverID));
        for (int k = 0; k < 2; ++k) {
            const FNPage *copy = k == d ? own : store(k).pageWithServerID(own->serverID);
            if (copy && !copy->deletedAt)
                m_findings.lose(QStringLiteral("page delete on a device"),
                                name + QStringLiteral(": deleted, still live on %1").arg(chaosDeviceName(k)));
        }
    }

    void checkBlock(int d, int i)
    {
        const ChaosModel::Block &want = m_model.devices[size_t(d)].blocks[size_t(i)];
        const QString name = blockName(d, i);
        if (want.skipped) {
            bindLost(m_blockBound, want.lostServerID, name);
            return;
        }
        const LocalStore &s = store(d);
        const ChaosModel::Page &page = m_model.devices[size_t(want.pageMaker)].pages[size_t(want.page)];
        if (page.deleted || page.lost || page.eitherWay) {
            // Gone with its page; its copies are no extra records.
            if (const FNBlock *own = s.block(want.localID); own && own->serverID != 0)
                m_blockBound[own->serverID].append(name);
            return;
        }
        if (want.eitherWay) {
            if (const FNBlock *own = s.block(want.localID); own && own->serverID != 0)
                m_blockBound[own->serverID].append(name);
            return;
        }
        if (want.deleted) {
            checkDeletedBlock(d, name, s.block(want.localID));
            return;
        }
        const FNBlock *own = ownCopy(s.block(want.localID), d, name, m_blockBound);
        if (!own)
            return;
        const auto it = m_service.blocks.find(own->serverID);
        if (it == m_service.blocks.end()) {
            m_findings.lose(QStringLiteral("block gone from the service"),
                            name + QStringLiteral(": the service has no block #%1").arg(own->serverID));
            return;
        }
        const FakeServiceState::Block &got = *it->second;
        const QString gotText = quoted(FakeContent::blockText(got));
        if (!want.loose && !want.textAlso.contains(FakeContent::blockText(got)))
            compareWritten(name, QStringLiteral("text"), gotText, quoted(want.text),
                           QStringLiteral("by %1").arg(chaosDeviceName(want.editedBy)));
        const FNPage *onPage = store(want.pageMaker).page(page.localID);
        if (!onPage || got.pageId != onPage->serverID)
            m_findings.lose(QStringLiteral("block page on the service"),
                            name + QStringLiteral(" is on page #%1 on the service, not on %2")
                                       .arg(got.pageId)
                                       .arg(pageName(want.pageMaker, want.page)));
        for (int k = 0; k < 2; ++k) {
            const LocalStore &held = store(k);
            const FNBlock *copy = k == d ? own : held.blockWithServerID(got.id);
            if (!copy || copy->deletedAt) {
                missingOn(name, k);
                continue;
            }
            compareHeld(name, k, QStringLiteral("text"), quoted(TestDevice::textOf(*copy)), gotText);
            // No device's indent reaches the other: each keeps its own whatever it pulls.
            compareHeld(name, k, QStringLiteral("indent"), QString::number(copy->indentLevel),
                        QString::number(want.indent[size_t(k)]));
        }
    }

    // Deleted by a device: live on neither the service nor a device.
    void checkDeletedBlock(int d, const QString &name, const FNBlock *own)
    {
        if (!own || own->serverID == 0)
            return;
        m_blockBound[own->serverID].append(name);
        if (m_service.blocks.count(own->serverID))
            m_findings.lose(QStringLiteral("block delete on the service"),
                            name +
                                QStringLiteral(": deleted, live on the service as #%1").arg(own->serverID));
        for (int k = 0; k < 2; ++k) {
            const FNBlock *copy = k == d ? own : store(k).blockWithServerID(own->serverID);
            if (copy && !copy->deletedAt)
                m_findings.lose(QStringLiteral("block delete on a device"),
                                name + QStringLiteral(": deleted, still live on %1").arg(chaosDeviceName(k)));
        }
    }

    // A record a crash took before it was saved: the service copy it made, if one is known, is its own.
    static void bindLost(std::map<qint64, QStringList> &bound, qint64 serverID, const QString &name)
    {
        if (serverID != 0)
            bound[serverID].append(name);
    }

    // A copy nobody made that a create lost in a crash left; counted apart, as no fault.
    bool leftByCrash(const QString &kind, const QString &label)
    {
        if (!m_model.crashLeftovers.contains(kind + QStringLiteral(": ") + label))
            return false;
        ++m_findings.kinds[kind + QStringLiteral(" a crash left")];
        return true;
    }

    template <typename Found>
    void checkBound(const std::map<qint64, QStringList> &bound, const Found &found, const QString &kind)
    {
        for (const auto &[id, names] : bound) {
            if (names.size() > 1)
                m_findings.merge(kind + QStringLiteral(" merged"),
                                 names.join(QStringLiteral(" and ")) +
                                     QStringLiteral(" share the service's %1 #%2").arg(kind).arg(id));
        }
        for (const auto &[id, text] : found) {
            if (!bound.count(id) && !leftByCrash(kind, text))
                m_findings.duplicate(QStringLiteral("extra ") + kind + QStringLiteral(" on the service"),
                                     QStringLiteral("the service holds %1 #%2 %3, which no device made")
                                         .arg(kind)
                                         .arg(id)
                                         .arg(quoted(text)));
        }
    }

    void checkServiceCopies()
    {
        std::map<qint64, QString> pages, folders, blocks;
        for (const auto &[id, p] : m_service.pages)
            pages[id] = p->title;
        for (const auto &[id, f] : m_service.folders)
            folders[id] = f->name;
        for (const auto &[id, b] : m_service.blocks)
            blocks[id] = FakeContent::blockText(*b);
        checkBound(m_pageBound, pages, QStringLiteral("page"));
        checkBound(m_folderBound, folders, QStringLiteral("folder"));
        checkBound(m_blockBound, blocks, QStringLiteral("block"));
    }

    // Each live local record is one the device made itself or the one copy of a made record the
    // service numbered.
    template <typename Records, typename Label>
    void checkLocal(int k, const Records &records, const QSet<QString> &own,
                    const std::map<qint64, QStringList> &bound, const QString &kind, Label label)
    {
        const QString who = chaosDeviceName(k);
        QHash<qint64, int> copies;
        for (const auto &r : records) {
            if (r.deletedAt)
                continue;
            if (r.serverID != 0 && ++copies[r.serverID] == 2)
                m_findings.duplicate(kind + QStringLiteral(" twice on a device"),
                                     QStringLiteral("%1 holds two or more copies of %2 #%3 %4")
                                         .arg(who, kind)
                                         .arg(r.serverID)
                                         .arg(quoted(label(r))));
            if (own.contains(r.localID) || (r.serverID != 0 && bound.count(r.serverID)))
                continue;
            if (r.serverID != 0 && leftByCrash(kind, label(r)))
                continue;
            m_findings.duplicate(QStringLiteral("extra ") + kind + QStringLiteral(" on a device"),
                                 QStringLiteral("%1 holds %2 %3 (server id %4), which is no made record")
                                     .arg(who, kind, quoted(label(r)))
                                     .arg(r.serverID));
        }
    }

    void checkDeviceCopies(int k)
    {
        const auto &made = m_model.devices[size_t(k)];
        QSet<QString> pages, folders, blocks;
        for (const auto &p : made.pages)
            pages.insert(p.localID);
        for (const auto &f : made.folders)
            folders.insert(f.localID);
        for (const auto &b : made.blocks)
            blocks.insert(b.localID);
        const StoreState &s = store(k).state();
        std::vector<FNPage> workspacePages;
        for (const FNPage &p : s.pages) {
            if (p.workspaceServerID == m_workspaceId || p.serverID == 0)
                workspacePages.push_back(p);
        }
        checkLocal(k, workspacePages, pages, m_pageBound, QStringLiteral("page"),
                   [](const FNPage &p) { return p.title; });
        checkLocal(k, s.folders, folders, m_folderBound, QStringLiteral("folder"),
                   [](const FNFolder &f) { return f.name; });
        checkLocal(k, s.blocks, blocks, m_blockBound, QStringLiteral("block"),
                   [](const FNBlock &b) { return TestDevice::textOf(b); });
    }

    const ChaosModel &m_model;
    ServiceView m_service;
    qint64 m_workspaceId;
    std::array<const LocalStore *, 2> m_devices;
    ChaosFindings m_findings;
    // Server id -> the made records whose makers' copies carry it.
    std::map<qint64, QStringList> m_pageBound;
    std::map<qint64, QStringList> m_folderBound;
    std::map<qint64, QStringList> m_blockBound;
};

} // namespace

bool ChaosModel::isWithin(int device, int folder, int ancestor) const
{
    const auto &folders = devices[size_t(device)].folders;
    for (size_t hops = 0; folder >= 0 && hops <= folders.size(); ++hops) {
        if (folder == ancestor)
            return true;
        folder = folders[size_t(folder)].parent;
    }
    return false;
}

void ChaosFindings::lose(const QString &kind, const QString &what)
{
    ++lost;
    ++kinds[kind];
    if (lostExamples.size() < kExamples)
        lostExamples << what;
}

void ChaosFindings::merge(const QString &kind, const QString &what)
{
    ++merges;
    ++kinds[kind];
    if (mergeExamples.size() < kExamples)
        mergeExamples << what;
}

void ChaosFindings::duplicate(const QString &kind, const QString &what)
{
    ++duplicates;
    ++kinds[kind];
    if (duplicateExamples.size() < kExamples)
        duplicateExamples << what;
}

ChaosFindings checkChaos(const ChaosModel &model, const FakeServiceState &service, qint64 workspaceId,
                         const std::array<const LocalStore *, 2> &devices)
{
    return Checker(model, service, workspaceId, devices).run();
}
