// EXIF blocks built byte by byte, independent of any EXIF library: a camera's IFD0, EXIF and
// GPS directories, a maker note and an IFD1 preview, little- or big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

struct ExifSpec {
    uint16_t orientation = 1;      // 0: no orientation tag
    uint32_t width = 4000;         // PixelXDimension, PixelYDimension
    uint32_t height = 3000;
    bool gps = true;
    uint32_t previewBytes = 6000;  // 0: no IFD1
    uint32_t makerNoteBytes = 48;
    bool bigEndian = false;
    bool pixelSizes = true;        // false: no PixelXDimension and PixelYDimension
};

namespace exif_detail {

enum : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7 };

struct Field {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::vector<uint8_t> value;  // already in the block's byte order
};

class Writer {
public:
    explicit Writer(bool big) : m_big(big) {}
    std::vector<uint8_t> U16(uint32_t v) const { return Bytes(v, 2); }
    std::vector<uint8_t> U32(uint32_t v) const { return Bytes(v, 4); }
    std::vector<uint8_t> Bytes(uint32_t v, int n) const
    {
        std::vector<uint8_t> out(n);
        for (int i = 0; i < n; ++i)
            out[m_big ? n - 1 - i : i] = static_cast<uint8_t>(v >> (8 * i));
        return out;
    }
    Field Short(uint16_t tag, uint32_t v) const { return {tag, kShort, 1, U16(v)}; }
    Field Long(uint16_t tag, uint32_t v) const { return {tag, kLong, 1, U32(v)}; }
    Field Ascii(uint16_t tag, const std::string& s) const
    {
        std::vector<uint8_t> v(s.begin(), s.end());
        v.push_back(0);
        return {tag, kAscii, static_cast<uint32_t>(v.size()), v};
    }
    Field Rationals(uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> values) const
    {
        std::vector<uint8_t> v;
        for (auto [n, d] : values) {
            auto a = U32(n), b = U32(d);
            v.insert(v.end(), a.begin(), a.end());
            v.insert(v.end(), b.begin(), b.end());
        }
        return {tag, kRational, static_cast<uint32_t>(values.size()), v};
    }
    static size_t IfdSize(const std::vector<Field>& fields)
    {
        size_t size = 2 + 12 * fields.size() + 4;
        for (const Field& f : fields)
            if (f.value.size() > 4)
                size += (f.value.size() + 1) & ~size_t{1};
        return size;
    }
    // Appends an IFD at tiff offset `at` (= out.size() - 6).
    void Ifd(std::vector<uint8_t>& out, const std::vector<Field>& fields, uint32_t next) const
    {
        const size_t at = out.size() - 6;
        size_t data = at + 2 + 12 * fields.size() + 4;
        Append(out, U16(static_cast<uint32_t>(fields.size())));
        std::vector<uint8_t> overflow;
        for (const Field& f : fields) {
            Append(out, U16(f.tag));
            Append(out, U16(f.type));
            Append(out, U32(f.count));
            if (f.value.size() <= 4) {
                std::vector<uint8_t> inline4 = f.value;
                inline4.resize(4, 0);
                Append(out, inline4);
            } else {
                Append(out, U32(static_cast<uint32_t>(data + overflow.size())));
                Append(overflow, f.value);
                if (f.value.size() % 2)
                    overflow.push_back(0);
            }
        }
        Append(out, U32(next));
        Append(out, overflow);
    }
    static void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more)
    {
        out.insert(out.end(), more.begin(), more.end());
    }

private:
    bool m_big;
};

}  // namespace exif_detail

// "Exif\0\0" and a TIFF structure: IFD0 (Make, Model, Orientation, Software, pointers), EXIF
// (exposure, date, colour space, pixel sizes, maker note), GPS (version, latitude), IFD1 with
// a JPEG preview.
inline std::vector<uint8_t> ExifBlock(const ExifSpec& spec = {})
{
    using namespace exif_detail;
    const Writer w(spec.bigEndian);
    std::vector<Field> exif = {
        w.Rationals(0x829A, {{1, 125}}),
        w.Ascii(0x9003, "2024:05:01 10:00:00"),
        w.Short(0xA001, 0xFFFF),  // colour space: uncalibrated, as for a wide-gamut picture
    };
    if (spec.pixelSizes) {
        exif.push_back(w.Long(0xA002, spec.width));
        exif.push_back(w.Long(0xA003, spec.height));
    }
    if (spec.makerNoteBytes) {
        std::vector<uint8_t> note(spec.makerNoteBytes);
        for (size_t i = 0; i < note.size(); ++i)
            note[i] = static_cast<uint8_t>(i * 37 + 11);
        exif.insert(exif.begin() + 2, Field{0x927C, kUndefined, spec.makerNoteBytes, note});
    }
    const std::vector<Field> gps = {
        {0x0000, kByte, 4, {2, 3, 0, 0}},
        w.Ascii(0x0001, "N"),
        w.Rationals(0x0002, {{51, 1}, {30, 1}, {0, 1}}),
    };
    std::vector<Field> ifd0 = {w.Ascii(0x010F, "Quillcam"), w.Ascii(0x0110, "QC-1")};
    if (spec.orientation)
        ifd0.push_back(w.Short(0x0112, spec.orientation));
    ifd0.push_back(w.Ascii(0x0131, "Quillcam firmware 1.0"));
    ifd0.push_back(w.Long(0x8769, 0));
    if (spec.gps)
        ifd0.push_back(w.Long(0x8825, 0));
    std::vector<Field> ifd1 = {w.Short(0x0103, 6), w.Long(0x0201, 0), w.Long(0x0202, spec.previewBytes)};

    const uint32_t ifd0At = 8;
    const uint32_t exifAt = ifd0At + static_cast<uint32_t>(Writer::IfdSize(ifd0));
    const uint32_t gpsAt = exifAt + static_cast<uint32_t>(Writer::IfdSize(exif));
    const uint32_t ifd1At = gpsAt + (spec.gps ? static_cast<uint32_t>(Writer::IfdSize(gps)) : 0);
    const uint32_t previewAt = ifd1At + static_cast<uint32_t>(Writer::IfdSize(ifd1));
    for (Field& f : ifd0) {
        if (f.tag == 0x8769)
            f.value = w.U32(exifAt);
        if (f.tag == 0x8825)
            f.value = w.U32(gpsAt);
    }
    ifd1[1].value = w.U32(previewAt);

    std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
    Writer::Append(out, spec.bigEndian ? std::vector<uint8_t>{'M', 'M', 0, 42} : std::vector<uint8_t>{'I', 'I', 42, 0});
    Writer::Append(out, w.U32(ifd0At));
    w.Ifd(out, ifd0, spec.previewBytes ? ifd1At : 0);
    w.Ifd(out, exif, 0);
    if (spec.gps)
        w.Ifd(out, gps, 0);
    if (spec.previewBytes) {
        w.Ifd(out, ifd1, 0);
        std::vector<uint8_t> preview(spec.previewBytes, 0x55);
        preview[0] = 0xFF, preview[1] = 0xD8, preview[spec.previewBytes - 2] = 0xFF, preview[spec.previewBytes - 1] = 0xD9;
        Writer::Append(out, preview);
    }
    return out;
}

// An XMP packet as an APP1 payload: the namespace identifier, then the packet text.
inline std::vector<uint8_t> XmpPayload(const std::string& orientation = "6")
{
    const std::string id = "http://ns.adobe.com/xap/1.0/";
    const std::string text =
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
        "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:Orientation='" + orientation +
        "' xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title>Harbour</dc:title></rdf:Description>"
        "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    std::vector<uint8_t> out(id.begin(), id.end());
    out.push_back(0);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

}  // namespace test
