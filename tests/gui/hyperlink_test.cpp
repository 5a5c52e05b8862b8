// The web link: taking over the label, colours by state, opening by mouse and keyboard,
// the fallback handler and the failure message.
#include "gui_support.h"

#include "gui/hyperlink.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QFile>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>

namespace {

// Takes the "https" addresses that the desktop opener is asked for.
class OpenerSpy : public QObject {
    Q_OBJECT

public:
    OpenerSpy() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~OpenerSpy() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QStringList opened;

public slots:
    void open(const QUrl& url) { opened << url.toString(); }
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

bool WaitForFile(const QString& path)
{
    for (int i = 0; i < 200 && !QFileInfo(path).size(); ++i)
        QTest::qWait(20);
    return QFileInfo(path).size() > 0;
}

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
        OpenerSpy opener;
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
        QCOMPARE(opener.opened, QStringList{"https://example.org/"});
        QVERIFY(link->IsVisited());
        QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(link, &focusOut);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(128, 0, 128));
    }

    void mouseOpensOnReleaseOrOnPress()
    {
        OpenerSpy opener;
        CHyperLink link;
        link.setText(QStringLiteral("https://example.org/"));
        link.Attach();
        link.show();
        QTest::mousePress(&link, Qt::LeftButton);
        QCOMPARE(opener.opened.size(), 0);
        QTest::mouseRelease(&link, Qt::LeftButton);
        QCOMPARE(opener.opened.size(), 1);

        link.SetLinkStyle(quillet::kLinkDefaultStyle | quillet::kLinkOpenOnPress);
        QTest::mousePress(&link, Qt::LeftButton);
        QCOMPARE(opener.opened.size(), 2);
        QTest::mouseRelease(&link, Qt::LeftButton);
        QCOMPARE(opener.opened.size(), 2);
    }

    void fallbackRunsTheHtmlHandlerWithTheAddress()
    {
        if (QDesktopServices::openUrl(QUrl(QStringLiteral("quillet-probe:x"))))
            QSKIP("the desktop opener works here, so the fallback is never reached");
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
        QVERIFY(link.IsVisited());
        QVERIFY(WaitForFile(record));
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), QStringLiteral("--first\nquillet-probe:page\n"));
    }

    void failuresAreReportedAndTheLinkStaysUnvisited()
    {
        if (QDesktopServices::openUrl(QUrl(QStringLiteral("quillet-probe:x"))))
            QSKIP("the desktop opener works here, so it cannot be made to fail");
        XdgSandbox xdg;
        CHyperLink link;
        link.setText(QStringLiteral("quillet-probe:page"));
        link.Attach();
        {
            guitest::BoxAnswerer answerer(QMessageBox::Ok);
            link.FollowLink();
            QCOMPARE(answerer.texts, QStringList{"Can't open link:\n\nThere is no application associated\n"
                                                 "with the given filename extension."});
        }
        xdg.SetHtmlHandler(xdg.path() + "/no-such-program %U");
        {
            guitest::BoxAnswerer answerer(QMessageBox::Ok);
            link.FollowLink();
            QCOMPARE(answerer.texts, QStringList{"Can't open link:\n\nThe specified file was not found."});
        }
        QVERIFY(!link.IsVisited());
    }
};

GUI_TEST_CLASS(HyperLinkTest, "HyperLink")
#include "hyperlink_test.moc"
