#include "ui/editor_symbols.h"

#include "ui/symbol_icons.h"

#include <QAbstractButton>
#include <QHash>
#include <QLabel>

namespace {

struct Symbol {
    const char *theme; // freedesktop icon name, or nullptr
    const char *glyph;
};

const QHash<QString, Symbol> &symbols()
{
    static const QHash<QString, Symbol> table{
        {QStringLiteral("bold"), {"format-text-bold", "B"}},
        {QStringLiteral("italic"), {"format-text-italic", "I"}},
        {QStringLiteral("underline"), {"format-text-underline", "U"}},
        {QStringLiteral("strikethrough"), {"format-text-strikethrough", "S"}},
        {QStringLiteral("chevron.left.forwardslash.chevron.right"), {nullptr, "</>"}},
        {QStringLiteral("link"), {"insert-link", "🔗"}},
        {QStringLiteral("decrease.indent"), {"format-indent-less", "⇤"}},
        {QStringLiteral("increase.indent"), {"format-indent-more", "⇥"}},
        {QStringLiteral("ellipsis"), {nullptr, "⋯"}},
        {QStringLiteral("bubble.left"), {nullptr, "💬"}},
        {QStringLiteral("bubble.left.fill"), {nullptr, "💬"}},
        {QStringLiteral("checkmark.circle.fill"), {nullptr, "✔"}},
        {QStringLiteral("circle"), {nullptr, "○"}},
        {QStringLiteral("checkmark.square.fill"), {nullptr, "☑"}},
        {QStringLiteral("square"), {nullptr, "☐"}},
        {QStringLiteral("chevron.right"), {nullptr, "›"}},
        {QStringLiteral("chevron.down"), {nullptr, "⌄"}},
        {QStringLiteral("text.alignleft"), {"format-justify-left", "¶"}},
        {QStringLiteral("textformat.size.larger"), {nullptr, "H1"}},
        {QStringLiteral("textformat.size"), {nullptr, "H2"}},
        {QStringLiteral("textformat.size.smaller"), {nullptr, "H3"}},
        {QStringLiteral("list.bullet"), {nullptr, "•"}},
        {QStringLiteral("list.number"), {nullptr, "1."}},
        {QStringLiteral("checkmark.square"), {nullptr, "☑"}},
        {QStringLiteral("quote.opening"), {nullptr, "❝"}},
        {QStringLiteral("lightbulb"), {nullptr, "💡"}},
        {QStringLiteral("minus"), {nullptr, "—"}},
        {QStringLiteral("photo"), {"image-x-generic", "🖼"}},
        {QStringLiteral("pencil.tip"), {nullptr, "✎"}},
        {QStringLiteral("waveform"), {"audio-x-generic", "♪"}},
        {QStringLiteral("paperclip"), {"mail-attachment", "📎"}},
        {QStringLiteral("play.rectangle"), {"video-x-generic", "▶"}},
        {QStringLiteral("bookmark"), {"bookmark-new", "🔖"}},
        {QStringLiteral("function"), {nullptr, "ƒ"}},
        {QStringLiteral("list.bullet.indent"), {nullptr, "≡"}},
        {QStringLiteral("at"), {nullptr, "@"}},
        {QStringLiteral("rectangle.connected.to.line.below"), {nullptr, "›"}},
        {QStringLiteral("button.programmable"), {nullptr, "◉"}},
        {QStringLiteral("rectangle.split.3x1"), {nullptr, "▥"}},
        {QStringLiteral("arrow.triangle.2.circlepath"), {"view-refresh", "⟳"}},
        {QStringLiteral("table"), {"x-office-spreadsheet", "▦"}},
        // The inline database's header and column types.
        {QStringLiteral("plus"), {"list-add", "+"}},
        {QStringLiteral("tag"), {nullptr, "🏷"}},
        {QStringLiteral("number"), {nullptr, "#"}},
        {QStringLiteral("calendar"), {"x-office-calendar", "📅"}},
        {QStringLiteral("envelope"), {"mail-message", "✉"}},
        {QStringLiteral("textformat"), {nullptr, "Aa"}},
        // The page's header, toolbar and selection bar.
        {QStringLiteral("checklist"), {nullptr, "☐"}},
        {QStringLiteral("checklist.checked"), {nullptr, "☑"}},
        {QStringLiteral("square.and.arrow.up"), {"document-export", "⇪"}},
        {QStringLiteral("arrow.down.doc"), {nullptr, "⤓"}},
        {QStringLiteral("doc.on.doc"), {"edit-copy", "⧉"}},
        {QStringLiteral("sparkles"), {nullptr, "✨"}},
        {QStringLiteral("bubble.left.and.bubble.right"), {nullptr, "💬"}},
        {QStringLiteral("checkmark.bubble"), {nullptr, "✔"}},
        {QStringLiteral("person.2"), {nullptr, "👥"}},
        {QStringLiteral("globe"), {nullptr, "🌐"}},
        {QStringLiteral("clock.arrow.circlepath"), {nullptr, "🕘"}},
        {QStringLiteral("face.smiling"), {nullptr, "☺"}},
        {QStringLiteral("plus.circle"), {nullptr, "⊕"}},
        {QStringLiteral("trash"), {"edit-delete", "🗑"}},
        {QStringLiteral("line.3.horizontal"), {nullptr, "≡"}},
        // The cover band and the icon picker.
        {QStringLiteral("xmark.circle.fill"), {nullptr, "✕"}},
        {QStringLiteral("arrow.up.and.down.and.arrow.left.and.right"), {nullptr, "✥"}},
        // The drawing block's toolbar and resize handle.
        {QStringLiteral("eraser"), {nullptr, "⌫"}},
        {QStringLiteral("lineweight"), {nullptr, "≡"}},
        {QStringLiteral("arrow.uturn.backward"), {"edit-undo", "↶"}},
        {QStringLiteral("arrow.up.and.down"), {nullptr, "↕"}},
        {QStringLiteral("rectangle.expand.vertical"), {nullptr, "⇳"}},
        {QStringLiteral("arrow.up.left.and.arrow.down.right"), {nullptr, "⤡"}},
        // The linked blocks: page links, breadcrumbs, embeds and synced blocks.
        {QStringLiteral("house"), {"go-home", "⌂"}},
        {QStringLiteral("exclamationmark.triangle"), {"dialog-warning", "⚠"}},
        {QStringLiteral("play.rectangle.fill"), {nullptr, "▶"}},
        {QStringLiteral("pencil"), {nullptr, "✎"}},
        {QStringLiteral("arrow.up.right.square"), {nullptr, "↗"}},
    };
    return table;
}

} // namespace

namespace EditorSymbols {

QStringList names()
{
    return symbols().keys();
}

QIcon icon(const QString &name)
{
    if (SymbolIcons::has(name))
        return SymbolIcons::icon(name);
    const auto it = symbols().constFind(name);
    if (it == symbols().cend() || !it->theme)
        return {};
    return QIcon::fromTheme(QString::fromLatin1(it->theme));
}

QIcon icon(const QString &name, const QColor &color)
{
    if (SymbolIcons::has(name))
        return SymbolIcons::icon(name, color);
    return icon(name);
}

QString glyph(const QString &name)
{
    const auto it = symbols().constFind(name);
    return it == symbols().cend() ? QString() : QString::fromUtf8(it->glyph);
}

void apply(QAbstractButton &button, const QString &name)
{
    const QIcon themed = icon(name);
    if (!themed.isNull()) {
        button.setIcon(themed);
        button.setText({});
    } else {
        button.setIcon({});
        button.setText(glyph(name));
    }
}

void apply(QLabel &label, const QString &name, int size)
{
    const QIcon themed = icon(name);
    if (!themed.isNull())
        label.setPixmap(themed.pixmap(QSize(size, size), label.devicePixelRatioF()));
    else
        label.setText(glyph(name));
}

} // namespace EditorSymbols
