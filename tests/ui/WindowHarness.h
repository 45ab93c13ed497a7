#pragma once

#include "app/window/CompanionWindow.h"
#include "unit/receiver/ReceiverHarness.h"

#include <QtQuickTest/quicktest.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>
#include <QTest>
#include <memory>
#include <optional>

// Texts as text, not as bytes, in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace corvane::test {

// The real window over a receiver on fakes, with ways to look at it and click it as a user does.
struct WindowHarness {
    ReceiverHarness receiver;
    std::unique_ptr<CompanionWindow> companion;

    explicit WindowHarness(const QString& version = QStringLiteral("1.2"),
                           const std::string& storageStatus = {}) {
        if (!storageStatus.empty()) {
            receiver.storageStatus = storageStatus;
            receiver.build();
        }
        companion = std::make_unique<CompanionWindow>(receiver.receiver, receiver.trust, version);
    }

    // Loads and shows the window; false (with a test failure) when it cannot.
    bool open() {
        auto loaded = companion->load();
        if (!loaded) {
            ADD_FAILURE() << loaded.error().description();
            return false;
        }
        return QTest::qWaitForWindowExposed(window()) && settle(window());
    }

    QQuickWindow* window() const { return companion->window(); }

    QQuickWindow* helpSheet() const { return window()->findChild<QQuickWindow*>("helpSheet"); }

    template<typename T = QQuickItem>
    T* find(const char* name, QQuickWindow* in = nullptr) const {
        auto* found = (in ? in : window())->findChild<T*>(QString::fromLatin1(name));
        if (!found) {
            ADD_FAILURE() << "no item named " << name;
        }
        return found;
    }

    // Lets bindings, layouts and the scene settle after a change.
    static bool settle(QQuickWindow* in) {
        QCoreApplication::processEvents();
        return QQuickTest::qWaitForPolish(in, 2000);
    }

    // Every text a user can see in `in`, in the order of the item tree.
    static QStringList visibleTexts(QQuickWindow* in) {
        QStringList texts;
        collectTexts(in->contentItem(), texts);
        return texts;
    }

    QStringList visibleTexts() const { return visibleTexts(window()); }

    // Clicks in the middle of a visible item, as the mouse would.
    static void click(QQuickItem* item) {
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->isVisible()) << item->objectName().toStdString() << " is hidden";
        QQuickWindow* in = item->window();
        ASSERT_TRUE(settle(in));
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(in, Qt::LeftButton, {}, centre.toPoint());
        ASSERT_TRUE(settle(in));
    }

    // Clicks, then lets the receiver tell the window what the click changed.
    void click(const char* name, QQuickWindow* in = nullptr) {
        click(find(name, in));
        receiver.run();
        settle(window());
    }

    // The receiver started and its listener ready, as after a successful Start.
    void readyListener() {
        ASSERT_NE(receiver.listener(), nullptr);
        receiver.listener()->reportState(ListenerState::ready);
        receiver.run();
        ASSERT_TRUE(settle(window()));
    }

private:
    static void collectTexts(QQuickItem* item, QStringList& texts) {
        if (!item->isVisible() || item->opacity() == 0) {
            return;
        }
        if (item->inherits("QQuickText") || item->inherits("QQuickTextEdit")) {
            texts << item->property("text").toString();
        }
        for (QQuickItem* child : item->childItems()) {
            collectTexts(child, texts);
        }
    }
};

} // namespace corvane::test
