// The window under a larger desktop font: the layout grows by one factor,
// so every control keeps its place in the arrangement and nothing is cut,
// there as with the desktop's own font. (The rest of the window with the
// default font is test_window's.)

#include "gui/window/desktop_scale.h"
#include "support/panel_harness.h"

#include <QGroupBox>
#include <QRadioButton>

#include <cmath>

using namespace veloxa;

namespace {

// The window built while the application font is the desktop's at this size.
std::unique_ptr<test::PanelHarness> panelAt(double points)
{
    QFont desktop = QApplication::font();
    desktop.setPointSizeF(points);
    const QFont before = QApplication::font();
    QApplication::setFont(desktop);
    auto panel = std::make_unique<test::PanelHarness>();
    QApplication::setFont(before);
    return panel;
}

QString where(const QWidget *widget)
{
    const auto *frame = qobject_cast<const QGroupBox *>(widget);
    return widget->objectName() + (frame ? frame->title() : QString());
}

} // namespace

class TestDesktopFont : public QObject {
    Q_OBJECT

private slots:
    void scale_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<double>("fontFactor");
        QTest::addColumn<double>("geometryFactor");
        const auto points = [](double size) {
            QFont font;
            font.setPointSizeF(size);
            return font;
        };
        QFont pixels;
        pixels.setPixelSize(24);
        QTest::newRow("default") << points(9) << 96 << 1.0 << 1.0;
        QTest::newRow("smaller than the default") << points(7) << 96 << 1.0 << 1.0;
        QTest::newRow("16 pt") << points(16) << 96 << 16.0 / 9 << 16.0 / 9;
        QTest::newRow("font DPI 144") << points(9) << 144 << 1.0 << 1.5;
        QTest::newRow("20 pt at 192 DPI") << points(20) << 192 << 20.0 / 9 << 40.0 / 9;
        QTest::newRow("24 px at 96 DPI is 18 pt") << pixels << 96 << 2.0 << 2.0;
    }
    void scale()
    {
        QFETCH(QFont, font);
        QFETCH(int, dpi);
        QFETCH(double, fontFactor);
        QFETCH(double, geometryFactor);
        const window::LayoutScale scale = window::layoutScale(font, dpi);
        QCOMPARE(scale.font, fontFactor);
        QCOMPARE(scale.geometry, geometryFactor);
    }

    void layoutGrows_data()
    {
        QTest::addColumn<double>("points");
        for (const double points : {10.0, 12.0, 16.0, 20.0})
            QTest::addRow("%g pt", points) << points;
    }

    // Every control where the default layout has it, times the factor, and
    // every font grown by it.
    void layoutGrows()
    {
        QFETCH(double, points);
        const auto designed = panelAt(window::kDesignPointSize);
        const auto larger = panelAt(points);
        const double factor = points / window::kDesignPointSize;

        QCOMPARE(larger->form->size(), (QSizeF(designed->form->size()) * factor).toSize());
        QCOMPARE(larger->form->font().pointSizeF(), designed->form->font().pointSizeF() * factor);
        const auto widgets = designed->form->findChildren<QWidget *>();
        int compared = 0;
        for (const QWidget *widget : widgets) {
            if (widget->objectName().isEmpty() && !qobject_cast<const QGroupBox *>(widget))
                continue;
            const auto *twin = qobject_cast<const QGroupBox *>(widget)
                ? widget // found by its title below
                : larger->form->findChild<QWidget *>(widget->objectName());
            if (const auto *frame = qobject_cast<const QGroupBox *>(widget))
                for (QGroupBox *other : larger->form->findChildren<QGroupBox *>())
                    if (other->title() == frame->title())
                        twin = other;
            QVERIFY2(twin && twin != widget, qPrintable(where(widget)));
            const QRectF expected(QPointF(widget->pos()) * factor, QSizeF(widget->size()) * factor);
            const auto near = [](double a, double b) { return std::abs(a - b) <= 1; };
            QVERIFY2(near(twin->x(), expected.x()) && near(twin->y(), expected.y()), qPrintable(where(widget)));
            // The revision label sizes itself to its caption.
            if (widget->objectName() != QLatin1String("lblRev"))
                QVERIFY2(near(twin->width(), expected.width()) && near(twin->height(), expected.height()),
                         qPrintable(where(widget)));
            QCOMPARE(twin->font().pointSizeF(), widget->font().pointSizeF() * factor);
            ++compared;
        }
        QCOMPARE(compared, 10 + 26); // the frames and every named control
    }

    // Nothing is cut: controls inside their frames, captions inside their
    // buttons, frames' captions across their frames, a line of text in every box.
    void nothingIsCut_data()
    {
        layoutGrows_data();
        QTest::newRow("the desktop's own font") << 0.0;
    }
    void nothingIsCut()
    {
        QFETCH(double, points);
        const auto panel = points > 0 ? panelAt(points) : std::make_unique<test::PanelHarness>();
        const auto widgets = panel->form->findChildren<QWidget *>();
        for (const QWidget *widget : widgets) {
            const QWidget *container = widget->parentWidget();
            if (widget->isWindow() || (container != panel->form.get() && !qobject_cast<const QGroupBox *>(container)))
                continue;
            QVERIFY2(container->rect().contains(widget->geometry()), qPrintable(where(widget)));
            const QFontMetrics metrics = widget->fontMetrics();
            if (const auto *button = qobject_cast<const QPushButton *>(widget))
                QVERIFY2(metrics.horizontalAdvance(button->text()) + 8 <= button->width(), qPrintable(button->text()));
            if (const auto *option = qobject_cast<const QRadioButton *>(widget))
                QVERIFY2(option->sizeHint().width() <= option->width(), qPrintable(option->text()));
            if (const auto *frame = qobject_cast<const QGroupBox *>(widget))
                QVERIFY2(metrics.horizontalAdvance(frame->title()) + 8 <= frame->width(), qPrintable(frame->title()));
            if (const auto *label = qobject_cast<const QLabel *>(widget); label && !label->wordWrap())
                QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), qPrintable(label->text()));
            if (qobject_cast<const QLineEdit *>(widget))
                QVERIFY2(metrics.height() + 4 <= widget->height(), qPrintable(where(widget)));
        }
    }
};

QTEST_MAIN(TestDesktopFont)
#include "test_desktop_font.moc"
