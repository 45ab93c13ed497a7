#include "app/window/RoundedImage.h"

#include <QPainter>
#include <QPainterPath>

namespace corvane {

RoundedImage::RoundedImage(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

void RoundedImage::setSource(const QUrl& source) {
    if (source == source_) {
        return;
    }
    const bool wasLoaded = loaded();
    source_ = source;
    image_ = load(source);
    emit sourceChanged();
    if (wasLoaded != loaded()) {
        emit loadedChanged();
    }
    update();
}

void RoundedImage::setRadius(qreal radius) {
    if (qFuzzyCompare(radius, radius_)) {
        return;
    }
    radius_ = radius;
    emit radiusChanged();
    update();
}

void RoundedImage::paint(QPainter* painter) {
    if (image_.isNull() || width() <= 0 || height() <= 0) {
        return;
    }
    QSizeF fitted = image_.size();
    fitted.scale(size(), Qt::KeepAspectRatio);
    const QRectF target((width() - fitted.width()) / 2, (height() - fitted.height()) / 2,
                        fitted.width(), fitted.height());
    QPainterPath clip;
    clip.addRoundedRect(target, radius_, radius_);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setClipPath(clip);
    painter->drawImage(target, image_);
}

QImage RoundedImage::load(const QUrl& source) {
    if (source.scheme() == QLatin1String("qrc")) {
        return QImage(QLatin1Char(':') + source.path());
    }
    if (source.isLocalFile()) {
        return QImage(source.toLocalFile());
    }
    return {};
}

} // namespace corvane
