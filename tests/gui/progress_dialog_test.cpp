// The progress window: owner disabled while it lives, percentages, Cancel in its three forms,
// and how a run beside it reports to it.
#include "gui_support.h"

#include "gui/batch_run.h"
#include "gui/controls.h"
#include "gui/image_preview.h"
#include "gui/progress_dialog.h"
#include "app/photo_files.h"

#include <QLabel>
#include <QProgressBar>
#include <QImage>
#include <QPushButton>
#include <QCoreApplication>
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
        CProgressDialog progress;
        QVERIFY(progress.Create(nullptr));
        const QSize size = progress.size();
        QCOMPARE(progress.minimumSize(), progress.maximumSize());
        auto* line = progress.findChild<QLabel*>(QStringLiteral("fileLabel"));
        progress.SetRange(0, 2);
        progress.SetPos(0);
        progress.ShowCurrentFile("/photos/first.jpg");
        QCOMPARE(line->text(), QStringLiteral("1 of 2: first.jpg"));
        progress.SetPos(1);
        progress.ShowCurrentFile(longName);
        QCOMPARE(progress.FileLine(), QString::fromStdString("2 of 2: " + longName.substr(8)));
        QVERIFY(line->text().startsWith(QStringLiteral("2 of 2: aaa")));
        QVERIFY(line->text().endsWith(QStringLiteral("IMG_0042.jpg")));
        QVERIFY(line->text().contains(QChar(0x2026)));
        QCOMPARE(line->toolTip(), progress.FileLine());
        QCOMPARE(progress.size(), size);
    }

    void cancelIsReportedOnceAndSaysCancellingUntilTheWindowGoes()
    {
        CProgressDialog progress;
        QVERIFY(progress.Create(nullptr));
        int asked = 0;
        connect(&progress, &CProgressDialog::cancelRequested, [&] { ++asked; });
        progress.SetRange(0, 4);
        progress.ShowCurrentFile("/photos/a.jpg");
        QVERIFY(!progress.CheckCancelButton());
        auto* cancel = FindControl<QPushButton>(&progress, 2);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(progress.CheckCancelButton());
        QVERIFY(!progress.CheckCancelButton());
        auto* line = progress.findChild<QLabel*>(QStringLiteral("fileLabel"));
        QCOMPARE(line->text(), QStringLiteral("Cancelling\u2026"));
        progress.SetPos(1);
        progress.ShowCurrentFile("/photos/b.jpg");  // a file in flight does not hide it
        QCOMPARE(line->text(), QStringLiteral("Cancelling\u2026"));

        QTest::keyClick(&progress, Qt::Key_Escape);
        QVERIFY(progress.isVisible());
        QVERIFY(progress.CheckCancelButton());

        progress.close();  // the close box
        QVERIFY(progress.isVisible());
        QVERIFY(progress.CheckCancelButton());
        QCOMPARE(asked, 4);
    }

    void runReportsWaitAsOneNoticeWhileTheWindowIsBusy()
    {
        test::TempFolder in, out;
        std::vector<std::string> files;
        for (int i = 0; i < 12; ++i) {
            files.push_back(in / ("r" + std::to_string(i) + ".jpg"));
            test::WriteJpeg(files.back(), 120, 90, {}, i);
        }
        quillet::BatchSettings settings;
        settings.PathIn = in.path().string() + "/";
        settings.PathOut = out.path().string() + "/";
        for (unsigned jobs : {1u, 2u}) {
            CBatchRun run(settings, files, jobs);
            int notices = 0, ends = 0;
            connect(&run, &CBatchRun::changed, [&] { ++notices; });
            connect(&run, &CBatchRun::finished, [&] { ++ends; });
            run.Start();
            run.Wait();  // the window thread busy for the whole run
            QCoreApplication::processEvents();
            QCOMPARE(notices, 1);
            QCOMPARE(ends, 1);
            const CBatchRun::Snapshot seen = run.Take();
            QCOMPARE(seen.upper, 12u);
            QCOMPARE(seen.position, jobs == 1 ? 11u : 12u);
            QVERIFY(!seen.preview.empty());  // only the newest of the twelve is shown
            QVERIFY(run.Take().preview.empty());
            QCOMPARE(run.Result().written, 12u);
        }
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
