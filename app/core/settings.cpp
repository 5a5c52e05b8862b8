// Loading and saving the settings record.
#include "core/settings.h"

#include <algorithm>
#include <thread>
#include <type_traits>

namespace quillet {
namespace {

// The stored integers in store order: value name, field, default.
template <class Visit>
void ForEachStoredInt(BatchSettings& s, Visit&& visit)
{
    visit("Width", s.Width, 640u);
    visit("Height", s.Height, 480u);
    visit("Type", s.Type, int32_t{PerfectFit});
    visit("Portrait", s.Portrait, int32_t{FitInsideAll});
    visit("ResType", s.ResType, int32_t{Bilinear});
    visit("Sampling", s.Sampling, 1u);
    visit("Middle", s.Middle, 65u);
    visit("Autolev", s.Autolev, 0u);
    visit("Sharpen", s.Sharpen, 0u);
    visit("CopyExif", s.CopyExif, 0u);
    visit("Boost", s.Boost, 0u);
    visit("AutoRotate", s.AutoRotate, 1u);
    visit("StripGPS", s.StripGPS, 0u);
    visit("ToSRGB", s.ToSRGB, 0u);
    visit("Format", s.Format, 0u);
    visit("AllTypes", s.AllTypes, 0u);
    visit("FastDecode", s.FastDecode, 0u);
    visit("OnlyNew", s.OnlyNew, 0u);
    visit("KeepFolders", s.KeepFolders, 0u);
    visit("Overwrite", s.Overwrite, 0u);
    visit("Jobs", s.Jobs, 0u);
}

}  // namespace

std::string WithSeparator(const std::string& folder)
{
    if (folder.empty() || folder.back() == kFolderSeparator)
        return folder;
    return folder + kFolderSeparator;
}

unsigned JobCount(uint32_t jobs)
{
    if (jobs == 0)
        jobs = std::thread::hardware_concurrency();
    return std::clamp<uint32_t>(jobs, 1, kMaxJobs);
}

void LoadSettings(SettingsStore& store, BatchSettings& settings)
{
    settings.PathIn = WithSeparator(store.ReadString(kSettingsSection, "PathIn").value_or(""));
    settings.PathOut = WithSeparator(store.ReadString(kSettingsSection, "PathOut").value_or(""));
    ForEachStoredInt(settings, [&](const char* name, auto& field, auto fallback) {
        using Field = std::remove_reference_t<decltype(field)>;
        const std::optional<uint32_t> value = store.ReadInt(kSettingsSection, name);
        field = value ? static_cast<Field>(*value) : fallback;
    });
    if (settings.Format > FormatAvif)
        settings.Format = FormatJpeg;
    settings.Quality = 80;
    settings.SubDirs = 0;
}

void SaveSettings(SettingsStore& store, const BatchSettings& settings)
{
    BatchSettings copy = settings;
    ForEachStoredInt(copy, [&](const char* name, auto& field, auto) {
        store.WriteInt(kSettingsSection, name, static_cast<uint32_t>(field));
    });
}

void StoreFolder(SettingsStore& store, BatchSettings& settings, Folder which, const std::string& path)
{
    const bool in = which == Folder::In;
    store.WriteString(kSettingsSection, in ? "PathIn" : "PathOut", path);
    (in ? settings.PathIn : settings.PathOut) = WithSeparator(path);
}

std::optional<uint32_t> MemoryStore::ReadInt(const std::string& section, const std::string& name)
{
    auto it = m_values.find(section + "/" + name);
    if (it == m_values.end() || !it->second.isInt)
        return std::nullopt;
    return it->second.number;
}

std::optional<std::string> MemoryStore::ReadString(const std::string& section, const std::string& name)
{
    auto it = m_values.find(section + "/" + name);
    if (it == m_values.end() || it->second.isInt)
        return std::nullopt;
    return it->second.text;
}

void MemoryStore::WriteInt(const std::string& section, const std::string& name, uint32_t value)
{
    m_values[section + "/" + name] = Entry{true, value, {}};
    m_writes.push_back(name + "=" + std::to_string(value));
}

void MemoryStore::WriteString(const std::string& section, const std::string& name, const std::string& value)
{
    m_values[section + "/" + name] = Entry{false, 0, value};
    m_writes.push_back(name + "=" + value);
}

void MemoryStore::Erase(const std::string& section, const std::string& name)
{
    m_values.erase(section + "/" + name);
}

}  // namespace quillet
