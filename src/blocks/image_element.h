#pragma once

#include "api/remote_image_loader.h"

#include <QPointer>
#include <QWidget>

// The picture of an image block at its width: a tinted rectangle 180 high while it loads, the image
// scaled to the width with its aspect kept, or a tinted rectangle with the photo symbol when it
// cannot be had. Without a loader every address counts as failed.
class ImageElement : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kLoadingHeight = 180;
    static constexpr int kFailedHeight = 120;
    static constexpr int kCornerRadius = 6;

    explicit ImageElement(RemoteImageLoader *loader, QWidget *parent = nullptr);

    void setURL(const QString &url);
    // Loads the address again through another loader.
    void setLoader(RemoteImageLoader *loader);
    RemoteImage::State state() const;
    QImage image() const;
    void setOpacity(qreal opacity);

Q_SIGNALS:
    void stateChanged(RemoteImage::State state);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateHeight();

    QPointer<RemoteImageLoader> m_loader;
    QPointer<RemoteImage> m_handle;
    QString m_url;
    qreal m_opacity = 1.0;
};
