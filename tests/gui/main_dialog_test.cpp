// The main dialog: what it shows from the store, the exchange, Exit and close, START.
#include "gui_support.h"

#include "core/version.h"

#include "app/photo_files.h"
#include "gui/about_dialog.h"
#include "gui/batch_run.h"
#include "gui/controls.h"
#include "gui/folder_browser.h"
#include "gui/main_dialog.h"
#include "gui/progress_dialog.h"
#include "gui/qsettings_store.h"
#include "gui/run_summary.h"
#include "gui/texts.h"
#include "core/run_report.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSet>
#include <QXmlStreamReader>
#include <QPushButton>
#include <QDesktopServices>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

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

// Every entry of a folder, hidden ones (where temporaries would be) included.
QStringList AllEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// Holds the files in the making from the `first`-th begun on, on the run's threads, until the
// test opens it (or ten seconds pass, which the test reports).
class FileGate {
public:
    explicit FileGate(int first) : m_first(first)
    {
        CBatchRun::SetFileStartHook([this](const std::string&) {
            if (++m_started < m_first)
                return;
            ++m_held;
            for (int i = 0; i < 1000 && !m_open; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            m_timedOut = m_timedOut || !m_open;
        });
    }
    ~FileGate()
    {
        Open();
        CBatchRun::SetFileStartHook({});
    }
    void Open() { m_open = true; }
    bool IsOpen() const { return m_open; }
    int Held() const { return m_held; }
    int Started() const { return m_started; }
    bool TimedOut() const { return m_timedOut; }

private:
    const int m_first;
    std::atomic<int> m_started{0};
    std::atomic<int> m_held{0};
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_timedOut{false};
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

public slots:
    void Opened(const QUrl& url) { m_opened << url; }

private:
    QList<QUrl> m_opened;

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
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Quillet"));
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
        for (const QPushButton* button : dialog.findChildren<QPushButton*>())
            QVERIFY(!button->isDefault() && !button->autoDefault());
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
            FindControl<QCheckBox>(&dialog, 1005)->click();  // Copy EXIF, which the switch belongs to
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
        Store().setValue("Settings/Portrait", 0);  // a rule that leaves the rules buttons enabled
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
        QCOMPARE(tab(true), 1008);   // the checked portrait rule
        QCOMPARE(tab(true), 1010);
        QCOMPARE(tab(false), 1008);
        QCOMPARE(tab(false), 1013);
        QCOMPARE(tab(false), 1007);
    }

    // Whole on a roomy screen; on a small or scaled one the window shrinks and its content
    // scrolls, START, Exit and the link each reachable.
    void windowFitsSmallScreensAndReadOnlyFieldsLookAndTellIt()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 1);
        StoreFolders(photos, scratch.path());
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        auto* area = dialog.findChild<QScrollArea*>(QStringLiteral("scrollArea"));
        QVERIFY(area);
        // Here the screen (800 x 600) is smaller than the content: the window keeps within it.
        QVERIFY(dialog.screen()->availableGeometry().contains(QRect(QPoint(0, 0), dialog.frameGeometry().size())));
        for (const QSize size : {QSize(1024, 600), QSize(640, 400)}) {
            dialog.resize(size);
            QCOMPARE(dialog.size(), size);
            QCOMPARE(area->horizontalScrollBar()->isVisible(), size.width() < area->widget()->minimumSizeHint().width());
            for (int id : {1015, 1, 1026}) {
                QWidget* control = FindControl<QWidget>(&dialog, id);
                area->ensureWidgetVisible(control);
                const QRect shown(control->mapTo(area->viewport(), QPoint(0, 0)), control->size());
                QVERIFY2(area->viewport()->rect().contains(shown), qPrintable(QString::number(id)));
            }
        }
        for (int id : {1000, 1002, 1017}) {
            const QPalette palette = FindControl<QLineEdit>(&dialog, id)->palette();
            QCOMPARE(palette.color(QPalette::Base), palette.color(QPalette::Window));
        }
        QCOMPARE(FindControl<QWidget>(&dialog, 1000)->toolTip(), photos + "/");
        QCOMPARE(FindControl<QWidget>(&dialog, 1002)->toolTip(), scratch.path() + "/");
        QCOMPARE(FindControl<QWidget>(&dialog, 1001)->toolTip(), QStringLiteral("Choose the source folder"));
        QCOMPARE(FindControl<QWidget>(&dialog, 1003)->toolTip(), QStringLiteral("Choose the destination folder"));
    }

    void closeBoxDiscardsExitKeepsAndEnterNeverCloses()
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
            // default on to no button.
            QApplication::setActiveWindow(&dialog);
            width->setFocus();
            QTest::keyClick(width, Qt::Key_Return);
            QVERIFY(dialog.isVisible());
            FindControl<QPushButton>(&dialog, 1)->click();  // Exit
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
            auto* exact = group->findChild<QCheckBox*>(QStringLiteral("exactCheck"));
            auto* keepFolders = group->findChild<QCheckBox*>(QStringLiteral("keepFoldersCheck"));
            QVERIFY(fast && onlyNew && exact && keepFolders);
            QCOMPARE(keepFolders->text(), QStringLiteral("Keep folder structure"));
            QVERIFY(!keepFolders->isChecked());
            keepFolders->setChecked(true);
            QCOMPARE(fast->text(), QStringLiteral("Fast decoding"));
            QCOMPARE(exact->text(), QStringLiteral("Exact resampling"));
            QVERIFY(!exact->isChecked());
            exact->setChecked(true);
            QCOMPARE(onlyNew->text(), QStringLiteral("Only new photos"));
            QVERIFY(!fast->isChecked());
            QVERIFY(onlyNew->isChecked());
            fast->setChecked(true);
            onlyNew->setChecked(false);
            FindControl<QPushButton>(&dialog, 1)->click();  // Exit
        }
        QCOMPARE(Store().value("Settings/FastDecode").toInt(), 1);
        QCOMPARE(Store().value("Settings/Exact").toInt(), 1);
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
            guitest::BoxAnswerer summary(QMessageBox::Ok);
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
        // Enter after "Show Details" closes the summary rather than folding the details again.
        QMessageBox seen;
        bool closedByEnter = false;
        guitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
            seen.setText(box->text());
            seen.setWindowTitle(box->windowTitle());
            seen.setDetailedText(box->detailedText());
            QApplication::setActiveWindow(box);
            for (QAbstractButton* button : box->buttons()) {
                if (box->buttonRole(button) == QMessageBox::ActionRole && button->objectName() != "openFolderButton") {
                    QTest::mouseClick(button, Qt::LeftButton);
                    button->setFocus();
                    QTest::keyClick(button, Qt::Key_Return);
                }
            }
            closedByEnter = !box->isVisible() && box->clickedButton() == box->button(QMessageBox::Ok);
            if (!closedByEnter)
                box->button(QMessageBox::Ok)->click();
        });
        FindControl<QPushButton>(&dialog, 1015)->click();
        QVERIFY(closedByEnter);
        QCOMPARE(seen.text().section('\n', 0, 0),
                 QStringLiteral("1 thumbnail written, 1 kept (a file Quillet did not make was in the way), 1 skipped"));
        QCOMPARE(seen.windowTitle(), QStringLiteral("Quillet"));
        QVERIFY2(seen.detailedText().startsWith("notes.jpg: "), qPrintable(seen.detailedText()));
        QVERIFY2(seen.detailedText().endsWith("p1.jpg: a file of this name that Quillet did not make is in the way (kept)"),
                 qPrintable(seen.detailedText()));
        QFile kept(out + "/p1.jpg");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("the user's own picture"));

    }

    void runShowsItsPercentagesInOrderAndWritesEveryFile()
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
        // The first file waits until the window was seen, so the run cannot end unseen.
        FileGate gate(1);
        QTimer opener;
        connect(&opener, &QTimer::timeout, [&] {
            if (!watcher.texts.isEmpty())
                gate.Open();
        });
        opener.start(5);
        // A clean run ends in a short summary too, whose "Open folder" shows the thumbnails.
        QString summary;
        guitest::WhenModal<QMessageBox>([&](QMessageBox* box) {
            summary = box->text();
            QVERIFY(box->detailedText().isEmpty());
            box->findChild<QPushButton*>(QStringLiteral("openFolderButton"))->click();
        });
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Opened");
        FindControl<QPushButton>(&dialog, 1015)->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QVERIFY2(QRegularExpression("^10 thumbnails written\nTime taken: \\d\\.\\d s$").match(summary).hasMatch(),
                 qPrintable(summary));
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(out + "/")});
        QVERIFY(!gate.TimedOut());
        // The window shows what the run reported when it looked: some steps may pass unseen.
        const QStringList steps{" 0 %", "0%", "10%", "20%", "30%", "40%", "50%", "60%", "70%", "80%", "90%", "100%"};
        QVERIFY(watcher.texts.first() == " 0 %" || watcher.texts.first() == "0%");
        for (int i = 1; i < watcher.texts.size(); ++i)
            QVERIFY2(steps.indexOf(watcher.texts[i]) > steps.indexOf(watcher.texts[i - 1]), qPrintable(watcher.texts.join(',')));
        QVERIFY(watcher.mainWasDisabled);
        QVERIFY(dialog.isEnabled());
        QVERIFY(!AnyProgressWindowShown());
        QCOMPARE(guitest::FilesIn(out), guitest::FilesIn(photos));
    }

    void severalJobsGiveTheSameFilesBytesAndSummaryAsOne()
    {
        QTemporaryDir scratch;
        const QString photos = scratch.path() + "/photos";
        QDir().mkpath(photos);
        for (int i = 0; i < 7; ++i)
            test::WriteJpeg((photos + QStringLiteral("/f%1.jpg").arg(i)).toStdString(), 300 + 53 * i, 200 + 17 * i, {}, i);
        QFile notes(photos + "/notes.jpg");
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("not a picture");
        notes.close();
        std::map<uint32_t, std::pair<QStringList, QString>> seen;
        std::map<uint32_t, std::map<QString, QByteArray>> made;
        for (uint32_t jobs : {1u, 3u}) {
            const QString out = scratch.path() + QStringLiteral("/out%1").arg(jobs);
            QDir().mkpath(out);
            StoreFolders(photos, out);
            Store().setValue("Settings/Sharpen", 1);
            Store().setValue("Settings/Jobs", jobs);
            quillet::gui::QtSettingsStore store;
            CMainDialog dialog(store);
            dialog.show();
            QMessageBox box;
            const QString summary = StartExpectingMessage(dialog, nullptr, &box).section('\n', 0, 0);
            seen[jobs] = {QStringList{summary}, box.detailedText()};
            for (const QString& name : AllEntries(out)) {
                QFile file(out + "/" + name);
                QVERIFY(file.open(QIODevice::ReadOnly));
                made[jobs][name] = file.readAll();
            }
        }
        QCOMPARE(seen[1].first, QStringList{QStringLiteral("7 thumbnails written, 1 skipped")});
        QCOMPARE(seen[3], seen[1]);
        QCOMPARE(made[1].size(), size_t(7));
        QVERIFY(made[3] == made[1]);
    }

    void cancelDuringSlowFilesIsShownAtOnceAndTheFilesInFlightFinish()
    {
        // Files are held in the making from the `first`-th begun on, until every job holds one.
        struct Row {
            uint32_t jobs;
            int first;
        };
        for (const Row row : {Row{1, 3}, Row{2, 1}}) {
            guitest::ClearStore();
            QTemporaryDir scratch;
            const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 8);
            const QString out = scratch.path() + "/out";
            QDir().mkpath(out);
            StoreFolders(photos, out);
            Store().setValue("Settings/Jobs", row.jobs);
            quillet::gui::QtSettingsStore store;
            CMainDialog dialog(store);
            dialog.show();
            FileGate gate(row.first);
            QString lineWhileHeld;
            QTimer look;
            look.setInterval(10);
            connect(&look, &QTimer::timeout, [&] {
                if (gate.Held() < int(row.jobs) || !lineWhileHeld.isEmpty())
                    return;
                for (QWidget* window : QApplication::topLevelWidgets()) {
                    if (auto* progress = qobject_cast<CProgressDialog*>(window); progress && progress->isVisible()) {
                        QTest::mouseClick(FindControl<QPushButton>(progress, 2), Qt::LeftButton);
                        lineWhileHeld = progress->findChild<QLabel*>(QStringLiteral("fileLabel"))->text();
                        gate.Open();
                    }
                }
            });
            look.start();
            guitest::BoxAnswerer summary(QMessageBox::Ok);
            FindControl<QPushButton>(&dialog, 1015)->click();
            QCOMPARE(lineWhileHeld, QStringLiteral("Cancelling\u2026"));
            QVERIFY(!gate.TimedOut());
            // The files in flight were finished, whole, and nothing was begun after Cancel.
            const int expected = row.first - 1 + int(row.jobs);
            QCOMPARE(gate.Started(), expected);
            QCOMPARE(AllEntries(out).size(), expected);
            for (const QString& name : AllEntries(out))
                QVERIFY2(test::JpegSize((out + "/" + name).toStdString()).width > 0, qPrintable(name));
            QCOMPARE(summary.texts.size(), 1);
            QCOMPARE(summary.texts[0].section('\n', 0, 0), QStringLiteral("Cancelled after %1 of 8 files").arg(expected));
            QVERIFY(dialog.isEnabled());
            QVERIFY(!AnyProgressWindowShown());
        }
    }

    void windowAnswersWhileAFileIsMade()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 2);
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(photos, out);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        FileGate gate(1);
        int ticksWhileHeld = 0;
        QString lineWhileHeld;
        QTimer tick;
        tick.setInterval(5);
        connect(&tick, &QTimer::timeout, [&] {
            if (gate.Held() == 0 || ++ticksWhileHeld < 20 || gate.IsOpen())
                return;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (auto* progress = qobject_cast<CProgressDialog*>(window); progress && progress->isVisible())
                    lineWhileHeld = progress->FileLine();
            }
            gate.Open();
        });
        tick.start();
        guitest::BoxAnswerer summary(QMessageBox::Ok);
        FindControl<QPushButton>(&dialog, 1015)->click();
        QVERIFY(!gate.TimedOut());
        QVERIFY(ticksWhileHeld >= 20);
        // Meanwhile the line names the file in the making.
        QVERIFY2(lineWhileHeld == "1 of 2: p0.jpg" || lineWhileHeld == "1 of 2: p1.jpg", qPrintable(lineWhileHeld));
        QCOMPARE(guitest::FilesIn(out).size(), 2);
    }

    void closingDuringARunStopsItWaitsAndLeavesNoTemporary()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 6);
        const QString out = scratch.path() + "/out";
        QDir().mkpath(out);
        StoreFolders(photos, out);
        Store().setValue("Settings/Jobs", 2);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        FileGate gate(1);
        bool visibleAfterClose = false;
        QTimer look;
        look.setInterval(10);
        connect(&look, &QTimer::timeout, [&] {
            if (gate.Held() < 2 || gate.IsOpen())
                return;
            dialog.close();  // the close box
            visibleAfterClose = dialog.isVisible() && AnyProgressWindowShown();
            gate.Open();
        });
        look.start();
        FindControl<QPushButton>(&dialog, 1015)->click();
        QVERIFY(!gate.TimedOut());
        QVERIFY(visibleAfterClose);  // it waits for the files in flight
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(AllEntries(out).size(), 2);
        for (const QString& name : AllEntries(out))
            QVERIFY2(!name.startsWith('.'), qPrintable(name));
    }

    // Idle switches are disabled, the rules with a note saying why; the quality is named by
    // the format and shown as it will be used.
    void controlsShowWhatTheSettingsDo()
    {
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        auto* note = dialog.findChild<QLabel*>(QStringLiteral("rulesNote"));
        QVERIFY(note);
        for (const auto& [portrait, rulesApply] : {std::pair{1008, true}, {1016, false}, {1009, true}, {1021, true}}) {
            FindControl<QRadioButton>(&dialog, portrait)->click();
            for (int rule : {1012, 1013, 1014})
                QCOMPARE(FindControl<QWidget>(&dialog, rule)->isEnabled(), rulesApply);
            QCOMPARE(note->isVisible(), !rulesApply);
        }
        QVERIFY(note->sizeHint().height() < 2 * note->fontMetrics().height());
        auto* format = dialog.findChild<QComboBox*>(QStringLiteral("formatCombo"));
        for (const auto& [index, label] : {std::pair{1, "WebP Quality:"}, {2, "AVIF Quality:"}, {0, "JPG Quality:"}}) {
            format->setCurrentIndex(index);
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("qualityLabel"))->text(), QString::fromLatin1(label));
        }
        auto* stripGps = dialog.findChild<QCheckBox*>(QStringLiteral("stripGpsCheck"));
        for (bool copyExif : {true, false}) {
            FindControl<QCheckBox>(&dialog, 1005)->setChecked(copyExif);
            QCOMPARE(stripGps->isEnabled(), copyExif);
        }
        auto* quality = FindControl<QLineEdit>(&dialog, 1020);
        for (const auto& [typed, shown] : {std::pair{"150", "100"}, {"0", "1"}, {"75", "75"}}) {
            quality->setText(QString::fromLatin1(typed));
            QVERIFY(dialog.UpdateData(true));
            QCOMPARE(quality->text(), QString::fromLatin1(shown));
            QCOMPARE(dialog.Settings().Quality, quality->text().toUInt());
        }
    }

    void pickingTheSourceStoresItAndRescans()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 4);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        QString caption;
        // A mistyped source is refused, never offered to be made.
        QStringList refusals;
        guitest::WhenModal<CFolderBrowser>([&](CFolderBrowser* browser) {
            caption = browser->windowTitle();
            QVERIFY(browser->testOption(QFileDialog::ReadOnly));
            browser->PathEdit()->setText(photos + "x");
            guitest::BoxAnswerer answer(QMessageBox::Yes);
            browser->OkButton()->click();
            refusals = answer.texts;
            browser->PathEdit()->setText(photos);
            browser->OkButton()->click();
        });
        FindControl<QPushButton>(&dialog, 1001)->click();
        QCOMPARE(caption, QStringLiteral("Select Source"));
        QCOMPARE(Store().value("Settings/PathIn").toString(), photos);
        QCOMPARE(EditText(&dialog, 1000), photos + "/");
        QCOMPARE(EditText(&dialog, 1017), QStringLiteral("4"));
        QCOMPARE(refusals, QStringList{QStringLiteral("The folder:\n\n%1x\n\ndoes not exist.").arg(photos)});
        QVERIFY(!QFileInfo::exists(photos + "x"));

        // A destination not chosen yet is looked for beside the source.
        QString startedIn;
        guitest::WhenModal<CFolderBrowser>([&](CFolderBrowser* browser) {
            caption = browser->windowTitle();
            startedIn = browser->directory().path();
            QVERIFY(!browser->testOption(QFileDialog::ReadOnly));
            browser->reject();
        });
        FindControl<QPushButton>(&dialog, 1003)->click();
        QCOMPARE(caption, QStringLiteral("Select Destination"));
        QCOMPARE(startedIn, scratch.path());
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
        QCOMPARE(chain, (QStringList{"autoRotateCheck", "stripGpsCheck", "fastDecodeCheck", "exactCheck",
                                     "onlyNewCheck", "keepFoldersCheck", "formatCombo"}));
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
        QCOMPARE(title, QStringLiteral("About Quillet"));
        QVERIFY(items.contains("Quillet version " QUILLET_VERSION));
        QVERIFY(items.contains("https://www.brackenfold.example/"));

        // The keyboard reaches it too: Tab from Exit, then Enter.
        title.clear();
        guitest::WhenModal<CAboutDialog>([&](CAboutDialog* about) {
            title = about->windowTitle();
            about->accept();
        });
        QApplication::setActiveWindow(&dialog);
        FindControl<QWidget>(&dialog, 1)->setFocus();
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
        QCOMPARE(dialog.focusWidget()->objectName(), QStringLiteral("aboutButton"));
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
        QCOMPARE(title, QStringLiteral("About Quillet"));
    }

    // With the German translation, complete, no English text is left in the window, its
    // messages or the run's summary.
    void germanWindowHasNoEnglishLeft()
    {
        QFile ts(QStringLiteral(QUILLET_TS_DE));
        QVERIFY(ts.open(QIODevice::ReadOnly));
        QSet<QString> english;  // the source texts whose German differs
        QString source;
        QStringList unfinished;
        for (QXmlStreamReader xml(&ts); !xml.atEnd();) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"source")
                source = xml.readElementText();
            if (xml.name() == u"translation" && xml.attributes().value("type") == u"unfinished")
                unfinished << source;
            if (xml.name() == u"translation" && !xml.attributes().hasAttribute("type")) {
                const QString german = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                if (german != source)
                    english << source;
            }
        }
        QCOMPARE(unfinished, QStringList());
        QVERIFY(english.size() > 80);
        const auto translators = quillet::gui::InstallTranslations(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(translators.size(), size_t(2));  // Qt's own and ours
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        QStringList shown{dialog.windowTitle()};
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            shown << widget->toolTip();
            if (auto* label = qobject_cast<QLabel*>(widget))
                shown << label->text();
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                shown << button->text();
            if (auto* group = qobject_cast<QGroupBox*>(widget))
                shown << group->title();
            if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                for (int i = 0; i < combo->count(); ++i)
                    shown << combo->itemText(i);
            }
        }
        for (int format : {1, 2}) {
            dialog.findChild<QComboBox*>(QStringLiteral("formatCombo"))->setCurrentIndex(format);
            shown << dialog.findChild<QLabel*>(QStringLiteral("qualityLabel"))->text();
        }
        quillet::BatchResult cancelled;
        cancelled.cancelled = true;
        cancelled.upToDate = 2;
        cancelled.skipped = {{"a.jpg", "no"}};
        cancelled.destinationLost = true;
        const std::string summary = quillet::RunEndText(cancelled, 9, 1.25, quillet::gui::TranslateReport, ',');
        QCOMPARE(QString::fromStdString(summary),
                 QStringLiteral("Der Zielordner ist verschwunden oder nicht mehr beschreibbar; der Lauf wurde angehalten.\n\n"
                                "Abgebrochen nach 3 von 9 Dateien\n0 Miniaturbilder geschrieben, 2 aktuell, 1 übersprungen\n"
                                "Dauer: 1,2 s"));
        shown << QCoreApplication::translate("RunSummary", "Open folder");
        QTemporaryDir scratch;
        QImage(4, 4, QImage::Format_RGB32).save(scratch.path() + "/a.png");
        quillet::BatchSettings settings;
        settings.PathIn = scratch.path().toStdString();
        QCOMPARE(quillet::OtherPicturesText(settings, quillet::gui::TranslateReport), "1 Bild eines anderen Typs (PNG)");
        for (auto refusal : {quillet::Refusal::NoFiles, quillet::Refusal::SameFolder, quillet::Refusal::EmptyDestination,
                             quillet::Refusal::EmptySize, quillet::Refusal::SizeTooLarge})
            shown << quillet::gui::Text(quillet::RefusalText(refusal));
        for (const QString& text : shown)
            QVERIFY2(!english.contains(text), qPrintable(text));
    }

    // A dropped folder sets the field it lands on, the source when it lands elsewhere; a file
    // stands for its folder.
    void droppedFolderSetsTheField()
    {
        QTemporaryDir scratch;
        const QString photos = guitest::MakeJpegs(scratch.path() + "/photos", 3);
        quillet::gui::QtSettingsStore store;
        CMainDialog dialog(store);
        dialog.show();
        struct Row {
            const char* target;
            QString dropped;
            const char* key;
            QString folder;
        };
        for (const Row& row : {Row{"pathOutEdit", scratch.path(), "Settings/PathOut", scratch.path()},
                               Row{"pathInEdit", photos + "/p1.jpg", "Settings/PathIn", photos},
                               Row{"", scratch.path(), "Settings/PathIn", scratch.path()}}) {
            QWidget* target = *row.target ? dialog.findChild<QWidget*>(row.target) : &dialog;
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(row.dropped)});
            QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            QVERIFY2(enter.isAccepted(), row.target);
            QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            QCOMPARE(Store().value(row.key).toString(), row.folder);
        }
        QCOMPARE(EditText(&dialog, 1017), QStringLiteral("0"));  // the last source holds no picture itself
        QMimeData nothing;
        nothing.setText(QStringLiteral("not a folder"));
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &nothing, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enter);
        QVERIFY(!enter.isAccepted());
    }
};

GUI_TEST_CLASS(MainDialogTest, "MainDialog")
#include "main_dialog_test.moc"
