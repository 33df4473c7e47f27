#include "ui/FramelessWidget.h"

#include <QtTest>
#include <QtWidgets>

class tst_FramelessWidget : public QObject
{
    Q_OBJECT

private slots:
    // Only the left button held alone drags the window, from any child that ignores the press.
    void drag()
    {
        FramelessWidget window;
        window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        window.setGeometry(200, 150, 300, 200);
        QLabel title(QStringLiteral("title"), &window);
        QPushButton button(&window);
        button.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicked(&button, &QPushButton::clicked);
        // Sent to a child as the window system would: what it ignores reaches the window.
        const auto send = [&](QWidget *to, QEvent::Type type, int x, Qt::MouseButton pressed,
                              Qt::MouseButtons held) {
            const QPoint start = window.pos();
            QMouseEvent event(type, QPointF(x, 10), to->mapToGlobal(QPointF(x, 10)), pressed, held,
                              Qt::NoModifier);
            QApplication::sendEvent(to, &event);
            return window.pos().x() - start.x();
        };
        const auto L = Qt::LeftButton, R = Qt::RightButton, N = Qt::NoButton;
        QCOMPARE(send(&title, QEvent::MouseButtonPress, 10, L, L), 0);
        QCOMPARE(send(&title, QEvent::MouseMove, 40, N, L), 30);
        QCOMPARE(send(&title, QEvent::MouseMove, 30, N, L | R), 0); // a second button pauses it
        QCOMPARE(send(&title, QEvent::MouseMove, 25, N, L), 15);
        QCOMPARE(send(&title, QEvent::MouseButtonRelease, 10, R, L), 0); // any release ends it
        QCOMPARE(send(&title, QEvent::MouseMove, 50, N, L), 0);
        for (Qt::MouseButton other : {R, Qt::MiddleButton}) {
            send(&title, QEvent::MouseButtonPress, 10, other, other);
            QCOMPARE(send(&title, QEvent::MouseMove, 60, N, other) +
                         send(&title, QEvent::MouseMove, 80, N, L),
                     0);
        }
        // A push button keeps its press: no drag, and the click still happens.
        send(&button, QEvent::MouseButtonPress, 10, L, L);
        QCOMPARE(send(&button, QEvent::MouseMove, 40, N, L), 0);
        send(&button, QEvent::MouseButtonRelease, 10, L, N);
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(tst_FramelessWidget)
#include "tst_framelesswidget.moc"
