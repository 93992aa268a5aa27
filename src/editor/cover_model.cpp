#include "editor/cover_model.h"

#include "api/api_error.h"
#include "api/file_upload.h"
#include "api/service_client.h"
#include "api/wire/pages.h"
#include "store/local_store.h"
#include "store/outbox.h"
#include "store/sync_engine.h"

#include <QWidget>

#include <cmath>

CoverModel::CoverModel(const AppContext &context, std::shared_ptr<FilePicker> filePicker,
                       const QString &pageLocalID, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_filePicker(std::move(filePicker))
    , m_pageLocalID(pageLocalID)
{
    if (m_context.store) {
        connect(m_context.store, &LocalStore::pageChanged, this, [this](const QString &localID) {
            if (localID == m_pageLocalID)
                Q_EMIT changed();
        });
        connect(m_context.store, &LocalStore::recordsChanged, this, &CoverModel::changed);
        connect(m_context.store, &LocalStore::batchApplied, this, [this](const BatchChange &change) {
            if (change.touchesPage(m_pageLocalID))
                Q_EMIT changed();
        });
    }
    loadOffsets();
}

void CoverModel::setPageLocalID(const QString &pageLocalID)
{
    if (pageLocalID == m_pageLocalID)
        return;
    m_pageLocalID = pageLocalID;
    m_isDragging = false;
    m_isHovering = false;
    loadOffsets();
    Q_EMIT changed();
}

std::optional<FNPage> CoverModel::page() const
{
    if (!m_context.store)
        return std::nullopt;
    const FNPage *page = m_context.store->page(m_pageLocalID);
    if (!page || page->deletedAt)
        return std::nullopt;
    return *page;
}

bool CoverModel::hasCover() const
{
    const auto page = this->page();
    return page && !page->coverURL.isEmpty();
}

bool CoverModel::canUpload() const
{
    const auto page = this->page();
    return !m_uploading && page && page->serverID != 0;
}

void CoverModel::setHovering(bool hovering)
{
    if (hovering == m_isHovering)
        return;
    m_isHovering = hovering;
    Q_EMIT changed();
}

void CoverModel::dragChanged(QPointF translation, QSizeF band)
{
    const auto page = this->page();
    if (!page)
        return;
    m_isDragging = true;
    const double dx = translation.x() / band.width() * 100;
    const double dy = translation.y() / band.height() * 100;
    setLocalOffsets(clampOffset(double(page->coverOffsetX) - dx),
                    clampOffset(double(page->coverOffsetY) - dy));
}

void CoverModel::dragEnded()
{
    m_isDragging = false;
    commitReposition();
    Q_EMIT changed();
}

void CoverModel::commitReposition()
{
    const auto page = this->page();
    if (!page)
        return;
    applyCover(m_context, m_pageLocalID,
               CoverEdit{std::nullopt, roundOffset(m_localOffsetX), roundOffset(m_localOffsetY)});
}

void CoverModel::removeCover()
{
    applyCover(m_context, m_pageLocalID, CoverEdit{QString(), qint64(kCentred), qint64(kCentred)});
    setLocalOffsets(kCentred, kCentred);
}

void CoverModel::uploadCover(QWidget *dialogParent)
{
    if (!m_context.client || !m_context.client->isSignedIn())
        return;
    const auto page = this->page();
    if (!page || page->serverID == 0)
        return;
    m_errorMsg.reset();
    Q_EMIT changed();
    uploadCoverTask(dialogParent);
}

QCoro::Task<> CoverModel::uploadCoverTask(QPointer<QWidget> dialogParent)
{
    // The band may go while this runs: its own state is touched only through `self`, and the
    // page is written through the store by its id.
    QPointer<CoverModel> self(this);
    const AppContext context = m_context;
    const QString pageLocalID = m_pageLocalID;
    const std::shared_ptr<FilePicker> picker = m_filePicker;
    if (!picker || !context.client)
        co_return;
    const std::optional<PickedFile> file =
        co_await pickFile(*picker, FilePicker::Filter::Images, dialogParent);
    if (!file || !self)
        co_return;
    self->m_uploading = true;
    Q_EMIT self->changed();
    try {
        const QUrl url = co_await context.client->upload(file->data, file->filename, file->mime);
        const auto written =
            applyCover(context, pageLocalID,
                       CoverEdit{url.toString(QUrl::FullyEncoded), qint64(kCentred), qint64(kCentred)});
        if (!self)
            co_return;
        if (written && self->m_pageLocalID == pageLocalID)
            self->setLocalOffsets(kCentred, kCentred);
    } catch (const std::exception &e) {
        if (!self)
            co_return;
        self->m_errorMsg = APIError::messageOf(e);
    }
    self->m_uploading = false;
    Q_EMIT self->changed();
}

void CoverModel::queuePageUpdate(const FNPage &page, bool includeURL)
{
    queueUpdate(m_context, page, includeURL);
}

QPointF CoverModel::imageCentre(QSizeF band, double offsetX, double offsetY)
{
    const double w = band.width();
    const double h = band.height();
    return QPointF(w * 0.5 + ((50 - offsetX) / 100) * w * 0.5, h * 0.5 + h * ((50 - offsetY) / 100) * 0.5);
}

double CoverModel::clampOffset(double offset)
{
    const double capped = std::min(offset, 100.0);
    return std::isnan(capped) || capped < 0 ? 0 : capped;
}

qint64 CoverModel::roundOffset(double offset)
{
    return qint64(std::round(clampOffset(offset)));
}

std::optional<FNPage> CoverModel::applyCover(const AppContext &context, const QString &pageLocalID,
                                             const CoverEdit &edit)
{
    LocalStore *store = context.store;
    if (!store)
        return std::nullopt;
    // The record as stored now, not a copy taken when the band was drawn or the upload began.
    const FNPage *stored = store->page(pageLocalID);
    if (!stored || stored->deletedAt)
        return std::nullopt;
    store->editPage(pageLocalID, [&](FNPage &page) {
        if (edit.url)
            page.coverURL = *edit.url;
        page.coverOffsetX = edit.offsetX;
        page.coverOffsetY = edit.offsetY;
    });
    const FNPage page = *store->page(pageLocalID);
    queueUpdate(context, page, edit.url.has_value());
    return page;
}

void CoverModel::queueUpdate(const AppContext &context, const FNPage &page, bool includeURL)
{
    LocalStore *store = context.store;
    if (!store || page.serverID == 0)
        return;
    PagePatchReq patch;
    patch.page_id = page.serverID;
    if (includeURL)
        patch.cover_url = page.coverURL;
    patch.cover_offset_x = page.coverOffsetX;
    patch.cover_offset_y = page.coverOffsetY;
    Outbox::of(*store).pageUpdate(page.localID, patch, Outbox::Unencodable::QueueNothing);
}

void CoverModel::loadOffsets()
{
    const auto page = this->page();
    m_localOffsetX = page ? double(page->coverOffsetX) : kCentred;
    m_localOffsetY = page ? double(page->coverOffsetY) : kCentred;
}

void CoverModel::setLocalOffsets(double x, double y)
{
    m_localOffsetX = x;
    m_localOffsetY = y;
    Q_EMIT changed();
}
