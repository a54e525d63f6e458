// The window at start-up and its controls: widget tree, texts, menu, draw modes, brush field,
// shortcuts, zoom keys.
#include "window_support.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

namespace {

int centre_x(const QWidget *widget)
{
    return widget->mapTo(widget->window(), widget->rect().center()).x();
}

int centre_y(const QWidget *widget)
{
    return widget->mapTo(widget->window(), widget->rect().center()).y();
}

} // namespace

TEST(WindowStartUp, SizeTitleTabsAndHiddenViews)
{
    TestWindow window;
    EXPECT_EQ(window.size(), QSize(800, 600));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vellacut"));
    ASSERT_EQ(window.tabs->count(), 5);
    const QStringList expected {"Source Image", "Segmented", "Object", "Background", "Binary Mask"};
    const QList<GView *> views {window.source_image, window.segmented_image,
                                window.fg_segmented_image, window.bg_segmented_image,
                                window.binarymask_image};
    for (int n = 0; n < 5; ++n) {
        EXPECT_EQ(window.tabs->tabText(n), expected[n]);
        EXPECT_EQ(window.tabs->widget(n), views[n]);
    }
    EXPECT_EQ(window.tabs->currentIndex(), 0);
    for (GView *hidden : {window.edge_image, window.histo_image, window.prob_image}) {
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
        EXPECT_EQ(window.tabs->indexOf(hidden), -1);
    }
    EXPECT_EQ(window.source_image->objectName(), QStringLiteral("source_image"));
    EXPECT_EQ(window.histo_image->objectName(), QStringLiteral("histo_image"));
    EXPECT_TRUE(window.acceptDrops());
}

TEST(WindowStartUp, ControlsTextsAndInitialState)
{
    TestWindow window;
    EXPECT_TRUE(window.background_button->isCheckable());
    EXPECT_TRUE(window.object_button->isCheckable());
    EXPECT_FALSE(window.background_button->isChecked());
    EXPECT_FALSE(window.object_button->isChecked());
    EXPECT_EQ(window.source_image->draw_mode, -1);
    EXPECT_TRUE(window.use_bbox);
    EXPECT_TRUE(window.bbox_check->isChecked());
    EXPECT_TRUE(window.bbox_check->text().isEmpty());
    EXPECT_EQ(window.w_edit->text(), QStringLiteral("1.0"));
    EXPECT_EQ(window.v_edit->text(), QStringLiteral("0.45"));
    EXPECT_EQ(window.k_edit->text(), QStringLiteral("1000.0"));
    EXPECT_EQ(window.brush_edit->text(), QStringLiteral("5.0"));
    EXPECT_EQ(window.source_image->brush_width, 5);
    EXPECT_EQ(window.background_button->text(), QStringLiteral("Background"));
    EXPECT_EQ(window.object_button->text(), QStringLiteral("Object"));
    EXPECT_EQ(window.clear_button->text(), QStringLiteral("Clear Labels"));
    EXPECT_EQ(window.compute_button->text(), QStringLiteral("COMPUTE"));
    EXPECT_EQ(window.segmenter.w, 1.0);
    EXPECT_EQ(window.segmenter.v, 0.45);
    EXPECT_EQ(window.segmenter.k, 1000.0);

    QStringList titles;
    for (const QGroupBox *group : window.findChildren<QGroupBox *>())
        titles << group->title();
    titles.sort();
    EXPECT_EQ(titles,
              (QStringList {"Actions:", "Algorithm Parameters:", "Brush Size:", "Cut on Photo:",
                            "Draw Mode:"}));
    QStringList labels;
    for (const QLabel *label : window.findChildren<QLabel *>())
        labels << label->text();
    for (const char *text : {"w: ", "v: ", "k: ", "BoundingBox Optim.: "})
        EXPECT_TRUE(labels.contains(QString::fromLatin1(text))) << text;
}

TEST(WindowStartUp, ControlsRunLeftToRightInTwoRowsAboveTheTabs)
{
    TestWindow window;
    QApplication::processEvents();
    auto *w_label = window.findChild<QLabel *>(); // any label sits in the second row
    ASSERT_NE(w_label, nullptr);
    // First row: the two mode buttons, then the brush field.
    EXPECT_LT(centre_x(window.background_button), centre_x(window.object_button));
    EXPECT_LT(centre_x(window.object_button), centre_x(window.brush_edit));
    EXPECT_EQ(centre_y(window.background_button), centre_y(window.object_button));
    // Second row: w, v, k, the check box, then the two actions, all on one line.
    const QList<QWidget *> second {window.w_edit,     window.v_edit,       window.k_edit,
                                   window.bbox_check, window.clear_button, window.compute_button};
    for (int n = 1; n < second.size(); ++n)
        EXPECT_LT(centre_x(second[n - 1]), centre_x(second[n])) << n;
    EXPECT_LT(centre_y(window.brush_edit), centre_y(window.w_edit));
    EXPECT_LT(centre_y(window.compute_button), centre_y(window.tabs));
    // The tabs take most of the height.
    EXPECT_GT(window.tabs->height(), window.height() / 2);
}

TEST(WindowStartUp, FileMenuActionsWithShortcutsTipsAndIcons)
{
    TestWindow window;
    const QList<QAction *> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Edit"));
    const QList<QAction *> entries = menus[0]->menu()->actions();
    ASSERT_EQ(entries.size(), 8);
    EXPECT_EQ(entries[0], window.open_action);
    EXPECT_EQ(entries[1], window.recent_menu->menuAction());
    EXPECT_EQ(entries[2], window.save_action);
    EXPECT_TRUE(entries[3]->isSeparator());
    EXPECT_EQ(entries[4], window.open_strokes_action);
    EXPECT_EQ(entries[5], window.save_strokes_action);
    EXPECT_TRUE(entries[6]->isSeparator());
    EXPECT_EQ(entries[7], window.quit_action);
    EXPECT_EQ(window.quit_action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("&Compute"));
    EXPECT_EQ(menus[2]->menu()->actions(),
              (QList<QAction *> {window.compute_action, window.cancel_action, window.live_action}));
    EXPECT_EQ(window.compute_action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Return")));
    EXPECT_EQ(window.cancel_action->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_TRUE(window.live_action->isCheckable());
    EXPECT_FALSE(window.live_action->isChecked());
    EXPECT_EQ(window.open_action->text(), QStringLiteral("&Open file..."));
    EXPECT_EQ(window.save_action->text(), QStringLiteral("&Save files..."));
    EXPECT_EQ(window.open_action->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(window.save_action->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(window.open_action->statusTip(), QStringLiteral("Open a PNG file"));
    EXPECT_EQ(window.save_action->statusTip(), QStringLiteral("Save the PNG files"));
    // Compiled in: present whatever the working directory.
    EXPECT_FALSE(window.open_action->icon().isNull());
    EXPECT_FALSE(window.save_action->icon().isNull());
    EXPECT_FALSE(window.open_action->icon().pixmap(32, 32).isNull());
}

TEST(WindowStartUp, SolverMenuRemembersTheChoiceForTheNextWindow)
{
    for (const char *name : {"solver_fast", "solver_reference"}) {
        TestWindow().findChild<QAction *>(QLatin1String(name))->trigger();
        EXPECT_TRUE(TestWindow().findChild<QAction *>(QLatin1String(name))->isChecked()) << name;
    }
}

TEST(WindowControls, DrawModeStateTable)
{
    TestWindow window;
    const auto state = [&window] {
        return std::tuple(window.source_image->draw_mode, window.background_button->isChecked(),
                          window.object_button->isChecked());
    };
    // Nothing checked: a drag on the canvas paints nothing.
    drag(*window.source_image, {{40, 40}, {60, 60}, {80, 80}});
    const QImage placeholder = window.source_image->pixmap->toImage();
    EXPECT_EQ(placeholder.pixel(60, 60), qRgb(0, 0, 0));
    EXPECT_EQ(placeholder.pixel(80, 80), qRgb(0, 0, 0));

    QTest::mouseClick(window.background_button, Qt::LeftButton);
    EXPECT_EQ(state(), std::tuple(1, true, false));
    QTest::mouseClick(window.object_button, Qt::LeftButton);
    EXPECT_EQ(state(), std::tuple(2, false, true));
    QTest::mouseClick(window.object_button, Qt::LeftButton);
    EXPECT_EQ(state(), std::tuple(-1, false, false));
    QTest::mouseClick(window.object_button, Qt::LeftButton);
    QTest::mouseClick(window.background_button, Qt::LeftButton);
    EXPECT_EQ(state(), std::tuple(1, true, false));
    QTest::mouseClick(window.background_button, Qt::LeftButton);
    EXPECT_EQ(state(), std::tuple(-1, false, false));
}

TEST(WindowControls, BrushFieldSetsTheTruncatedWidth)
{
    TestWindow window;
    window.brush_edit->clear();
    EXPECT_EQ(window.source_image->brush_width, 0);
    QTest::keyClicks(window.brush_edit, QStringLiteral("7.9"));
    EXPECT_EQ(window.brush_edit->text(), QStringLiteral("7.9"));
    EXPECT_EQ(window.source_image->brush_width, 7);
    window.brush_edit->clear();
    QTest::keyClicks(window.brush_edit, QStringLiteral("12"));
    EXPECT_EQ(window.source_image->brush_width, 12);
    window.brush_edit->selectAll();
    QTest::keyClick(window.brush_edit, Qt::Key_Backspace);
    EXPECT_EQ(window.source_image->brush_width, 0);
    // Only the source canvas follows the field.
    EXPECT_EQ(window.segmented_image->brush_width, 5);
}

TEST(WindowControls, CtrlOAsksForAFileAndCtrlSWaitsForResults)
{
    TestWindow window;
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(window.open_asks, 1);
    EXPECT_EQ(window.save_asks, 0);
    // Nothing computed, nothing to save: the action is disabled, and so is its shortcut.
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(window.save_asks, 0);
    // Both dialogs were cancelled: nothing opened, nothing written, nothing complained about.
    EXPECT_TRUE(window.file_name.isEmpty());
    EXPECT_TRUE(window.warnings.isEmpty());
}

TEST(WindowControls, ZoomKeysActOnTheShownView)
{
    TestWindow window;
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    GView *view = window.source_image;
    const double fitted = view->transform().m11();
    QTest::keyClick(&window, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_NEAR(view->transform().m11(), fitted * 1.2, 1e-9);
    QTest::keyClick(&window, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_NEAR(view->transform().m11(), fitted, 1e-9);
    QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
    EXPECT_NEAR(view->transform().m11(), fitted, 1e-9);
    window.tabs->setCurrentIndex(1);
    const double segmented_fitted = window.segmented_image->transform().m11();
    QTest::keyClick(&window, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_NEAR(view->transform().m11(), fitted, 1e-9);
    EXPECT_NEAR(window.segmented_image->transform().m11(), segmented_fitted * 1.2, 1e-9);
}

TEST(WindowStartUp, MetaObjectSlotsInTheirFixedOrder)
{
    // Scripts and tools reach the slots through the meta-object by index, so the order, the
    // parameter names and the access are part of the window's interface.
    const QMetaObject &meta = Window::staticMetaObject;
    EXPECT_STREQ(meta.className(), "Window");
    struct Expected
    {
        const char *signature;
        const char *parameters;
        QMetaMethod::Access access;
    };
    const Expected expected[] = {
        {"open()", "", QMetaMethod::Private},
        {"open_file(QString)", "fn", QMetaMethod::Private},
        {"save()", "", QMetaMethod::Private},
        {"forgrdmode_event()", "", QMetaMethod::Private},
        {"backgrdmode_event()", "", QMetaMethod::Private},
        {"compute_event()", "", QMetaMethod::Private},
        {"clear_event()", "", QMetaMethod::Private},
        {"build_labels()", "", QMetaMethod::Private},
        {"dragEnterEvent(QDragEnterEvent*)", "event", QMetaMethod::Private},
        {"dropEvent(QDropEvent*)", "event", QMetaMethod::Private},
        {"brush_slot(QString)", "text", QMetaMethod::Private},
        {"gview_addpoint_slot(int,int,int)", "mode,index,value", QMetaMethod::Public},
    };
    ASSERT_EQ(meta.methodCount() - meta.methodOffset(), 12);
    for (int n = 0; n < 12; ++n) {
        const QMetaMethod method = meta.method(meta.methodOffset() + n);
        SCOPED_TRACE(n);
        EXPECT_EQ(method.methodType(), QMetaMethod::Slot);
        EXPECT_EQ(method.methodSignature().toStdString(), expected[n].signature);
        EXPECT_EQ(method.parameterNames().join(',').toStdString(), expected[n].parameters);
        EXPECT_EQ(method.access(), expected[n].access);
    }
}
