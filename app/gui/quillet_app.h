// The application object: one library start, the settings' names, the main dialog.
#pragma once

#include <QApplication>
#include <QTranslator>

#include <memory>
#include <vector>

class CQuilletApp : public QApplication {
    Q_OBJECT

public:
    CQuilletApp(int& argc, char** argv);
    ~CQuilletApp() override;

    // Runs the main dialog modally; the program ends when it closes.
    int Run();

private:
    std::vector<std::unique_ptr<QTranslator>> m_translations;  // for the user's locale
};
