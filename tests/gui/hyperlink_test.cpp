// The web link: taking over the label, colours by state, opening by mouse and keyboard,
// the fallback handler and the message when no browser starts.
#include "gui_support.h"

#include "gui/hyperlink.h"

#include <QEnterEvent>
#include <QFile>
#include <QTest>
#include <QVBoxLayout>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// Puts a fake "xdg-open" first in PATH that records its address, complains on standard
// error and exits with `status`; without `present` PATH leads to no opener at all.
class FakeOpener {
public:
    explicit FakeOpener(int status = 0, bool present = true) : m_savedPath(qgetenv("PATH"))
    {
        if (present) {
            const QString script = m_dir.path() + "/xdg-open";
            QFile file(script);
            if (file.open(QIODevice::WriteOnly))
                file.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1/opened'\necho opener-complaint >&2\nexit %2\n")
                               .arg(m_dir.path())
                               .arg(status)
                               .toUtf8());
            file.close();
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("PATH", (present ? m_dir.path() + ":" + m_savedPath : m_dir.path()).toLocal8Bit());
    }
    ~FakeOpener() { qputenv("PATH", m_savedPath); }

    QStringList Opened() const
    {
        QFile file(m_dir.path() + "/opened");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
};

// Sends this process's standard error into a file while it lives.
class StderrCapture {
public:
    StderrCapture() : m_saved(dup(STDERR_FILENO))
    {
        const int fd = ::open((m_dir.path() + "/stderr").toLocal8Bit().constData(), O_WRONLY | O_CREAT, 0600);
        dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { Restore(); }
    QString Text()
    {
        Restore();
        QFile file(m_dir.path() + "/stderr");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    void Restore()
    {
        if (m_saved < 0)
            return;
        dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryDir m_dir;
    int m_saved;
};

// Points the freedesktop.org folders at a scratch folder while it lives.
class XdgSandbox {
public:
    XdgSandbox()
    {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
            m_saved.emplace_back(name, qgetenv(name));
            qputenv(name, (m_dir.path() + "/" + name).toLocal8Bit());
        }
        QDir().mkpath(m_dir.path() + "/XDG_DATA_HOME/applications");
    }
    ~XdgSandbox()
    {
        for (const auto& [name, value] : m_saved)
            qputenv(name, value);
    }
    QString path() const { return m_dir.path(); }

    // Makes `exec` the default handler of web pages.
    void SetHtmlHandler(const QString& exec)
    {
        Write(QStringLiteral("/XDG_DATA_HOME/applications/mimeapps.list"),
              QStringLiteral("[Default Applications]\ntext/html=probe.desktop\n"));
        Write(QStringLiteral("/XDG_DATA_HOME/applications/probe.desktop"),
              QStringLiteral("[Desktop Entry]\nType=Application\nExec=") + exec + "\n");
    }

    void Write(const QString& relative, const QString& text)
    {
        QFile file(m_dir.path() + relative);
        if (file.open(QIODevice::WriteOnly))
            file.write(text.toUtf8());
    }

private:
    QTemporaryDir m_dir;
    std::vector<std::pair<const char*, QByteArray>> m_saved;
};

}  // namespace

class HyperLinkTest : public QObject {
    Q_OBJECT

private slots:
    void init() { guitest::g_modalTimedOut = false; }
    void cleanup() { QVERIFY(!guitest::g_modalTimedOut); }

    void attachingExchangesTextAndAddress()
    {
        CHyperLink fromText;
        fromText.setText(QStringLiteral("https://example.org/a"));
        fromText.Attach();
        QCOMPARE(fromText.URL(), QStringLiteral("https://example.org/a"));

        QWidget parent;
        auto* layout = new QVBoxLayout(&parent);
        auto* link = new CHyperLink;
        layout->addWidget(link);
        link->Attach();
        link->SetURL(QStringLiteral("https://example.org/b"));
        QCOMPARE(link->text(), QString());  // the text is taken only when attaching
        link->setText(QStringLiteral("shown text"));
        link->Attach();
        QCOMPARE(link->text(), QStringLiteral("shown text"));
        QCOMPARE(link->URL(), QStringLiteral("https://example.org/b"));
        QCOMPARE(link->toolTip(), QStringLiteral("https://example.org/b"));
        QVERIFY(link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->width(), link->fontMetrics().size(Qt::TextSingleLine, link->text()).width() +
                                    link->contentsMargins().left() + link->contentsMargins().right());

        CHyperLink plain;
        plain.SetLinkStyle(quillet::kLinkNoHandCursor);
        plain.setText(QStringLiteral("x"));
        plain.Attach();
        QVERIFY(!plain.font().underline());
        QVERIFY(!plain.testAttribute(Qt::WA_SetCursor));
    }

    void colourFollowsTheState()
    {
        FakeOpener opener;
        QWidget parent;
        auto* link = new CHyperLink(&parent);
        link->setText(QStringLiteral("https://example.org/"));
        link->Attach();
        parent.show();
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));

        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), link->mapToGlobal(QPointF(1, 1)));
        QApplication::sendEvent(link, &enter);
        QVERIFY(link->IsOver());
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));  // no hover bit
        link->SetLinkStyle(quillet::kLinkDefaultStyle | quillet::kLinkHoverColour);
        QApplication::sendEvent(link, &enter);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(link, &leave);
        QVERIFY(!link->IsOver());

        QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(link, &focusIn);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 128, 128));
        QTest::keyClick(link, Qt::Key_Space);
        QTRY_VERIFY(link->IsVisited());
        QCOMPARE(opener.Opened(), QStringList{"https://example.org/"});
        QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(link, &focusOut);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(128, 0, 128));
    }

    void mouseOpensOnReleaseOrOnPress()
    {
        FakeOpener opener;
        CHyperLink link;
        link.setText(QStringLiteral("https://example.org/"));
        link.Attach();
        link.show();
        QTest::mousePress(&link, Qt::LeftButton);
        QVERIFY(!link.IsOpening());
        QTest::mouseRelease(&link, Qt::LeftButton);
        QTRY_VERIFY(link.IsVisited());
        QCOMPARE(opener.Opened().size(), 1);

        link.SetLinkStyle(quillet::kLinkDefaultStyle | quillet::kLinkOpenOnPress);
        QTest::mousePress(&link, Qt::LeftButton);
        QVERIFY(link.IsOpening());
        QTest::mouseRelease(&link, Qt::LeftButton);
        QTRY_VERIFY(!link.IsOpening());
        QCOMPARE(opener.Opened().size(), 2);
    }

    void failingOpenerFallsBackOnTheHtmlHandler()
    {
        FakeOpener opener(4);
        XdgSandbox xdg;
        const QString record = xdg.path() + "/args";
        const QString script = xdg.path() + "/handler.sh";
        xdg.Write("/handler.sh", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" + record + "\"\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        xdg.SetHtmlHandler(script + " --first \"%u\" --dropped");

        CHyperLink link;
        link.setText(QStringLiteral("quillet-probe:page"));
        link.Attach();
        link.FollowLink();
        QTRY_VERIFY(link.IsVisited());
        QCOMPARE(opener.Opened(), QStringList{"quillet-probe:page"});
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), QStringLiteral("--first\nquillet-probe:page\n"));
    }

    void noBrowserIsToldPlainlyQuietlyAndTheLinkStaysUnvisited_data()
    {
        QTest::addColumn<bool>("openerPresent");
        QTest::addColumn<bool>("handlerSet");
        QTest::newRow("no opener, no handler") << false << false;
        QTest::newRow("opener fails, handler missing") << true << true;
    }

    void noBrowserIsToldPlainlyQuietlyAndTheLinkStaysUnvisited()
    {
        QFETCH(bool, openerPresent);
        QFETCH(bool, handlerSet);
        FakeOpener opener(3, openerPresent);
        XdgSandbox xdg;
        if (handlerSet)
            xdg.SetHtmlHandler(xdg.path() + "/no-such-program %U");
        CHyperLink link;
        link.setText(QStringLiteral("https://www.brackenfold.example/"));
        link.Attach();
        guitest::BoxAnswerer answerer(QMessageBox::Ok);
        StderrCapture stderrCapture;
        link.FollowLink();
        QTRY_VERIFY(!link.IsOpening() && !answerer.texts.isEmpty());
        QCOMPARE(answerer.texts,
                 QStringList{"No web browser could be started to open https://www.brackenfold.example/"});
        QVERIFY(!link.IsVisited());
        QVERIFY(!stderrCapture.Text().contains("opener-complaint"));
    }
};

GUI_TEST_CLASS(HyperLinkTest, "HyperLink")
#include "hyperlink_test.moc"
