#include "converter/metadata/WicMetadata.h"

#include <algorithm>
#include <new>
#include <vector>

#include "converter/base/Com.h"
#include "converter/base/LongPaths.h"
#include "converter/metadata/SourceMetadata.h"

namespace WicMetadata {
namespace {

// Larger files are read for their pixels only: their metadata is not worth
// holding the whole file a second time.
constexpr LONGLONG MaxFileBytes = LONGLONG{256} << 20;

bool FileBytes(const std::wstring& path, std::vector<uint8_t>& bytes) {
    const HANDLE file = LongPaths::OpenToRead(path, FILE_FLAG_SEQUENTIAL_SCAN);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= MaxFileBytes;
    if (ok) {
        try {
            bytes.resize(static_cast<size_t>(size.QuadPart));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        ok = ReadFile(file, bytes.data() + done, want, &got, nullptr) && got > 0;
        done += got;
    }
    CloseHandle(file);
    return ok;
}

// The first ICC profile the decoder gives for the frame.
void DecoderProfile(IWICImagingFactory* wic, IWICBitmapFrameDecode* frame, std::vector<uint8_t>& icc) {
    ComPtr<IWICColorContext> context;
    UINT count = 0;
    if (FAILED(wic->CreateColorContext(context.Put()))) return;
    IWICColorContext* contexts[1] = {context.Get()};
    if (FAILED(frame->GetColorContexts(1, contexts, &count)) || count == 0) return;
    WICColorContextType type = WICColorContextUninitialized;
    if (FAILED(context->GetType(&type)) || type != WICColorContextProfile) return;
    UINT size = 0;
    if (FAILED(context->GetProfileBytes(0, nullptr, &size)) || size == 0 || size > (64u << 20)) return;
    try {
        icc.resize(size);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (FAILED(context->GetProfileBytes(size, icc.data(), &size))) icc.clear();
}

}  // namespace

void Read(IWICImagingFactory* wic, IWICBitmapFrameDecode* frame, const GUID& container, const std::wstring& path,
          Metadata& out) {
    std::vector<uint8_t> bytes;
    if (FileBytes(path, bytes)) SourceMetadata::FromFile(bytes.data(), bytes.size(), out);
    // A PNG's profile is compressed; the decoder inflates it. A TIFF's was
    // read with the other tags (the decoder's metadata path is avoided there).
    if (out.icc.empty() && container != GUID_ContainerFormatTiff && container != GUID_ContainerFormatJpeg)
        DecoderProfile(wic, frame, out.icc);
}

}  // namespace WicMetadata
