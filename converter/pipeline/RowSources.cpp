#include "converter/pipeline/RowSources.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "converter/base/LongPaths.h"
#include "converter/base/RandomAccess.h"
#include "converter/readers/Bmp.h"
#include "converter/readers/Heif.h"
#include "converter/readers/Jpeg.h"
#include "converter/readers/Netpbm.h"
#include "converter/readers/Png.h"
#include "converter/readers/Readers.h"
#include "converter/readers/Tiff.h"

namespace RowSources {

namespace {

// The source file, read in order (JPEG) or where a reader asks (PNG, TIFF).
struct File : RandomAccess {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~File() override {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    size_t Read(uint8_t* buffer, size_t size) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(size < (DWORD{1} << 30) ? size : (DWORD{1} << 30));
        if (!ReadFile(handle, buffer, want, &got, nullptr)) return 0;
        return got;
    }
    size_t ReadAt(uint64_t at, uint8_t* buffer, size_t size) override {
        LARGE_INTEGER to = {};
        to.QuadPart = static_cast<LONGLONG>(at);
        if (at > INT64_MAX || !SetFilePointerEx(handle, to, nullptr, FILE_BEGIN)) return 0;
        size_t got = 0;
        while (got < size) {
            const size_t part = Read(buffer + got, size - got);
            if (part == 0) break;
            got += part;
        }
        return got;
    }
    uint64_t Size() override {
        LARGE_INTEGER size = {};
        return GetFileSizeEx(handle, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    // The file as a reader that goes back and forth in it is handed it.
    ::ReadAt Reading() {
        return [this](uint64_t at, uint8_t* buffer, size_t size) { return ReadAt(at, buffer, size); };
    }
    bool WriteAt(uint64_t, const uint8_t*, size_t) override { return false; }
    bool Truncate(uint64_t) override { return false; }
};

// A file whose last bytes are not JPEG's end marker was cut short (or has
// something after its picture): the whole-picture path decides on it, as it
// does on every damaged file, before anything is asked or written here.
bool EndsWithEndMarker(HANDLE file) {
    LARGE_INTEGER size = {}, back = {};
    uint8_t tail[2] = {};
    DWORD got = 0;
    back.QuadPart = -2;
    const bool ends = GetFileSizeEx(file, &size) && size.QuadPart >= 4 &&
                      SetFilePointerEx(file, back, nullptr, FILE_END) && ReadFile(file, tail, 2, &got, nullptr) &&
                      got == 2 && tail[0] == 0xFF && tail[1] == 0xD9;
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ends;
}

// What the writers must know of a source: its kind, its own format's
// token, and what its reader learned before the first row.
void Describe(Source& source, const RowPicture& picture, const wchar_t* kind, const char* ownToken) {
    source.kind = kind;
    source.ownToken = ownToken;
    source.size = picture.Size();
    source.grey = picture.Grey();
    source.transparent = picture.MayBeTransparent();
    source.decoderBytes = picture.DecoderBytes();
}

class JpegSource : public Source {
public:
    File file;  // before the reader, which reads it until its end
    Jpeg::RowReader reader;
    bool Begin() override { return reader.Begin(); }
    bool Row(uint8_t* bgra) override { return reader.Row(bgra); }
    const wchar_t* Remark() const override { return reader.Truncated() ? Jpeg::CutShort : nullptr; }
};

// A PNG, a TIFF, a bitmap or a Netpbm file, read where its reader asks.
template <class Reader>
class ReaderSource : public Source {
public:
    File file;  // before the reader, which reads it until its end
    Reader reader;
    bool Begin() override { return reader.Begin(); }
    bool Row(uint8_t* bgra) override { return reader.Row(bgra); }
};
using PngSource = ReaderSource<Png::RowReader>;
using TiffSource = ReaderSource<Tiff::RowReader>;
using NetpbmSource = ReaderSource<Netpbm::RowReader>;
using BmpSource = ReaderSource<Bmp::RowReader>;

// A HEIF or AVIF picture: the file in memory, libheif's decoded pixels
// handed out row by row. No format of its own is written ("each picture's
// own format" is left to the whole-picture path, which names the stand-in).
class HeifSource : public Source {
public:
    std::vector<uint8_t> bytes;  // before the reader, which reads them until its end
    Heif::RowReader reader;
    bool Begin() override {
        failure_ = reader.Begin().status;
        return failure_ == ReadStatus::Ok;
    }
    bool Row(uint8_t* bgra) override { return reader.Row(bgra); }
    ReadStatus Failure() const override { return failure_ == ReadStatus::Ok ? ReadStatus::Damaged : failure_; }

private:
    ReadStatus failure_ = ReadStatus::Ok;
};

const wchar_t* const CmykTooLarge =
    L"Das CMYK-Bild ist zu gro\u00df, um seine Farben umzurechnen: dazu m\u00fcsste es ganz im Speicher liegen.";

// A JPEG whose rows can come one by one. Skipped: a CMYK picture too large
// for the whole-picture path to convert its colours.
Opened OpenJpeg(HANDLE handle, const Job& job, std::unique_ptr<Source>& source, Decoded& decoded,
                std::wstring& reason) {
    auto jpeg = std::make_unique<JpegSource>();
    File& file = jpeg->file;
    file.handle = handle;
    if (!EndsWithEndMarker(file.handle)) return Opened::No;
    ReadRequest request;
    request.maxPixels = UINT64_MAX;  // what is held decides here, not the source's size
    request.box = job.box;
    request.enlarge = job.enlarge;
    Jpeg::RowReader& reader = jpeg->reader;
    const ReadResult opened =
        reader.Open([&file](uint8_t* buffer, size_t size) { return file.Read(buffer, size); }, request, decoded);
    if (!opened.Ok()) return Opened::No;
    if (reader.Cmyk()) {
        if (uint64_t{reader.Size().width} * reader.Size().height <= Readers::MaxPixels) return Opened::No;
        reason = CmykTooLarge;
        return Opened::Skipped;
    }
    Describe(*jpeg, reader, L"JPEG", "TOJPG");
    source = std::move(jpeg);
    return Opened::Yes;
}

// A PNG whose rows can come one by one: not interlaced.
Opened OpenPng(HANDLE handle, std::unique_ptr<Source>& source, Decoded& decoded) {
    auto png = std::make_unique<PngSource>();
    File& file = png->file;
    file.handle = handle;
    Png::RowReader& reader = png->reader;
    const ReadResult opened = reader.Open(
        file.Reading(), file.Size(),
        decoded);
    if (!opened.Ok() || reader.Interlaced()) return Opened::No;
    Describe(*png, reader, L"PNG", "TOPNG");
    source = std::move(png);
    return Opened::Yes;
}

// A TIFF whose rows can come strip by strip. Only under TIFF's own
// extensions: a camera's raw file starts as a TIFF does, and its reader
// decides on it.
Opened OpenTiff(HANDLE handle, const std::wstring& name, std::unique_ptr<Source>& source, Decoded& decoded) {
    auto tiff = std::make_unique<TiffSource>();
    File& file = tiff->file;
    file.handle = handle;
    const size_t dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
    if (lstrcmpiW(extension.c_str(), L".tif") != 0 && lstrcmpiW(extension.c_str(), L".tiff") != 0)
        return Opened::No;
    Tiff::RowReader& reader = tiff->reader;
    if (!reader.Open(file, decoded).Ok() || !reader.Streams()) return Opened::No;
    Describe(*tiff, reader, L"TIFF", "TOTIFF");
    source = std::move(tiff);
    return Opened::Yes;
}

// An uncompressed bitmap, each row read from its place (from the end of the
// file up, for the usual bottom-up one).
Opened OpenBmp(HANDLE handle, std::unique_ptr<Source>& source, Decoded& decoded) {
    auto bmp = std::make_unique<BmpSource>();
    File& file = bmp->file;
    file.handle = handle;
    Bmp::RowReader& reader = bmp->reader;
    const ReadResult opened = reader.Open(
        file.Reading(), file.Size(),
        decoded);
    if (!opened.Ok()) return Opened::No;
    Describe(*bmp, reader, L"BMP", "TOBMP");
    source = std::move(bmp);
    return Opened::Yes;
}

// A raw Netpbm file (P4 to P7), each row read from its place. No format of
// its own is written.
Opened OpenNetpbm(HANDLE handle, std::unique_ptr<Source>& source) {
    auto netpbm = std::make_unique<NetpbmSource>();
    File& file = netpbm->file;
    file.handle = handle;
    Netpbm::RowReader& reader = netpbm->reader;
    const ReadResult opened = reader.Open(
        file.Reading(), file.Size());
    if (!opened.Ok()) return Opened::No;
    Describe(*netpbm, reader, L"Netpbm", "");
    source = std::move(netpbm);
    return Opened::Yes;
}

// A HEIF or AVIF picture, read into memory (libheif takes the file whole)
// once its size is known to fit the address space.
Opened OpenHeif(File& probe, std::unique_ptr<Source>& source, Decoded& decoded) {
    auto heif = std::make_unique<HeifSource>();
    const uint64_t size = probe.Size();
    if (size == 0 || size > SIZE_MAX / 2) return Opened::No;
    try {
        heif->bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return Opened::No;
    }
    if (probe.ReadAt(0, heif->bytes.data(), heif->bytes.size()) != heif->bytes.size()) return Opened::No;
    Heif::RowReader& reader = heif->reader;
    if (!reader.Open(heif->bytes.data(), heif->bytes.size(), UINT64_MAX, decoded).Ok()) return Opened::No;
    Describe(*heif, reader, L"HEIF", "");
    heif->decoderBytes += heif->bytes.size();  // the file, held while libheif reads it
    source = std::move(heif);
    return Opened::Yes;
}

}  // namespace

Opened Open(const Sources::Source& from, const Job& job, std::unique_ptr<Source>& source, Decoded& decoded,
            std::wstring& reason) {
    File probe;
    probe.handle = CreateFileW(LongPaths::ForApi(from.path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    // Enough for a HEIF file's brands, which follow its first bytes.
    uint8_t magic[256] = {};
    const size_t got = probe.handle == INVALID_HANDLE_VALUE ? 0 : probe.ReadAt(0, magic, sizeof magic);
    if (got < 8) return Opened::No;
    if (Heif::IsHeif(magic, got)) return OpenHeif(probe, source, decoded);
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    // The chosen source takes the handle over.
    const HANDLE handle = std::exchange(probe.handle, INVALID_HANDLE_VALUE);
    if (std::memcmp(magic, kPng, sizeof kPng) == 0) return OpenPng(handle, source, decoded);
    if (magic[0] == 0xFF && magic[1] == 0xD8) return OpenJpeg(handle, job, source, decoded, reason);
    if ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M'))
        return OpenTiff(handle, from.name, source, decoded);
    if (magic[0] == 'P' && magic[1] >= '4' && magic[1] <= '7') return OpenNetpbm(handle, source);
    if (magic[0] == 'B' && magic[1] == 'M') return OpenBmp(handle, source, decoded);
    CloseHandle(handle);
    return Opened::No;
}

}  // namespace RowSources
