#pragma once

#include <QString>

// Turns the inline Markdown of a service's answer (emphasis, strong, inline code, links) into the
// small HTML a label shows. Everything is escaped first, so tags in the answer show as the text
// they are; only web and mail addresses become links, and nothing produced loads a resource.
// Headings, lists and other block syntax stay as written.
namespace InlineMarkdown {

QString toHtml(const QString &markdown);

} // namespace InlineMarkdown
