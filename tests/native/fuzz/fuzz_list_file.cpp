// The list-file rules against their definitions. Byte 0 picks the code page,
// byte 1 where the rest splits into the "temp" value and the install
// directory (also the list file path and the token).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "model/ReferenceModels.h"
#include "untMain/ListFile.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {
bool NoLeadBytes(unsigned char) { return false; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const Model::LeadByte pages[] = {nullptr, Model::ShiftJisLead, Model::GbkLead};
    const Model::LeadByte lead = pages[data[0] % 3];
    const ListFile::LeadBytePredicate predicate = lead ? lead : NoLeadBytes;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t split = rest.empty() ? 0 : data[1] % (rest.size() + 1);
    const std::string_view first = rest.substr(0, split);
    const std::string_view second = rest.substr(split);

    for (std::string_view text : {rest, first, second}) {
        const std::string with = ListFile::WithTrailingBackslash(text, predicate);
        if (with.compare(0, text.size(), text) != 0) Fail("the text is not kept as it is");
        if (with.size() != text.size() && !(with.size() == text.size() + 1 && with.back() == '\\'))
            Fail("more than one backslash appended");
        if (with != Model::WithBackslash(text, lead)) Fail("backslash rule differs from the model");
        if (ListFile::EndsWithBackslash(text, predicate) != Model::LastCharacterIsBackslash(text, lead))
            Fail("EndsWithBackslash differs from the model");
    }
    if (ListFile::ListFilePath(first, second, predicate) != Model::ListFilePath(first, second, lead))
        Fail("ListFilePath differs from the model");
    if (ListFile::ConverterParameters(first, second) != Model::Parameters(first, second))
        Fail("ConverterParameters differs from the model");
    if (ListFile::ConverterPath(first) != std::string(first) + "transform.exe") Fail("ConverterPath");
    if (ListFile::TrimMessageTail(rest) != Model::TrimTail(rest)) Fail("TrimMessageTail differs from the model");
    return 0;
}
