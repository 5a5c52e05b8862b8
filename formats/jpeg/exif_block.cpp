// EXIF blocks made truthful for a thumbnail (libexif), and the XMP orientation, with entries.
#include "base/c_owner.h"
#include "base/frame.h"
#include "base/image.h"
#include "formats/jpeg/jpg_settings.h"

#include <libexif/exif-data.h>
#include <libexif/exif-log.h>
#include <libexif/exif-mem.h>
#include <libexif/exif-utils.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

namespace px::exif {
namespace {

constexpr uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};

using MemPtr = COwner<ExifMem, exif_mem_unref>;
using DataPtr = COwner<ExifData, exif_data_unref>;
using LogPtr = COwner<ExifLog, exif_log_unref>;

// libexif skips what it cannot read and says so only in its log; a block it skipped
// anything of would lose that part when saved again, so it counts as unreadable.
void NoteTrouble(ExifLog*, ExifLogCode code, const char*, const char*, va_list, void* user) noexcept
{
    if (code == EXIF_LOG_CODE_CORRUPT_DATA || code == EXIF_LOG_CODE_NO_MEMORY)
        *static_cast<bool*>(user) = true;
}

// libexif shortens a directory that runs past the block without a word; so every directory
// and every value is checked to lie inside the block before libexif sees it.
class TiffCheck {
public:
    TiffCheck(const uint8_t* tiff, uint32_t size) : m_tiff(tiff), m_size(size) {}

    bool Whole()
    {
        if (m_size < 8 || !(Is("II*\0") || Is("MM\0*")))
            return false;
        m_big = m_tiff[0] == 'M';
        return Directory(U32(4), 0, true);
    }

private:
    bool Is(const char* header) const { return std::memcmp(m_tiff, header, 4) == 0; }
    uint32_t U16(uint64_t at) const
    {
        return m_big ? uint32_t{m_tiff[at]} << 8 | m_tiff[at + 1] : uint32_t{m_tiff[at + 1]} << 8 | m_tiff[at];
    }
    uint32_t U32(uint64_t at) const
    {
        return m_big ? U16(at) << 16 | U16(at + 2) : U16(at + 2) << 16 | U16(at);
    }
    static uint32_t TypeSize(uint32_t type)
    {
        static constexpr uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        return type < std::size(kSizes) ? kSizes[type] : 0;
    }
    // IFD0 may chain to IFD1; sub-directories (EXIF, GPS, interoperability) do not chain.
    bool Directory(uint64_t at, int depth, bool chains)
    {
        if (depth > 3 || ++m_directories > 8 || at < 8 || at + 2 > m_size)
            return false;
        const uint32_t count = U16(at);
        const uint64_t end = at + 2 + uint64_t{count} * 12;
        if (end + (chains ? 4 : 0) > m_size)
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t entry = at + 2 + uint64_t{i} * 12;
            const uint32_t tag = U16(entry), type = U16(entry + 2), n = U32(entry + 4);
            const uint64_t bytes = uint64_t{TypeSize(type)} * n;
            if (TypeSize(type) == 0)
                return false;
            if (bytes > 4 && U32(entry + 8) + bytes > m_size)
                return false;
            if ((tag == 0x8769 || tag == 0x8825 || tag == 0xA005) && !Directory(U32(entry + 8), depth + 1, false))
                return false;
        }
        const uint32_t next = chains ? U32(end) : 0;
        return next == 0 || Directory(next, depth + 1, false);
    }

    const uint8_t* m_tiff;
    uint32_t m_size;
    bool m_big = false;
    int m_directories = 0;
};

// A parsed block with the memory manager that owns its parts.
struct Parsed {
    MemPtr mem;
    DataPtr data;
};

// Null when the block is not an EXIF block or libexif could not take all of it.
Parsed Parse(const uint8_t* block, uint32_t length)
{
    if (!block || length <= sizeof kExifId || std::memcmp(block, kExifId, sizeof kExifId) != 0)
        return {};
    if (!TiffCheck(block + sizeof kExifId, length - sizeof kExifId).Whole())
        return {};
    MemPtr mem(exif_mem_new_default());
    LogPtr log(exif_log_new());
    if (!mem || !log)
        return {};
    DataPtr data(exif_data_new_mem(mem.get()));
    if (!data)
        return {};
    // Keep what libexif does not know and change nothing on its own initiative: with no
    // options at all it neither drops unknown tags nor adds or "corrects" entries.
    for (ExifDataOption option : {EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS, ExifDataOption(1 << 1)})
        exif_data_unset_option(data.get(), option);
    bool trouble = false;
    exif_log_set_func(log.get(), NoteTrouble, &trouble);
    exif_data_log(data.get(), log.get());
    exif_data_load_data(data.get(), block, length);
    exif_data_log(data.get(), nullptr);
    if (trouble || data->ifd[EXIF_IFD_0]->count == 0)
        return {};
    return {std::move(mem), std::move(data)};
}

void RemoveAll(ExifContent* content)
{
    while (content->count > 0)
        exif_content_remove_entry(content, content->entries[content->count - 1]);
}

// Sets a one-value SHORT or LONG tag, replacing an entry of another form.
bool SetNumber(ExifMem* mem, ExifContent* content, ExifTag tag, uint32_t value, ExifByteOrder order)
{
    if (ExifEntry* entry = exif_content_get_entry(content, tag)) {
        if (entry->components == 1 && entry->format == EXIF_FORMAT_SHORT && value <= 0xFFFF && entry->size >= 2) {
            exif_set_short(entry->data, order, static_cast<ExifShort>(value));
            return true;
        }
        if (entry->components == 1 && entry->format == EXIF_FORMAT_LONG && entry->size >= 4) {
            exif_set_long(entry->data, order, value);
            return true;
        }
        exif_content_remove_entry(content, entry);
    }
    const ExifFormat format = value <= 0xFFFF ? EXIF_FORMAT_SHORT : EXIF_FORMAT_LONG;
    ExifEntry* entry = exif_entry_new_mem(mem);
    if (!entry)
        return false;
    entry->tag = tag;
    entry->format = format;
    entry->components = 1;
    entry->size = exif_format_get_size(format);
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, entry->size));
    if (!entry->data) {
        exif_entry_unref(entry);
        return false;
    }
    if (format == EXIF_FORMAT_SHORT)
        exif_set_short(entry->data, order, static_cast<ExifShort>(value));
    else
        exif_set_long(entry->data, order, value);
    exif_content_add_entry(content, entry);
    exif_entry_unref(entry);
    return true;
}

uint32_t Orientation(const uint8_t* block, uint32_t length)
{
    const Parsed parsed = Parse(block, length);
    if (!parsed.data)
        return 1;
    ExifEntry* entry = exif_content_get_entry(parsed.data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!entry || entry->components < 1 || entry->format != EXIF_FORMAT_SHORT || entry->size < 2)
        return 1;
    const uint32_t value = exif_get_short(entry->data, exif_data_get_byte_order(parsed.data.get()));
    return value >= 1 && value <= 8 ? value : 1;
}

uint8_t* Rewrite(const uint8_t* block, uint32_t length, uint32_t width, uint32_t height, uint32_t flags,
                 uint32_t* newLength)
{
    if (!block || !newLength || width == 0 || height == 0)
        return Fail(Code::BadArgument);
    *newLength = 0;
    Parsed parsed = Parse(block, length);
    if (!parsed.data)
        return Fail(Code::ExifUnreadable);
    ExifData* data = parsed.data.get();
    ExifMem* mem = parsed.mem.get();
    const ExifByteOrder order = exif_data_get_byte_order(data);

    // The embedded preview shows the source, and is often bigger than the thumbnail.
    RemoveAll(data->ifd[EXIF_IFD_1]);
    if (data->data) {
        exif_mem_free(mem, data->data);
        data->data = nullptr;
        data->size = 0;
    }
    if (flags & PX_EXIF_NO_GPS)
        RemoveAll(data->ifd[EXIF_IFD_GPS]);
    ExifContent* ifd0 = data->ifd[EXIF_IFD_0];
    if ((flags & PX_EXIF_UPRIGHT) && exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION) &&
        !SetNumber(mem, ifd0, EXIF_TAG_ORIENTATION, 1, order))
        return Fail(Code::OutOfMemory);
    // Image width and length in IFD0 appear only in some cameras' blocks; set when present.
    for (auto [tag, value] : {std::pair{EXIF_TAG_IMAGE_WIDTH, width}, std::pair{EXIF_TAG_IMAGE_LENGTH, height}})
        if (exif_content_get_entry(ifd0, tag) && !SetNumber(mem, ifd0, tag, value, order))
            return Fail(Code::OutOfMemory);
    ExifContent* exifIfd = data->ifd[EXIF_IFD_EXIF];
    if ((flags & PX_EXIF_SRGB) && exif_content_get_entry(exifIfd, EXIF_TAG_COLOR_SPACE) &&
        !SetNumber(mem, exifIfd, EXIF_TAG_COLOR_SPACE, 1, order))
        return Fail(Code::OutOfMemory);
    if (!SetNumber(mem, exifIfd, EXIF_TAG_PIXEL_X_DIMENSION, width, order) ||
        !SetNumber(mem, exifIfd, EXIF_TAG_PIXEL_Y_DIMENSION, height, order))
        return Fail(Code::OutOfMemory);

    unsigned char* saved = nullptr;
    unsigned int savedSize = 0;
    exif_data_save_data(data, &saved, &savedSize);
    const std::unique_ptr<unsigned char, void (*)(void*)> owner(saved, std::free);
    if (!saved || savedSize <= sizeof kExifId)
        return Fail(Code::ExifUnreadable);
    if (savedSize > jpg::kMaxMarkerPayload)
        return Fail(Code::ExifUnreadable);  // cannot be one marker; the caller keeps the source's
    GlobalBuffer result = AllocateGlobal(savedSize);
    if (!result)
        return nullptr;
    std::memcpy(result.get(), saved, savedSize);
    *newLength = savedSize;
    return result.Release();
}

// The value of tiff:Orientation written as an attribute (="6") or as an element (>6<).
uint32_t SetXmpUpright(uint8_t* packet, uint32_t length)
{
    if (!packet)
        return Fail(Code::BadArgument);
    const std::string_view text(reinterpret_cast<const char*>(packet), length);
    constexpr std::string_view kName = "tiff:Orientation";
    uint32_t changed = 0;
    for (size_t at = text.find(kName); at != std::string_view::npos; at = text.find(kName, at + 1)) {
        size_t value = at + kName.size();
        while (value < text.size() && (text[value] == ' ' || text[value] == '=' || text[value] == '"' ||
                                       text[value] == '\'' || text[value] == '>'))
            ++value;
        if (value + 1 < text.size() && text[value] >= '1' && text[value] <= '8' &&
            (text[value + 1] == '"' || text[value + 1] == '\'' || text[value + 1] == '<')) {
            packet[value] = '1';
            changed = 1;
        }
    }
    return changed;
}

}  // namespace
}  // namespace px::exif

extern "C" uint32_t GetExifOrientation(const uint8_t* block, uint32_t length)
{
    return px::Entry([&] { return px::exif::Orientation(block, length); });
}

extern "C" uint8_t* RewriteExifBlock(const uint8_t* block, uint32_t length, uint32_t width, uint32_t height,
                                     uint32_t flags, uint32_t* newLength)
{
    return px::Entry([&] { return px::exif::Rewrite(block, length, width, height, flags, newLength); });
}

extern "C" uint32_t SetXMPUpright(uint8_t* packet, uint32_t length)
{
    return px::Entry([&] { return px::exif::SetXmpUpright(packet, length); });
}
