#include "support/chaos_plan.h"

#include <array>
#include <random>

namespace {

using Kind = ChaosStep::Kind;
using Fault = ChaosStep::Fault;

const std::array<const char *, 6> kIcons = {"\U0001F4C1", "\U0001F4DA", "\U0001F3E0",
                                            "\U0001F680", "\u2B50",     "\U0001F331"};

// The plan's own picture of what each device has made, enough to pick records and name texts.
struct Made {
    int pages = 0;
    int folders = 0;
    int blocks = 0;
    std::vector<int> folderParent;  // by folder index; -1 at the top level
    std::vector<int> folderVersion; // names and icons given so far, for fresh texts
    std::vector<int> pageVersion;
    std::vector<int> blockVersion;
    std::vector<bool> pageGone;  // deleted by the plan
    std::vector<bool> blockGone; // the same, by block index
    // By block index: the page it is on, as (its maker, its index); another device's page when the
    // block was added there in a shared page's edit.
    std::vector<std::pair<int, int>> blockPage;
};

class Planner
{
public:
    Planner(quint64 seed, bool faults)
        : m_rng(seed)
        , m_faults(faults)
    {
    }

    ChaosStep next(int index)
    {
        m_index = index;
        ChaosStep step;
        step.advanceMs = qint64(below(4000));
        if (m_offlineUntil >= 0 && index >= m_offlineUntil) {
            m_offlineUntil = -1;
            step.kind = Kind::GoOnline;
            return step;
        }
        step.device = int(below(2));
        pick(step);
        return step;
    }

private:
    quint64 below(quint64 n) { return n == 0 ? 0 : m_rng() % n; }

    void pick(ChaosStep &step)
    {
        // Edits take about three steps in five; faults are rarer, so most operations still get through.
        struct Weight {
            Kind kind;
            int weight;
        };
        static const std::array<Weight, 17> weights = {{
            {Kind::CreatePage, 8},
            {Kind::RenamePage, 8},
            {Kind::MovePage, 6},
            {Kind::CreateFolder, 4},
            {Kind::RenameFolder, 5},
            {Kind::SetFolderIcon, 4},
            {Kind::MoveFolder, 4},
            {Kind::AddBlock, 10},
            {Kind::EditBlock, 12},
            {Kind::EditSharedPage, 6},
            {Kind::ReshapeSharedPage, 10},
            {Kind::DeletePage, 2},
            {Kind::Sync, 14},
            {Kind::Refresh, 8},
            {Kind::InjectFault, 10},
            {Kind::GoOffline, 2},
            {Kind::Crash, 2},
        }};
        int total = 0;
        for (const Weight &w : weights)
            total += w.weight;
        int roll = int(below(quint64(total)));
        Kind kind = Kind::Sync;
        for (const Weight &w : weights) {
            if (roll < w.weight) {
                kind = w.kind;
                break;
            }
            roll -= w.weight;
        }
        if (!m_faults && (kind == Kind::InjectFault || kind == Kind::GoOffline || kind == Kind::Crash))
            kind = Kind::Sync;
        if (kind == Kind::GoOffline && m_offlineUntil >= 0)
            kind = Kind::Sync;
        fill(step, kind);
    }

    void fill(ChaosStep &step, Kind kind)
    {
        Made &m = m_made[size_t(step.device)];
        const QString who = chaosDeviceName(step.device);
        // An edit of a kind the device has nothing of yet makes something instead.
        const bool anyPage = livePage(m) >= 0;
        if ((kind == Kind::RenamePage || kind == Kind::MovePage || kind == Kind::AddBlock ||
             kind == Kind::DeletePage) &&
            !anyPage)
            kind = Kind::CreatePage;
        if ((kind == Kind::RenameFolder || kind == Kind::SetFolderIcon || kind == Kind::MoveFolder) &&
            m.folders == 0)
            kind = Kind::CreateFolder;
        if ((kind == Kind::EditBlock || kind == Kind::EditSharedPage) && liveBlock(m) < 0)
            kind = anyPage ? Kind::AddBlock : Kind::CreatePage;
        if (kind == Kind::ReshapeSharedPage && pagesWithBlocks().empty())
            kind = anyPage ? Kind::AddBlock : Kind::CreatePage;
        step.kind = kind;

        switch (kind) {
        case Kind::CreatePage:
            step.record = m.pages++;
            step.target = anyFolderOrTop(m);
            step.namedAtOnce = below(2) == 0;
            m.pageVersion.push_back(0);
            m.pageGone.push_back(false);
            step.text = pageTitle(who, step.record, 0);
            if (below(4) == 0) {
                // Both devices make an untitled page at the top level at once.
                Made &o = m_made[size_t(1 - step.device)];
                step.twin = true;
                step.target = -1;
                step.namedAtOnce = false;
                step.twinRecord = o.pages++;
                o.pageVersion.push_back(0);
                o.pageGone.push_back(false);
                step.twinText = pageTitle(chaosDeviceName(1 - step.device), step.twinRecord, 0);
            }
            break;
        case Kind::RenamePage:
            step.record = livePage(m);
            step.text = pageTitle(who, step.record, ++m.pageVersion[size_t(step.record)]);
            break;
        case Kind::MovePage:
            step.record = livePage(m);
            step.target = anyFolderOrTop(m);
            break;
        case Kind::CreateFolder:
            step.record = m.folders++;
            step.target = anyFolderOrTop(m, step.record);
            step.namedAtOnce = below(2) == 0;
            m.folderParent.push_back(step.target);
            m.folderVersion.push_back(0);
            step.text = folderName(who, step.record, 0);
            if (below(4) == 0) {
                // Both devices make a "New folder" at the top level at once.
                Made &o = m_made[size_t(1 - step.device)];
                step.twin = true;
                step.target = -1;
                m.folderParent.back() = -1;
                step.namedAtOnce = false;
                step.twinRecord = o.folders++;
                o.folderParent.push_back(-1);
                o.folderVersion.push_back(0);
                step.twinText = folderName(chaosDeviceName(1 - step.device), step.twinRecord, 0);
            }
            break;
        case Kind::RenameFolder:
            step.record = int(below(quint64(m.folders)));
            step.text = folderName(who, step.record, ++m.folderVersion[size_t(step.record)]);
            break;
        case Kind::SetFolderIcon:
            step.record = int(below(quint64(m.folders)));
            step.text =
                QString::fromUtf8(kIcons[size_t(++m.folderVersion[size_t(step.record)]) % kIcons.size()]);
            break;
        case Kind::MoveFolder:
            step.record = int(below(quint64(m.folders)));
            step.target = anyFolderOrTop(m, step.record);
            // A move under its own subtree is refused by the sidebar; plan the top level instead.
            if (isWithin(m, step.target, step.record))
                step.target = -1;
            m.folderParent[size_t(step.record)] = step.target;
            break;
        case Kind::AddBlock:
            step.record = livePage(m);
            step.target = m.blocks++;
            m.blockVersion.push_back(0);
            m.blockGone.push_back(false);
            m.blockPage.push_back({step.device, step.record});
            step.text = blockText(step.device, step.target, 0, step.device);
            break;
        case Kind::EditBlock:
            step.record = liveBlock(m);
            step.text = editText(step.device, step.record, step.device);
            break;
        case Kind::EditSharedPage:
            planSharedPage(step);
            break;
        case Kind::ReshapeSharedPage:
            planReshape(step);
            break;
        case Kind::Crash:
            step.midFlight = below(2) == 0;
            break;
        case Kind::DeletePage:
            step.record = livePage(m);
            m.pageGone[size_t(step.record)] = true;
            break;
        case Kind::InjectFault:
            step.fault = Fault(below(7));
            step.path = below(5) == 0 ? -1 : int(below(quint64(chaosFaultPaths().size())));
            step.count = 1 + int(below(3));
            step.delayMs = 10 + int(below(50));
            break;
        case Kind::GoOffline:
            m_offlineUntil = m_index + 1 + int(below(8));
            break;
        case Kind::Sync:
        case Kind::Refresh:
        case Kind::GoOnline:
            break;
        }
    }

    // A page of the device not deleted, or -1 when there is none.
    int livePage(const Made &m)
    {
        std::vector<int> live;
        for (int i = 0; i < m.pages; ++i) {
            if (!m.pageGone[size_t(i)])
                live.push_back(i);
        }
        return live.empty() ? -1 : live[size_t(below(live.size()))];
    }

    bool pageGone(std::pair<int, int> page) const
    {
        return m_made[size_t(page.first)].pageGone[size_t(page.second)];
    }

    // A block of the device on a page not deleted, or -1.
    int liveBlock(const Made &m)
    {
        std::vector<int> live;
        for (int i = 0; i < m.blocks; ++i) {
            if (!pageGone(m.blockPage[size_t(i)]) && !m.blockGone[size_t(i)])
                live.push_back(i);
        }
        return live.empty() ? -1 : live[size_t(below(live.size()))];
    }

    // The live blocks of a page, of both makers, as (maker, index).
    std::vector<std::pair<int, int>> blocksOn(std::pair<int, int> page) const
    {
        std::vector<std::pair<int, int>> found;
        for (int maker = 0; maker < 2; ++maker) {
            const Made &made = m_made[size_t(maker)];
            for (int i = 0; i < made.blocks; ++i) {
                if (made.blockPage[size_t(i)] == page && !made.blockGone[size_t(i)])
                    found.push_back({maker, i});
            }
        }
        return found;
    }

    // Live pages of either device holding a live block.
    std::vector<std::pair<int, int>> pagesWithBlocks() const
    {
        std::vector<std::pair<int, int>> pages;
        for (int maker = 0; maker < 2; ++maker) {
            for (int p = 0; p < m_made[size_t(maker)].pages; ++p) {
                if (!pageGone({maker, p}) && !blocksOn({maker, p}).empty())
                    pages.push_back({maker, p});
            }
        }
        return pages;
    }

    // The device inserts, deletes, moves or indents a block of a page either device made, and the
    // other types into a block of it: half the time the very block moved, indented or inserted
    // after, whose place the change is about.
    void planReshape(ChaosStep &step)
    {
        using Op = ChaosStep::Shape::Op;
        const int self = step.device;
        const int peer = 1 - self;
        const std::vector<std::pair<int, int>> pages = pagesWithBlocks();
        const std::pair<int, int> page = pages[size_t(below(pages.size()))];
        step.other.pageMaker = page.first;
        step.other.page = page.second;
        const std::vector<std::pair<int, int>> blocks = blocksOn(page);
        const auto [maker, block] = blocks[size_t(below(blocks.size()))];
        step.shape.blockMaker = maker;
        step.shape.block = block;
        static const std::array<Op, 9> ops = {Op::Insert, Op::Insert, Op::Insert, Op::Move,  Op::Move,
                                              Op::Move,   Op::Delete, Op::Indent, Op::Indent};
        step.shape.op = ops[size_t(below(ops.size()))];
        // The page's last block stays: the editor puts a fresh one in its place otherwise.
        if (step.shape.op == Op::Delete && blocks.size() < 2)
            step.shape.op = Op::Insert;
        switch (step.shape.op) {
        case Op::Insert: {
            Made &m = m_made[size_t(self)];
            step.shape.newBlock = m.blocks++;
            m.blockVersion.push_back(0);
            m.blockGone.push_back(false);
            m.blockPage.push_back(page);
            step.text = blockText(self, step.shape.newBlock, 0, self);
            break;
        }
        case Op::Delete:
            m_made[size_t(maker)].blockGone[size_t(block)] = true;
            break;
        case Op::Move:
            step.shape.to = int(below(100));
            break;
        case Op::Indent:
            step.shape.delta = below(3) == 0 ? -1 : 1;
            break;
        }
        std::pair<int, int> typed = {maker, block};
        if (step.shape.op == Op::Delete || below(2) == 0) {
            std::vector<std::pair<int, int>> others = blocksOn(page);
            std::erase_if(others, [&](const std::pair<int, int> &b) {
                return b.first == self && b.second == step.shape.newBlock;
            });
            typed = others[size_t(below(others.size()))];
        }
        step.other.blockMaker = typed.first;
        step.other.block = typed.second;
        step.other.text = editText(typed.first, typed.second, peer);
    }

    // The device edits one of its blocks; the other edits another block of that page or, when the
    // page has no other or one time in four, appends a block of its own to it.
    void planSharedPage(ChaosStep &step)
    {
        const int self = step.device;
        const int peer = 1 - self;
        Made &m = m_made[size_t(self)];
        step.record = liveBlock(m);
        step.text = editText(self, step.record, self);
        const std::pair<int, int> page = m.blockPage[size_t(step.record)];
        step.other.pageMaker = page.first;
        step.other.page = page.second;

        std::vector<std::pair<int, int>> others;
        for (int maker = 0; maker < 2; ++maker) {
            const Made &made = m_made[size_t(maker)];
            for (int i = 0; i < made.blocks; ++i) {
                if (made.blockPage[size_t(i)] == page && !made.blockGone[size_t(i)] &&
                    !(maker == self && i == step.record))
                    others.push_back({maker, i});
            }
        }
        if (others.empty() || below(4) == 0) {
            Made &o = m_made[size_t(peer)];
            step.other.adds = true;
            step.other.blockMaker = peer;
            step.other.block = o.blocks++;
            o.blockVersion.push_back(0);
            o.blockGone.push_back(false);
            o.blockPage.push_back(page);
            step.other.text = blockText(peer, step.other.block, 0, peer);
            return;
        }
        const auto [maker, block] = others[size_t(below(others.size()))];
        step.other.blockMaker = maker;
        step.other.block = block;
        step.other.text = editText(maker, block, peer);
    }

    // The block's next text, naming the device that writes it when that is not its maker.
    QString editText(int maker, int block, int editor)
    {
        return blockText(maker, block, ++m_made[size_t(maker)].blockVersion[size_t(block)], editor);
    }

    // A folder of the device (never `self`), or -1 for the top level about a third of the time.
    int anyFolderOrTop(const Made &m, int self = -1)
    {
        const bool skipSelf = self >= 0 && self < m.folders;
        const int candidates = m.folders - (skipSelf ? 1 : 0);
        if (candidates == 0 || below(3) == 0)
            return -1;
        int pick = int(below(quint64(candidates)));
        if (skipSelf && pick >= self)
            ++pick;
        return pick;
    }

    // True when `folder` is `ancestor` or lies below it.
    static bool isWithin(const Made &m, int folder, int ancestor)
    {
        for (size_t hops = 0; folder >= 0 && hops <= m.folderParent.size(); ++hops) {
            if (folder == ancestor)
                return true;
            folder = m.folderParent[size_t(folder)];
        }
        return false;
    }

    static QString pageTitle(const QString &who, int page, int version)
    {
        return QStringLiteral("%1.p%2 #%3").arg(who).arg(page).arg(version);
    }
    static QString folderName(const QString &who, int folder, int version)
    {
        return QStringLiteral("%1.f%2 #%3").arg(who).arg(folder).arg(version);
    }
    static QString blockText(int maker, int block, int version, int editor)
    {
        const QString text = QStringLiteral("%1.b%2 #%3").arg(chaosDeviceName(maker)).arg(block).arg(version);
        return editor == maker ? text : text + QStringLiteral(" by ") + chaosDeviceName(editor);
    }

    std::mt19937_64 m_rng;
    bool m_faults;
    std::array<Made, 2> m_made;
    int m_offlineUntil = -1;
    int m_index = 0;
};

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::CreatePage:
        return QStringLiteral("create page");
    case Kind::RenamePage:
        return QStringLiteral("rename page");
    case Kind::MovePage:
        return QStringLiteral("move page");
    case Kind::CreateFolder:
        return QStringLiteral("create folder");
    case Kind::RenameFolder:
        return QStringLiteral("rename folder");
    case Kind::SetFolderIcon:
        return QStringLiteral("folder icon");
    case Kind::MoveFolder:
        return QStringLiteral("move folder");
    case Kind::AddBlock:
        return QStringLiteral("add block");
    case Kind::EditBlock:
        return QStringLiteral("edit block");
    case Kind::EditSharedPage:
        return QStringLiteral("edit shared page");
    case Kind::ReshapeSharedPage:
        return QStringLiteral("reshape shared page");
    case Kind::Crash:
        return QStringLiteral("crash");
    case Kind::DeletePage:
        return QStringLiteral("delete page");
    case Kind::Sync:
        return QStringLiteral("sync");
    case Kind::Refresh:
        return QStringLiteral("refresh");
    case Kind::InjectFault:
        return QStringLiteral("fault");
    case Kind::GoOffline:
        return QStringLiteral("offline");
    case Kind::GoOnline:
        return QStringLiteral("online");
    }
    return QString();
}

QString faultName(const ChaosStep &step)
{
    switch (step.fault) {
    case Fault::Http500:
        return QStringLiteral("500");
    case Fault::HtmlPage:
        return QStringLiteral("HTML 502");
    case Fault::TooManyRequests:
        return QStringLiteral("429");
    case Fault::InvalidUtf8:
        return QStringLiteral("invalid UTF-8");
    case Fault::Drop:
        return QStringLiteral("drop");
    case Fault::Delay:
        return QStringLiteral("delay %1 ms").arg(step.delayMs);
    case Fault::ApplyThenDrop:
        return QStringLiteral("applied, reply lost");
    }
    return QString();
}

QString naming(const ChaosStep &step)
{
    QString out =
        step.namedAtOnce ? QStringLiteral(", named at once") : QStringLiteral(", named after its create");
    if (step.twin) {
        const QChar kind = step.kind == ChaosStep::Kind::CreatePage ? QLatin1Char('p') : QLatin1Char('f');
        out += QStringLiteral(", %1.%2%3 \"%4\" made alike at once")
                   .arg(chaosDeviceName(1 - step.device))
                   .arg(kind)
                   .arg(step.twinRecord)
                   .arg(step.twinText);
    }
    return out;
}

QString folderRef(int device, int folder)
{
    return folder < 0 ? QStringLiteral("top")
                      : QStringLiteral("%1.f%2").arg(chaosDeviceName(device)).arg(folder);
}

} // namespace

const QStringList &chaosFaultPaths()
{
    static const QStringList paths = {
        QStringLiteral("/api/sync.php"),        QStringLiteral("/api/pages.php"),
        QStringLiteral("/api/blocks.php"),      QStringLiteral("/api/folders.php"),
        QStringLiteral("/api/page-status.php"),
    };
    return paths;
}

QString chaosDeviceName(int device)
{
    return device == 0 ? QStringLiteral("A") : QStringLiteral("B");
}

std::vector<ChaosStep> makeChaosPlan(quint64 seed, int steps, bool faults)
{
    Planner planner(seed, faults);
    std::vector<ChaosStep> plan;
    plan.reserve(size_t(std::max(0, steps)));
    for (int i = 0; i < steps; ++i)
        plan.push_back(planner.next(i));
    return plan;
}

QString ChaosStep::describe() const
{
    const QString who = chaosDeviceName(device);
    QString out = QStringLiteral("+%1ms ").arg(advanceMs) + kindName(kind);
    switch (kind) {
    case Kind::CreatePage:
        return out +
               QStringLiteral(" %1.p%2 \"%3\" in %4")
                   .arg(who)
                   .arg(record)
                   .arg(text, folderRef(device, target)) +
               naming(*this);
    case Kind::RenamePage:
        return out + QStringLiteral(" %1.p%2 to \"%3\"").arg(who).arg(record).arg(text);
    case Kind::MovePage:
        return out + QStringLiteral(" %1.p%2 to %3").arg(who).arg(record).arg(folderRef(device, target));
    case Kind::CreateFolder:
        return out +
               QStringLiteral(" %1.f%2 \"%3\" in %4")
                   .arg(who)
                   .arg(record)
                   .arg(text, folderRef(device, target)) +
               naming(*this);
    case Kind::RenameFolder:
    case Kind::SetFolderIcon:
        return out + QStringLiteral(" %1.f%2 to \"%3\"").arg(who).arg(record).arg(text);
    case Kind::MoveFolder:
        return out + QStringLiteral(" %1.f%2 to %3").arg(who).arg(record).arg(folderRef(device, target));
    case Kind::AddBlock:
        return out + QStringLiteral(" %1.b%2 \"%3\" on %1.p%4").arg(who).arg(target).arg(text).arg(record);
    case Kind::EditBlock:
        return out + QStringLiteral(" %1.b%2 to \"%3\"").arg(who).arg(record).arg(text);
    case Kind::EditSharedPage: {
        const QString peer = chaosDeviceName(1 - device);
        const QString block =
            QStringLiteral("%1.b%2").arg(chaosDeviceName(other.blockMaker)).arg(other.block);
        return out +
               QStringLiteral(" %1.p%2: %3.b%4 to \"%5\", ")
                   .arg(chaosDeviceName(other.pageMaker))
                   .arg(other.page)
                   .arg(who)
                   .arg(record)
                   .arg(text) +
               (other.adds ? QStringLiteral("%1 adds %2 \"%3\"").arg(peer, block, other.text)
                           : QStringLiteral("%1 edits %2 to \"%3\"").arg(peer, block, other.text));
    }
    case Kind::ReshapeSharedPage: {
        const QString block =
            QStringLiteral("%1.b%2").arg(chaosDeviceName(shape.blockMaker)).arg(shape.block);
        QString change;
        switch (shape.op) {
        case Shape::Op::Insert:
            change = QStringLiteral("inserts %1.b%2 \"%3\" after %4")
                         .arg(who)
                         .arg(shape.newBlock)
                         .arg(text, block);
            break;
        case Shape::Op::Delete:
            change = QStringLiteral("deletes ") + block;
            break;
        case Shape::Op::Move:
            change = QStringLiteral("drops %1 at %2").arg(block).arg(shape.to);
            break;
        case Shape::Op::Indent:
            change = QStringLiteral("indents %1 by %2").arg(block).arg(shape.delta);
            break;
        }
        return out + QStringLiteral(" %1.p%2: %3 %4, %5 edits %6.b%7 to \"%8\"")
                         .arg(chaosDeviceName(other.pageMaker))
                         .arg(other.page)
                         .arg(who, change, chaosDeviceName(1 - device), chaosDeviceName(other.blockMaker))
                         .arg(other.block)
                         .arg(other.text);
    }
    case Kind::Crash:
        return out + QLatin1Char(' ') + who + (midFlight ? QStringLiteral(" in mid-cycle") : QString());
    case Kind::DeletePage:
        return out + QStringLiteral(" %1.p%2").arg(who).arg(record);
    case Kind::Sync:
    case Kind::Refresh:
        return out + QLatin1Char(' ') + who;
    case Kind::InjectFault:
        return out +
               QStringLiteral(" %1 on %2 for %3")
                   .arg(faultName(*this), path < 0 ? QStringLiteral("every path") : chaosFaultPaths()[path])
                   .arg(count);
    case Kind::GoOffline:
    case Kind::GoOnline:
        return out;
    }
    return out;
}
