#pragma once

#include "store/fn_page.h"
#include "ui/app_context.h"

#include <QCoroTask>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>

class FilePicker;
class QWidget;

// The page cover's state and operations, without a window: the offsets shown while dragging, the
// upload, the removal. Each change is written into the page as the store holds it at that moment
// (so a title typed meanwhile stays, and a page in the trash stays there, untouched), queued for
// the service as a "page"/"update" carrying only the cover fields, and followed by one sync attempt.
class CoverModel : public QObject
{
    Q_OBJECT
public:
    static constexpr double kCentred = 50;
    static constexpr const char *kNotSynced = "Will be available once the page syncs";

    // The context's store is needed; without a client there is no upload, without an engine no sync.
    CoverModel(const AppContext &context, std::shared_ptr<FilePicker> filePicker, const QString &pageLocalID,
               QObject *parent = nullptr);
    const AppContext &context() const { return m_context; }

    const QString &pageLocalID() const { return m_pageLocalID; }
    void setFilePicker(std::shared_ptr<FilePicker> filePicker) { m_filePicker = std::move(filePicker); }
    // Another page: its offsets are loaded, the drag and the hover end.
    void setPageLocalID(const QString &pageLocalID);
    // The page as the store holds it now; none once it is gone or in the trash.
    std::optional<FNPage> page() const;
    bool hasCover() const;
    // "Add cover" is offered while no upload runs and the page is on the service.
    bool canUpload() const;

    double localOffsetX() const { return m_localOffsetX; }
    double localOffsetY() const { return m_localOffsetY; }
    bool isDragging() const { return m_isDragging; }
    bool isHovering() const { return m_isHovering; }
    bool uploading() const { return m_uploading; }
    const std::optional<QString> &errorMsg() const { return m_errorMsg; }
    void setHovering(bool hovering);

    // A reposition drag: `translation` is the total since the drag began, `band` the band's size.
    // The offsets move against the pointer by half its way, within 0...100.
    void dragChanged(QPointF translation, QSizeF band);
    void dragEnded();
    // Stores the shown offsets as whole percentages (halves away from zero).
    void commitReposition();
    void removeCover();
    // Picks an image, uploads it and makes it the cover. Nothing without a session or a server id.
    void uploadCover(QWidget *dialogParent = nullptr);
    QCoro::Task<> uploadCoverTask(QPointer<QWidget> dialogParent);
    // "page"/"update" with the cover offsets (and the address when `includeURL`), then a sync.
    // Nothing for a page the service does not know yet.
    void queuePageUpdate(const FNPage &page, bool includeURL);

    // Where the centre of the band-sized image goes for the offsets.
    static QPointF imageCentre(QSizeF band, double offsetX, double offsetY);
    // Within 0...100; not a number gives 0.
    static double clampOffset(double offset);
    static qint64 roundOffset(double offset);

Q_SIGNALS:
    // The page as stored or the band's own state changed.
    void changed();

private:
    struct CoverEdit {
        std::optional<QString> url;
        qint64 offsetX = 50;
        qint64 offsetY = 50;
    };
    // Writes the cover fields into the stored live page and queues them; the page written, or none.
    static std::optional<FNPage> applyCover(const AppContext &context, const QString &pageLocalID,
                                            const CoverEdit &edit);
    static void queueUpdate(const AppContext &context, const FNPage &page, bool includeURL);
    void loadOffsets();
    void setLocalOffsets(double x, double y);

    AppContext m_context;
    std::shared_ptr<FilePicker> m_filePicker;
    QString m_pageLocalID;
    double m_localOffsetX = kCentred;
    double m_localOffsetY = kCentred;
    bool m_isDragging = false;
    bool m_isHovering = false;
    bool m_uploading = false;
    std::optional<QString> m_errorMsg;
};
