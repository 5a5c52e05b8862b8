// The progress window: owner disabled while it lives, percentages, Cancel in its three forms.
#include "gui_support.h"

#include "gui/controls.h"
#include "gui/image_preview.h"
#include "gui/progress_dialog.h"
#include "app/photo_files.h"

#include <QLabel>
#include <QProgressBar>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <fstream>

using quillet::gui::FindControl;

class ProgressDialogTest : public QObject {
    Q_OBJECT

private slots:
    void ownerIsDisabledWhileItExists()
    {
        QWidget owner;
        owner.show();
        {
            CProgressDialog progress;
            QVERIFY(progress.Create(&owner));
            QVERIFY(progress.isVisible());
            QVERIFY(!owner.isEnabled());
            QVERIFY(progress.isEnabled());  // not disabled along with its owner
            QCOMPARE(progress.windowTitle(), QStringLiteral("Processing"));
            QCOMPARE(FindControl<QLabel>(&progress, 1004)->text(), QStringLiteral(" 0 %"));
            progress.Close();
            QVERIFY(owner.isEnabled());
            QVERIFY(!progress.isVisible());
        }
        // An owner that was disabled already stays so.
        owner.setEnabled(false);
        {
            CProgressDialog progress;
            QVERIFY(progress.Create(&owner));
        }
        QVERIFY(!owner.isEnabled());
    }

    void percentages()
    {
        CProgressDialog progress;
        QVERIFY(progress.Create(nullptr));
        auto* text = FindControl<QLabel>(&progress, 1004);
        auto* bar = FindControl<QProgressBar>(&progress, 1003);
        progress.SetRange(0, 4);
        progress.SetPos(2);
        QCOMPARE(text->text(), QStringLiteral("50%"));
        QCOMPARE(bar->value(), 2);
        progress.SetRange(0, 3);
        progress.SetPos(2);
        QCOMPARE(text->text(), QStringLiteral("66%"));
        progress.SetPos(3);
        QCOMPARE(text->text(), QStringLiteral("100%"));
        progress.SetRange(0, 4);
        progress.SetPos(6);  // 150 % of the range wraps
        QCOMPARE(text->text(), QStringLiteral("50%"));
        // The bar keeps the whole range, past what 16 bits hold.
        progress.SetRange(0, 70000);
        progress.SetPos(69999);
        QCOMPARE(bar->maximum(), 70000);
        QCOMPARE(bar->value(), 69999);
        QCOMPARE(text->text(), QStringLiteral("99%"));
    }

    void fileLineNamesEachFileElidedInTheMiddleAndTheWindowKeepsItsSize()
    {
        const std::string longName = "/photos/" + std::string(200, 'a') + "_IMG_0042.jpg";
        const std::vector<std::string> files{"/photos/first.jpg", longName};
        CProgressDialog progress;
        progress.SetFiles(&files);
        QVERIFY(progress.Create(nullptr));
        const QSize size = progress.size();
        QCOMPARE(progress.minimumSize(), progress.maximumSize());
        auto* line = progress.findChild<QLabel*>(QStringLiteral("fileLabel"));
        progress.SetRange(0, 2);
        progress.SetPos(0);
        QCOMPARE(line->text(), QStringLiteral("1 of 2: first.jpg"));
        progress.SetPos(1);
        QCOMPARE(progress.FileLine(), QString::fromStdString("2 of 2: " + longName.substr(8)));
        QVERIFY(line->text().startsWith(QStringLiteral("2 of 2: aaa")));
        QVERIFY(line->text().endsWith(QStringLiteral("IMG_0042.jpg")));
        QVERIFY(line->text().contains(QChar(0x2026)));
        QCOMPARE(line->toolTip(), progress.FileLine());
        QCOMPARE(progress.size(), size);
    }

    void cancelIsReportedOnceAndOnlySetsTheFlag()
    {
        CProgressDialog progress;
        QVERIFY(progress.Create(nullptr));
        QVERIFY(!progress.CheckCancelButton());
        auto* cancel = FindControl<QPushButton>(&progress, 2);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(progress.CheckCancelButton());
        QVERIFY(!progress.CheckCancelButton());

        QTest::keyClick(&progress, Qt::Key_Escape);
        QVERIFY(progress.isVisible());
        QVERIFY(progress.CheckCancelButton());

        progress.close();  // the close box
        QVERIFY(progress.isVisible());
        QVERIFY(progress.CheckCancelButton());
    }

    void pendingEventsAreHandledAtEachPoint()
    {
        CProgressDialog progress;
        QVERIFY(progress.Create(nullptr));
        progress.SetRange(0, 3);
        int handled = 0;
        QTimer::singleShot(0, [&] { ++handled; });
        progress.SetPos(0);
        QCOMPARE(handled, 1);
        QTimer::singleShot(0, [&] { ++handled; });
        progress.ShowPreview("/nowhere.jpg");
        QCOMPARE(handled, 2);
        QTimer::singleShot(0, [&] { FindControl<QPushButton>(&progress, 2)->click(); });
        QVERIFY(progress.CheckCancelButton());
    }

    void previewShowsEachThumbnailFittedOnWhiteAndKeepsItWhenRepainted()
    {
        test::TempFolder folder;
        test::WriteJpeg(folder / "t.jpg", 640, 480);
        std::ofstream(folder / "bad.jpg") << "not a picture";
        CProgressDialog progress;
        QVERIFY(progress.Create(nullptr));
        auto* preview = FindControl<CImagePreview>(&progress, 1024);
        QVERIFY(preview);
        const int w = preview->width(), h = preview->height();

        progress.ShowPreview(folder / "t.jpg");
        const quillet::CImageObject& shown = preview->Frame().Picture();
        // Fitted into the client area less 2 pixels a side, keeping the 4:3 shape.
        QCOMPARE(int(shown.Width()), w - 4);
        QCOMPARE(int(shown.Height()), int(480 / (640.0 / (w - 4))));
        const QImage grabbed = preview->grab().toImage();
        QCOMPARE(grabbed.pixel(0, 0) & 0xFFFFFF, 0x000000u);          // the black frame
        QCOMPARE(grabbed.pixel(1, 1) & 0xFFFFFF, 0xFFFFFFu);          // white around the picture
        QVERIFY((grabbed.pixel(w / 2, h / 2) & 0xFFFFFF) != 0xFFFFFFu);  // the thumbnail

        // A thumbnail that cannot be loaded leaves the frame white.
        progress.ShowPreview(folder / "bad.jpg");
        const QImage blank = preview->grab().toImage();
        QCOMPARE(blank.pixel(w / 2, h / 2) & 0xFFFFFF, 0xFFFFFFu);
        progress.Close();
    }
};

GUI_TEST_CLASS(ProgressDialogTest, "ProgressDialog")
#include "progress_dialog_test.moc"
