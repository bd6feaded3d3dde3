// What the installed WIC codecs say about themselves: their file extensions.
#include <cwchar>

#include "converter/readers/Wic.h"

namespace Wic {

namespace {

std::wstring Lowered(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

std::wstring ExtensionsOf(IWICBitmapCodecInfo* info) {
    UINT length = 0;
    if (FAILED(info->GetFileExtensions(0, nullptr, &length)) || length == 0 || length > 4096) return {};
    std::wstring extensions(length, L'\0');
    if (FAILED(info->GetFileExtensions(length, &extensions[0], &length))) return {};
    extensions.resize(wcsnlen(extensions.c_str(), extensions.size()));
    return Lowered(extensions);
}

std::wstring DecoderExtensions(IWICImagingFactory* wic) {
    ComPtr<IEnumUnknown> components;
    if (FAILED(wic->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, components.Put())))
        return {};
    std::wstring all;
    for (int i = 0; i < 1000; ++i) {
        ComPtr<IUnknown> component;
        ULONG fetched = 0;
        if (components->Next(1, component.Put(), &fetched) != S_OK || fetched != 1) break;
        ComPtr<IWICBitmapCodecInfo> info;
        if (FAILED(component->QueryInterface(IID_IWICBitmapCodecInfo, reinterpret_cast<void**>(info.Put()))))
            continue;
        const std::wstring extensions = ExtensionsOf(info.Get());
        if (!extensions.empty()) all += (all.empty() ? L"" : L",") + extensions;
    }
    return all;
}

}  // namespace Wic
