#include "ui_mainwindow.h"

#include <QtTest>

#include <memory>

// Checks the generated main window form against the names, order and geometry that the window
// controller and the style sheet rely on.
class tst_MainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void memberOrder();
    void widgetTree_data();
    void widgetTree();
    void layoutContents_data();
    void layoutContents();
    void layoutSpacingAndMargins_data();
    void layoutSpacingAndMargins();
    void fixedSize();
    void keepsGivenObjectName();
    void pages();
    void unconnectedPageGeometry_data();
    void unconnectedPageGeometry();
    void widgetProperties();
    void spacers();
    void retranslateTexts();

private:
    std::unique_ptr<QWidget> m_window;
    Ui::MainWindow m_ui;
};

void tst_MainWindowForm::init()
{
    m_window = std::make_unique<QWidget>();
    m_ui.setupUi(m_window.get());
}

void tst_MainWindowForm::cleanup()
{
    m_window.reset();
}

void tst_MainWindowForm::memberOrder()
{
    // The generated members, in declaration order; spacers are not objects and carry no name.
    const QList<QObject *> members{m_ui.verticalLayout,
                                   m_ui.frame_Header,
                                   m_ui.horizontalLayout,
                                   m_ui.toolButton_Network,
                                   m_ui.label_Title,
                                   m_ui.toolButton_Close,
                                   m_ui.stackedWidget,
                                   m_ui.page_Start,
                                   m_ui.verticalLayout_3,
                                   m_ui.label_Busying,
                                   m_ui.label_Info,
                                   m_ui.page_Unconnected,
                                   m_ui.label_PC,
                                   m_ui.label_Product,
                                   m_ui.label_Line,
                                   m_ui.label,
                                   m_ui.label_2,
                                   m_ui.label_Finger,
                                   m_ui.page_Connected,
                                   m_ui.verticalLayout_2,
                                   m_ui.label_ProductConnected,
                                   m_ui.label_CurrentVersion,
                                   m_ui.progressBar,
                                   m_ui.horizontalLayout_3,
                                   m_ui.label_Version,
                                   m_ui.comboBox_Version,
                                   m_ui.toolButton_VersionInfo,
                                   m_ui.toolButton_OpenFile,
                                   m_ui.pushButton_Update,
                                   m_ui.pushButton_Restore,
                                   m_ui.horizontalLayout_4,
                                   m_ui.toolButton_Settings,
                                   m_ui.label_Copyright,
                                   m_ui.comboBox_Languages};
    const QStringList names{"verticalLayout",
                            "frame_Header",
                            "horizontalLayout",
                            "toolButton_Network",
                            "label_Title",
                            "toolButton_Close",
                            "stackedWidget",
                            "page_Start",
                            "verticalLayout_3",
                            "label_Busying",
                            "label_Info",
                            "page_Unconnected",
                            "label_PC",
                            "label_Product",
                            "label_Line",
                            "label",
                            "label_2",
                            "label_Finger",
                            "page_Connected",
                            "verticalLayout_2",
                            "label_ProductConnected",
                            "label_CurrentVersion",
                            "progressBar",
                            "horizontalLayout_3",
                            "label_Version",
                            "comboBox_Version",
                            "toolButton_VersionInfo",
                            "toolButton_OpenFile",
                            "pushButton_Update",
                            "pushButton_Restore",
                            "horizontalLayout_4",
                            "toolButton_Settings",
                            "label_Copyright",
                            "comboBox_Languages"};
    QCOMPARE(members.size(), names.size());
    for (int i = 0; i < members.size(); ++i)
        QCOMPARE(members.at(i)->objectName(), names.at(i));
}

void tst_MainWindowForm::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    auto row = [](const char *name, const char *className, const char *parent) {
        QTest::newRow(name) << QString(name) << QString(className) << QString(parent);
    };
    row("frame_Header", "QFrame", "MainWindow");
    row("toolButton_Network", "QToolButton", "frame_Header");
    row("label_Title", "QLabel", "frame_Header");
    row("toolButton_Close", "QToolButton", "frame_Header");
    row("stackedWidget", "QStackedWidget", "MainWindow");
    row("label_Busying", "QLabel", "page_Start");
    row("label_Info", "QLabel", "page_Start");
    row("label_PC", "QLabel", "page_Unconnected");
    row("label_Product", "QLabel", "page_Unconnected");
    row("label_Line", "QLabel", "page_Unconnected");
    row("label", "QLabel", "page_Unconnected");
    row("label_2", "QLabel", "page_Unconnected");
    row("label_Finger", "QLabel", "page_Unconnected");
    row("label_ProductConnected", "QLabel", "page_Connected");
    row("label_CurrentVersion", "QLabel", "page_Connected");
    row("progressBar", "QProgressBar", "page_Connected");
    row("label_Version", "QLabel", "page_Connected");
    row("comboBox_Version", "QComboBox", "page_Connected");
    row("toolButton_VersionInfo", "QToolButton", "page_Connected");
    row("toolButton_OpenFile", "QToolButton", "page_Connected");
    row("pushButton_Update", "QPushButton", "page_Connected");
    row("pushButton_Restore", "QPushButton", "page_Connected");
    row("toolButton_Settings", "QToolButton", "MainWindow");
    row("label_Copyright", "QLabel", "MainWindow");
    row("comboBox_Languages", "QComboBox", "MainWindow");
}

void tst_MainWindowForm::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    const auto matches = m_window->findChildren<QWidget *>(name);
    QCOMPARE(matches.size(), 1);
    QWidget *widget = matches.first();
    QCOMPARE(QString(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
}

void tst_MainWindowForm::layoutContents_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("items");
    // "-" marks a spacer.
    QTest::newRow("verticalLayout")
        << "verticalLayout" << QStringList{"frame_Header", "stackedWidget", "horizontalLayout_4"};
    QTest::newRow("horizontalLayout")
        << "horizontalLayout"
        << QStringList{"toolButton_Network", "label_Title", "toolButton_Close"};
    QTest::newRow("verticalLayout_3")
        << "verticalLayout_3" << QStringList{"-", "label_Busying", "label_Info", "-"};
    QTest::newRow("verticalLayout_2")
        << "verticalLayout_2"
        << QStringList{"label_ProductConnected", "label_CurrentVersion", "progressBar",
                       "horizontalLayout_3",     "pushButton_Update",    "pushButton_Restore"};
    QTest::newRow("horizontalLayout_3")
        << "horizontalLayout_3"
        << QStringList{"label_Version", "comboBox_Version", "toolButton_VersionInfo", "-",
                       "toolButton_OpenFile"};
    QTest::newRow("horizontalLayout_4")
        << "horizontalLayout_4"
        << QStringList{"toolButton_Settings", "label_Copyright", "comboBox_Languages"};
}

void tst_MainWindowForm::layoutContents()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, items);
    auto *box = m_window->findChild<QLayout *>(layout);
    QVERIFY(box);
    QStringList found;
    for (int i = 0; i < box->count(); ++i) {
        QLayoutItem *item = box->itemAt(i);
        if (item->widget())
            found << item->widget()->objectName();
        else if (item->layout())
            found << item->layout()->objectName();
        else
            found << "-";
    }
    QCOMPARE(found, items);
}

void tst_MainWindowForm::layoutSpacingAndMargins_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QMargins>("margins");
    // -1 leaves the style's default; here it only says "not fixed by the form".
    QTest::newRow("verticalLayout") << "verticalLayout" << 0 << QMargins(0, 0, 0, 0);
    QTest::newRow("horizontalLayout") << "horizontalLayout" << 0 << QMargins(20, 0, 20, 0);
    QTest::newRow("verticalLayout_3") << "verticalLayout_3" << -1 << QMargins(0, 0, 0, 0);
    QTest::newRow("verticalLayout_2") << "verticalLayout_2" << 8 << QMargins(50, 0, 50, 0);
    QTest::newRow("horizontalLayout_3") << "horizontalLayout_3" << 12 << QMargins(0, 0, -1, -1);
    QTest::newRow("horizontalLayout_4") << "horizontalLayout_4" << 0 << QMargins(12, 0, 20, -1);
}

void tst_MainWindowForm::layoutSpacingAndMargins()
{
    QFETCH(QString, layout);
    QFETCH(int, spacing);
    QFETCH(QMargins, margins);
    auto *box = m_window->findChild<QBoxLayout *>(layout);
    QVERIFY(box);
    if (spacing >= 0)
        QCOMPARE(box->spacing(), spacing);
    const QMargins actual = box->contentsMargins();
    if (margins.left() >= 0)
        QCOMPARE(actual.left(), margins.left());
    if (margins.top() >= 0)
        QCOMPARE(actual.top(), margins.top());
    if (margins.right() >= 0)
        QCOMPARE(actual.right(), margins.right());
    if (margins.bottom() >= 0)
        QCOMPARE(actual.bottom(), margins.bottom());
}

void tst_MainWindowForm::fixedSize()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->size(), QSize(520, 708));
    QCOMPARE(m_window->minimumSize(), QSize(520, 708));
    QCOMPARE(m_window->maximumSize(), QSize(520, 708));
    m_window->resize(800, 900);
    QCOMPARE(m_window->size(), QSize(520, 708));
}

void tst_MainWindowForm::keepsGivenObjectName()
{
    QWidget window;
    window.setObjectName("custom");
    Ui::MainWindow ui;
    ui.setupUi(&window);
    QCOMPARE(window.objectName(), QStringLiteral("custom"));
}

void tst_MainWindowForm::pages()
{
    QCOMPARE(m_ui.stackedWidget->count(), 3);
    QCOMPARE(m_ui.stackedWidget->widget(0), m_ui.page_Start);
    QCOMPARE(m_ui.stackedWidget->widget(1), m_ui.page_Unconnected);
    QCOMPARE(m_ui.stackedWidget->widget(2), m_ui.page_Connected);
    QCOMPARE(m_ui.stackedWidget->currentIndex(), 0);
    QVERIFY(!m_ui.page_Unconnected->layout());
    QVERIFY(m_ui.page_Unconnected->styleSheet().startsWith(
        "QWidget#page_Unconnected{\nborder-image: url(:/images/K2/beijing.png);\n"));
}

void tst_MainWindowForm::unconnectedPageGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("label_PC") << "label_PC" << QRect(50, 50, 150, 150);
    QTest::newRow("label_Product") << "label_Product" << QRect(254, 200, 162, 164);
    QTest::newRow("label_Line") << "label_Line" << QRect(200, 126, 136, 77);
    QTest::newRow("label") << "label" << QRect(50, 400, 400, 52);
    QTest::newRow("label_2") << "label_2" << QRect(50, 452, 400, 52);
    QTest::newRow("label_Finger") << "label_Finger" << QRect(278, 168, 32, 32);
}

void tst_MainWindowForm::unconnectedPageGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    auto *widget = m_ui.page_Unconnected->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
}

void tst_MainWindowForm::widgetProperties()
{
    QCOMPARE(m_ui.frame_Header->minimumSize(), QSize(0, 60));
    QCOMPARE(m_ui.frame_Header->maximumSize(), QSize(QWIDGETSIZE_MAX, 60));
    QCOMPARE(m_ui.frame_Header->frameShape(), QFrame::StyledPanel);
    QCOMPARE(m_ui.frame_Header->frameShadow(), QFrame::Raised);
    QCOMPARE(m_ui.toolButton_Network->maximumSize(), QSize(28, QWIDGETSIZE_MAX));
    QCOMPARE(m_ui.label_Title->minimumSize(), QSize(180, 60));
    QCOMPARE(m_ui.label_Title->alignment(), Qt::AlignCenter);
    QCOMPARE(m_ui.label_Busying->minimumSize(), QSize(0, 200));
    QCOMPARE(m_ui.label_2->alignment(), Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    QVERIFY(m_ui.label->wordWrap() && m_ui.label_2->wordWrap());
    QCOMPARE(m_ui.label->styleSheet(), QStringLiteral("color: #38A1FF;"));
    QVERIFY(m_ui.label_Finger->hasScaledContents());
    QVERIFY(!m_ui.label_Finger->pixmap().isNull());
    QCOMPARE(m_ui.label_ProductConnected->maximumSize(), QSize(500, 286));
    QCOMPARE(m_ui.label_ProductConnected->alignment(), Qt::AlignHCenter | Qt::AlignBottom);
    QCOMPARE(m_ui.progressBar->value(), 24);
    QVERIFY(!m_ui.progressBar->isTextVisible());
    QCOMPARE(m_ui.label_Version->minimumSize(), QSize(100, 72));
    QCOMPARE(m_ui.label_Version->font().pointSize(), 13);
    QCOMPARE(m_ui.toolButton_OpenFile->font().pointSize(), 24);
    QCOMPARE(m_ui.toolButton_OpenFile->iconSize(), QSize(32, 32));
    QVERIFY(!m_ui.toolButton_OpenFile->icon().isNull());
    QCOMPARE(m_ui.toolButton_Settings->iconSize(), QSize(24, 24));
    QVERIFY(!m_ui.toolButton_Settings->icon().isNull());
    QVERIFY(m_ui.label_Copyright->openExternalLinks());
    QCOMPARE(m_ui.comboBox_Languages->layoutDirection(), Qt::LeftToRight);
    QCOMPARE(m_ui.comboBox_Languages->count(), 5);
    // Explicitly empty per-widget sheets, so nothing but the application sheet styles them.
    for (QWidget *widget :
         {static_cast<QWidget *>(m_ui.toolButton_Network), static_cast<QWidget *>(m_ui.progressBar),
          static_cast<QWidget *>(m_ui.pushButton_Update),
          static_cast<QWidget *>(m_ui.comboBox_Version)})
        QVERIFY2(widget->styleSheet().isEmpty(), qPrintable(widget->objectName()));
}

void tst_MainWindowForm::spacers()
{
    auto check = [](QSpacerItem *spacer, QSize hint, QSizePolicy::Policy horizontal,
                    QSizePolicy::Policy vertical) {
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), hint);
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), horizontal);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), vertical);
    };
    check(m_ui.verticalSpacer, QSize(20, 40), QSizePolicy::Minimum, QSizePolicy::Expanding);
    check(m_ui.verticalSpacer_2, QSize(20, 40), QSizePolicy::Minimum, QSizePolicy::Expanding);
    check(m_ui.horizontalSpacer, QSize(40, 20), QSizePolicy::Expanding, QSizePolicy::Minimum);
}

// Answers every lookup of the form's context with a marked text, so a test sees which
// widgets take a translated text and which are emptied.
class MarkingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (QByteArrayView(context) != "MainWindow")
            return {};
        return QStringLiteral("<%1>").arg(QString::fromUtf8(source));
    }
};

void tst_MainWindowForm::retranslateTexts()
{
    // Run-time texts that a re-translation must clear again.
    m_ui.label_Title->setText("title");
    m_ui.label_CurrentVersion->setText("5.6.1");
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    m_ui.retranslateUi(m_window.get());
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(m_window->windowTitle(), QStringLiteral("<HalVern Firmware Tool>"));
    QCOMPARE(m_ui.label_Info->text(), QStringLiteral("<connect clould and sync information...>"));
    QCOMPARE(m_ui.label->text(),
             QStringLiteral("<Connect HalVern M7 to PC while holding the button.>"));
    QCOMPARE(m_ui.label_2->text(),
             QStringLiteral("<Release the button until the LED indicator is stable green.>"));
    QCOMPARE(m_ui.label_Version->text(), QStringLiteral("<New Firmware Version>"));
    QCOMPARE(m_ui.pushButton_Update->text(), QStringLiteral("<Update Firmware>"));
    QCOMPARE(m_ui.pushButton_Restore->text(), QStringLiteral("<Restore Defaults>"));
    QCOMPARE(m_ui.label_Copyright->text(),
             QStringLiteral("<html><head/><body><p><br/></p></body></html>"));
    const QStringList languages{"<English>", "<Chinese>", "<Japanese>", "<Russian>", "<French>"};
    for (int i = 0; i < languages.size(); ++i)
        QCOMPARE(m_ui.comboBox_Languages->itemText(i), languages.at(i));
    for (QAbstractButton *button : m_window->findChildren<QToolButton *>())
        QVERIFY2(button->text().isEmpty(), qPrintable(button->objectName()));
    for (QLabel *label :
         {m_ui.label_Title, m_ui.label_Busying, m_ui.label_PC, m_ui.label_Product, m_ui.label_Line,
          m_ui.label_Finger, m_ui.label_ProductConnected, m_ui.label_CurrentVersion})
        QVERIFY2(label->text().isEmpty(), qPrintable(label->objectName()));
}

QTEST_MAIN(tst_MainWindowForm)
#include "tst_mainwindowform.moc"
