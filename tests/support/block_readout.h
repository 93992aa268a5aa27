#pragma once

#include <QStringList>

class FakeService;
class PageView;

// Every kind of block read as one line, "kind: content", alike from an open page and from the
// service's copy, so that a journey compares what the window shows with what the service holds. A
// page link reads as the linked page's title, a synced block as its source's text, an upload as
// "uploaded", a drawing with strokes as "drawn", and a database as its table's name followed by
// each row's name and status.
namespace BlockReadout {

// The top-level rows of the page, in order.
QStringList shownBlocks(PageView *view);
// The page's top-level blocks on the service, by position.
QStringList storedBlocks(FakeService &fake, qint64 pageId);

} // namespace BlockReadout
