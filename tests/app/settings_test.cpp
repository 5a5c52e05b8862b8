// Settings record: defaults, loading, saving and folder storing over the key-value store.
#include "core/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace quillet {
namespace {

TEST(Settings, FirstRunWithAnEmptyStoreGivesTheDefaults)
{
    MemoryStore store;
    BatchSettings s;
    s.Quality = 95;
    s.SubDirs = 1;
    s.Width = 1;
    LoadSettings(store, s);
    EXPECT_EQ(s.Width, 640u);
    EXPECT_EQ(s.Height, 480u);
    EXPECT_EQ(s.Type, PerfectFit);
    EXPECT_EQ(s.Portrait, FitInsideAll);
    EXPECT_EQ(s.ResType, Bilinear);
    EXPECT_EQ(s.Sampling, 1u);
    EXPECT_EQ(s.Middle, 65u);
    EXPECT_EQ(s.Quality, 80u);
    EXPECT_EQ(s.SubDirs, 0u);
    EXPECT_EQ(s.Autolev + s.Sharpen + s.CopyExif + s.Boost, 0u);
    EXPECT_EQ(s.AutoRotate, 1u);
    EXPECT_EQ(s.StripGPS + s.ToSRGB, 0u);
    EXPECT_EQ(s.PathIn, "");
    EXPECT_EQ(s.PathOut, "");
    EXPECT_EQ(s.FileCount, 0u);
}

TEST(Settings, StoredValuesAreLoadedAndFoldersGetOneSeparator)
{
    MemoryStore store;
    store.WriteString("Settings", "PathIn", "/home/ann/Photos");
    store.WriteString("Settings", "PathOut", "/");
    store.WriteInt("Settings", "Width", 320);
    store.WriteInt("Settings", "Type", 7);
    store.WriteInt("Settings", "ResType", 0xFFFFFFFFu);
    store.WriteString("Settings", "Height", "not a number");  // unreadable: default
    BatchSettings s;
    LoadSettings(store, s);
    EXPECT_EQ(s.PathIn, "/home/ann/Photos/");
    EXPECT_EQ(s.PathOut, "/");
    EXPECT_EQ(s.Width, 320u);
    EXPECT_EQ(s.Height, 480u);
    EXPECT_EQ(s.Type, 7);
    EXPECT_EQ(s.ResType, -1);
}

TEST(Settings, SaveWritesTheIntegersInOrderAndNoFolder)
{
    MemoryStore store;
    BatchSettings s;
    s.Width = 800;
    s.Type = -1;
    s.PathIn = "/x/";
    SaveSettings(store, s);
    const std::vector<std::string> expected = {
        "Width=800", "Height=480", "Type=4294967295", "Portrait=1", "ResType=0", "Sampling=1",
        "Middle=65", "Autolev=0", "Sharpen=0", "CopyExif=0", "Boost=0", "AutoRotate=1", "StripGPS=0",
        "ToSRGB=0", "Format=0", "AllTypes=0",
        "FastDecode=0", "OnlyNew=0", "KeepFolders=0", "Overwrite=0", "Jobs=0"};
    EXPECT_EQ(store.writes(), expected);

    BatchSettings back;
    LoadSettings(store, back);
    EXPECT_EQ(back.Width, 800u);
    EXPECT_EQ(back.Type, -1);
    EXPECT_EQ(back.PathIn, "");

    // A format this version does not know is read as JPEG.
    store.WriteInt(kSettingsSection, "Format", 7);
    LoadSettings(store, back);
    EXPECT_EQ(back.Format, static_cast<uint32_t>(FormatJpeg));
}

TEST(Settings, JobsMeanOnePerCoreAndAreBounded)
{
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::pair<uint32_t, uint32_t> rows[] = {{0, cores}, {1, 1}, {3, 3}, {kMaxJobs, kMaxJobs}, {0xFFFFFFFFu, kMaxJobs}};
    for (const auto& [stored, taken] : rows)
        EXPECT_EQ(JobCount(stored), taken) << stored;
}

TEST(Settings, StoreFolderWritesAtOnceWithoutTheSeparator)
{
    MemoryStore store;
    BatchSettings s;
    StoreFolder(store, s, Folder::In, "/data/in");
    StoreFolder(store, s, Folder::Out, "/");
    EXPECT_EQ(s.PathIn, "/data/in/");
    EXPECT_EQ(s.PathOut, "/");
    EXPECT_EQ(store.ReadString("Settings", "PathIn"), "/data/in");
    EXPECT_EQ(store.ReadString("Settings", "PathOut"), "/");
}

}  // namespace
}  // namespace quillet
