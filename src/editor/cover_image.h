#pragma once

#include "editor/cover_model.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>

class BusyIndicator;
class QLabel;
class QMenu;
class RemoteImage;
class QPushButton;
class QToolButton;

// The cover band at the top of a page. Without a cover, a row with "Add cover"; with one, the image
// across the band, dragged to reposition, with "Change cover" and "Remove cover" in a menu shown
// while the pointer is over it. The logic lives in `model()`; this draws it and forwards.
class CoverImage : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kBandHeight = 220;
    static constexpr int kMinDragDistance = 10;
    static constexpr const char *kAddCover = "Add cover";
    static constexpr const char *kUploading = "Uploading...";
    static constexpr const char *kDragToReposition = "Drag to reposition";
    static constexpr const char *kRepositioning = "Repositioning...";
    static constexpr const char *kChangeCover = "Change cover";
    static constexpr const char *kRemoveCover = "Remove cover";

    enum class ImagePhase { Empty, Loading, Failed, Loaded };

    CoverImage(const AppContext &context, std::shared_ptr<FilePicker> filePicker, const QString &pageLocalID,
               QWidget *parent = nullptr, int bandHeight = kBandHeight);

    CoverModel &model() { return *m_model; }
    // The band is reused for another page.
    void setPageLocalID(const QString &pageLocalID) { m_model->setPageLocalID(pageLocalID); }

    // What the band shows now (tests).
    QPushButton *addCoverButton() const { return m_addButton; }
    QLabel *messageLabel() const { return m_message; }
    QWidget *band() const { return m_band; }
    QLabel *repositionChip() const { return m_repositionChip; }
    QToolButton *menuChip() const { return m_menuChip; }
    QMenu *coverMenu() const { return m_menu; }
    QLabel *uploadBadge() const { return m_badge; }
    ImagePhase imagePhase() const { return m_phase; }
    // The image's centre in the band for the offsets shown now.
    QPointF imageCentre() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void loadImage(const QString &url);
    void paintBand();
    void placeOverlays();

    CoverModel *m_model;
    int m_bandHeight;

    QWidget *m_addRow;
    QPushButton *m_addButton;
    QLabel *m_message;
    BusyIndicator *m_busy;

    QWidget *m_band;
    QWidget *m_chips;
    QLabel *m_repositionChip;
    QToolButton *m_menuChip;
    QMenu *m_menu;
    QLabel *m_badge;

    QString m_imageURL;
    QImage m_image;
    ImagePhase m_phase = ImagePhase::Empty;
    QPointer<RemoteImage> m_remote;
    std::optional<QPoint> m_pressAt;
};
