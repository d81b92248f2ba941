#pragma once
// Calls a check on the application's modal dialog as soon as one is up: a test that opens
// a modal dialog (the About box, the file dialog) is itself blocked in its event loop.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace tarnlink::test {

inline void whenModal(std::function<void(QWidget*)> check) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, check = std::move(check)] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            check(modal);
        }
    });
    timer->start(10);
}

}  // namespace tarnlink::test
