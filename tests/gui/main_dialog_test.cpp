// The main dialog: what it shows from the store, the exchange, Exit and close, START.
#include "gui_support.h"

#include "core/version.h"

#include "gui/about_dialog.h"
#include "gui/controls.h"
#include "gui/folder_browser.h"
#include "gui/main_dialog.h"
#include "gui/progress_dialog.h"
#include "gui/qsettings_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

#include <functional>

using quillet::gui::FindControl;

namespace {

QSettings Store()
{
    return QSettings(QStringLiteral("Brackenfold"), QStringLiteral("Quillet"));
}

// Stores both folders as the folder browser would.
void StoreFolders(const QString& in, const QString& out)
{
    QSettings settings = Store();
    settings.setValue("Settings/PathIn", in);
    settings.setValue("Settings/PathOut", out);
}

QString EditText(QWidget* dialog, int id)
{
    return FindControl<QLineEdit>(dialog, id)->text();
}

bool Checked(QWidget* dialog, int id)
{
    return FindControl<QAbstractButton>(dialog, id)->isChecked();
}

// Clicks START and answers the message box that it shows; gives its text.
QString StartExpectingMessage(CMainDialog& dialog, QMessageBox::Icon* icon = nullptr, QMessageBox* seen = nullptr)
{
    QString text;
    guitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        if (icon != nullptr)
            *icon = box->icon();
        if (seen != nullptr) {
            seen->setWindowTitle(box->windowTitle());
            seen->setDetailedText(box->detailedText());
        }
        box->button(QMessageBox::Ok)->click();
    });
    FindControl<QPushButton>(&dialog, 1015)->click();
    return text;
}

// Watches a run from inside its event dispatching: the percentage texts shown, whether the
// main dialog was disabled, and `act` (by default a click on Cancel) once `actAt` is shown.
class RunWatcher : public QObject {
public:
    RunWatcher(QWidget* mainDialog, QString actAt, std::function<void(CProgressDialog*)> act = {})
        : m_main(mainDialog), m_actAt(std::move(actAt)), m_act(std::move(act))
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] { Look(); });
        m_timer.start();
    }

    QStringList texts;
    QStringList fileLines;
    bool mainWasDisabled = false;

private:
    void Look()
    {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<CProgressDialog*>(window);
            if (progress == nullptr || !progress->isVisible())
                continue;
            const QString text = FindControl<QLabel>(progress, 1004)->text();
            if (texts.isEmpty() || texts.last() != text)
                texts << text;
            if (!progress->FileLine().isEmpty() && !fileLines.contains(progress->FileLine()))
                fileLines << progress->FileLine();
            mainWasDisabled = mainWasDisabled || !m_main->isEnabled();
            if (!m_actAt.isEmpty() && text == m_actAt) {
                m_actAt.clear();
                if (m_act)
                    m_act(progress);
                else
                    QTest::mouseClick(FindControl<QPushButton>(progress, 2), Qt::LeftButton);
            }
        }
    }

    QWidget* m_main;
    QString m_actAt;
    std::function<void(CProgressDialog*)> m_act;
    QTimer m_timer;
};

bool AnyProgressWindowShown()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (qobject_cast<CProgressDialog*>(window) != nullptr && window->isVisible())
            return true;
    }
    return false;
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        guitest::ClearStore();
        guitest::g_modalTimedOut = false;
    }
    void cleanup() { QVERIFY(!guitest::g_modalTimedOut); }

    void firstRunShowsTheDefaults()
    {
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Quillmaker"));
        QCOMPARE(EditText(&dialog, 1006), QStringLiteral("640"));
        QCOMPARE(EditText(&dialog, 1007), QStringLiteral("480"));
        QVERIFY(Checked(&dialog, 1012));   // Perfect Fit
        QVERIFY(Checked(&dialog, 1016));   // Fit inside W && H
        QCOMPARE(FindControl<QComboBox>(&dialog, 1019)->currentText(), QStringLiteral("Bi-linear"));
        QVERIFY(Checked(&dialog, 1004));   // Enhanced Sampling
        QVERIFY(!Checked(&dialog, 1005) && !Checked(&dialog, 1011) && !Checked(&dialog, 1018) &&
                !Checked(&dialog, 1022) && !Checked(&dialog, 1023));
        QCOMPARE(EditText(&dialog, 1010), QStringLiteral("65"));
        QCOMPARE(EditText(&dialog, 1020), QStringLiteral("80"));
        QCOMPARE(EditText(&dialog, 1000), QString());
        QCOMPARE(EditText(&dialog, 1002), QString());
        QCOMPARE(EditText(&dialog, 1017), QStringLiteral("0"));
        QVERIFY(FindControl<QPushButton>(&dialog, 1)->isDefault());
    }

    void storedFoldersShowWithOneSeparatorAndTheSourceIsScanned()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 2);
        StoreFolders(photos, "/");
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        QCOMPARE(EditText(&dialog, 1000), photos + "/");
        QCOMPARE(EditText(&dialog, 1002), QStringLiteral("/"));
        QCOMPARE(EditText(&dialog, 1017), QStringLiteral("2"));
        QCOMPARE(dialog.Files().size(), size_t{2});
    }

    void qualityAndSubFoldersStartAtTheirDefaultsEveryTime()
    {
        quillet::gui::QtSettingsStore store;
        {
            CMainDialog dialog(store);
            FindControl<QLineEdit>(&dialog, 1020)->setText("95");
            FindControl<QCheckBox>(&dialog, 1023)->click();
            dialog.accept();
            QCOMPARE(dialog.Settings().Quality, 95u);
            QCOMPARE(dialog.Settings().SubDirs, 1u);
        }
        QVERIFY(!Store().contains("Settings/Quality"));
        CMainDialog again(store);
        QCOMPARE(EditText(&again, 1020), QStringLiteral("80"));
        QVERIFY(!Checked(&again, 1023));
    }

    void moreOptionsShowTheOrientationAndLocationSwitchesAndStoreThem()
    {
        quillet::gui::QtSettingsStore store;
        {
            CMainDialog dialog(store);
            auto* group = dialog.findChild<QGroupBox*>(QStringLiteral("extraOptions"));
            QVERIFY(group != nullptr);
            QCOMPARE(group->title(), QStringLiteral("More options"));
            auto* rotate = group->findChild<QCheckBox*>(QStringLiteral("autoRotateCheck"));
            auto* location = group->findChild<QCheckBox*>(QStringLiteral("stripGpsCheck"));
            QVERIFY(rotate != nullptr && location != nullptr);
            QCOMPARE(rotate->text(), QStringLiteral("Rotate by orientation tag"));
            QCOMPARE(location->text(), QStringLiteral("Remove location"));
            QVERIFY(rotate->isChecked() && !location->isChecked());
            rotate->click();
            location->click();
            dialog.accept();
            QCOMPARE(dialog.Settings().AutoRotate, 0u);
            QCOMPARE(dialog.Settings().StripGPS, 1u);
        }
        QCOMPARE(Store().value("Settings/AutoRotate").toInt(), 0);
        QCOMPARE(Store().value("Settings/StripGPS").toInt(), 1);
        QCOMPARE(Store().value("Settings/ToSRGB").toInt(), 0);
        CMainDialog again(store);
        QVERIFY(!again.findChild<QCheckBox*>(QStringLiteral("autoRotateCheck"))->isChecked());
        QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("stripGpsCheck"))->isChecked());
    }

    void allPictureTypesCountsThemAndIsStored()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 2);
        QFile(photos + "/drawing.PNG").open(QIODevice::WriteOnly);
        StoreFolders(photos, "/");
        quillet::gui::QtSettingsStore store;
        {
            CMainDialog dialog(store);
            auto* allTypes = dialog.findChild<QCheckBox*>("allTypesCheck");
            QVERIFY(allTypes != nullptr);
            QCOMPARE(allTypes->text(), QStringLiteral("All picture types"));
            QVERIFY(!allTypes->isChecked());
            QCOMPARE(EditText(&dialog, 1017), QStringLiteral("2"));
            allTypes->click();
            QCOMPARE(EditText(&dialog, 1017), QStringLiteral("3"));
            dialog.accept();
        }
        QCOMPARE(Store().value("Settings/AllTypes").toInt(), 1);
        CMainDialog again(store);
        QVERIFY(again.findChild<QCheckBox*>("allTypesCheck")->isChecked());
        QCOMPARE(EditText(&again, 1017), QStringLiteral("3"));
    }

    void storedValuesWithoutAControlReadBackAsMinusOne()
    {
        {
            QSettings settings = Store();
            settings.setValue("Settings/Type", 7);
            settings.setValue("Settings/ResType", 5);
        }
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        QVERIFY(!Checked(&dialog, 1012) && !Checked(&dialog, 1013) && !Checked(&dialog, 1014));
        QCOMPARE(FindControl<QComboBox>(&dialog, 1019)->currentIndex(), -1);
        // The scan at start-up has read the controls back already.
        QVERIFY(dialog.UpdateData(true));
        QCOMPARE(dialog.Settings().Type, -1);
        QCOMPARE(dialog.Settings().ResType, -1);
        // The portrait group is untouched by the empty rule group.
        QCOMPARE(dialog.Settings().Portrait, 1);
    }

    void badNumberStopsTheExchangeAndExitStaysOpen()
    {
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        FindControl<QCheckBox>(&dialog, 1004)->setChecked(false);  // before Height: taken
        FindControl<QLineEdit>(&dialog, 1006)->setText(" 12\t");    // before Height: taken
        FindControl<QLineEdit>(&dialog, 1007)->setText("-5");
        FindControl<QLineEdit>(&dialog, 1010)->setText("7");        // after Height: kept
        FindControl<QCheckBox>(&dialog, 1022)->setChecked(true);    // after Height: kept

        QString message;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        guitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        FindControl<QPushButton>(&dialog, 1)->click();  // Exit
        QCOMPARE(message, QStringLiteral("Please enter a positive integer."));
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.focusWidget(), FindControl<QWidget>(&dialog, 1007));
        QCOMPARE(dialog.Settings().Sampling, 0u);
        QCOMPARE(dialog.Settings().Width, 12u);
        QCOMPARE(dialog.Settings().Middle, 65u);
        QCOMPARE(dialog.Settings().Boost, 0u);
    }

    void badNumberKeepsWhatWasTypedSelected()
    {
        QTemporaryDir scratch;
        StoreFolders(guitest::MakeJpegs(scratch.path() + "/photos", 1), scratch.path());
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        auto* width = FindControl<QLineEdit>(&dialog, 1006);
        width->setText(QStringLiteral("12o"));
        QCOMPARE(StartExpectingMessage(dialog), QStringLiteral("Please enter a positive integer."));
        QCOMPARE(width->text(), QStringLiteral("12o"));
        QCOMPARE(width->selectedText(), QStringLiteral("12o"));
        QCOMPARE(dialog.focusWidget(), width);
        QVERIFY(guitest::FilesIn(scratch.path()).isEmpty());
    }

    void focusStartsOnTheSourceButtonAndTabEntersRadioGroupsOnTheCheckedButton()
    {
        Store().setValue("Settings/Type", 1);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QCOMPARE(dialog.focusWidget(), FindControl<QWidget>(&dialog, 1001));
        auto tab = [&](bool forward) {
            QTest::keyClick(dialog.focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab);
            return dialog.focusWidget()->property("id").toInt();
        };
        FindControl<QWidget>(&dialog, 1007)->setFocus();
        QCOMPARE(tab(true), 1013);   // the checked rule
        QCOMPARE(tab(true), 1016);   // the checked portrait rule
        QCOMPARE(tab(true), 1010);
        QCOMPARE(tab(false), 1016);
        QCOMPARE(tab(false), 1013);
        QCOMPARE(tab(false), 1007);
    }

    void windowKeepsItsSizeAndReadOnlyFieldsLookAndTellIt()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 1);
        StoreFolders(photos, scratch.path());
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.size(), dialog.minimumSize());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
        for (int id : {1000, 1002, 1017}) {
            const QPalette palette = FindControl<QLineEdit>(&dialog, id)->palette();
            QCOMPARE(palette.color(QPalette::Base), palette.color(QPalette::Window));
        }
        QCOMPARE(FindControl<QWidget>(&dialog, 1000)->toolTip(), photos + "/");
        QCOMPARE(FindControl<QWidget>(&dialog, 1002)->toolTip(), scratch.path() + "/");
        QCOMPARE(FindControl<QWidget>(&dialog, 1001)->toolTip(), QStringLiteral("Choose the source folder"));
        QCOMPARE(FindControl<QWidget>(&dialog, 1003)->toolTip(), QStringLiteral("Choose the destination folder"));
    }

    void closeBoxDiscardsWhileExitAndEnterKeep()
    {
        quillet::gui::QtSettingsStore store;
        {
            CMainDialog dialog(store);
            dialog.show();
            FindControl<QLineEdit>(&dialog, 1006)->setText("320");
            dialog.close();  // the close box
            QVERIFY(!dialog.isVisible());
        }
        QCOMPARE(Store().value("Settings/Width").toInt(), 640);
        {
            CMainDialog dialog(store);
            dialog.show();
            FindControl<QLineEdit>(&dialog, 1006)->setText("320");
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
        }
        QCOMPARE(Store().value("Settings/Width").toInt(), 640);
        {
            CMainDialog dialog(store);
            dialog.show();
            auto* width = FindControl<QLineEdit>(&dialog, 1006);
            width->setText("320");
            FindControl<QRadioButton>(&dialog, 1014)->setChecked(true);
            // Focus moves in an active window only; the ">>>" button it leaves hands the
            // default back to "Exit".
            QApplication::setActiveWindow(&dialog);
            width->setFocus();
            QTest::keyClick(width, Qt::Key_Return);  // Enter works as Exit
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(Store().value("Settings/Width").toInt(), 320);
        QCOMPARE(Store().value("Settings/Type").toInt(), 2);
        QVERIFY(!Store().contains("Settings/PathIn"));  // folders are written only when picked
    }

    void moreOptionsHoldFastDecodingOnlyNewAndKeepFoldersAndStoreThem()
    {
        Store().setValue("Settings/OnlyNew", 1);
        quillet::gui::QtSettingsStore store;
        {
            CMainDialog dialog(store);
            dialog.show();
            auto* group = dialog.findChild<QGroupBox*>(QStringLiteral("extraOptions"));
            QVERIFY(group && group->isVisible());
            QCOMPARE(group->title(), QStringLiteral("More options"));
            auto* fast = group->findChild<QCheckBox*>(QStringLiteral("fastDecodeCheck"));
            auto* onlyNew = group->findChild<QCheckBox*>(QStringLiteral("onlyNewCheck"));
            auto* keepFolders = group->findChild<QCheckBox*>(QStringLiteral("keepFoldersCheck"));
            QVERIFY(fast && onlyNew && keepFolders);
            QCOMPARE(keepFolders->text(), QStringLiteral("Keep folder structure"));
            QVERIFY(!keepFolders->isChecked());
            keepFolders->setChecked(true);
            QCOMPARE(fast->text(), QStringLiteral("Fast decoding"));
            QCOMPARE(onlyNew->text(), QStringLiteral("Only new photos"));
            QVERIFY(!fast->isChecked());
            QVERIFY(onlyNew->isChecked());
            fast->setChecked(true);
            onlyNew->setChecked(false);
            FindControl<QPushButton>(&dialog, 1)->click();  // Exit
        }
        QCOMPARE(Store().value("Settings/FastDecode").toInt(), 1);
        QCOMPARE(Store().value("Settings/OnlyNew").toInt(), 0);
        QCOMPARE(Store().value("Settings/KeepFolders").toInt(), 1);
    }

    void formatIsStoredAndAWebpRunWritesWebpThumbnails()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 2);
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(photos, out);
        Store().setValue("Settings/Format", 7);  // out of range: JPEG
        quillet::gui::QtSettingsStore store;
        {
            CMainDialog dialog(store);
            dialog.show();
            auto* group = dialog.findChild<QGroupBox*>(QStringLiteral("extraOptions"));
            auto* combo = group->findChild<QComboBox*>(QStringLiteral("formatCombo"));
            auto* label = group->findChild<QLabel*>(QStringLiteral("formatLabel"));
            QVERIFY(combo && label);
            QCOMPARE(label->text(), QStringLiteral("Format"));
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QCOMPARE(items, (QStringList{"JPEG", "WebP", "AVIF"}));
            QCOMPARE(combo->currentText(), QStringLiteral("JPEG"));
            // The row lines up with the switches above it, label beside its field.
            auto* onlyNew = group->findChild<QCheckBox*>(QStringLiteral("onlyNewCheck"));
            QCOMPARE(label->x(), onlyNew->x());
            QVERIFY(label->geometry().right() < combo->x());
            QVERIFY(qAbs(label->geometry().center().y() - combo->geometry().center().y()) <= 1);
            combo->setCurrentIndex(1);
            FindControl<QPushButton>(&dialog, 1015)->click();  // START
            QCOMPARE(guitest::FilesIn(out), (QStringList{"p0.webp", "p1.webp"}));
            QFile thumbnail(out + "/p0.webp");
            QVERIFY(thumbnail.open(QIODevice::ReadOnly));
            const QByteArray head = thumbnail.read(12);
            QVERIFY(head.startsWith("RIFF") && head.endsWith("WEBP"));
            FindControl<QPushButton>(&dialog, 1)->click();  // Exit
        }
        QCOMPARE(Store().value("Settings/Format").toInt(), 1);
        CMainDialog again(store);
        QCOMPARE(again.findChild<QComboBox*>(QStringLiteral("formatCombo"))->currentText(), QStringLiteral("WebP"));
        QCOMPARE(again.Settings().Format, uint32_t{quillet::FormatWebp});
    }

    void startRefusesWithoutFilesAndForTheSameFolder()
    {
        QTemporaryDir scratch;
        const QString empty = scratch.path() + "/empty";
        const QString out = scratch.path() + "/out";
        QDir().mkpath(empty);
        QDir().mkpath(out);
        quillet::gui::QtSettingsStore store;
        StoreFolders(empty, out);
        {
            CMainDialog dialog(store);
            QMessageBox::Icon icon = QMessageBox::Warning;
            QCOMPARE(StartExpectingMessage(dialog, &icon), QStringLiteral("No files to process"));
            QCOMPARE(icon, QMessageBox::NoIcon);
            QVERIFY(dialog.isEnabled());
        }
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 3);
        StoreFolders(photos, photos);
        {
            CMainDialog dialog(store);
            QCOMPARE(StartExpectingMessage(dialog), QStringLiteral("Destination path is the same as source."));
        }
        StoreFolders(photos, out);
        {
            CMainDialog dialog(store);
            FindControl<QLineEdit>(&dialog, 1006)->setText("2147483648");  // not wrapped to a negative width
            QVERIFY(StartExpectingMessage(dialog).contains("at most 65500 x 65500"));
        }
        QCOMPARE(guitest::FilesIn(photos).size(), 3);
        QVERIFY(guitest::FilesIn(out).isEmpty());
    }

    void vanishedDestinationIsRefusedBeforeTheRun()
    {
        QTemporaryDir scratch;
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(guitest::MakeJpegs(scratch.path() + "/photos", 2), out);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        QDir(out).removeRecursively();
        RunWatcher watcher(&dialog, QString());
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QCOMPARE(StartExpectingMessage(dialog, &icon),
                 "Thumbnails can not be written to the destination folder:\n\n" + out + "/\n\nNo such file or directory.");
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(watcher.texts.isEmpty());
        QVERIFY(!QFileInfo::exists(out));
    }

    // A skipped source and one whose name a file of the user's holds: counted apart, listed in
    // the details, and the files walked in name order.
    void runWithASkippedFileEndsWithASummaryAndItsDetails()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 2);
        QFile notes(photos + "/notes.jpg");
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("not a picture");
        notes.close();
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        QFile mine(out + "/p1.jpg");
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.write("the user's own picture");
        mine.close();
        StoreFolders(photos, out);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        RunWatcher watcher(&dialog, QString());
        QMessageBox seen;
        QCOMPARE(StartExpectingMessage(dialog, nullptr, &seen),
                 QStringLiteral("1 thumbnail written, 1 kept (a file Quillet did not make was in the way), 1 file skipped"));
        QCOMPARE(seen.windowTitle(), QStringLiteral("Quillmaker"));
        QVERIFY2(seen.detailedText().startsWith("notes.jpg: "), qPrintable(seen.detailedText()));
        QVERIFY2(seen.detailedText().endsWith("p1.jpg: a file of this name that Quillet did not make is in the way (kept)"),
                 qPrintable(seen.detailedText()));
        QCOMPARE(watcher.fileLines, (QStringList{"1 of 3: notes.jpg", "2 of 3: p0.jpg", "3 of 3: p1.jpg"}));
        QFile kept(out + "/p1.jpg");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("the user's own picture"));
    }

    void runShowsEachFilesPercentage()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 10);
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(photos, out);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        RunWatcher watcher(&dialog, QString());
        FindControl<QPushButton>(&dialog, 1015)->click();
        const QStringList expected{" 0 %", "0%", "10%", "20%", "30%", "40%", "50%", "60%", "70%", "80%", "90%"};
        QCOMPARE(watcher.texts, expected);
        QVERIFY(watcher.mainWasDisabled);
        QVERIFY(dialog.isEnabled());
        QVERIFY(!AnyProgressWindowShown());
        QCOMPARE(guitest::FilesIn(out), guitest::FilesIn(photos));
    }

    void cancelDuringTheThirdFileEndsAfterItsThumbnail()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 10);
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(photos, out);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        RunWatcher watcher(&dialog, QStringLiteral("20%"));
        FindControl<QPushButton>(&dialog, 1015)->click();
        QCOMPARE(watcher.texts.last(), QStringLiteral("20%"));
        QCOMPARE(guitest::FilesIn(out).size(), 3);
        QVERIFY(dialog.isEnabled());
        QVERIFY(!AnyProgressWindowShown());
        // The dialog still works after the run: Exit closes it.
        FindControl<QPushButton>(&dialog, 1)->click();
        QVERIFY(!dialog.isVisible());
    }

    void closingDuringARunCancelsItFirst()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 5);
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(photos, out);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        // 20% of five files is shown during the second.
        RunWatcher watcher(&dialog, QStringLiteral("20%"), [&](CProgressDialog*) { dialog.reject(); });
        FindControl<QPushButton>(&dialog, 1015)->click();
        QCOMPARE(guitest::FilesIn(out).size(), 2);
        QVERIFY(!AnyProgressWindowShown());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void pickingTheSourceStoresItAndRescans()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 4);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        QString caption;
        guitest::WhenModal<CFolderBrowser>([&](CFolderBrowser* browser) {
            caption = browser->windowTitle();
            browser->PathEdit()->setText(photos);
            browser->OkButton()->click();
        });
        FindControl<QPushButton>(&dialog, 1001)->click();
        QCOMPARE(caption, QStringLiteral("Select Source"));
        QCOMPARE(Store().value("Settings/PathIn").toString(), photos);
        QCOMPARE(EditText(&dialog, 1000), photos + "/");
        QCOMPARE(EditText(&dialog, 1017), QStringLiteral("4"));

        guitest::WhenModal<CFolderBrowser>([&](CFolderBrowser* browser) {
            caption = browser->windowTitle();
            browser->reject();
        });
        FindControl<QPushButton>(&dialog, 1003)->click();
        QCOMPARE(caption, QStringLiteral("Select Destination"));
        QVERIFY(!Store().contains("Settings/PathOut"));
    }

    void moreOptionsSitBelowTheOptionsAndLastInTheTabOrder()
    {
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        auto* group = dialog.findChild<QGroupBox*>(QStringLiteral("extraOptions"));
        QVERIFY(group != nullptr);
        QCOMPARE(group->title(), QStringLiteral("More options"));
        dialog.show();
        QVERIFY(group->isVisible());
        auto* processing = dialog.findChild<QGroupBox*>(QStringLiteral("processingGroup"));
        QVERIFY(group->mapTo(&dialog, QPoint(0, 0)).y() > processing->mapTo(&dialog, QPoint(0, processing->height())).y());
        // From the link, the chain reaches the added switches before it wraps to the start.
        QWidget* first = dialog.findChild<QWidget*>(QStringLiteral("browseInButton"));
        QWidget* widget = FindControl<QWidget>(&dialog, 1026);
        QStringList chain;
        for (int i = 0; i < 100 && widget != first; ++i) {
            widget = widget->nextInFocusChain();
            if (widget->parentWidget() == group && (widget->focusPolicy() & Qt::TabFocus) != 0)
                chain << widget->objectName();
        }
        QCOMPARE(chain, (QStringList{"autoRotateCheck", "stripGpsCheck", "fastDecodeCheck", "onlyNewCheck",
                                     "keepFoldersCheck", "formatCombo"}));
    }

    void contextMenuOpensTheAboutBox()
    {
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        QStringList items;
        QString title;
        guitest::WhenModal<CAboutDialog>([&](CAboutDialog* about) {
            title = about->windowTitle();
            for (QLabel* label : about->findChildren<QLabel*>())
                items << label->text();
            about->accept();
        });
        QTimer::singleShot(0, [&] {
            QMenu* menu = nullptr;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* m = qobject_cast<QMenu*>(window); m != nullptr && m->isVisible())
                    menu = m;
            }
            QVERIFY(menu != nullptr);
            QCOMPARE(menu->actions().size(), 1);
            QCOMPARE(menu->actions()[0]->text(), QStringLiteral("&About Quillet..."));
            menu->setActiveAction(menu->actions()[0]);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QPoint at(5, dialog.height() - 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog.mapToGlobal(at));
        QApplication::sendEvent(&dialog, &event);
        QCOMPARE(title, QStringLiteral("About Quillmaker"));
        QVERIFY(items.contains("Quillmaker Version " QUILLET_VERSION));
        QVERIFY(items.contains("https://www.brackenfold.example/"));
    }
};

GUI_TEST_CLASS(MainDialogTest, "MainDialog")
#include "main_dialog_test.moc"
