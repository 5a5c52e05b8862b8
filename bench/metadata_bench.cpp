// Orientation, EXIF rewriting and colour profiles on a 12-megapixel photograph: the whole
// thumbnail with the switches off and on, and the parts that the switches add.
#include "core/batch.h"
#include "pxlib.h"
#include "support/exif_fixture.h"
#include "bench_pictures.h"

#include <lcms2.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWidth = 4000, kHeight = 3000;

std::vector<uint8_t> DisplayP3()
{
    cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &p3, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

// A phone's photograph: landscape pixels tagged 6, an EXIF block with a 24 KB preview, a GPS
// position and a maker note, an XMP packet and a Display P3 profile. Made once.
struct Photo {
    fs::path folder = fs::temp_directory_path() / ("quillet-metadata-bench-" + std::to_string(getpid()));
    std::string path = (folder / "phone.jpg").string();
    std::vector<uint8_t> exif;
    std::vector<uint8_t> xmp = test::XmpPayload("6");
    std::vector<uint8_t> profile = DisplayP3();

    Photo()
    {
        fs::create_directories(folder);
        test::ExifSpec spec;
        spec.orientation = 6;
        spec.previewBytes = 24000;
        spec.makerNoteBytes = 2000;
        exif = test::ExifBlock(spec);
        const std::vector<uint8_t> pixels = bench::GrainyGradients(kWidth, kHeight, 7);
        ClearJPGOutputMarkers();
        AddJPGOutputMarker(exif.data(), static_cast<uint32_t>(exif.size()), 225);
        AddJPGOutputMarker(xmp.data(), static_cast<uint32_t>(xmp.size()), 225);
        AddJPGOutputICCProfile(profile.data(), static_cast<uint32_t>(profile.size()));
        DataChannel* sink = OpenFileSink(path.c_str());
        WriteJPG(sink, pixels.data(), kWidth, kHeight, 90, 0, 24, nullptr);
        CloseSink(sink);
        ClearJPGOutputMarkers();
    }
    ~Photo() { fs::remove_all(folder); }
};

Photo& ThePhoto()
{
    static Photo photo;
    return photo;
}

class Quiet : public quillet::BatchProgress {
public:
    void SetRange(uint32_t, uint32_t) override {}
    void SetPos(uint32_t) override {}
    void ShowPreview(const std::string&) override {}
    bool CheckCancelButton() override { return false; }
};

// The whole road of one file, as a run of one; range(0) 0: every switch off, 1: rotate, copy
// EXIF, remove location.
void Thumbnail(benchmark::State& state)
{
    Photo& photo = ThePhoto();
    const fs::path out = photo.folder / "out";
    fs::create_directories(out);
    quillet::BatchSettings s;
    s.PathIn = photo.folder.string() + "/";
    s.PathOut = out.string() + "/";
    const bool on = state.range(0) != 0;
    s.AutoRotate = on;
    s.CopyExif = on;
    s.StripGPS = on;
    Quiet quiet;
    for (auto _ : state)
        if (quillet::RunBatch(s, {photo.path}, quiet).written != 1)
            state.SkipWithError("no thumbnail");
}
BENCHMARK(Thumbnail)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the switches add in metadata: the orientation read, the EXIF block rewritten, the XMP
// orientation set, the profile read from the captured chunks and queued again.
void Metadata(benchmark::State& state)
{
    Photo& photo = ThePhoto();
    DataChannel* source = OpenFileSource(photo.path.c_str());
    uint32_t w = 0, h = 0, bits = 0;
    GetJPGDimensions(source, &w, &h, &bits, nullptr);  // fills the captured markers
    CloseSource(source);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetExifOrientation(photo.exif.data(), static_cast<uint32_t>(photo.exif.size())));
        uint32_t length = 0;
        uint8_t* rewritten = RewriteExifBlock(photo.exif.data(), static_cast<uint32_t>(photo.exif.size()), 480, 640,
                                              PX_EXIF_UPRIGHT | PX_EXIF_NO_GPS, &length);
        if (!rewritten)
            state.SkipWithError("not rewritten");
        GlobalFree(rewritten);
        std::vector<uint8_t> xmp = photo.xmp;
        SetXMPUpright(xmp.data(), static_cast<uint32_t>(xmp.size()));
        uint8_t* profile = GetJPGICCProfile(&length);
        uint32_t rgbLength = 0;
        uint8_t* rgb = MakeRGBICCProfile(profile, length, &rgbLength);
        ClearJPGOutputMarkers();
        AddJPGOutputICCProfile(rgb, rgbLength);
        GlobalFree(rgb);
        GlobalFree(profile);
    }
    ClearJPGOutputMarkers();
}
BENCHMARK(Metadata)->Unit(benchmark::kMicrosecond);

// Turning by a quarter: the thumbnail (what the batch does) against the whole source.
void Turn(benchmark::State& state)
{
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const std::vector<uint8_t> source = bench::GrainyGradients(w, h, 7);
    std::vector<uint8_t> upright(source.size());
    for (auto _ : state) {
        OrientRGB24(source.data(), w, h, upright.data(), 6);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Turn)->Args({640, 480})->Args({kWidth, kHeight})->Unit(benchmark::kMillisecond);

// The opt-in conversion to sRGB of a 480 × 640 thumbnail.
void ToSRGB(benchmark::State& state)
{
    const std::vector<uint8_t> profile = DisplayP3();
    std::vector<uint8_t> pixels = bench::GrainyGradients(480, 640, 7);
    for (auto _ : state)
        ConvertRGB24ToSRGB(pixels.data(), 480, 640, profile.data(), static_cast<uint32_t>(profile.size()));
}
BENCHMARK(ToSRGB)->Unit(benchmark::kMillisecond);

}  // namespace
