#include "app/main_view.h"
#include "editor/block_row.h"
#include "editor/page_view.h"
#include "editor/slash_menu.h"
#include "library/library_dock.h"
#include "library/library_view.h"
#include "support/app_harness.h"
#include "ui/editor_symbols.h"
#include "ui/symbol_icons.h"

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {

enum class Area { pageToolbar, pageColumn, blockRows, dock };

int inkCount(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 40;
    }
    return count;
}

QImage shape(const QIcon &icon, QIcon::Mode mode)
{
    return icon.pixmap(QSize(24, 24), 1.0, mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The colour of the glyph's most opaque pixel.
QColor inkColour(const QImage &image)
{
    QRgb best = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > qAlpha(best))
                best = image.pixel(x, y);
        }
    }
    return QColor::fromRgba(best);
}

} // namespace

Q_DECLARE_METATYPE(Area)

class TestSymbolIcons : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void everyNameIsBundled_data();
    void everyNameIsBundled();
    void followsThePalette_data();
    void followsThePalette();
    void buttonsShowSymbolsNotGlyphs_data();
    void buttonsShowSymbolsNotGlyphs();

private:
    PageView *openPage();

    std::unique_ptr<AppDevice> m_device;
    std::unique_ptr<AppHarness> m_app;
    std::unique_ptr<MainView> m_window;
};

void TestSymbolIcons::init()
{
    m_device = std::make_unique<AppDevice>();
    m_app = std::make_unique<AppHarness>(*m_device);
}

void TestSymbolIcons::cleanup()
{
    m_window.reset();
    m_app.reset();
    m_device.reset();
    QApplication::setPalette(QApplication::style()->standardPalette());
}

PageView *TestSymbolIcons::openPage()
{
    FNPage page;
    page.title = QStringLiteral("Symbols");
    m_app->store.upsertPage(page);
    for (const char *type : {"todo", "toggle", "text"}) {
        FNBlock block;
        block.pageLocalID = page.localID;
        block.type = QString::fromLatin1(type);
        block.contentJSON = QStringLiteral("{}");
        m_app->store.upsertBlock(block);
    }
    m_window = std::make_unique<MainView>(m_app->context());
    m_window->resize(1200, 800);
    m_window->show();
    m_window->setSelectedPage(page.localID);
    return m_window->findChild<PageView *>();
}

void TestSymbolIcons::everyNameIsBundled_data()
{
    QTest::addColumn<QString>("name");
    QStringList names = EditorSymbols::names();
    for (const BlockType kind : BlockType::allCases())
        names << SlashMenu::icon(kind);
    // The page sheets' own: the share header, the publish link's open button, the close buttons.
    names << QStringLiteral("person.2.fill") << QStringLiteral("arrow.up.right.square")
          << QStringLiteral("xmark.circle.fill") << QStringLiteral("globe")
          << QStringLiteral("clock.arrow.circlepath");
    names.removeDuplicates();
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << name;
}

// A glyph, not a theme icon or a text stand-in, and visibly fainter when disabled.
void TestSymbolIcons::everyNameIsBundled()
{
    QFETCH(QString, name);
    QVERIFY(SymbolIcons::has(name));
    const QIcon icon = EditorSymbols::icon(name);
    const QImage normal = shape(icon, QIcon::Normal);
    const QImage disabled = shape(icon, QIcon::Disabled);
    QVERIFY(inkCount(normal) > 10);
    QVERIFY(normal != disabled);
    QVERIFY(qAlpha(inkColour(disabled).rgba()) < qAlpha(inkColour(normal).rgba()) * 0.5);
}

void TestSymbolIcons::followsThePalette_data()
{
    QTest::addColumn<QColor>("text");
    QTest::newRow("dark text on a light palette") << QColor(20, 20, 20);
    QTest::newRow("light text on a dark palette") << QColor(235, 235, 235);
    QTest::newRow("coloured text") << QColor(200, 30, 30);
}

// An icon made before the palette changes is drawn in the new text colour.
void TestSymbolIcons::followsThePalette()
{
    QFETCH(QColor, text);
    const QIcon icon = EditorSymbols::icon(QStringLiteral("list.bullet"));
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::WindowText, text);
    QApplication::setPalette(palette);
    const QColor ink = inkColour(shape(icon, QIcon::Normal));
    QCOMPARE(ink.rgb(), text.rgb());
}

void TestSymbolIcons::buttonsShowSymbolsNotGlyphs_data()
{
    QTest::addColumn<Area>("area");
    QTest::newRow("page toolbar") << Area::pageToolbar;
    QTest::newRow("page column") << Area::pageColumn;
    QTest::newRow("block rows") << Area::blockRows;
    QTest::newRow("sidebar dock") << Area::dock;
}

void TestSymbolIcons::buttonsShowSymbolsNotGlyphs()
{
    QFETCH(Area, area);
    PageView *page = openPage();
    QVERIFY(page);
    QList<QAbstractButton *> buttons;
    switch (area) {
    case Area::pageToolbar:
        buttons = {page->selectButton(),      page->exportButton(), page->aiButton(),
                   page->commentsButton(),    page->shareButton(),  page->publishButton(),
                   page->suggestionsButton(), page->historyButton()};
        break;
    case Area::pageColumn:
        buttons = {page->addBlockButton(), page->iconButton()};
        break;
    case Area::blockRows: {
        const QList<BlockRow *> rows = page->findChildren<BlockRow *>();
        QVERIFY(rows.size() >= 3);
        for (BlockRow *row : rows) {
            buttons << row->selectBox();
            for (QToolButton *box : {row->todoBox(), row->toggleArrow()}) {
                if (box)
                    buttons << box;
            }
        }
        QVERIFY(buttons.size() >= 5);
        break;
    }
    case Area::dock:
        for (QToolButton *button : m_window->sidebar()->dock()->findChildren<QToolButton *>()) {
            if (!button->isHidden())
                buttons << button;
        }
        QVERIFY(buttons.size() >= 4);
        break;
    }
    for (QAbstractButton *button : buttons) {
        const QString which = button->toolTip();
        QVERIFY2(!button->icon().isNull(), qPrintable(which));
        // Buttons of the column keep their words; no stand-in glyph precedes them.
        if (area == Area::pageColumn && !button->text().isEmpty())
            QVERIFY2(button->text().at(0).isLetter(), qPrintable(button->text()));
        else
            QVERIFY2(button->text().isEmpty(), qPrintable(which + QLatin1Char(' ') + button->text()));
        const QImage normal = shape(button->icon(), QIcon::Normal);
        QVERIFY2(inkCount(normal) > 10, qPrintable(which));
        QVERIFY2(normal != shape(button->icon(), QIcon::Disabled), qPrintable(which));
    }
}

QTEST_MAIN(TestSymbolIcons)
#include "tst_symbol_icons.moc"
