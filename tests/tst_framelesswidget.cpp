#include "ui/FramelessWidget.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

class tst_FramelessWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void leftDragOnLabelFollowsMouse();
    void secondButtonPausesDrag();
    void releaseOfAnyButtonEndsDrag();
    void otherButtonsDoNotDrag_data();
    void otherButtonsDoNotDrag();
    void buttonKeepsItsPress();

private:
    // Events are sent to a child, as the window system would: what the child ignores
    // propagates to the window with the position mapped into its coordinates.
    void send(QWidget *target, QEvent::Type type, QPoint local, Qt::MouseButton button,
              Qt::MouseButtons held);

    FramelessWidget *m_window = nullptr;
    QLabel *m_title = nullptr;
    QPushButton *m_button = nullptr;
};

void tst_FramelessWidget::init()
{
    m_window = new FramelessWidget;
    m_window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_window->resize(300, 200);
    m_title = new QLabel(QStringLiteral("title"), m_window);
    m_title->setGeometry(0, 0, 300, 60);
    m_button = new QPushButton(QStringLiteral("button"), m_window);
    m_button->setGeometry(100, 100, 100, 40);
    m_window->move(200, 150);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void tst_FramelessWidget::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void tst_FramelessWidget::send(QWidget *target, QEvent::Type type, QPoint local,
                               Qt::MouseButton button, Qt::MouseButtons held)
{
    const QPointF global = target->mapToGlobal(QPointF(local));
    QMouseEvent event(type, QPointF(local), global, button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void tst_FramelessWidget::leftDragOnLabelFollowsMouse()
{
    const QPoint start = m_window->pos();
    const QPoint grip(40, 20);
    send(m_title, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    const QPoint globalGrip = m_title->mapToGlobal(grip);
    // Positions are taken against the window's place before the move, as a real pointer's.
    const QPoint target = globalGrip + QPoint(30, -10);
    QMouseEvent move(QEvent::MouseMove, QPointF(m_title->mapFromGlobal(target)), QPointF(target),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_title, &move);

    QCOMPARE(m_window->pos(), start + QPoint(30, -10));
    QCOMPARE(m_title->mapFromGlobal(target), grip);
}

void tst_FramelessWidget::secondButtonPausesDrag()
{
    const QPoint start = m_window->pos();
    send(m_title, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    send(m_title, QEvent::MouseMove, QPoint(30, 10), Qt::NoButton,
         Qt::LeftButton | Qt::RightButton);
    QCOMPARE(m_window->pos(), start);

    // The drag is still armed: once the extra button is up again the window follows.
    const QPoint target = m_title->mapToGlobal(QPoint(25, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(25, 10), QPointF(target), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_title, &move);
    QCOMPARE(m_window->pos(), start + QPoint(15, 0));
}

void tst_FramelessWidget::releaseOfAnyButtonEndsDrag()
{
    const QPoint start = m_window->pos();
    send(m_title, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    send(m_title, QEvent::MouseButtonRelease, QPoint(10, 10), Qt::RightButton, Qt::LeftButton);
    send(m_title, QEvent::MouseMove, QPoint(50, 50), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), start);
}

void tst_FramelessWidget::otherButtonsDoNotDrag_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("right") << Qt::RightButton;
    QTest::newRow("middle") << Qt::MiddleButton;
}

void tst_FramelessWidget::otherButtonsDoNotDrag()
{
    QFETCH(Qt::MouseButton, button);
    const QPoint start = m_window->pos();
    send(m_title, QEvent::MouseButtonPress, QPoint(10, 10), button, button);
    send(m_title, QEvent::MouseMove, QPoint(60, 40), Qt::NoButton, button);
    QCOMPARE(m_window->pos(), start);
    // Even with the left button held later, no drag was ever started.
    send(m_title, QEvent::MouseMove, QPoint(80, 40), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), start);
}

void tst_FramelessWidget::buttonKeepsItsPress()
{
    const QPoint start = m_window->pos();
    QSignalSpy clicked(m_button, &QPushButton::clicked);
    send(m_button, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    send(m_button, QEvent::MouseMove, QPoint(40, 10), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(m_window->pos(), start);
    send(m_button, QEvent::MouseButtonRelease, QPoint(10, 10), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(clicked.count(), 1);
}

QTEST_MAIN(tst_FramelessWidget)
#include "tst_framelesswidget.moc"
