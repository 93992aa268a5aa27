#include "fake-service/fake_demo_data.h"

#include "fake-service/fake_content.h"
#include "fake-service/fake_demo_media.h"
#include "fake-service/fake_upload_routes.h"

#include <QHash>
#include <QPair>
#include <QPointF>

#include <cmath>
#include <numbers>

namespace {

using State = FakeServiceState;

JSONObject text(const QString &t)
{
    return JSONObject{{QStringLiteral("text"), t}};
}

JSONObject todo(const QString &t, bool checked)
{
    return JSONObject{{QStringLiteral("text"), t}, {QStringLiteral("checked"), checked}};
}

// One stroke in the drawing block's text form: "color=… w=… e=0 path=M… L…".
QString stroke(const QString &color, int width, const QList<QPointF> &points)
{
    QStringList path;
    for (qsizetype i = 0; i < points.size(); ++i)
        path.append(QStringLiteral("%1%2,%3")
                        .arg(QLatin1Char(i == 0 ? 'M' : 'L'))
                        .arg(qint64(points[i].x()))
                        .arg(qint64(points[i].y())));
    return QStringLiteral("color=%1 w=%2 e=0 path=%3").arg(color).arg(width).arg(path.join(u' '));
}

QList<QPointF> circle(QPointF centre, double radius)
{
    QList<QPointF> points;
    for (int i = 0; i <= 24; ++i) {
        const double a = 2 * std::numbers::pi * i / 24;
        points.append(centre + QPointF(radius * std::cos(a), radius * std::sin(a)));
    }
    return points;
}

// A whiteboard sketch of the sync plan: a phone, a cloud, arrows between them, a tick.
QString whiteboard()
{
    QList<QPointF> cloud;
    for (int i = 0; i <= 36; ++i) {
        const double a = std::numbers::pi * i / 36;
        const double bump = 8 * std::abs(std::sin(a * 5));
        cloud.append(QPointF(420 - (70 + bump) * std::cos(a), 110 - (45 + bump) * std::sin(a)));
    }
    cloud.append(QPointF(350, 110));
    const QStringList strokes{
        stroke(QStringLiteral("#222222"), 3, {{60, 40}, {140, 40}, {140, 190}, {60, 190}, {60, 40}}),
        stroke(QStringLiteral("#222222"), 2, {{90, 175}, {110, 175}}),
        stroke(QStringLiteral("#2a6496"), 4, cloud),
        stroke(QStringLiteral("#0a64eb"), 3, {{160, 90}, {330, 90}, {315, 80}}),
        stroke(QStringLiteral("#0a64eb"), 3, {{330, 90}, {315, 100}}),
        stroke(QStringLiteral("#e67e22"), 3, {{330, 140}, {160, 140}, {175, 130}}),
        stroke(QStringLiteral("#e67e22"), 3, {{160, 140}, {175, 150}}),
        stroke(QStringLiteral("#27ae60"), 5, {{450, 160}, {470, 185}, {510, 130}}),
        stroke(QStringLiteral("#f1c40f"), 3, circle({560, 40}, 20)),
    };
    return strokes.join(u'|');
}

class Seeder
{
public:
    explicit Seeder(FakeService &service)
        : m_service(service)
        , m_content(service)
        , m_s(service.state())
    {
    }

    FakeService::Account account(const QString &email, const QString &name)
    {
        return m_service.createAccount(email, QString::fromLatin1(FakeDemoData::kPassword), name);
    }

    qint64 folder(qint64 workspaceId, const QString &name, const QString &icon)
    {
        State::Folder f;
        f.id = m_s.nextFolderId++;
        f.workspaceId = workspaceId;
        f.name = name;
        f.icon = icon;
        f.position = m_folderPositions[workspaceId]++;
        f.createdAt = f.updatedAt = daysAgo(6);
        m_s.folders[f.id] = f;
        return f.id;
    }

    qint64 page(qint64 workspaceId, qint64 ownerId, const QString &title, const QString &icon,
                qint64 folderId = 0, qint64 parentPageId = 0)
    {
        State::Page p;
        p.id = m_s.nextPageId++;
        p.workspaceId = workspaceId;
        p.folderId = folderId;
        p.parentPageId = parentPageId;
        p.title = title;
        p.icon = icon;
        p.position = m_pagePositions[qMakePair(folderId, parentPageId)]++;
        p.createdByUserId = ownerId;
        p.createdAt = p.updatedAt = daysAgo(5);
        m_s.pages[p.id] = p;
        m_content.logPage(p, QStringLiteral("create"));
        return p.id;
    }

    qint64 block(qint64 pageId, const QString &type, const JSONObject &content, qint64 parentBlockId = 0)
    {
        const State::Page &p = m_s.pages.at(pageId);
        State::Block b;
        b.id = m_s.nextBlockId++;
        b.pageId = pageId;
        b.parentBlockId = parentBlockId;
        b.type = type;
        b.content = content;
        // Spaced, as an editor lays blocks out: a first insert moves no other block.
        b.position = 1024 * m_blockPositions[qMakePair(pageId, parentBlockId)]++;
        b.authorId = p.createdByUserId;
        b.createdAt = b.updatedAt = FakeService::now();
        m_s.blocks[b.id] = b;
        m_content.logBlock(b, p.workspaceId, QStringLiteral("create"));
        return b.id;
    }

    void edit(qint64 blockId, const JSONObject &content)
    {
        State::Block &b = m_s.blocks.at(blockId);
        b.content = content;
        b.updatedAt = FakeService::now();
        m_content.logBlock(b, m_s.pages.at(b.pageId).workspaceId, QStringLiteral("update"));
    }

    void setCover(qint64 pageId, const QString &url)
    {
        State::Page &p = m_s.pages.at(pageId);
        p.coverUrl = url;
        p.coverOffsetY = 50;
        m_content.logPage(p, QStringLiteral("update"));
    }

    // Saves the page as it stands, dated `when` so the history reads like days of work.
    void saveVersion(qint64 pageId, qint64 userId, const QDateTime &when)
    {
        m_content.recordVersion(m_s.pages.at(pageId), userId);
        m_s.versions.rbegin()->second.createdAt = when;
    }

    QString file(const QString &name, const QByteArray &mime, const QByteArray &data, const QString &kind)
    {
        return FakeUploadRoutes::of(m_service).store({kind, name, mime, data});
    }

    qint64 share(qint64 pageId, qint64 userId, const QString &role)
    {
        const qint64 id = m_s.nextShareId++;
        m_s.shares[id] = State::Share{id, pageId, userId, role, daysAgo(2)};
        return id;
    }

    static QDateTime daysAgo(int days) { return FakeService::now().addDays(-days); }

private:
    FakeService &m_service;
    FakeContent m_content;
    State &m_s;
    QHash<qint64, qint64> m_folderPositions;
    QHash<QPair<qint64, qint64>, qint64> m_pagePositions;
    QHash<QPair<qint64, qint64>, qint64> m_blockPositions;
};

struct Pages {
    qint64 welcome = 0;
    qint64 lisbon = 0;
    qint64 sintra = 0;
    qint64 kestrel = 0;
    qint64 notes = 0;
};

// The shared, versioned and published page, built up in three sittings with a version after each.
// Returns the block of day 3, which the suggester proposes to change.
qint64 seedLisbon(Seeder &seed, FakeService &service, const Pages &pages, qint64 ownerId)
{
    const qint64 page = pages.lisbon;
    const qint64 intro =
        seed.block(page, QStringLiteral("text"), text(QStringLiteral("Five days in Lisbon in late April.")));
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Itinerary")));
    seed.block(page, QStringLiteral("number"),
               text(QStringLiteral("Day 1: Alfama, the castle and fado at night")));
    seed.block(page, QStringLiteral("number"),
               text(QStringLiteral("Day 2: Belém, the tower and pastéis de nata")));
    seed.saveVersion(page, ownerId, Seeder::daysAgo(3));

    seed.edit(intro, text(QStringLiteral("Five days in Lisbon in late April: hills, trams, tiles and the "
                                         "best custard tarts in the world. Sam is coming too.")));
    const qint64 dayThree = seed.block(page, QStringLiteral("number"),
                                       text(QStringLiteral("Day 3: Sintra (see the day-trip page)")));
    seed.block(page, QStringLiteral("number"),
               text(QStringLiteral("Day 4: LX Factory and a sunset at the Miradouro")));
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Packing")));
    seed.block(page, QStringLiteral("todo"), todo(QStringLiteral("Passports"), true));
    seed.block(page, QStringLiteral("todo"), todo(QStringLiteral("Comfortable walking shoes"), true));
    seed.block(page, QStringLiteral("todo"), todo(QStringLiteral("Rain jacket, just in case"), false));
    seed.block(page, QStringLiteral("todo"), todo(QStringLiteral("Power adapter (type F)"), false));
    seed.saveVersion(page, ownerId, Seeder::daysAgo(1));

    const QString photo = seed.file(QStringLiteral("tram-28.png"), "image/png", FakeDemoMedia::tramPhoto(),
                                    QStringLiteral("image"));
    const QString cover = seed.file(QStringLiteral("sunset.png"), "image/png", FakeDemoMedia::coverPicture(),
                                    QStringLiteral("image"));
    const QString card = seed.file(QStringLiteral("azulejos.png"), "image/png", FakeDemoMedia::previewCard(),
                                   QStringLiteral("image"));
    seed.setCover(page, cover);
    seed.block(page, QStringLiteral("quote"),
               text(QStringLiteral("“Lisbon has seven hills, and every one of them has a view.”")));
    seed.block(
        page, QStringLiteral("callout"),
        JSONObject{{QStringLiteral("icon"), QStringLiteral("🎟️")},
                   {QStringLiteral("text"), QStringLiteral("Buy a Viva Viagem card at the airport: it "
                                                           "covers the metro, trams and the ferry.")}});
    seed.block(page, QStringLiteral("divider"), JSONObject{});
    seed.block(
        page, QStringLiteral("toggle"),
        JSONObject{{QStringLiteral("text"), QStringLiteral("Where to eat")},
                   {QStringLiteral("expanded"), true},
                   {QStringLiteral("body"), QStringLiteral("Time Out Market for lunch, Cervejaria Ramiro "
                                                           "for seafood, Manteigaria for the tarts.")}});
    seed.block(page, QStringLiteral("image"),
               JSONObject{{QStringLiteral("url"), photo},
                          {QStringLiteral("layout"), QStringLiteral("inline")},
                          {QStringLiteral("caption"), QStringLiteral("Tram 28 climbing to Graça")}});
    seed.block(page, QStringLiteral("h3"), text(QStringLiteral("Worth watching before we go")));
    seed.block(
        page, QStringLiteral("embed"),
        JSONObject{{QStringLiteral("url"), QStringLiteral("https://www.youtube.com/watch?v=CGRt4ZbcU0Q")}});
    const QString guide = QStringLiteral("https://www.visitlisboa.com/en");
    const JSONObject preview{
        {QStringLiteral("title"), QStringLiteral("Visit Lisboa: the official guide")},
        {QStringLiteral("description"),
         QStringLiteral("Neighbourhoods, museums, viewpoints and where the locals eat.")},
        {QStringLiteral("image"), card}};
    service.state().bookmarkPreviews.insert(guide, preview);
    JSONObject bookmark = preview;
    bookmark[QStringLiteral("url")] = guide;
    seed.block(page, QStringLiteral("bookmark"), bookmark);
    seed.saveVersion(page, ownerId, Seeder::daysAgo(0).addSecs(-2 * 3600));

    FakeServiceState::Publication &published = service.state().publications[page];
    published.published = true;
    published.slug = QStringLiteral("trip-to-lisbon-%1").arg(page);
    published.allowComments = true;
    published.viewCount = 12;
    return dayThree;
}

void seedWelcome(Seeder &seed, const Pages &pages)
{
    const qint64 page = pages.welcome;
    seed.block(page, QStringLiteral("h1"), text(QStringLiteral("Start here")));
    seed.block(page, QStringLiteral("text"),
               text(QStringLiteral("These pages show **every kind of block** the app has. Type **/** in "
                                   "any empty line to add one, or drag a block by its handle to move it.")));
    seed.block(page, QStringLiteral("toc"), JSONObject{});
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Where to look")));
    seed.block(page, QStringLiteral("mention"), JSONObject{{QStringLiteral("page_id"), pages.lisbon}});
    seed.block(page, QStringLiteral("mention"), JSONObject{{QStringLiteral("page_id"), pages.kestrel}});
    seed.block(page, QStringLiteral("mention"), JSONObject{{QStringLiteral("page_id"), pages.notes}});
    seed.block(page, QStringLiteral("h3"), text(QStringLiteral("Things to try")));
    seed.block(page, QStringLiteral("bullet"),
               text(QStringLiteral("Open *Trip to Lisbon* and try Comments, Share, Publish and Version "
                                   "History from the page's toolbar.")));
    seed.block(page, QStringLiteral("bullet"),
               text(QStringLiteral("Press the button on *Project Kestrel* to ask the AI for a summary.")));
    seed.block(page, QStringLiteral("bullet"),
               text(QStringLiteral("Tick a task in the Tasks table, or change its status.")));
    seed.block(page, QStringLiteral("divider"), JSONObject{});
    seed.block(page, QStringLiteral("text"), text(QStringLiteral("Everything here is yours to change.")));
}

void seedSintra(Seeder &seed, const Pages &pages)
{
    const qint64 page = pages.sintra;
    seed.block(page, QStringLiteral("breadcrumbs"), JSONObject{});
    seed.block(page, QStringLiteral("text"),
               text(QStringLiteral("Forty minutes by train from Rossio. Go early: the palaces fill up by "
                                   "eleven.")));
    seed.block(page, QStringLiteral("bullet"), text(QStringLiteral("Pena Palace and its park")));
    seed.block(page, QStringLiteral("bullet"),
               text(QStringLiteral("Quinta da Regaleira and the initiation well")));
    seed.block(page, QStringLiteral("bullet"), text(QStringLiteral("Travesseiros at Piriquita")));
    seed.block(page, QStringLiteral("mention"), JSONObject{{QStringLiteral("page_id"), pages.lisbon}});
}

// Returns the block the synced block on the project page mirrors.
qint64 seedNotes(Seeder &seed, const Pages &pages)
{
    const qint64 page = pages.notes;
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Attendees")));
    seed.block(page, QStringLiteral("bullet"), text(QStringLiteral("Maya, Sam, Inês, Jonas")));
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Decisions")));
    const qint64 shipDate = seed.block(
        page, QStringLiteral("callout"),
        JSONObject{{QStringLiteral("icon"), QStringLiteral("🚀")},
                   {QStringLiteral("text"), QStringLiteral("Kestrel ships on 14 March; the beta opens on 24 "
                                                           "February.")}});
    seed.block(page, QStringLiteral("bullet"), text(QStringLiteral("Offline forms first, photos later")));
    seed.block(page, QStringLiteral("bullet"), text(QStringLiteral("Sync keeps the newest edit per field")));
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Action items")));
    seed.block(page, QStringLiteral("todo"), todo(QStringLiteral("Sam: write the migration plan"), false));
    seed.block(page, QStringLiteral("todo"), todo(QStringLiteral("Inês: book the usability sessions"), true));
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Whiteboard")));
    seed.block(page, QStringLiteral("drawing"),
               JSONObject{{QStringLiteral("svg"), whiteboard()}, {QStringLiteral("height"), 220}});
    const QByteArray chime = FakeDemoMedia::chime();
    seed.block(page, QStringLiteral("audio"),
               JSONObject{{QStringLiteral("url"), seed.file(QStringLiteral("standup-chime.wav"), "audio/wav",
                                                            chime, QStringLiteral("audio"))},
                          {QStringLiteral("filename"), QStringLiteral("standup-chime.wav")},
                          {QStringLiteral("size"), qint64(chime.size())}});
    const QByteArray brief = FakeDemoMedia::briefText();
    seed.block(page, QStringLiteral("file"),
               JSONObject{{QStringLiteral("url"), seed.file(QStringLiteral("kestrel-brief.md"),
                                                            "text/markdown", brief, QStringLiteral("any"))},
                          {QStringLiteral("filename"), QStringLiteral("kestrel-brief.md")},
                          {QStringLiteral("size"), qint64(brief.size())}});
    seed.block(page, QStringLiteral("mention"), JSONObject{{QStringLiteral("page_id"), pages.kestrel}});
    return shipDate;
}

// The Tasks database a new database block makes, with a few rows filled in.
qint64 seedTasks(FakeService &service, qint64 page)
{
    FakeServiceState &s = service.state();
    const auto column = [](const char *id, const char *name, const char *type) {
        return JSONObject{
            {QStringLiteral("id"), id}, {QStringLiteral("name"), name}, {QStringLiteral("type"), type}};
    };
    JSONObject status = column("c2", "Status", "select");
    status[QStringLiteral("options")] = JSONArray{"Todo", "Doing", "Done"};
    const qint64 databaseId = s.nextDatabaseId++;
    s.databases[databaseId] = FakeServiceState::Database{
        databaseId, page, QStringLiteral("Tasks"),
        JSONArray{column("c1", "Name", "text"), status, column("c3", "Done", "checkbox")},
        Seeder::daysAgo(4)};
    const struct {
        const char *name;
        const char *status;
        bool done;
    } rows[] = {{"Draft the launch post", "Doing", false},
                {"Record the demo video", "Todo", false},
                {"Fix the sync badge colour", "Done", true},
                {"Book the venue for the launch", "Done", true},
                {"Write the release notes", "Todo", false}};
    qint64 position = 0;
    for (const auto &r : rows) {
        FakeServiceState::DatabaseRow row;
        row.id = s.nextDatabaseRowId++;
        row.databaseId = databaseId;
        row.position = position++;
        row.data = JSONObject{
            {QStringLiteral("c1"), r.name}, {QStringLiteral("c2"), r.status}, {QStringLiteral("c3"), r.done}};
        row.createdAt = row.updatedAt = Seeder::daysAgo(3);
        s.databaseRows[row.id] = row;
    }
    return databaseId;
}

void seedKestrel(Seeder &seed, FakeService &service, const Pages &pages, qint64 shipDate)
{
    const qint64 page = pages.kestrel;
    const qint64 tasks = seedTasks(service, page);
    seed.block(page, QStringLiteral("text"),
               text(QStringLiteral("Kestrel is the offline mode of the field app: surveyors keep working in "
                                   "the hills and everything syncs when they are back in range.")));
    seed.block(page, QStringLiteral("synced"), JSONObject{{QStringLiteral("source_id"), shipDate}});
    seed.block(page, QStringLiteral("button"),
               JSONObject{{QStringLiteral("label"), QStringLiteral("Summarize this page")},
                          {QStringLiteral("action"), QStringLiteral("ai_prompt")},
                          {QStringLiteral("target"), QStringLiteral("Summarize this project page in three "
                                                                    "bullet points.")}});
    seed.block(page, QStringLiteral("button"),
               JSONObject{{QStringLiteral("label"), QStringLiteral("Open the design board")},
                          {QStringLiteral("action"), QStringLiteral("open_url")},
                          {QStringLiteral("target"), QStringLiteral("https://example.com/kestrel/board")}});
    const qint64 columns =
        seed.block(page, QStringLiteral("columns"), JSONObject{{QStringLiteral("count"), 2}});
    // Children fill the columns in turn: even ones the left, odd ones the right.
    seed.block(page, QStringLiteral("h3"), text(QStringLiteral("Goals")), columns);
    seed.block(page, QStringLiteral("h3"), text(QStringLiteral("Risks")), columns);
    seed.block(page, QStringLiteral("text"),
               text(QStringLiteral("Every form works offline; a day's work syncs in under ten seconds.")),
               columns);
    seed.block(page, QStringLiteral("text"),
               text(QStringLiteral("Old phones with little storage; surveyors editing the same site.")),
               columns);
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Tasks")));
    seed.block(page, QStringLiteral("database"), JSONObject{{QStringLiteral("database_id"), tasks}});
    seed.block(page, QStringLiteral("h2"), text(QStringLiteral("Conflict rule")));
    seed.block(page, QStringLiteral("code"),
               text(QStringLiteral("fn merge(local: Field, remote: Field) -> Field {\n"
                                   "    if remote.edited_at > local.edited_at { remote } else { local }\n"
                                   "}")));
    seed.block(page, QStringLiteral("text"),
               text(QStringLiteral("The chance that n surveyors never collide:")));
    seed.block(page, QStringLiteral("math"),
               JSONObject{{QStringLiteral("latex"), QStringLiteral("P = \\prod_{k=1}^{n-1} "
                                                                   "\\left(1 - \\frac{k}{N}\\right)")}});
}

} // namespace

FakeDemoData::Seeded FakeDemoData::seed(FakeService &service)
{
    const QString password = QString::fromLatin1(kPassword);
    Seeded seeded{{QStringLiteral("maya@example.com"), password, QStringLiteral("Maya Lindqvist")},
                  {QStringLiteral("sam@example.com"), password, QStringLiteral("Sam Okafor")},
                  {QStringLiteral("ines@example.com"), password, QStringLiteral("Inês Duarte")},
                  QStringLiteral("Trip to Lisbon"),
                  QString()};
    Seeder seed(service);
    const FakeService::Account owner = seed.account(seeded.owner.email, seeded.owner.name);
    const FakeService::Account editor = seed.account(seeded.editor.email, seeded.editor.name);
    const FakeService::Account suggester = seed.account(seeded.suggester.email, seeded.suggester.name);
    const qint64 ws = owner.workspaceId;

    const qint64 travel = seed.folder(ws, QStringLiteral("Travel"), QStringLiteral("🧳"));
    const qint64 work = seed.folder(ws, QStringLiteral("Work"), QStringLiteral("💼"));
    Pages pages;
    pages.welcome = seed.page(ws, owner.userId, QStringLiteral("Welcome to Penroost"), QStringLiteral("👋"));
    pages.lisbon = seed.page(ws, owner.userId, seeded.sharedTitle, QStringLiteral("✈️"), travel);
    pages.sintra = seed.page(ws, owner.userId, QStringLiteral("Day trip to Sintra"), QStringLiteral("🏰"),
                             travel, pages.lisbon);
    pages.kestrel =
        seed.page(ws, owner.userId, QStringLiteral("Project Kestrel"), QStringLiteral("🪶"), work);
    pages.notes = seed.page(ws, owner.userId, QStringLiteral("Meeting notes: 3 March"),
                            QStringLiteral("🗒️"), work);

    seedWelcome(seed, pages);
    const qint64 dayThree = seedLisbon(seed, service, pages, owner.userId);
    seedSintra(seed, pages);
    const qint64 shipDate = seedNotes(seed, pages);
    seedKestrel(seed, service, pages, shipDate);

    seed.share(pages.lisbon, editor.userId, QStringLiteral("edit"));
    seed.share(pages.lisbon, suggester.userId, QStringLiteral("suggest"));
    FakeServiceState &s = service.state();
    FakeServiceState::Comment comment;
    comment.id = s.nextCommentId++;
    comment.pageId = pages.lisbon;
    comment.userId = editor.userId;
    comment.body = QStringLiteral("Can we swap days 3 and 4? The trains to Sintra are quieter on Thursdays.");
    comment.createdAt = Seeder::daysAgo(1);
    s.comments[comment.id] = comment;
    const JSONObject proposed{
        {QStringLiteral("type"), QStringLiteral("number")},
        {QStringLiteral("content"),
         text(QStringLiteral("Day 3: Sintra, with Pena Palace first thing in the morning"))}};
    service.seedSuggestion(pages.lisbon, suggester.userId, QStringLiteral("block_update"), proposed,
                           dayThree);

    seeded.publishedURL = service.origin() + QStringLiteral("/p/") + s.publications.at(pages.lisbon).slug;
    return seeded;
}
