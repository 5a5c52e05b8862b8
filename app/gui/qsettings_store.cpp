// The per-user settings store of the desktop program.
#include "gui/qsettings_store.h"

#include <cstdint>

namespace quillet::gui {
namespace {

QString Key(const std::string& section, const std::string& name)
{
    return QString::fromStdString(section + "/" + name);
}

}  // namespace

QtSettingsStore::QtSettingsStore() : m_settings(QStringLiteral("Brackenfold"), QStringLiteral("Quillet")) {}

std::optional<uint32_t> QtSettingsStore::ReadInt(const std::string& section, const std::string& name)
{
    const QVariant value = m_settings.value(Key(section, name));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    // A value edited by hand may hold a signed number; both halves of the range read back.
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < INT32_MIN || number > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(number);
}

std::optional<std::string> QtSettingsStore::ReadString(const std::string& section, const std::string& name)
{
    const QVariant value = m_settings.value(Key(section, name));
    if (!value.isValid() || !value.canConvert<QString>())
        return std::nullopt;
    return value.toString().toStdString();
}

void QtSettingsStore::WriteInt(const std::string& section, const std::string& name, uint32_t value)
{
    // The integers are written together at the end; QSettings writes them out once when the
    // store goes, instead of rewriting and flushing the whole file for each of them.
    m_settings.setValue(Key(section, name), value);
}

void QtSettingsStore::WriteString(const std::string& section, const std::string& name, const std::string& value)
{
    m_settings.setValue(Key(section, name), QString::fromStdString(value));
    m_settings.sync();
}

}  // namespace quillet::gui
