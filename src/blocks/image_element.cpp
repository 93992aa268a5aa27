#include "blocks/image_element.h"

#include "ui/app_style.h"
#include "ui/editor_symbols.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kSymbolSize = 28;

} // namespace

ImageElement::ImageElement(RemoteImageLoader *loader, QWidget *parent)
    : QWidget(parent)
    , m_loader(loader)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    updateHeight();
}

void ImageElement::setURL(const QString &url)
{
    if (m_handle && url == m_url)
        return;
    m_url = url;
    delete m_handle;
    if (m_loader) {
        m_handle = m_loader->load(url, this);
        connect(m_handle, &RemoteImage::stateChanged, this, [this](RemoteImage::State state) {
            updateHeight();
            update();
            Q_EMIT stateChanged(state);
        });
    }
    updateHeight();
    update();
}

void ImageElement::setLoader(RemoteImageLoader *loader)
{
    if (loader == m_loader)
        return;
    m_loader = loader;
    if (m_handle || !m_url.isEmpty()) {
        const QString url = m_url;
        delete m_handle;
        m_url.clear();
        setURL(url);
    }
}

RemoteImage::State ImageElement::state() const
{
    return m_handle ? m_handle->state() : RemoteImage::State::failed;
}

QImage ImageElement::image() const
{
    return m_handle ? m_handle->image() : QImage();
}

void ImageElement::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    update();
}

void ImageElement::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateHeight();
}

void ImageElement::updateHeight()
{
    int height = kFailedHeight;
    switch (state()) {
    case RemoteImage::State::loading:
        height = kLoadingHeight;
        break;
    case RemoteImage::State::loaded: {
        const QSize size = image().size();
        height = std::max(1, int(std::lround(double(width()) * size.height() / std::max(1, size.width()))));
        break;
    }
    case RemoteImage::State::failed:
        break;
    }
    if (height != this->height() || minimumHeight() != height)
        setFixedHeight(height);
}

void ImageElement::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(m_opacity);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.setClipPath(clip);

    const RemoteImage::State shown = state();
    if (shown == RemoteImage::State::loaded) {
        const QImage picture = image();
        const QSize fitted = picture.size().scaled(size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        painter.drawImage(target, picture);
        return;
    }
    QColor fill = AppStyle::secondary(this);
    fill.setAlphaF(fill.alphaF() * (shown == RemoteImage::State::failed ? 0.10 : 0.06));
    painter.fillRect(rect(), fill);
    if (shown == RemoteImage::State::failed) {
        const QPixmap symbol = EditorSymbols::icon(QStringLiteral("photo"), AppStyle::secondary(this))
                                   .pixmap(QSize(kSymbolSize, kSymbolSize), devicePixelRatioF());
        const QRect where(QPoint((width() - kSymbolSize) / 2, (height() - kSymbolSize) / 2),
                          QSize(kSymbolSize, kSymbolSize));
        painter.drawPixmap(where, symbol);
    }
}
