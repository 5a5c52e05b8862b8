// Helpers of the dialog tests: answering modal windows, scratch folders, test registry.
#pragma once

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace guitest {

// Set when a modal window that a test waited for never came; the window found instead was
// closed so that the test could go on.
extern bool g_modalTimedOut;

// Runs `action` once on the first active modal window of type W, polling from the event
// loop (the modal window's own loop runs meanwhile).
template <class W>
void WhenModal(std::function<void(W*)> action)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action] {
        if (W* window = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            action(window);
            return;
        }
        if (clock->elapsed() > 10000) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            g_modalTimedOut = true;
            if (QWidget* stray = QApplication::activeModalWidget())
                stray->close();
        }
    });
    timer->start();
}

// While it lives, answers every message box that comes up with `answer` (or OK when the
// box has no such button) and keeps their texts.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer);
    QStringList texts;

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};

// A scratch folder with `count` small JPEG files named p0.jpg, p1.jpg, ...
QString MakeJpegs(const QString& folder, int count);
QStringList FilesIn(const QString& folder);

// Empties the settings store (QSettings, pointed at a scratch folder by the test program).
void ClearStore();

// Test classes register themselves under a name that the command line picks.
using Factory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, Factory>& Registry();

struct Register {
    Register(const char* name, Factory factory) { Registry()[name] = std::move(factory); }
};

}  // namespace guitest

#define GUI_TEST_CLASS(Class, name) \
    static guitest::Register s_register##Class(name, [] { return std::unique_ptr<QObject>(new Class); });
