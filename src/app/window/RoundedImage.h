#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QUrl>

namespace corvane {

// An image scaled to fit and clipped to a rounded rectangle. Qt Quick 6.4 has no rounded clip
// without shader effects, so the clip is painted.
class RoundedImage : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)
    // False when the source is missing or is not an image.
    Q_PROPERTY(bool loaded READ loaded NOTIFY loadedChanged)

public:
    explicit RoundedImage(QQuickItem* parent = nullptr);

    QUrl source() const { return source_; }
    void setSource(const QUrl& source);
    qreal radius() const { return radius_; }
    void setRadius(qreal radius);
    bool loaded() const { return !image_.isNull(); }

    void paint(QPainter* painter) override;

signals:
    void sourceChanged();
    void radiusChanged();
    void loadedChanged();

private:
    static QImage load(const QUrl& source);

    QUrl source_;
    qreal radius_ = 0;
    QImage image_;
};

} // namespace corvane
