// The per-user settings store of the desktop program, kept by QSettings.
#pragma once

#include "core/settings.h"

#include <QSettings>

namespace quillet::gui {

// Organisation "Brackenfold", application "Quillet"; each section is a group.
class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();

    std::optional<uint32_t> ReadInt(const std::string& section, const std::string& name) override;
    std::optional<std::string> ReadString(const std::string& section, const std::string& name) override;
    void WriteInt(const std::string& section, const std::string& name, uint32_t value) override;
    void WriteString(const std::string& section, const std::string& name, const std::string& value) override;

private:
    QSettings m_settings;
};

}  // namespace quillet::gui
