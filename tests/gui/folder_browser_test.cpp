// The folder chooser: the path edit, the folder checks at OK, creating a missing folder.
#include "gui_support.h"

#include "gui/folder_browser.h"

#include <QLineEdit>
#include <QAbstractItemView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

struct Outcome {
    int result = 0;
    QStringList messages;
    bool stayedOpen = false;
    bool focusInPathEdit = false;
};

// Types `path` into the browser and presses OK, answering a message box with `answer`;
// when the browser stays open it is cancelled.
Outcome TypeAndConfirm(const QString& initial, const QString& path, QMessageBox::StandardButton answer,
                       std::string* chosen = nullptr)
{
    Outcome outcome;
    CFolderBrowser browser(QStringLiteral("Select Source"), QStringLiteral("title"), initial, nullptr);
    guitest::WhenModal<CFolderBrowser>([&](CFolderBrowser* shown) {
        shown->PathEdit()->setText(path);
        QVERIFY(shown->OkButton()->isEnabled());
        guitest::BoxAnswerer answerer(answer);
        shown->OkButton()->click();
        outcome.messages = answerer.texts;
        if (shown->isVisible()) {
            outcome.stayedOpen = true;
            outcome.focusInPathEdit = shown->focusWidget() == shown->PathEdit();
            shown->reject();
        }
    });
    outcome.result = browser.Run();
    if (chosen != nullptr)
        *chosen = browser.Folder();
    return outcome;
}

}  // namespace

class FolderBrowserTest : public QObject {
    Q_OBJECT

private slots:
    void init() { guitest::g_modalTimedOut = false; }
    void cleanup() { QVERIFY(!guitest::g_modalTimedOut); }

    void startsAtTheInitialFolder()
    {
        QTemporaryDir scratch;
        CFolderBrowser browser(QStringLiteral("Select Destination"), QStringLiteral("title"), scratch.path(), nullptr);
        QCOMPARE(browser.windowTitle(), QStringLiteral("Select Destination"));
        QCOMPARE(browser.PathEdit()->text(), scratch.path());
        QCOMPARE(QDir(browser.directory()).absolutePath(), scratch.path());

        CFolderBrowser blank(QStringLiteral("Select Source"), QStringLiteral("title"), QString(), nullptr);
        QCOMPARE(blank.PathEdit()->text(), QString());
        QVERIFY(!blank.OkButton()->isEnabled());
    }

    void existingFolderIsTakenAsTyped()
    {
        QTemporaryDir scratch;
        std::string chosen;
        const Outcome outcome = TypeAndConfirm(QString(), scratch.path(), QMessageBox::Ok, &chosen);
        QCOMPARE(outcome.result, 1);
        QVERIFY(outcome.messages.isEmpty());
        QCOMPARE(QString::fromStdString(chosen), scratch.path());
    }

    void invalidPathsAreReportedAndTheBrowserStaysOpen_data()
    {
        QTest::addColumn<QString>("tail");
        QTest::newRow("leading space") << "/ new";
        QTest::newRow("trailing dot") << "/new.";
        QTest::newRow("question mark inside") << "/ne?w";
        QTest::newRow("relative") << "";
    }

    void invalidPathsAreReportedAndTheBrowserStaysOpen()
    {
        QFETCH(QString, tail);
        QTemporaryDir scratch;
        const QString path = tail.isEmpty() ? QStringLiteral("relative/new") : scratch.path() + tail;
        const Outcome outcome = TypeAndConfirm(scratch.path(), path, QMessageBox::Ok);
        QCOMPARE(outcome.result, -1);
        QCOMPARE(outcome.messages, QStringList{"The folder:\n\n" + path + "\n\nis invalid. Please reenter."});
        QVERIFY(outcome.stayedOpen);
        QVERIFY(outcome.focusInPathEdit);
        QVERIFY(guitest::FilesIn(scratch.path()).isEmpty());
        QVERIFY(QDir(scratch.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    void missingNestedFolderIsCreatedAfterYes()
    {
        QTemporaryDir scratch;
        const QString path = scratch.path() + "/new/sub";
        std::string chosen;
        const Outcome outcome = TypeAndConfirm(scratch.path(), path, QMessageBox::Yes, &chosen);
        QCOMPARE(outcome.result, 1);
        QCOMPARE(outcome.messages,
                 QStringList{"The folder:\n\n" + path + "\n\ndoes not exist. Do you want the folder to be created?"});
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QString::fromStdString(chosen), path);
    }

    void noKeepsTheBrowserOpenAndCreatesNothing()
    {
        QTemporaryDir scratch;
        const Outcome outcome = TypeAndConfirm(scratch.path(), scratch.path() + "/new/sub", QMessageBox::No);
        QCOMPARE(outcome.result, -1);
        QCOMPARE(outcome.messages.size(), 1);
        QVERIFY(outcome.stayedOpen);
        QVERIFY(outcome.focusInPathEdit);
        QVERIFY(!QFileInfo::exists(scratch.path() + "/new"));
    }

    void folderThatCannotBeCreatedIsReported()
    {
        QTemporaryDir scratch;
        QFile file(scratch.path() + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString path = scratch.path() + "/file/sub";
        const Outcome outcome = TypeAndConfirm(scratch.path(), path, QMessageBox::Yes);
        QCOMPARE(outcome.result, -1);
        QCOMPARE(outcome.messages.size(), 2);
        QCOMPARE(outcome.messages[1], "The folder:\n\n" + path + "\n\ncan not be created. Please double check.");
        QVERIFY(outcome.stayedOpen);
    }

    void homeAndTrailingSeparatorsAreReadAsLinuxUsersMeanThem_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("home") << "~" << "HOME";
        QTest::newRow("inside home, trailing separator") << "~/photos/" << "HOME/photos";
        QTest::newRow("trailing separators") << "HOME/photos//" << "HOME/photos";
        QTest::newRow("the root") << "/" << "/";
    }

    void homeAndTrailingSeparatorsAreReadAsLinuxUsersMeanThem()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QTemporaryDir home;
        QDir().mkpath(home.path() + "/photos");
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        std::string chosen;
        const Outcome outcome =
            TypeAndConfirm(QString(), typed.replace("HOME", home.path()), QMessageBox::No, &chosen);
        qputenv("HOME", savedHome);
        QCOMPARE(outcome.result, 1);
        QVERIFY(outcome.messages.isEmpty());
        QCOMPARE(QString::fromStdString(chosen), expected.replace("HOME", home.path()));
    }

    void startsWithTheFocusInTheFolderField()
    {
        QTemporaryDir scratch;
        CFolderBrowser browser(QStringLiteral("Select Source"), QStringLiteral("title"), scratch.path(), nullptr);
        browser.show();
        QCOMPARE(browser.focusWidget(), browser.PathEdit());
    }

    void okTakesANewFolderUnderItsNewName()
    {
        QTemporaryDir scratch;
        CFolderBrowser browser(QStringLiteral("Select Destination"), QStringLiteral("title"), scratch.path(), nullptr);
        QString shownAfterCreate, shownAfterRename;
        bool renamed = false;
        guitest::WhenModal<CFolderBrowser>([&](CFolderBrowser* shown) {
            shown->findChild<QToolButton*>(QStringLiteral("newFolderButton"))->click();
            shownAfterCreate = shown->PathEdit()->text();
            // The name is typed into the editor that the view opens on the new folder.
            for (QAbstractItemView* view : shown->findChildren<QAbstractItemView*>()) {
                for (QLineEdit* editor : view->findChildren<QLineEdit*>()) {
                    if (!editor->isVisible())
                        continue;
                    editor->setText(QStringLiteral("Holiday"));
                    QTest::keyClick(editor, Qt::Key_Return);
                }
            }
            // The view commits the name from its event loop.
            renamed = QTest::qWaitFor([&] { return QFileInfo::exists(scratch.path() + "/Holiday"); });
            shownAfterRename = shown->PathEdit()->text();
            shown->OkButton()->click();
            if (shown->isVisible())
                shown->reject();
        });
        QCOMPARE(browser.Run(), 1);
        QVERIFY(renamed);
        QCOMPARE(shownAfterCreate, scratch.path() + "/New Folder");
        QCOMPARE(shownAfterRename, scratch.path() + "/Holiday");
        QCOMPARE(QString::fromStdString(browser.Folder()), scratch.path() + "/Holiday");
        QCOMPARE(QDir(scratch.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"Holiday"});
    }

    void pickingAFolderInTheViewFillsThePathEdit()
    {
        QTemporaryDir scratch;
        QDir().mkpath(scratch.path() + "/inner");
        CFolderBrowser browser(QStringLiteral("Select Source"), QStringLiteral("title"), scratch.path(), nullptr);
        browser.show();
        emit browser.currentChanged(scratch.path() + "/inner");
        QCOMPARE(browser.PathEdit()->text(), scratch.path() + "/inner");
        QVERIFY(browser.OkButton()->isEnabled());
        // The passing empty selection and stale old name of a rename leave the field alone.
        emit browser.currentChanged(QString());
        emit browser.currentChanged(scratch.path() + "/gone");
        QCOMPARE(browser.PathEdit()->text(), scratch.path() + "/inner");
        QVERIFY(browser.OkButton()->isEnabled());
        browser.PathEdit()->clear();
        QVERIFY(!browser.OkButton()->isEnabled());
    }
};

GUI_TEST_CLASS(FolderBrowserTest, "FolderBrowser")
#include "folder_browser_test.moc"
