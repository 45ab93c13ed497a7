#include "app/window/CompanionTray.h"

#include <QImage>
#include <QtEndian>
#include <cstdio>

namespace corvane {

namespace {

IconPixmap pixmapOf(const QImage& image, int size) {
    const QImage scaled = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32);
    IconPixmap pixmap{scaled.width(), scaled.height(), {}};
    pixmap.argb.reserve(scaled.width() * scaled.height() * 4);
    for (int y = 0; y < scaled.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(scaled.constScanLine(y));
        for (int x = 0; x < scaled.width(); ++x) {
            const quint32 pixel = qToBigEndian(line[x]);
            pixmap.argb.append(reinterpret_cast<const char*>(&pixel), sizeof pixel);
        }
    }
    return pixmap;
}

// The theme icon once installed; the pixmaps serve a program run from its build folder.
StatusNotifierItem::Appearance appearance() {
    const QImage mark(QStringLiteral(":/corvane/Mark.png"));
    IconPixmaps pixmaps;
    if (!mark.isNull()) {
        pixmaps = {pixmapOf(mark, 32), pixmapOf(mark, 64)};
    }
    return {QStringLiteral("dev.corvane.Corvane"), QStringLiteral("Corvane"),
            QStringLiteral("dev.corvane.Corvane"), pixmaps};
}

QString pairingLine(const TouchReceiver& receiver) {
    return QStringLiteral("Pairing code %1").arg(QString::fromStdString(receiver.code()));
}

} // namespace

CompanionTray::CompanionTray(QDBusConnection bus, std::shared_ptr<TouchReceiver> receiver,
                             AutostartEntry autostart, Actions actions)
    : receiver_(std::move(receiver)), autostart_(std::move(autostart)),
      actions_(std::move(actions)), menu_(bus),
      item_(bus, appearance(), QDBusObjectPath(QString::fromLatin1(DBusMenu::objectPath))) {
    connect(&item_, &StatusNotifierItem::activated, this, [this] { actions_.showWindow(); });
}

CompanionTray::~CompanionTray() {
    if (observer_ != 0) {
        receiver_->removeObserver(observer_);
    }
}

std::expected<void, Error> CompanionTray::publish() {
    refresh();
    // The tray keeps the receiver alive and unregisters before it goes.
    observer_ = receiver_->addObserver([this](const PublishedChange&) { refresh(); });
    if (auto published = menu_.publish(); !published) {
        return published;
    }
    return item_.publish();
}

void CompanionTray::refresh() {
    const bool running = receiver_->isRunning();
    const QString status = QString::fromStdString(receiver_->status());
    using Kind = MenuItem::Kind;
    menu_.setItems({
        {Kind::label, status, true, false, {}},
        {Kind::label, pairingLine(*receiver_), running, false, {}},
        {Kind::separator, {}, true, false, {}},
        {Kind::action, QStringLiteral("Show Window"), true, false, actions_.showWindow},
        {Kind::action, running ? QStringLiteral("Stop Receiver") : QStringLiteral("Start Receiver"),
         true, false, actions_.toggleReceiver},
        {Kind::checkbox, QStringLiteral("Start at Login"), true, autostart_.isEnabled(),
         [this] { toggleAutostart(); }},
        {Kind::separator, {}, true, false, {}},
        {Kind::action, QStringLiteral("Quit"), true, false, actions_.quit},
    });
    item_.setToolTip(running ? status + QLatin1Char('\n') + pairingLine(*receiver_) : status);
}

void CompanionTray::toggleAutostart() {
    const auto changed = autostart_.isEnabled() ? autostart_.disable() : autostart_.enable();
    if (!changed) {
        std::fprintf(stderr, "corvane: start at login: %s\n",
                     changed.error().description().c_str());
    }
    refresh();
}

} // namespace corvane
