#include "converter/readers/Readers.h"

#include <objbase.h>

#include <cstring>
#include <new>
#include <vector>

#include "converter/base/LongPaths.h"
#include "converter/base/Texts.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/metadata/WicMetadata.h"
#include "converter/readers/AliasPix.h"
#include "converter/readers/Bmp.h"
#include "converter/readers/G3Fax.h"
#include "converter/readers/Gif.h"
#include "converter/readers/HaloCut.h"
#include "converter/readers/Heif.h"
#include "converter/readers/IcoCur.h"
#include "converter/readers/Jpeg.h"
#include "converter/readers/Jpeg2000.h"
#include "converter/readers/Jxl.h"
#include "converter/readers/Metafile.h"
#include "converter/readers/Netpbm.h"
#include "converter/readers/Pcx.h"
#include "converter/readers/Png.h"
#include "converter/readers/Tiff.h"
#include "converter/readers/Tga.h"
#include "converter/readers/UtahRle.h"
#include "converter/readers/Wbmp.h"
#include "converter/readers/PaintShopPro.h"
#include "converter/readers/PhotoCd.h"
#include "converter/readers/Psd.h"
#include "converter/readers/Raw.h"
#include "converter/readers/Webp.h"
#include "converter/readers/Wic.h"

namespace Readers {

namespace {

// What a reader of the table is handed.
struct Input {
    IWICImagingFactory* wic;
    const std::wstring& path;
    const uint8_t* data = nullptr;  // the whole file, for rows that take it
    size_t size = 0;
    HRESULT failure = S_OK;      // the platform's own code behind a failure: its reason says more
    GUID container = GUID_NULL;  // what the platform read the file as
};

using Reader = ReadResult (*)(Input& input, const ReadRequest& request, Decoded& out);
// Whether the file's first bytes (at most HeadBytes) may be of the row's
// format. A cheap first look: the reader itself still decides.
using Magic = bool (*)(const uint8_t* head, size_t size);

struct Row {
    const wchar_t* name;        // for messages
    const wchar_t* extensions;  // lower case, each with its dot, separated by spaces
    Magic magic;                // nullptr: no magic bytes, taken by extension only
    Reader read;
    bool wholeFile;             // the reader takes the file's bytes (else it reads from the path)
    const char* sameToken;      // the token writing this kind; nullptr: none
};

constexpr size_t HeadBytes = 4096;

// A byte reader of our own (Reader.h) as a row's reader.
template <ByteReader read>
ReadResult Bytes(Input& input, const ReadRequest& request, Decoded& out) {
    return read(input.data, input.size, request, out);
}

ReadResult FromPlatform(Input& input, HRESULT hr) {
    if (SUCCEEDED(hr)) return {};
    input.failure = hr;
    switch (hr) {
    case WINCODEC_ERR_COMPONENTNOTFOUND:
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
        return {ReadStatus::NotThisFormat};
    case E_OUTOFMEMORY:
        return {ReadStatus::OutOfMemory};
    case HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE):
        return {ReadStatus::TooLarge};
    default:
        return {ReadStatus::Damaged};
    }
}

// What a file the platform decodes says besides its pixels, from the file's
// own bytes. (The orientation was read when the file was opened, from its
// head, whatever the file's size.)
void TakeMetadata(Input& input, const Wic::Opened& opened, Decoded& out) {
    WicMetadata::Read(input.wic, opened.frame.Get(), opened.container, input.path, out.metadata);
    // A PNG's eXIf chunk turns it as a JPEG's Exif block does: honoured here,
    // so that the block the result keeps says 1 only over turned pixels.
    // (A TIFF's orientation was read with its first directory.)
    if (opened.container != GUID_ContainerFormatTiff && !out.metadata.exif.empty())
        out.orientation = ExifOrientation::FromTiff(out.metadata.exif.data(), out.metadata.exif.size());
}

// The largest image of an icon or cursor, a bitmap or a PNG.
ReadResult ReadIcon(Input& input, const ReadRequest& request, Decoded& out) {
    IcoCur::Choice choice;
    const ReadResult chosen = IcoCur::Choose(input.data, input.size, choice);
    if (!chosen.Ok()) return chosen;
    if (!choice.png) return IcoCur::ReadBitmap(input.data + choice.offset, choice.size, request, out);
    const ReadResult read = Png::Read(input.data + choice.offset, choice.size, request, out);
    // The file is an icon; only the image inside is not what it should be.
    return read.status == ReadStatus::NotThisFormat ? ReadResult{ReadStatus::Damaged} : read;
}

// A PNG held in memory (inside a bitmap): the one door through which our
// readers hand such a stream to the PNG reader.
ReadResult ReadPngBytes(Input&, const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return Png::Read(data, size, request, out);
}

// A bitmap; one that carries a JPEG or PNG in place of its pixels hands
// that stream on to our reader of the kind.
ReadResult ReadBitmap(Input& input, const ReadRequest& request, Decoded& out) {
    Bmp::Stream stream;
    const ReadResult result = Bmp::ReadOrLocate(input.data, input.size, request, out, stream);
    if (!result.Ok() || stream.kind == Bmp::Embedded::None) return result;
    const ReadResult inner = stream.kind == Bmp::Embedded::Jpeg
                                 ? Jpeg::Read(stream.data, stream.size, request, out)
                                 : ReadPngBytes(input, stream.data, stream.size, request, out);
    // The file is a bitmap; only what it embeds is not what it should be.
    return inner.status == ReadStatus::NotThisFormat ? ReadResult{ReadStatus::Damaged} : inner;
}

ReadResult ReadWithInstalledCodecs(Input& input, const ReadRequest& request, Decoded& out);

// A Dr. Halo picture keeps its colours in the .pal file of the same name
// beside it; without one (or with one that cannot be read) it is grey.
ReadResult ReadHaloCut(Input& input, const ReadRequest& request, Decoded& out) {
    std::vector<uint8_t> palette;
    const size_t dot = input.path.find_last_of(L".\\/:");
    if (dot != std::wstring::npos && input.path[dot] == L'.') {
        const HANDLE file = LongPaths::OpenToRead(input.path.substr(0, dot) + L".pal");
        if (file != INVALID_HANDLE_VALUE) {
            // 256 colours take 1,536 bytes in 512-byte blocks: 4 KB is plenty.
            palette.resize(4096);
            DWORD got = 0;
            if (!ReadFile(file, palette.data(), static_cast<DWORD>(palette.size()), &got, nullptr)) got = 0;
            palette.resize(got);
            CloseHandle(file);
        }
    }
    return HaloCut::Read(input.data, input.size, palette.empty() ? nullptr : palette.data(), palette.size(),
                         request, out);
}

bool StartsWith(const uint8_t* head, size_t size, const char* magic, size_t length) {
    return size >= length && std::memcmp(head, magic, length) == 0;
}

bool IsJpeg(const uint8_t* head, size_t size) { return StartsWith(head, size, "\xFF\xD8\xFF", 3); }
bool IsPng(const uint8_t* head, size_t size) { return StartsWith(head, size, "\x89PNG\r\n\x1A\n", 8); }
bool IsGif(const uint8_t* head, size_t size) {
    return StartsWith(head, size, "GIF87a", 6) || StartsWith(head, size, "GIF89a", 6);
}
// Classic TIFF and BigTIFF.
bool IsTiff(const uint8_t* head, size_t size) {
    return StartsWith(head, size, "II*\0", 4) || StartsWith(head, size, "MM\0*", 4) ||
           StartsWith(head, size, "II+\0", 4) || StartsWith(head, size, "MM\0+", 4);
}
bool IsBmp(const uint8_t* head, size_t size) { return StartsWith(head, size, "BM", 2); }
bool IsJp2(const uint8_t* head, size_t size) {
    return StartsWith(head, size, "\0\0\0\x0CjP  \r\n\x87\n", 12);
}
bool IsJpeg2000CodeStream(const uint8_t* head, size_t size) {
    return StartsWith(head, size, "\xFF\x4F\xFF\x51", 4);
}
// An icon's or cursor's directory: reserved 0, its type, at least one image.
bool IsIcon(const uint8_t* head, size_t size) {
    return size >= 6 && StartsWith(head, size, "\0\0\1\0", 4) && (head[4] | head[5]) != 0;
}
bool IsCursor(const uint8_t* head, size_t size) {
    return size >= 6 && StartsWith(head, size, "\0\0\2\0", 4) && (head[4] | head[5]) != 0;
}
// "P1" to "P7" and white space.
bool IsNetpbm(const uint8_t* head, size_t size) {
    return size >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7' &&
           (head[2] == ' ' || head[2] == '\n' || head[2] == '\r' || head[2] == '\t');
}
// ZSoft's mark, a known version, raw or run-length, 1 to 8 bits a plane.
bool IsPcx(const uint8_t* head, size_t size) {
    return size >= 128 && head[0] == 0x0A && (head[1] <= 5 && head[1] != 1) && head[2] <= 1 &&
           (head[3] == 1 || head[3] == 2 || head[3] == 4 || head[3] == 8);
}

bool IsPhotoshop(const uint8_t* head, size_t size) {
    return StartsWith(head, size, "8BPS", 4) && size >= 6 && head[4] == 0 && (head[5] == 1 || head[5] == 2);
}
// Photo CD's image pack information sits 2 KB into the file.
bool IsPhotoCd(const uint8_t* head, size_t size) {
    return size >= 0x807 && std::memcmp(head + 0x800, "PCD_IPI", 7) == 0;
}
bool IsPaintShopPro(const uint8_t* head, size_t size) {
    return StartsWith(head, size, "Paint Shop Pro Image File\n\x1A", 27);
}

// One row a kind; who looks first is the table's order. The platform's
// imaging component is the reader of the kinds it decodes alike on every
// Windows. A byte reader of our own (Reader.h) enters as Bytes<Ns::Read>;
// one that needs more (a file beside the picture, the extension) gets a
// small adapter here that takes the Input.
const Row kReaders[] = {
    {L"JPEG", L".jpg .jpeg .jpe", IsJpeg, Bytes<Jpeg::Read>, true, "TOJPG"},
    {L"PNG", L".png", IsPng, Bytes<Png::Read>, true, "TOPNG"},
    {L"GIF", L".gif", IsGif, Bytes<Gif::Read>, true, "TOGIF"},
    // Camera raw before TIFF: most raws start as a TIFF whose first
    // directory is the camera's small preview. Raws that say so in their
    // first bytes are taken under any name; a raw extension is decided here
    // whatever the bytes (ExtensionFirst).
    {L"Kamera-Rohdaten", Raw::Extensions, Raw::IsRaw, Bytes<Raw::Read>, true, nullptr},
    {L"TIFF", L".tif .tiff", IsTiff, Bytes<Tiff::Read>, true, "TOTIFF"},
    // A bare DIB (no "BM") is taken by its extension; the reader judges its header.
    {L"BMP", L".bmp .dib .rle", IsBmp, ReadBitmap, true, "TOBMP"},
    // ".rle" names Windows' run-length bitmaps and the Utah Raster Toolkit's
    // pictures alike: the first bytes tell them apart.
    {L"Utah-RLE", L".rle", UtahRle::IsUtahRle, Bytes<UtahRle::Read>, true, nullptr},
    {L"JPEG 2000", L".jp2", IsJp2, Bytes<Jpeg2000Reader::Read>, true, "TOJPEG2000"},
    {L"JPEG 2000", L".j2k .jpc .j2c", IsJpeg2000CodeStream, Bytes<Jpeg2000Reader::Read>, true, "TOJPEG2000CS"},
    {L"ICO", L".ico", IsIcon, ReadIcon, true, "TOICO"},
    {L"CUR", L".cur", IsCursor, ReadIcon, true, nullptr},
    {L"EMF", L".emf", Metafile::IsEmf, Bytes<Metafile::Read>, true, nullptr},
    {L"WMF", L".wmf", Metafile::IsWmf, Bytes<Metafile::Read>, true, nullptr},
    {L"Netpbm", L".ppm .pgm .pbm .pxm .pnm .pam", IsNetpbm, Bytes<Netpbm::Read>, true, nullptr},
    {L"PCX", L".pcx", IsPcx, Bytes<Pcx::Read>, true, "TOPCX"},
    // No magic bytes: taken by extension only, each reader judging its header.
    {L"TGA", L".tga .targa .vda .icb .vst", nullptr, Bytes<Tga::Read>, true, nullptr},
    {L"WBMP", L".wbmp", nullptr, Bytes<Wbmp::Read>, true, "TOWBMP"},
    {L"Dr. Halo", L".cut", nullptr, ReadHaloCut, true, nullptr},
    {L"Alias PIX", L".pix", nullptr, Bytes<AliasPix::Read>, true, nullptr},
    {L"Photoshop", L".psd .pdd", IsPhotoshop, Bytes<Psd::Read>, true, nullptr},
    {L"Photo CD", L".pcd", IsPhotoCd, Bytes<PhotoCd::Read>, true, nullptr},
    {L"Paint Shop Pro", L".psp .pspimage", IsPaintShopPro, Bytes<PaintShopPro::Read>, true, nullptr},
    // Fax has no magic bytes: its reader takes the file only when the first
    // rows decode. The name tells the resolution: .g3n normal, others fine.
    {L"Fax", L".fax .g3f", nullptr, Bytes<G3Fax::Read>, true, nullptr},
    {L"Fax", L".g3n", nullptr, Bytes<G3Fax::ReadNormal>, true, nullptr},
    {L"WebP", L".webp", Webp::IsWebp, Bytes<Webp::Read>, true, nullptr},
    // HEIC and AVIF, told apart by libheif from the file's brands; no writer of ours.
    {L"HEIF", L".heic .heif .hif .avif", Heif::IsHeif, Bytes<Heif::Read>, true, nullptr},
    {L"JPEG XL", L".jxl", Jxl::IsJxl, Bytes<Jxl::Read>, true, nullptr},
};

// Camera raw: its extensions go to the raw reader first, and never on to
// the TIFF reader, which would take the raw's preview for its picture. A
// file of another kind under a raw's name (a JPEG) is still read as one.
const Row& RawRow() {
    for (const Row& row : kReaders)
        if (row.extensions == Raw::Extensions) return row;
    return kReaders[0];
}
bool ExtensionFirst(const Row& row) { return row.extensions == Raw::Extensions; }
bool IsTiffRow(const Row& row) { return row.magic == IsTiff; }

// Whatever else the platform decodes: JPEG XR, ...
const Row kInstalledCodecs = {L"Windows", L"", nullptr, ReadWithInstalledCodecs, false, nullptr};

// Whether `extension` is one of the space-separated `list`.
bool Listed(const wchar_t* list, const std::wstring& extension) {
    if (extension.empty()) return false;
    const size_t length = extension.size();
    for (const wchar_t* at = list; *at;) {
        const wchar_t* end = wcschr(at, L' ');
        const size_t size = end ? static_cast<size_t>(end - at) : wcslen(at);
        if (size == length && extension.compare(0, length, at, size) == 0) return true;
        if (!end) break;
        at = end + 1;
    }
    return false;
}

bool ClaimedByOwnReader(const std::wstring& extension) {
    for (const Row& row : kReaders)
        if (Listed(row.extensions, extension)) return true;
    return false;
}

ReadResult ReadWithInstalledCodecs(Input& input, const ReadRequest& request, Decoded& out) {
    Wic::Opened opened;
    HRESULT hr = Wic::Open(input.wic, input.path, opened);
    if (FAILED(hr)) return FromPlatform(input, hr);
    // A kind we read ourselves never goes to a platform decoder, whatever
    // the file's name: Wine decodes TGA, Windows does not, and the result
    // must not depend on which one runs.
    for (size_t at = 0; at < opened.extensions.size();) {
        size_t end = opened.extensions.find(L',', at);
        if (end == std::wstring::npos) end = opened.extensions.size();
        if (ClaimedByOwnReader(opened.extensions.substr(at, end - at))) return {ReadStatus::NotThisFormat};
        at = end + 1;
    }
    input.container = opened.container;
    hr = Wic::Read(input.wic, opened, request, out);
    if (SUCCEEDED(hr)) TakeMetadata(input, opened, out);
    return FromPlatform(input, hr);
}

// The file's extension, lower case with its dot; empty when it has none.
std::wstring ExtensionOf(const std::wstring& path) {
    const size_t dot = path.find_last_of(L".\\/:");
    if (dot == std::wstring::npos || path[dot] != L'.') return {};
    std::wstring extension = path.substr(dot);
    CharLowerBuffW(&extension[0], static_cast<DWORD>(extension.size()));
    return extension;
}

// The source file, opened once: its head for the first look, all of it
// for the readers that take bytes.
class SourceFile {
public:
    ~SourceFile() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }

    DWORD Open(const std::wstring& path) {
        file_ = LongPaths::OpenToRead(path, FILE_FLAG_SEQUENTIAL_SCAN);
        if (file_ == INVALID_HANDLE_VALUE) return GetLastError();
        LARGE_INTEGER size = {};
        if (!GetFileSizeEx(file_, &size)) return GetLastError();
        size_ = static_cast<uint64_t>(size.QuadPart);
        bytes_.resize(static_cast<size_t>(size_ < HeadBytes ? size_ : HeadBytes));
        return ReadInto(0);
    }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

    // Reads the rest of the file after the head.
    DWORD ReadAll() {
        if (whole_) return ERROR_SUCCESS;
        if (size_ > MaxFileBytes) return ERROR_FILE_TOO_LARGE;
        const size_t head = bytes_.size();
        bytes_.resize(static_cast<size_t>(size_));
        const DWORD error = ReadInto(head);
        whole_ = error == ERROR_SUCCESS;
        return error;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0;
    std::vector<uint8_t> bytes_;
    bool whole_ = false;

    // Fills bytes_ from `from` on; a file that shrank meanwhile ends where it ends.
    DWORD ReadInto(size_t from) {
        size_t at = from;
        while (at < bytes_.size()) {
            const DWORD chunk = static_cast<DWORD>(bytes_.size() - at < (DWORD{1} << 26) ? bytes_.size() - at
                                                                                        : (DWORD{1} << 26));
            DWORD got = 0;
            if (!ReadFile(file_, bytes_.data() + at, chunk, &got, nullptr)) return GetLastError();
            if (got == 0) break;
            at += got;
        }
        bytes_.resize(at);
        return ERROR_SUCCESS;
    }
};

std::wstring ReadSource(IWICImagingFactory* wic, const std::wstring& path, const ReadRequest& request,
                        Picture& picture) {
    SourceFile file;
    DWORD error = file.Open(path);
    if (error != ERROR_SUCCESS) return Texts::ReasonForError(error);
    const std::wstring extension = ExtensionOf(path);

    // The content's readers first, then the extension's, then the platform's.
    std::vector<const Row*> order;
    const auto add = [&order](const Row* row) {
        for (const Row* taken : order)
            if (taken == row) return;
        order.push_back(row);
    };
    bool rawName = false;
    for (const Row& row : kReaders)
        if (ExtensionFirst(row) && Listed(row.extensions, extension)) {
            add(&row);
            rawName = true;
        }
    for (const Row& row : kReaders)
        if (row.magic && row.magic(file.Bytes().data(), file.Bytes().size()) && !(rawName && IsTiffRow(row)))
            add(&row);
    for (const Row& row : kReaders)
        if (Listed(row.extensions, extension)) add(&row);
    if (!ClaimedByOwnReader(extension)) add(&kInstalledCodecs);

    // The file held in memory is held while a reader of bytes decodes: its
    // size goes into what the picture asks of the budget.
    ReadRequest withFile = request;
    if (request.admit)
        withFile.admit = [&request, &file](PixelSize decoded, uint64_t decoderBytes) {
            return request.admit(decoded, decoderBytes + file.Bytes().size());
        };
    Input input{wic, path};
    for (const Row* row : order) {
        if (row->wholeFile) {
            error = file.ReadAll();
            if (error != ERROR_SUCCESS) return Texts::ReasonForError(error);
            input.data = file.Bytes().data();
            input.size = file.Bytes().size();
        }
        input.failure = S_OK;
        picture.decoded = Decoded();
        const ReadResult result = row->read(input, row->wholeFile ? withFile : request, picture.decoded);
        if (result.status == ReadStatus::NotThisFormat) continue;
        if (!result.Ok()) {
            picture.decoded = Decoded();
            if (result.reason) return result.reason;
            if (FAILED(input.failure)) return Texts::ReasonForResult(input.failure);
            return Texts::ReasonForRead(result.status, row->name);
        }
        if (!picture.decoded.image.Valid()) return Texts::ReasonForRead(ReadStatus::Damaged, row->name);
        DropOversizedBlocks(picture.decoded.metadata);
        picture.kind = row->name;
        picture.sameToken = row->sameToken;
        picture.container = input.container;
        picture.remark = result.reason;
        return {};
    }
    if (rawName) return Texts::ReasonForRead(ReadStatus::Unsupported, RawRow().name);
    return Texts::ReasonForRead(ReadStatus::NotThisFormat, nullptr);
}

}  // namespace

std::vector<std::wstring> FolderExtensions() {
    std::vector<std::wstring> extensions;
    const auto add = [&extensions](const std::wstring& list, wchar_t separator) {
        for (size_t at = 0; at < list.size();) {
            size_t end = list.find(separator, at);
            if (end == std::wstring::npos) end = list.size();
            if (end > at) extensions.push_back(list.substr(at, end - at));
            at = end + 1;
        }
    };
    for (const Row& row : kReaders) add(row.extensions, L' ');
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        ComPtr<IWICImagingFactory> wic;
        if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                       reinterpret_cast<void**>(wic.Put()))))
            add(Wic::DecoderExtensions(wic.Get()), L',');
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return extensions;
}

std::wstring Read(IWICImagingFactory* wic, const std::wstring& path, const ReadRequest& request, Picture& picture) {
    // No file, however made, may end the run for the others.
    try {
        return ReadSource(wic, path, request, picture);
    } catch (const std::bad_alloc&) {
        picture.decoded = Decoded();
        return Texts::ReasonForError(ERROR_OUTOFMEMORY);
    }
}

}  // namespace Readers
